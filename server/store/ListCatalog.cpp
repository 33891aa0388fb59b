#include "server/store/ListCatalog.h"

namespace server {

int ListInfo::FieldSize(std::string_view name) const {
  for (const host::wire::FieldDef& f : fields) {
    if (f.name == name) return f.size;
  }
  return -1;
}

const ListInfo& ListCatalog::Get(ListKind kind) {
  static const ListInfo kProduct{ListKind::Product,
                                 "",
                                 "SetProduto",
                                 "getVd_Produto",
                                 {{"CDARVPROD", 20}, {"CDPRODUTO", 10}, {"NMPRODUTO", 50}},
                                 {{"CDPRODUTO", 10}},
                                 "CDPRODUTO",
                                 "",
                                 "",
                                 "CDARVPROD",
                                 "Produto",
                                 "produto",
                                 false,
                                 "lista de produtos"};
  static const ListInfo kSupplier{ListKind::Supplier,
                                  "getFornecedor",
                                  "SetFornecedor",
                                  "getVd_Fornecedor",
                                  {{"CDPRODUTODES", 10},
                                   {"CDFORNECEDDES", 20},
                                   {"NMRAZSOCFORN", 40},
                                   {"IDTPIJURFORN", 1},
                                   {"CDFORNECED", 21},
                                   {"NRINSJURFORN", 20}},
                                  {{"CDPRODUTO", 10}, {"CDFORNECED", 21}},
                                  "CDPRODUTODES",
                                  "CDFORNECED",
                                  "CDFORNECEDDES",
                                  "NRINSJURFORN",
                                  "Fornecedor",
                                  "fornecedor",
                                  false,
                                  "lista de fornecedores"};
  static const ListInfo kClient{ListKind::Client,
                                "getCliente",
                                "SetCliente",
                                "getVd_Cliente",
                                {{"CDPRODUTODES", 10},
                                 {"CDCLIENTEDES", 20},
                                 {"CDCLIENTE", 21},
                                 {"NRINSJURCLIE", 20},
                                 {"NMRAZSOCCLIE", 50},
                                 {"IDTPIJURCLIE", 1}},
                                {{"CDPRODUTO", 10}, {"CDCLIENTE", 21}},
                                "CDPRODUTODES",
                                "CDCLIENTE",
                                "CDCLIENTEDES",
                                "NRINSJURCLIE",
                                "Cliente",
                                "cliente",
                                false,
                                "lista de clientes"};
  static const ListInfo kBranch{ListKind::Branch,
                                "getFilial",
                                "SetFilial",
                                "getVd_Filial",
                                {{"CDPRODUTODES", 10}, {"CDFILIALDES", 4}, {"NMFILIAL", 30}},
                                {{"CDPRODUTO", 10}, {"CDFILIAL", 21}},
                                "CDPRODUTODES",
                                "CDFILIALDES",
                                "",
                                "CDFILIALDES",
                                "Filial",
                                "filial",
                                true,
                                "lista de filiais"};
  switch (kind) {
    case ListKind::Product: return kProduct;
    case ListKind::Supplier: return kSupplier;
    case ListKind::Client: return kClient;
    case ListKind::Branch: return kBranch;
  }
  return kProduct;
}

}  // namespace server
