// ListCatalog describes the four lists the remote service serves (products and the suppliers,
// clients and branches related to them): the fields of each list's data packet in the order of
// the receiving record set, with their sizes; the fields of its check answer; which fields
// identify a row; and the words used in messages to the user. The method code is one
// implementation driven by this table, not four copies.
//
// Immutable after static initialization; safe to read from any thread.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "host/wire/PacketWriter.h"

namespace server {

enum class ListKind { Product, Supplier, Client, Branch };

inline constexpr ListKind kListKinds[] = {ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch};
inline constexpr ListKind kRelatedLists[] = {ListKind::Supplier, ListKind::Client, ListKind::Branch};

struct ListInfo {
  ListKind kind;
  std::string_view loadMethod;   // e.g. "getFornecedor" (empty for the product list)
  std::string_view saveMethod;   // e.g. "SetFornecedor"
  std::string_view checkMethod;  // e.g. "getVd_Fornecedor"
  std::vector<host::wire::FieldDef> fields;       // data packet fields, record-set order
  std::vector<host::wire::FieldDef> checkFields;  // fields of the check answer
  std::string_view productField;  // field holding the product key: CDPRODUTO or CDPRODUTODES
  std::string_view itemKeyField;  // internal key of the item: CDFORNECED, CDCLIENTE, CDFILIALDES
  std::string_view itemCodeField;   // stored code typed by the user: CDFORNECEDDES, CDCLIENTEDES
  std::string_view displayCodeField;  // field showing the item's code: NRINSJURFORN, CDFILIALDES
  std::string_view noun;        // "Fornecedor"
  std::string_view nounLower;   // "fornecedor"
  bool feminine;                // "Filial ... cadastrada"
  std::string_view listName;    // "lista de fornecedores"

  // The declared size of the field with this name, or -1 when the list has no such field.
  int FieldSize(std::string_view name) const;
};

class ListCatalog {
 public:
  ListCatalog() = delete;
  static const ListInfo& Get(ListKind kind);
};

// The most rows a product's change history answers (the newest ones; see HistorySql in
// StoreSchema.h).
inline constexpr int kHistoryLimit = 1000;

}  // namespace server
