// The family of related lists: suppliers, clients and branches of the current product.
//
// The three lists behave alike; everything that differs between them is a row of the table of
// members (kRelatedMembers in RelatedList.cpp): component names, handler names, messages, the
// local lookup and what it copies, the remote check, save and reload methods, the pick list.
// RelatedList is the one implementation of their rules, bound to one row of that table and to
// the screen's components.
//
// Used on the user-interface thread only. A RelatedList belongs to its screen and is not
// copyable once bound.
#pragma once

#include <array>
#include <string>

#include "host/controls/DBGrid.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/db/ADOIBQuery.h"
#include "host/forms/HandlerTable.h"

namespace pdi07310 {

class TfrmProdDesoneraImpos;

enum class RelatedKind { Fornecedor = 0, Cliente = 1, Filial = 2 };

// One value copied from a query row into a list row: target <- source.
struct FieldCopy {
  const char* target;
  const char* source;
};

// One row of the table of members of the family.
struct RelatedMembers {
  RelatedKind kind;
  // Components.
  const char* dataSet;     // cdsFornecedor
  const char* dataSource;  // dtsFornecedor
  const char* grid;        // dbgFornecedor
  const char* page;        // tshFornecedor
  std::array<const char*, 2> otherPages;  // disabled while a row of this list is inserted
  // Handlers bound by name.
  const char* beforeEdit;
  const char* beforePost;
  const char* afterPost;
  const char* afterCancel;
  const char* afterDelete;
  const char* stateChange;
  const char* colExit;
  const char* editButtonClick;
  const char* enter;
  const char* exit;
  const char* keyPress;  // null: the grid has no key filter
  const char* pageEnter;
  // Validation.
  const char* validateRoutine;                // Vd_Fornecedor, for messages and tests
  std::array<const char*, 2> validatingColumns;  // selected columns that let validation run
  const char* codeField;        // code column: read with GridText, focused on failure
  const char* emptyMessage;     // flag true and code empty
  int fitWidth;                 // 0: trimmed code; otherwise Ajusta(code, fitWidth)
  const char* lookupQuery;
  const char* lookupParam;
  const char* notFoundMessage;
  std::array<FieldCopy, 3> lookupCopy;
  const char* preparedCodeField;  // receives the prepared code; null for none
  const char* checkMethod;
  const char* itemKeyField;       // second argument of the check
  const char* scratch;            // cdsVd_Fornecedor
  const char* relatedMessage;
  bool focusBeforeNotFound;
  bool focusBeforeRelated;
  // Saving and reloading.
  const char* saveMethod;
  const char* reloadMethod;
  // Deletion question of the delete command.
  const char* deleteQuestion;
  // Pick list.
  const char* pickQuery;
  const char* pickSource;
  const char* pickMessage;
  std::array<FieldCopy, 3> pickCopy;
  int pickCopyCount;
};

// The table of members, in the order supplier, client, branch.
extern const std::array<RelatedMembers, 3> kRelatedMembers;

class RelatedList {
 public:
  RelatedList() = default;
  RelatedList(const RelatedList&) = delete;
  RelatedList& operator=(const RelatedList&) = delete;

  // Attaches this list to its screen and its row of the table (before the description loads).
  void Attach(TfrmProdDesoneraImpos& screen, const RelatedMembers& members);
  // Finds the list's components. REQUIRES: the screen's description is loaded.
  void Resolve();
  // Adds this list's handlers, under the names of the table, to `table`.
  void AddHandlers(host::HandlerTable& table);

  const RelatedMembers& Members() const { return *m_; }
  host::TClientDataSet* DataSet() const { return cds_; }
  host::TDataSource* Source() const { return dts_; }
  host::TDBGrid* Grid() const { return grid_; }
  host::TTabSheet* Page() const { return page_; }
  bool Inserting() const;

  // Validation of a typed code (Vd_Fornecedor and its kin). Raises the silent abort after a
  // message when the code is refused; the grid is then focused on its code column.
  void Validate(bool emptyIsError);
  // The list's enabling rule (dtsFornecedorStateChange and its kin).
  void StateChange();
  // Reloads the list from the server (getFornecedor and its kin): the rows of the products changed
  // since the list version it holds replace theirs, or, when the server cannot tell them, the
  // whole list is read; either way the list ends as a load of the whole list would leave it.
  void Reload();
  // The list version the list's rows are of ("" when unknown), from the last load that told it.
  const std::string& Version() const { return version_; }
  void SetVersion(std::string version) { version_ = std::move(version); }

  // Record-set handlers.
  void BeforeEdit();
  void BeforePost();
  void AfterPost();
  void AfterCancel();
  void AfterDelete();
  // Grid and page handlers.
  void ColExit();
  void EditButtonClick();
  void Enter();
  void Exit();
  void KeyPress(char& key);
  void PageEnter();

 private:
  host::TField* RowField(const char* name) const;
  // Focuses the code column after a refusal, with the column exit's validation held off.
  void FocusCodeColumn();

  TfrmProdDesoneraImpos* screen_ = nullptr;
  const RelatedMembers* m_ = nullptr;
  host::TClientDataSet* cds_ = nullptr;
  host::TDataSource* dts_ = nullptr;
  host::TDBGrid* grid_ = nullptr;
  host::TTabSheet* page_ = nullptr;
  std::array<host::TTabSheet*, 2> otherPages_{};
  host::TADOIBQuery* lookup_ = nullptr;
  host::TClientDataSet* scratch_ = nullptr;
  host::TADOIBQuery* pickQuery_ = nullptr;
  host::TDataSource* pickSource_ = nullptr;
  bool refusing_ = false;  // a refusal is moving the focus to the code column
  std::string version_;
};

}  // namespace pdi07310
