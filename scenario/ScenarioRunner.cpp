#include "scenario/ScenarioRunner.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/controls/Application.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/Screen.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/tools/ListExport.h"
#include "host/tools/ListPaste.h"
#include "host/wire/ChangePacketReader.h"
#include "host/wire/ServiceName.h"

namespace scenario {

namespace {

constexpr const char* kScreenFormName = "frmProdDesoneraImpos";

std::string Bool(bool value) { return value ? "true" : "false"; }

int ParseInt(const std::string& text, const ScriptLine& line) {
  try {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  throw EScriptError("line " + std::to_string(line.number) + ": not a number: " + text);
}

// How a remote call's arguments appear in the log: texts in double quotes, change packets as
// delta(I inserted, D deleted).
std::string DescribeArgument(const host::Variant& arg) {
  if (arg.Kind() == host::VariantKind::ChangePacket) {
    const host::wire::ChangePacket packet = host::wire::ChangePacketReader::Read(arg.PacketJson());
    int inserted = 0;
    int deleted = 0;
    for (const auto& change : packet.changes) {
      (change.op == host::wire::ChangeOp::Insert ? inserted : deleted)++;
    }
    return "delta(" + std::to_string(inserted) + " inserted, " + std::to_string(deleted) + " deleted)";
  }
  if (arg.Kind() == host::VariantKind::Text) return "\"" + arg.AsText() + "\"";
  return arg.DebugString();
}

std::string StateName(host::TDataSetState state) {
  switch (state) {
    case host::TDataSetState::dsInactive: return "inactive";
    case host::TDataSetState::dsBrowse: return "browse";
    case host::TDataSetState::dsEdit: return "edit";
    case host::TDataSetState::dsInsert: return "insert";
  }
  return "?";
}

std::string DefaultModulePath() {
  std::error_code ignored;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ignored).string();
  const std::filesystem::path dir = std::filesystem::path(self).parent_path();
  for (const auto& candidate : {dir / "libPKG_PDI07310.so", dir / ".." / "module" / "libPKG_PDI07310.so"}) {
    if (std::filesystem::exists(candidate)) return candidate.string();
  }
  return "libPKG_PDI07310.so";
}

}  // namespace

ScenarioRunner::ScenarioRunner(Options options, std::ostream& out)
    : options_(std::move(options)), out_(out), host_(&out) {
  host_.SetWebURL(options_.serverHost);
  host_.SetWebPort(options_.serverPort);
  host_.SetDBPict(0, options_.productMask);
  host_.SetLocalDatabasePath(options_.localDatabase);
  host_.SetAccessToken(options_.accessToken);
  host_.SetCaFile(options_.caFile);
  host_.SetInsecure(options_.insecure);
  host_.SetReadOnlyAccess(options_.role == "consulta");
  host::SetHostServices(&host_);
  host::TNetConnection::SetCallObserver(
      [this](const std::string& method, const std::vector<host::Variant>& args) {
        std::string line = "call: " + method;
        for (const host::Variant& arg : args) line += " " + DescribeArgument(arg);
        out_ << line << '\n';
      });
  // The host's own main window, over which the busy animation is shown.
  mainForm_ = std::make_unique<host::TForm>();
  mainForm_->SetName("frmPrincipal");
  host::Application().SetMainForm(mainForm_.get());
  if (options_.modulePath.empty()) options_.modulePath = DefaultModulePath();
}

ScenarioRunner::~ScenarioRunner() {
  try {
    Unload();
  } catch (...) {
  }
  host::TNetConnection::SetCallObserver(nullptr);
  host::Application().SetMainForm(nullptr);
  host::SetHostServices(nullptr);
}

void ScenarioRunner::Load() {
  if (module_) return;
  auto loader = std::make_unique<host::ModuleLoader>();
  loader->Load(options_.modulePath);
  module_ = std::move(loader);
}

void ScenarioRunner::Unload() {
  if (!module_) return;
  // The host closes and frees the screen before the module's code goes away.
  if (host::TForm* form = ScreenForm()) host::Application().DestroyForm(form);
  module_.reset();
}

host::TForm* ScenarioRunner::ScreenForm() const {
  for (host::TForm* form : host::Application().Forms()) {
    if (form->Name() == kScreenFormName) return form;
  }
  return nullptr;
}

host::TComponent* ScenarioRunner::Component(const std::string& name) const {
  host::TForm* form = ScreenForm();
  if (form == nullptr) return nullptr;
  if (name == form->Name()) return form;
  return form->FindComponent(name);
}

template <class T>
T* ScenarioRunner::ComponentAs(const std::string& name, const ScriptLine& line) const {
  T* found = dynamic_cast<T*>(Component(name));
  if (found == nullptr) {
    throw EScriptError("line " + std::to_string(line.number) + ": no such component: " + name);
  }
  return found;
}

int ScenarioRunner::Run(const std::vector<ScriptLine>& lines) {
  for (const ScriptLine& line : lines) {
    const std::string& verb = line.words.front();
    if (verb == "expect") {
      if (line.words.size() != 3) throw EScriptError("line " + std::to_string(line.number) + ": expect X VALUE");
      const std::string actual = Property(line.words[1]);
      out_ << line.words[1] << " = " << actual << '\n';
      if (actual != line.words[2]) {
        out_ << "expect failed: " << line.words[1] << " = " << actual << ", wanted " << line.words[2] << '\n';
        if (options_.narrative) {
          *options_.narrative << "expect failed: " << line.words[1] << " = " << actual << ", wanted "
                              << line.words[2] << '\n';
        }
        out_.flush();
        return kExitExpectFailed;
      }
      continue;
    }
    Execute(line);
  }
  out_.flush();
  return unreachable_ ? kExitUnreachable : kExitOk;
}

void ScenarioRunner::Execute(const ScriptLine& line) {
  const std::string& verb = line.words.front();
  const auto need = [&line](std::size_t words) {
    if (line.words.size() != words) {
      throw EScriptError("line " + std::to_string(line.number) + ": '" + line.words.front() +
                         "' takes " + std::to_string(words - 1) + " argument(s)");
    }
  };
  if (verb == "answer") {
    need(2);
    if (line.words[1] != "yes" && line.words[1] != "no") {
      throw EScriptError("line " + std::to_string(line.number) + ": answer yes|no");
    }
    host_.QueueAnswer(line.words[1] == "yes");
  } else if (verb == "pick") {
    need(2);
    if (line.words[1] == "none") {
      host_.QueuePickNone();
    } else {
      host_.QueuePick(ParseInt(line.words[1], line));
    }
  } else if (verb == "say") {
    // Narration for a reader: the rest of the line, as written.
    std::string text;
    for (std::size_t i = 1; i < line.words.size(); ++i) text += (i > 1 ? " " : "") + line.words[i];
    if (options_.narrative) {
      *options_.narrative << text << '\n';
    } else {
      out_ << "say: " << text << '\n';
    }
  } else if (verb == "show") {
    need(2);
    out_ << line.words[1] << " = " << Property(line.words[1]) << '\n';
  } else if (verb == "rows") {
    need(2);
    PrintRows(line.words[1], line);
  } else if (verb == "text") {
    need(3);
    auto* dataSet = ComponentAs<host::TDataSet>(line.words[1], line);
    host::TField* field = dataSet->FindField(line.words[2]);
    if (field == nullptr) throw EScriptError("line " + std::to_string(line.number) + ": no field " + line.words[2]);
    out_ << line.words[1] << "." << line.words[2] << " text = " << field->Text(true) << '\n';
  } else {
    // Everything else is a user action: its failure is logged, and the script goes on.
    try {
      Act(line);
    } catch (const EScriptError&) {
      throw;
    } catch (const host::EAbort&) {
      out_ << "abort\n";
    } catch (const host::ENetError& e) {
      unreachable_ = true;
      out_ << "error: " << e.what() << '\n';
      if (options_.narrative) *options_.narrative << "erro: " << e.what() << '\n';
    } catch (const std::exception& e) {
      out_ << "error: " << e.what() << '\n';
      if (options_.narrative) *options_.narrative << "erro: " << e.what() << '\n';
    }
  }
}

void ScenarioRunner::Act(const ScriptLine& line) {
  const std::string& verb = line.words.front();
  const auto need = [&line](std::size_t words) {
    if (line.words.size() != words) {
      throw EScriptError("line " + std::to_string(line.number) + ": '" + line.words.front() +
                         "' takes " + std::to_string(words - 1) + " argument(s)");
    }
  };
  if (verb == "open") {
    need(1);
    Load();
    module_->Symbol<void (*)()>("IniProc")();
  } else if (verb == "close") {
    need(1);
    if (host::TForm* form = ScreenForm()) form->Close();
  } else if (verb == "load") {
    need(1);
    Load();
  } else if (verb == "unload") {
    need(1);
    Unload();
  } else if (verb == "focus") {
    need(2);
    ComponentAs<host::TControl>(line.words[1], line)->SetFocus();
  } else if (verb == "click") {
    need(2);
    host::TComponent* target = Component(line.words[1]);
    bool clicked = false;
    if (auto* button = dynamic_cast<host::TButtonFlat*>(target)) {
      clicked = button->Click();
    } else if (auto* item = dynamic_cast<host::TMenuItem*>(target)) {
      clicked = item->Click();
    } else {
      throw EScriptError("line " + std::to_string(line.number) + ": no button or menu entry " + line.words[1]);
    }
    if (!clicked) out_ << "disabled: " << line.words[1] << '\n';
  } else if (verb == "column") {
    need(3);
    ComponentAs<host::TDBGrid>(line.words[1], line)->SetSelectedIndex(ParseInt(line.words[2], line));
  } else if (verb == "type") {
    need(3);
    auto* grid = ComponentAs<host::TDBGrid>(line.words[1], line);
    for (char c : line.words[2]) grid->TypeChar(c);
  } else if (verb == "key") {
    need(3);
    ComponentAs<host::TDBGrid>(line.words[1], line)->TypeChar(static_cast<char>(ParseInt(line.words[2], line)));
  } else if (verb == "ellipsis") {
    need(2);
    ComponentAs<host::TDBGrid>(line.words[1], line)->ClickEllipsis();
  } else if (verb == "row") {
    need(3);
    ComponentAs<host::TDBGrid>(line.words[1], line)->MoveToRow(ParseInt(line.words[2], line));
  } else if (verb == "append") {
    need(2);
    ComponentAs<host::TDBGrid>(line.words[1], line)->Append();
  } else if (verb == "escape") {
    need(2);
    ComponentAs<host::TDBGrid>(line.words[1], line)->Escape();
  } else if (verb == "delete") {
    need(2);
    ComponentAs<host::TDBGrid>(line.words[1], line)->DeleteWithConfirm();
  } else if (verb == "paste") {
    need(3);
    auto* grid = ComponentAs<host::TDBGrid>(line.words[1], line);
    const host::ListPaste paste(*grid);
    host::PasteSummary summary = paste.Run(host::ListPaste::SplitCodes(line.words[2]));
    unreachable_ = unreachable_ || summary.unreachable;
    if (summary.unknown > 0) {
      // A save whose answer never came may or may not be stored: the list read again says.
      out_ << "paste: " << summary.Line() << "; reading the list again\n";
      paste.Recheck(summary);
    }
    out_ << "paste: " << summary.Line() << '\n';
    for (const host::PasteLine& pasted : summary.lines) {
      if (pasted.stored && !pasted.message.empty()) out_ << "paste stored: " << pasted.code << ": " << pasted.message << '\n';
      if (pasted.unknown) out_ << "paste unknown: " << pasted.code << ": " << pasted.message << '\n';
      if (!pasted.stored && !pasted.unknown &&
          !(summary.stopped && &pasted == &summary.lines.back() && pasted.message == summary.stopReason)) {
        out_ << "paste refused: " << pasted.code << ": " << pasted.message << '\n';
      }
    }
  } else if (verb == "export") {
    if (line.words.size() != 3 && !(line.words.size() == 4 && line.words[3] == "all")) {
      throw EScriptError("line " + std::to_string(line.number) + ": export GRID FILE [all]");
    }
    auto* grid = ComponentAs<host::TDBGrid>(line.words[1], line);
    const bool all = line.words.size() == 4;
    host::ListExport::FormatOf(line.words[2]);  // an unknown extension fails before anything is read
    const host::ExportTable table = all ? host::ListExport::FromGridAllRows(*grid) : host::ListExport::FromGrid(*grid);
    host::ListExport::Write(table, line.words[2]);
    out_ << "export: " << table.rows.size() << " rows to " << line.words[2] << '\n';
  } else if (verb == "history") {
    if (line.words.size() > 2) throw EScriptError("line " + std::to_string(line.number) + ": history [PRODUCT_KEY]");
    PrintHistory(line.words.size() == 2 ? line.words[1] : Property("cdsProduto.CDPRODUTO"));
  } else if (verb == "tab") {
    need(2);
    auto* page = ComponentAs<host::TTabSheet>(line.words[1], line);
    page->PageControl()->PressTab(page);
  } else {
    throw EScriptError("line " + std::to_string(line.number) + ": unknown command '" + verb + "'");
  }
}

void ScenarioRunner::PrintHistory(const std::string& productKey) {
  host::TNetConnection connection;
  connection.SetHost(options_.serverHost);
  connection.SetPort(options_.serverPort);
  connection.SetServerName(std::string(host::wire::kServiceName));
  connection.SetAccessToken(options_.accessToken);
  const host::Variant data =
      host::CheckResultServ(connection.Call("getHistorico", {host::Variant::FromText(productKey)}), false);
  host::TClientDataSet rows;
  rows.SetData(data);
  out_ << "history: " << rows.RecordCount() << " changes of product " << productKey << '\n';
  for (int n = 1; n <= rows.RecordCount(); ++n) {
    rows.SetDisplayRow(n);
    std::string text = "history:";
    for (const std::string& value : rows.RowValues()) text += " " + (value.empty() ? std::string("-") : value);
    out_ << text << '\n';
  }
  rows.SetDisplayRow(0);
}

void ScenarioRunner::PrintRows(const std::string& dataSetName, const ScriptLine& line) {
  auto* dataSet = ComponentAs<host::TClientDataSet>(dataSetName, line);
  const int count = dataSet->RecordCount();
  for (int n = 1; n <= count; ++n) {
    dataSet->SetDisplayRow(n);
    const std::vector<std::string> values = dataSet->RowValues();
    dataSet->SetDisplayRow(0);
    std::string text = dataSetName + "[" + std::to_string(n) + "]:";
    for (std::size_t i = 0; i < values.size(); ++i) {
      text += " " + dataSet->Fields()[i]->FieldName() + "=" + values[i];
    }
    out_ << text << '\n';
  }
}

std::string ScenarioRunner::Property(const std::string& path) {
  const std::size_t dot = path.find('.');
  if (dot == std::string::npos) throw EScriptError("not COMPONENT.PROPERTY: " + path);
  const std::string name = path.substr(0, dot);
  const std::string prop = path.substr(dot + 1);
  const auto unknown = [&path]() -> std::string { throw EScriptError("unknown property: " + path); };

  if (name == "module") {
    if (!module_) return prop == "boValida" ? "true" : "false";
    if (prop == "boValida" || prop == "boIdCriado") return Bool(*module_->Symbol<bool*>(prop));
    return unknown();
  }
  if (name == "Screen") {
    if (prop == "Cursor") return std::to_string(host::Screen().Cursor());
    if (prop == "ActiveControl") {
      host::TControl* active = host::Screen().ActiveControl();
      return active != nullptr ? active->Name() : "";
    }
    return unknown();
  }
  host::TComponent* component = Component(name);
  if (component == nullptr) throw EScriptError("no such component: " + name);

  if (auto* dataSet = dynamic_cast<host::TDataSet*>(component)) {
    if (prop == "State") return StateName(dataSet->State());
    if (prop == "RecordCount") return std::to_string(dataSet->RecordCount());
    if (prop == "IsEmpty") return Bool(dataSet->IsEmpty());
    if (prop == "Active") return Bool(dataSet->Active());
    if (prop == "RecNo") return std::to_string(dataSet->RecNo());
    if (auto* cds = dynamic_cast<host::TClientDataSet*>(dataSet)) {
      if (prop == "ChangeCount") return std::to_string(cds->ChangeCount());
      if (prop == "Filter") return cds->Filter();
      if (prop == "Filtered") return Bool(cds->Filtered());
      if (prop == "LogChanges") return Bool(cds->LogChanges());
    }
    if (host::TField* field = dataSet->FindField(prop)) return field->AsString();
    return unknown();
  }
  if (auto* field = dynamic_cast<host::TField*>(component)) {
    if (prop == "Value" || prop == "AsString") return field->AsString();
    if (prop == "Text") return field->Text(true);
    if (prop == "EditMask") return field->EditMask;
    if (prop == "Tag") return std::to_string(field->Tag);
    if (prop == "Size") return std::to_string(field->Size());
    return unknown();
  }
  if (auto* net = dynamic_cast<host::TNetConnection*>(component)) {
    if (prop == "Connected") return Bool(net->Connected());
    if (prop == "Host") return net->Host();
    if (prop == "Port") return std::to_string(net->Port());
    if (prop == "ServerName") return net->ServerName();
    return unknown();
  }
  if (auto* item = dynamic_cast<host::TMenuItem*>(component)) {
    if (prop == "Enabled") return Bool(item->Enabled());
    if (prop == "Visible") return Bool(item->Visible());
    if (prop == "Caption") return item->Caption();
    return unknown();
  }
  if (auto* grid = dynamic_cast<host::TDBGrid*>(component)) {
    if (prop == "ReadOnly") return Bool(grid->ReadOnly());
    if (prop == "SelectedIndex") return std::to_string(grid->SelectedIndex());
    if (prop == "SelectedField") {
      host::TField* field = grid->SelectedField();
      return field != nullptr ? field->FieldName() : "";
    }
    if (prop == "Columns.Count") return std::to_string(grid->ColumnCount());
    if (prop.rfind("Columns[", 0) == 0) {
      const std::size_t close = prop.find(']');
      if (close == std::string::npos) return unknown();
      const int index = std::stoi(prop.substr(8, close - 8));
      const auto columns = grid->Columns();
      if (index < 0 || index >= static_cast<int>(columns.size())) throw EScriptError("no column: " + path);
      const std::string sub = prop.substr(close + 1);
      if (sub == ".FieldName") return columns[index]->FieldName();
      if (sub == ".ButtonStyle") {
        return columns[index]->ButtonStyle() == host::TColumnButtonStyle::cbsEllipsis ? "ellipsis" : "none";
      }
      if (sub == ".Width") return std::to_string(columns[index]->Width());
      if (sub == ".ReadOnly") return Bool(columns[index]->ReadOnly());
      if (sub == ".Title") return columns[index]->TitleText();
      return unknown();
    }
  }
  if (auto* pages = dynamic_cast<host::TPageControl*>(component)) {
    if (prop == "ActivePage") return pages->ActivePage() != nullptr ? pages->ActivePage()->Name() : "";
  }
  if (auto* form = dynamic_cast<host::TForm*>(component)) {
    if (prop == "WindowState") {
      switch (form->WindowState()) {
        case host::TWindowState::wsNormal: return "wsNormal";
        case host::TWindowState::wsMinimized: return "wsMinimized";
        case host::TWindowState::wsMaximized: return "wsMaximized";
      }
    }
    if (prop == "ActiveControl") return form->ActiveControl() != nullptr ? form->ActiveControl()->Name() : "";
  }
  if (auto* control = dynamic_cast<host::TControl*>(component)) {
    if (prop == "Enabled") return Bool(control->Enabled());
    if (prop == "Visible") return Bool(control->Visible());
    if (prop == "Caption") return control->Caption();
    if (prop == "Left") return std::to_string(control->Left());
    if (prop == "Top") return std::to_string(control->Top());
    if (prop == "Width") return std::to_string(control->Width());
    if (prop == "Height") return std::to_string(control->Height());
  }
  return unknown();
}

}  // namespace scenario
