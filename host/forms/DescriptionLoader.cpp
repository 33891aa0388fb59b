#include "host/forms/DescriptionLoader.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <initializer_list>
#include <utility>

#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/DBText.h"
#include "host/controls/Form.h"
#include "host/controls/Label.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/ScrollBox.h"
#include "host/controls/Splitter.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/db/ADOIBQuery.h"
#include "host/forms/DescriptionParser.h"
#include "host/net/NetConnection.h"
#include "host/text/EditMask.h"
#include "host/text/Messages.h"

namespace host {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// ---- Classes ------------------------------------------------------------------------------------

struct ClassInfo {
  std::string_view name;
  TComponent* (*create)(TForm& form, const std::string& name);
  bool (*isA)(const TComponent* component);
};

template <class T>
TComponent* CreateOf(TForm& form, const std::string& name) {
  return form.Create<T>(name);
}

template <class T>
bool IsA(const TComponent* component) {
  return dynamic_cast<const T*>(component) != nullptr;
}

template <class T>
constexpr ClassInfo Entry(std::string_view name) {
  return {name, &CreateOf<T>, &IsA<T>};
}

constexpr ClassInfo kClasses[] = {
    Entry<TPanel>("TPanel"),           Entry<TScrollBox>("TScrollBox"),
    Entry<TSplitter>("TSplitter"),     Entry<TLabel>("TLabel"),
    Entry<TDBText>("TDBText"),         Entry<TMainMenu>("TMainMenu"),
    Entry<TMenuItem>("TMenuItem"),     Entry<TButtonFlat>("TButtonFlat"),
    Entry<TPageControl>("TPageControl"), Entry<TTabSheet>("TTabSheet"),
    Entry<TDBGrid>("TDBGrid"),         Entry<TClientDataSet>("TClientDataSet"),
    Entry<TDataSource>("TDataSource"), Entry<TADOIBQuery>("TADOIBQuery"),
    Entry<TNetConnection>("TNetConnection"), Entry<TMessages>("TMessages"),
};

constexpr std::string_view kFieldClasses[] = {"TStringField"};

const ClassInfo* FindClass(std::string_view name) {
  for (const ClassInfo& c : kClasses) {
    if (SameText(c.name, name)) return &c;
  }
  return nullptr;
}

bool IsFieldClass(std::string_view name) {
  return std::any_of(std::begin(kFieldClasses), std::end(kFieldClasses),
                     [name](std::string_view f) { return SameText(f, name); });
}

// ---- Enumerations -------------------------------------------------------------------------------

template <class E>
struct EnumName {
  std::string_view name;
  E value;
};

constexpr EnumName<TAlign> kAligns[] = {{"alNone", TAlign::alNone},     {"alTop", TAlign::alTop},
                                        {"alBottom", TAlign::alBottom}, {"alLeft", TAlign::alLeft},
                                        {"alRight", TAlign::alRight},   {"alClient", TAlign::alClient},
                                        {"alCustom", TAlign::alCustom}};
constexpr EnumName<TFormStyle> kFormStyles[] = {{"fsNormal", TFormStyle::fsNormal},
                                                {"fsMDIChild", TFormStyle::fsMDIChild},
                                                {"fsMDIForm", TFormStyle::fsMDIForm},
                                                {"fsStayOnTop", TFormStyle::fsStayOnTop}};
constexpr EnumName<TWindowState> kWindowStates[] = {{"wsNormal", TWindowState::wsNormal},
                                                    {"wsMinimized", TWindowState::wsMinimized},
                                                    {"wsMaximized", TWindowState::wsMaximized}};
constexpr EnumName<TColumnButtonStyle> kButtonStyles[] = {{"cbsAuto", TColumnButtonStyle::cbsAuto},
                                                          {"cbsEllipsis", TColumnButtonStyle::cbsEllipsis},
                                                          {"cbsNone", TColumnButtonStyle::cbsNone}};
constexpr EnumName<TResizeStyle> kResizeStyles[] = {{"rsNone", TResizeStyle::rsNone},
                                                    {"rsLine", TResizeStyle::rsLine},
                                                    {"rsUpdate", TResizeStyle::rsUpdate},
                                                    {"rsPattern", TResizeStyle::rsPattern}};
constexpr EnumName<TDBGridOption> kGridOptions[] = {
    {"dgEditing", dgEditing},           {"dgAlwaysShowEditor", dgAlwaysShowEditor},
    {"dgTitles", dgTitles},             {"dgIndicator", dgIndicator},
    {"dgColumnResize", dgColumnResize}, {"dgColLines", dgColLines},
    {"dgRowLines", dgRowLines},         {"dgTabs", dgTabs},
    {"dgRowSelect", dgRowSelect},       {"dgAlwaysShowSelection", dgAlwaysShowSelection},
    {"dgConfirmDelete", dgConfirmDelete}, {"dgCancelOnExit", dgCancelOnExit},
    {"dgMultiSelect", dgMultiSelect}};

// ---- Property access ----------------------------------------------------------------------------

// One property being applied, with the names needed to report a fault.
struct Prop {
  const std::string& owner;  // component name
  const DescriptionProperty& p;

  const std::string& Name() const { return p.name; }
  bool Is(std::string_view name) const { return SameText(p.name, name); }

  [[noreturn]] void Fail(const std::string& message) const {
    throw EDescriptionError(p.value.line, owner + "." + p.name + ": " + message);
  }
  void Expect(DescriptionValue::Kind kind) const {
    if (p.value.kind != kind) {
      Fail(std::string("expects ") + (kind == DescriptionValue::Kind::kInteger ? "an " : "a ") +
           DescriptionValueKindName(kind) + ", found " + DescriptionValueKindName(p.value.kind));
    }
  }
  int Int() const {
    Expect(DescriptionValue::Kind::kInteger);
    if (p.value.integer < -2147483647LL || p.value.integer > 2147483647LL) Fail("value out of range");
    return static_cast<int>(p.value.integer);
  }
  bool Bool() const {
    Expect(DescriptionValue::Kind::kIdentifier);
    if (SameText(p.value.text, "True")) return true;
    if (SameText(p.value.text, "False")) return false;
    Fail("expects True or False, found '" + p.value.text + "'");
  }
  const std::string& Str() const {
    Expect(DescriptionValue::Kind::kString);
    return p.value.text;
  }
  const std::string& Ident() const {
    Expect(DescriptionValue::Kind::kIdentifier);
    return p.value.text;
  }
  // An identifier or an integer, as text (colours, cursors).
  std::string NameOrNumber() const {
    if (p.value.kind == DescriptionValue::Kind::kInteger) return p.value.text;
    return Ident();
  }
  std::vector<std::string> Strings() const {
    Expect(DescriptionValue::Kind::kList);
    std::vector<std::string> out;
    out.reserve(p.value.items.size());
    for (const DescriptionValue& item : p.value.items) {
      if (item.kind != DescriptionValue::Kind::kString) {
        throw EDescriptionError(item.line, owner + "." + p.name + ": expects a list of strings, found " +
                                               DescriptionValueKindName(item.kind));
      }
      out.push_back(item.text);
    }
    return out;
  }
  template <class E, std::size_t N>
  E Enum(const EnumName<E> (&names)[N]) const {
    return Lookup(Ident(), names);
  }
  template <class E, std::size_t N>
  E Lookup(const std::string& name, const EnumName<E> (&names)[N]) const {
    for (const auto& n : names) {
      if (SameText(n.name, name)) return n.value;
    }
    std::string known;
    for (const auto& n : names) known += (known.empty() ? "" : ", ") + std::string(n.name);
    Fail("unknown value '" + name + "' (expected one of " + known + ")");
  }
};

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool IsIgnored(std::string_view name) {
  for (std::string_view entry : DescriptionLoader::IgnoredProperties()) {
    if (entry.back() == '.' ? StartsWith(name, entry) : SameText(name, entry)) return true;
  }
  return false;
}

// ---- The builder --------------------------------------------------------------------------------

class Builder {
 public:
  Builder(TForm& form, const std::vector<const HandlerTable*>& tables) : form_(form), tables_(tables) {}

  void Run(const DescriptionObject& root) {
    form_.SetName(root.name);
    for (const DescriptionProperty& p : root.properties) ApplyProperty(form_, root.name, p);
    for (const DescriptionObject& child : root.children) Build(child, &form_);
    for (const auto& step : deferred_) step();
    for (const auto& check : checks_) check();
  }

 private:
  // ---- Components -------------------------------------------------------------------------------

  TComponent* Find(const std::string& name) const {
    if (SameText(name, form_.Name())) return &form_;
    return form_.FindComponent(name);
  }

  void Build(const DescriptionObject& node, TComponent* container) {
    if (IsFieldClass(node.className)) {
      BuildField(node, container);
      return;
    }
    const ClassInfo* info = FindClass(node.className);
    if (info == nullptr) {
      throw EDescriptionError(node.line, "unknown class '" + node.className + "' of '" + node.name + "'");
    }
    TComponent* component = nullptr;
    if (node.inherited) {
      component = Find(node.name);
      if (component == nullptr) {
        throw EDescriptionError(node.line, "inherited component '" + node.name + "' not found");
      }
      if (!info->isA(component)) {
        throw EDescriptionError(node.line, "inherited component '" + node.name + "' is not a " + node.className);
      }
    } else {
      if (Find(node.name) != nullptr) {
        throw EDescriptionError(node.line, "component name '" + node.name + "' is already used");
      }
      component = info->create(form_, node.name);
    }
    Place(*component, container, node);
    for (const DescriptionProperty& p : node.properties) ApplyProperty(*component, node.name, p);
    for (const DescriptionObject& child : node.children) Build(child, component);
  }

  void Place(TComponent& component, TComponent* container, const DescriptionObject& node) {
    const std::string where = container->Name().empty() ? std::string("the form") : "'" + container->Name() + "'";
    if (auto* sheet = dynamic_cast<TTabSheet*>(&component)) {
      auto* pages = dynamic_cast<TPageControl*>(container);
      if (pages == nullptr) {
        throw EDescriptionError(node.line, "tab sheet '" + node.name + "' must lie inside a page control, not " + where);
      }
      if (sheet->Parent() != pages) sheet->SetParent(pages);
      return;
    }
    if (auto* control = dynamic_cast<TControl*>(&component)) {
      auto* parent = dynamic_cast<TControl*>(container);
      if (parent == nullptr) {
        throw EDescriptionError(node.line, "control '" + node.name + "' must lie inside a control, not " + where);
      }
      // An inherited control stays where the base placed it unless it is now nested in a
      // control that does not already hold it (moved onto a new scroll box, for instance).
      if (!node.inherited || control->Parent() == nullptr || !parent->ContainsControl(control->Parent())) {
        control->SetParent(parent);
      }
      return;
    }
    if (auto* item = dynamic_cast<TMenuItem*>(&component)) {
      if (auto* menu = dynamic_cast<TMainMenu*>(container)) {
        if (std::find(menu->Items().begin(), menu->Items().end(), item) == menu->Items().end()) menu->Add(item);
      } else if (auto* parentItem = dynamic_cast<TMenuItem*>(container)) {
        if (item->ParentItem() != parentItem) parentItem->Add(item);
      } else {
        throw EDescriptionError(node.line, "menu entry '" + node.name + "' must lie inside a menu, not " + where);
      }
      return;
    }
    if (dynamic_cast<TDataSet*>(container) != nullptr || dynamic_cast<TMainMenu*>(container) != nullptr ||
        dynamic_cast<TMenuItem*>(container) != nullptr) {
      throw EDescriptionError(node.line, "component '" + node.name + "' cannot lie inside " + where);
    }
  }

  void BuildField(const DescriptionObject& node, TComponent* container) {
    auto* dataSet = dynamic_cast<TDataSet*>(container);
    if (dataSet == nullptr) {
      throw EDescriptionError(node.line, "field '" + node.name + "' must lie inside a record set");
    }
    if (!node.children.empty()) {
      throw EDescriptionError(node.children.front().line, "field '" + node.name + "' cannot hold components");
    }
    TField* field = nullptr;
    if (node.inherited) {
      field = dynamic_cast<TField*>(Find(node.name));
      if (field == nullptr || field->DataSet() != dataSet) {
        throw EDescriptionError(node.line, "inherited field '" + node.name + "' not found in '" + dataSet->Name() + "'");
      }
    } else {
      if (Find(node.name) != nullptr) {
        throw EDescriptionError(node.line, "component name '" + node.name + "' is already used");
      }
      const DescriptionProperty* nameProp = nullptr;
      const DescriptionProperty* sizeProp = nullptr;
      for (const DescriptionProperty& p : node.properties) {
        if (SameText(p.name, "FieldName")) nameProp = &p;
        if (SameText(p.name, "Size")) sizeProp = &p;
      }
      if (nameProp == nullptr) throw EDescriptionError(node.line, "field '" + node.name + "' needs a FieldName");
      const std::string& fieldName = Prop{node.name, *nameProp}.Str();
      const int size = sizeProp != nullptr ? Prop{node.name, *sizeProp}.Int() : kDefaultFieldSize;
      try {
        field = dataSet->AddField(fieldName, size);
      } catch (const EPlatformError& e) {
        throw EDescriptionError(node.line, e.what());
      }
      field->SetName(node.name);
    }
    for (const DescriptionProperty& p : node.properties) ApplyProperty(*field, node.name, p);
  }

  // ---- Properties -------------------------------------------------------------------------------

  void ApplyProperty(TComponent& component, const std::string& owner, const DescriptionProperty& property) {
    const Prop p{owner, property};
    bool handled = false;
    try {
      handled = SetProperty(component, p);
    } catch (const EDescriptionError&) {
      throw;
    } catch (const EPlatformError& e) {
      p.Fail(e.what());
    }
    if (handled || IsIgnored(p.Name())) return;
    throw EDescriptionError(property.line, "unknown property '" + property.name + "' of '" + owner + "'");
  }

  bool SetProperty(TComponent& c, const Prop& p) {
    if (auto* form = dynamic_cast<TForm*>(&c); form != nullptr && FormProperty(*form, p)) return true;
    if (auto* grid = dynamic_cast<TDBGrid*>(&c); grid != nullptr && GridProperty(*grid, p)) return true;
    if (auto* pages = dynamic_cast<TPageControl*>(&c); pages != nullptr && PageControlProperty(*pages, p)) return true;
    if (auto* sheet = dynamic_cast<TTabSheet*>(&c); sheet != nullptr && TabSheetProperty(*sheet, p)) return true;
    if (auto* text = dynamic_cast<TDBText*>(&c); text != nullptr && DBTextProperty(*text, p)) return true;
    if (auto* splitter = dynamic_cast<TSplitter*>(&c); splitter != nullptr && SplitterProperty(*splitter, p)) return true;
    if (auto* button = dynamic_cast<TButtonFlat*>(&c); button != nullptr && ButtonProperty(*button, p)) return true;
    if (auto* panel = dynamic_cast<TPanel*>(&c); panel != nullptr && p.Is("BevelOuter")) {
      panel->SetBevelOuter(p.Ident());
      return true;
    }
    if (auto* box = dynamic_cast<TScrollBox*>(&c); box != nullptr && p.Is("BorderStyle")) {
      box->SetBorderStyle(p.Ident());
      return true;
    }
    if (auto* control = dynamic_cast<TControl*>(&c); control != nullptr && ControlProperty(*control, p)) return true;
    if (auto* field = dynamic_cast<TField*>(&c); field != nullptr && FieldProperty(*field, p)) return true;
    if (auto* query = dynamic_cast<TADOIBQuery*>(&c); query != nullptr && QueryProperty(*query, p)) return true;
    if (auto* cds = dynamic_cast<TClientDataSet*>(&c); cds != nullptr && ClientDataSetProperty(*cds, p)) return true;
    if (auto* ds = dynamic_cast<TDataSet*>(&c); ds != nullptr && DataSetProperty(*ds, p)) return true;
    if (auto* source = dynamic_cast<TDataSource*>(&c); source != nullptr && DataSourceProperty(*source, p)) return true;
    if (auto* item = dynamic_cast<TMenuItem*>(&c); item != nullptr && MenuItemProperty(*item, p)) return true;
    if (auto* net = dynamic_cast<TNetConnection*>(&c); net != nullptr && ConnectionProperty(*net, p)) return true;
    if (auto* messages = dynamic_cast<TMessages*>(&c); messages != nullptr && p.Is("Lines.Strings")) {
      messages->SetLines(p.Strings());
      return true;
    }
    if (p.Is("Tag")) {
      c.Tag = p.Int();
      return true;
    }
    return false;
  }

  bool FormProperty(TForm& form, const Prop& p) {
    if (p.Is("FormStyle")) form.SetFormStyle(p.Enum(kFormStyles));
    else if (p.Is("WindowState")) form.SetWindowState(p.Enum(kWindowStates));
    else if (p.Is("ClientWidth")) form.SetWidth(p.Int());
    else if (p.Is("ClientHeight")) form.SetHeight(p.Int());
    else if (p.Is("Menu")) Refer<TMainMenu>(p, "menu", [&form](TMainMenu* m) { form.SetMenu(m); });
    else if (p.Is("OnCreate")) Bind(p, form.OnCreate);
    else if (p.Is("OnClose")) Bind(p, form.OnClose);
    else return false;
    return true;
  }

  bool ControlProperty(TControl& control, const Prop& p) {
    if (p.Is("Left")) control.SetLeft(p.Int());
    else if (p.Is("Top")) control.SetTop(p.Int());
    else if (p.Is("Width")) control.SetWidth(p.Int());
    else if (p.Is("Height")) control.SetHeight(p.Int());
    else if (p.Is("Align")) control.SetAlign(p.Enum(kAligns));
    else if (p.Is("Caption")) control.SetCaption(p.Str());
    else if (p.Is("Hint")) control.SetHint(p.Str());
    else if (p.Is("Color")) control.SetColor(p.NameOrNumber());
    else if (p.Is("Visible")) control.SetVisible(p.Bool());
    else if (p.Is("Enabled")) control.SetEnabled(p.Bool());
    else if (p.Is("OnEnter")) Bind(p, control.OnEnter);
    else if (p.Is("OnExit")) Bind(p, control.OnExit);
    else return false;
    return true;
  }

  bool GridProperty(TDBGrid& grid, const Prop& p) {
    if (p.Is("DataSource")) Refer<TDataSource>(p, "data source", [&grid](TDataSource* s) { grid.SetDataSource(s); });
    else if (p.Is("Options")) grid.SetOptions(GridOptions(p));
    else if (p.Is("ReadOnly")) grid.SetReadOnly(p.Bool());
    else if (p.Is("TitleFont.Name")) grid.SetTitleFontName(p.Str());
    else if (p.Is("TitleFont.Height")) grid.SetTitleFontHeight(p.Int());
    else if (p.Is("BorderStyle")) grid.SetBorderStyle(p.Ident());
    else if (p.Is("Columns")) Columns(grid, p);
    else if (p.Is("OnColExit")) Bind(p, grid.OnColExit);
    else if (p.Is("OnEditButtonClick")) Bind(p, grid.OnEditButtonClick);
    else if (p.Is("OnKeyDown")) Bind(p, grid.OnKeyDown);
    else if (p.Is("OnKeyPress")) Bind(p, grid.OnKeyPress);
    else return false;
    return true;
  }

  TDBGridOptions GridOptions(const Prop& p) {
    p.Expect(DescriptionValue::Kind::kSet);
    TDBGridOptions options;
    for (const std::string& name : p.p.value.names) options.Include(p.Lookup(name, kGridOptions));
    return options;
  }

  void Columns(TDBGrid& grid, const Prop& p) {
    p.Expect(DescriptionValue::Kind::kCollection);
    grid.ClearColumns();
    for (const DescriptionItem& item : p.p.value.collection) {
      TColumn* column = grid.AddColumn();
      const std::string owner = p.owner + ".Columns[" + std::to_string(grid.Columns().size() - 1) + "]";
      for (const DescriptionProperty& property : item.properties) {
        const Prop cp{owner, property};
        if (cp.Is("FieldName")) column->SetFieldName(cp.Str());
        else if (cp.Is("Width")) column->SetWidth(cp.Int());
        else if (cp.Is("ReadOnly")) column->SetReadOnly(cp.Bool());
        else if (cp.Is("ButtonStyle")) column->SetButtonStyle(cp.Enum(kButtonStyles));
        else if (cp.Is("Title.Caption")) column->Title.Caption = cp.Str();
        else if (!IsIgnored(cp.Name())) {
          throw EDescriptionError(property.line, "unknown property '" + property.name + "' of a column of '" + p.owner + "'");
        }
      }
      const int line = item.line;
      const std::string gridName = p.owner;
      checks_.push_back([&grid, column, line, gridName] {
        const TDataSet* ds = grid.DataSet();
        if (ds == nullptr || ds->FieldCount() == 0 || column->FieldName().empty()) return;
        if (ds->FindField(column->FieldName()) == nullptr) {
          throw EDescriptionError(line, "column field '" + column->FieldName() + "' of '" + gridName +
                                            "' not found in '" + ds->Name() + "'");
        }
      });
    }
  }

  bool PageControlProperty(TPageControl& pages, const Prop& p) {
    if (p.Is("ActivePage")) {
      Refer<TTabSheet>(p, "tab sheet", [&pages, p](TTabSheet* sheet) {
        if (sheet->PageControl() != &pages) p.Fail("'" + sheet->Name() + "' is not a page of '" + pages.Name() + "'");
        pages.SetActivePage(sheet);
      });
    } else if (p.Is("OnChange")) {
      Bind(p, pages.OnChange);
    } else if (p.Is("OnMouseDown")) {
      Bind(p, pages.OnMouseDown);
    } else {
      return false;
    }
    return true;
  }

  bool TabSheetProperty(TTabSheet& sheet, const Prop& p) {
    if (p.Is("TabVisible")) {
      sheet.SetTabVisible(p.Bool());
    } else if (p.Is("PageIndex")) {
      const int index = p.Int();
      deferred_.push_back([&sheet, index] { sheet.SetPageIndex(index); });
    } else {
      return false;
    }
    return true;
  }

  bool DBTextProperty(TDBText& text, const Prop& p) {
    if (p.Is("DataSource")) Refer<TDataSource>(p, "data source", [&text](TDataSource* s) { text.SetDataSource(s); });
    else if (p.Is("DataField")) text.SetDataField(p.Str());
    else return false;
    return true;
  }

  bool SplitterProperty(TSplitter& splitter, const Prop& p) {
    if (p.Is("Cursor")) splitter.SetCursor(p.NameOrNumber());
    else if (p.Is("ResizeStyle")) splitter.SetResizeStyle(p.Enum(kResizeStyles));
    else if (p.Is("MinSize")) splitter.SetMinSize(p.Int());
    else return false;
    return true;
  }

  bool ButtonProperty(TButtonFlat& button, const Prop& p) {
    if (p.Is("Glyph")) button.SetGlyph(p.Str());
    else if (p.Is("OnClick")) Bind(p, button.OnClick);
    else return false;
    return true;
  }

  bool FieldProperty(TField& field, const Prop& p) {
    if (p.Is("FieldName")) {
      if (!SameText(p.Str(), field.FieldName())) p.Fail("a field's name cannot change");
    } else if (p.Is("Size")) {
      if (p.Int() != field.Size()) p.Fail("a field's size cannot change");
    } else if (p.Is("DisplayLabel")) {
      field.DisplayLabel = p.Str();
    } else if (p.Is("DisplayWidth")) {
      field.DisplayWidth = p.Int();
    } else if (p.Is("Visible")) {
      field.Visible = p.Bool();
    } else if (p.Is("ReadOnly")) {
      field.ReadOnly = p.Bool();
    } else if (p.Is("EditMask")) {
      const std::string& mask = p.Str();
      EditMask check(mask);  // a malformed mask is refused here, not at the first keystroke
      field.EditMask = mask;
    } else if (p.Is("OnGetText")) {
      Bind(p, field.OnGetText);
    } else {
      return false;
    }
    return true;
  }

  bool QueryProperty(TADOIBQuery& query, const Prop& p) {
    if (p.Is("SQL.Strings")) query.SetSQL(p.Strings());
    else if (p.Is("SQL_ORACLE.Strings")) query.SetSQL_ORACLE(p.Strings());
    else return false;
    return true;
  }

  bool ClientDataSetProperty(TClientDataSet& cds, const Prop& p) {
    if (p.Is("RemoteServer")) {
      // The connection is named for the record set's designers; the screen makes its remote
      // calls itself, so only the reference is checked.
      Refer<TNetConnection>(p, "connection", [](TNetConnection*) {});
    } else if (p.Is("Filter")) {
      cds.SetFilter(p.Str());
    } else if (p.Is("Filtered")) {
      cds.SetFiltered(p.Bool());
    } else if (p.Is("LogChanges")) {
      cds.SetLogChanges(p.Bool());
    } else {
      return false;
    }
    return true;
  }

  bool DataSetProperty(TDataSet& ds, const Prop& p) {
    static const std::pair<std::string_view, TDataSetNotifyEvent TDataSet::*> kEvents[] = {
        {"BeforeEdit", &TDataSet::BeforeEdit},     {"BeforePost", &TDataSet::BeforePost},
        {"BeforeInsert", &TDataSet::BeforeInsert}, {"BeforeDelete", &TDataSet::BeforeDelete},
        {"AfterPost", &TDataSet::AfterPost},       {"AfterCancel", &TDataSet::AfterCancel},
        {"AfterDelete", &TDataSet::AfterDelete},   {"AfterInsert", &TDataSet::AfterInsert},
        {"AfterScroll", &TDataSet::AfterScroll},   {"AfterOpen", &TDataSet::AfterOpen}};
    for (const auto& [name, member] : kEvents) {
      if (p.Is(name)) {
        Bind(p, ds.*member);
        return true;
      }
    }
    return false;
  }

  bool DataSourceProperty(TDataSource& source, const Prop& p) {
    if (p.Is("DataSet")) Refer<TDataSet>(p, "record set", [&source](TDataSet* ds) { source.SetDataSet(ds); });
    else if (p.Is("OnStateChange")) Bind(p, source.OnStateChange);
    else return false;
    return true;
  }

  bool MenuItemProperty(TMenuItem& item, const Prop& p) {
    if (p.Is("Caption")) item.SetCaption(p.Str());
    else if (p.Is("Enabled")) item.SetEnabled(p.Bool());
    else if (p.Is("Visible")) item.SetVisible(p.Bool());
    else if (p.Is("OnClick")) Bind(p, item.OnClick);
    else return false;
    return true;
  }

  bool ConnectionProperty(TNetConnection& net, const Prop& p) {
    if (p.Is("ServerName")) net.SetServerName(p.Str());
    else if (p.Is("Host")) net.SetHost(p.Str());
    else if (p.Is("Port")) net.SetPort(p.Int());
    else if (p.Is("ThrowException")) net.ThrowException = p.Bool();
    else if (p.Is("BeforeConnect")) Bind(p, net.BeforeConnect);
    else return false;
    return true;
  }

  // ---- References and handlers ------------------------------------------------------------------

  template <class T, class Apply>
  void Refer(const Prop& p, const char* kind, Apply apply) {
    const std::string name = p.Ident();
    const std::string owner = p.owner;
    const std::string property = p.Name();
    const int line = p.p.value.line;
    deferred_.push_back([this, name, owner, property, line, kind, apply] {
      TComponent* found = Find(name);
      if (found == nullptr) {
        throw EDescriptionError(line, "component '" + name + "' for " + owner + "." + property + " not found");
      }
      T* target = dynamic_cast<T*>(found);
      if (target == nullptr) {
        throw EDescriptionError(line, "'" + name + "' for " + owner + "." + property + " is not a " + kind);
      }
      try {
        apply(target);
      } catch (const EDescriptionError&) {
        throw;
      } catch (const EPlatformError& e) {
        throw EDescriptionError(line, owner + "." + property + ": " + e.what());
      }
    });
  }

  template <class E>
  void Bind(const Prop& p, E& target) {
    if (p.p.value.kind != DescriptionValue::Kind::kIdentifier) p.Fail("expects the name of a handler");
    const std::string& name = p.p.value.text;
    const Handler* handler = nullptr;
    for (const HandlerTable* table : tables_) {
      if (table != nullptr && (handler = table->Find(name)) != nullptr) break;
    }
    if (handler == nullptr) {
      throw EDescriptionError(p.p.value.line, "handler '" + name + "' for " + p.owner + "." + p.Name() + " not found");
    }
    const E* typed = std::get_if<E>(handler);
    if (typed == nullptr) {
      const Handler expected{std::in_place_type<E>};
      throw EDescriptionError(p.p.value.line, "handler '" + name + "' for " + p.owner + "." + p.Name() + " is a " +
                                                  HandlerKindName(*handler) + ", but the event needs a " +
                                                  HandlerKindName(expected));
    }
    target = *typed;
  }

  TForm& form_;
  const std::vector<const HandlerTable*>& tables_;
  std::vector<std::function<void()>> deferred_;
  std::vector<std::function<void()>> checks_;
};

}  // namespace

DescriptionLoader::DescriptionLoader(TForm& form, std::vector<const HandlerTable*> tables)
    : form_(form), tables_(std::move(tables)) {}

void DescriptionLoader::Load(std::string_view text) { Apply(DescriptionParser::Parse(text)); }

void DescriptionLoader::Apply(const DescriptionObject& root) { Builder(form_, tables_).Run(root); }

const std::vector<std::string_view>& DescriptionLoader::IgnoredProperties() {
  static const std::vector<std::string_view> kIgnored = {
      // Appearance the headless models do not keep.
      "Font.", "TitleFont.", "Title.Font.", "Title.Alignment", "Title.Color", "ParentFont", "ParentColor",
      "ParentShowHint", "ShowHint", "Ctl3D", "ParentCtl3D", "BiDiMode", "ParentBiDiMode", "BevelInner",
      "BevelOuter", "BevelWidth", "BevelKind", "BorderWidth", "BorderStyle", "Color", "Cursor", "ResizeStyle",
      "Alignment", "Layout", "AutoSize", "Transparent", "WordWrap", "Flat", "NumGlyphs", "Spacing", "Margin",
      "Glyph.Data", "Expanded", "ImageIndex", "Images", "HotTrack", "MultiLine", "Style", "Beveled",
      "Icon.Data", "Scaled", "PixelsPerInch", "TextHeight", "OldCreateOrder", "Position", "KeyPreview",
      "AutoScroll", "HorzScrollBar.", "VertScrollBar.", "Constraints.", "Anchors", "DesignSize",
      "ExplicitLeft", "ExplicitTop", "ExplicitWidth", "ExplicitHeight", "Touch.", "StyleElements", "DefaultRowHeight",
      // Keyboard and layout order, designer positions.
      "TabOrder", "TabStop", "TabIndex", "PageIndex", "Align", "Left", "Top", "ActiveControl",
      "ShortCut", "GroupIndex", "Checked", "RadioItem", "Hint", "FocusControl",
      // Data access settings the local database and the connection do not need.
      "CursorLocation", "CursorType", "LockType", "CacheSize", "ParamCheck", "Prepared", "MaxRecords",
      "Connection", "Database", "Transaction", "RemoteServer", "ProviderName", "Parameters", "Params",
      "Aggregates", "FieldDefs", "IndexDefs", "StoreDefs", "PacketRecords", "AutoEdit", "Required",
      "FixedChar", "Origin", "ProviderFlags", "LoginPrompt", "ServerGUID", "SupportCallbacks",
      "Connected"};
  return kIgnored;
}

}  // namespace host
