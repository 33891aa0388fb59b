// Taxpayer numbers are shown formatted by the person type of their row; product codes typed
// with mask punctuation are stripped of it before they are looked up.
#include "host/services/HostLib.h"
#include "host/text/EditMask.h"
#include "screen/ProdDesoneraImpos.h"

namespace pdi07310 {

namespace {

// The shown text of a taxpayer number: the stored number through the mask of the row's person
// type. Display and editing get the same text; the value itself never changes.
void TaxpayerText(host::TField* field, const char* personTypeField, std::string& text) {
  host::TDataSet* dataSet = field->DataSet();
  const std::string number = field->AsString();
  const std::string personType = dataSet->FieldByName(personTypeField)->AsString();
  text = host::FormatMaskText(host::PictPess(personType), number);
}

}  // namespace

void TfrmProdDesoneraImpos::AddTaxpayerHandlers(host::HandlerTable& table) {
  const auto handler = [](const char* personTypeField) {
    return host::TFieldGetTextEvent([personTypeField](host::TField* field, std::string& text, bool) {
      TaxpayerText(field, personTypeField, text);
    });
  };
  table.Add("cdsFornecedorNRINSJURFORNGetText", handler("IDTPIJURFORN"));
  table.Add("qryFornecedorNRINSJURFORNGetText", handler("IDTPIJURFORN"));
  table.Add("cdsClienteNRINSJURCLIEGetText", handler("IDTPIJURCLIE"));
  table.Add("qryClienteNRINSJURCLIEGetText", handler("IDTPIJURCLIE"));
}

std::string TfrmProdDesoneraImpos::RetSemMascara(std::string_view code) {
  std::string out(code);
  for (char mark : {'/', '-', '.', '(', ')', ','}) {
    std::erase(out, mark);
  }
  return out;
}

}  // namespace pdi07310
