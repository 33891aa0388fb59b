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

const char* MasterSql(ListKind kind) {
  switch (kind) {
    case ListKind::Product: return "SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO ORDER BY CDPRODUTO";
    case ListKind::Supplier:
      return "SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED FROM FORNECEDOR ORDER BY CDFORNECED";
    case ListKind::Client:
      return "SELECT NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE FROM CLIENTE ORDER BY CDCLIENTE";
    case ListKind::Branch: return "SELECT CDFILIAL, NMFILIAL FROM FILIAL ORDER BY CDFILIAL";
  }
  return "";
}

const char* HistorySql() {
  // SQLite reads $1 as its first parameter, as PostgreSQL does.
  return "SELECT a.DTHRALTERACAO, a.NMUSUARIO, a.DSENDERECO, a.NMMETODO, i.IDOPERACAO, i.CDITEM,"
         " CASE a.NMMETODO"
         "  WHEN 'SetFornecedor' THEN COALESCE(NULLIF(i.CDITEMDES, ''), f.NRINSJURFORN, '')"
         "  WHEN 'SetCliente' THEN COALESCE(NULLIF(i.CDITEMDES, ''), c.NRINSJURCLIE, '')"
         "  WHEN 'SetFilial' THEN i.CDITEM"
         "  ELSE COALESCE(p.CDARVPROD, '') END,"
         " CASE a.NMMETODO"
         "  WHEN 'SetFornecedor' THEN COALESCE(f.NMRAZSOCFORN, '')"
         "  WHEN 'SetCliente' THEN COALESCE(c.NMRAZSOCCLIE, '')"
         "  WHEN 'SetFilial' THEN COALESCE(b.NMFILIAL, '')"
         "  ELSE COALESCE(p.NMPRODUTO, '') END"
         " FROM AUDITORIA_ITEM i JOIN AUDITORIA a ON a.NRPACOTE = i.NRPACOTE"
         " LEFT JOIN FORNECEDOR f ON a.NMMETODO = 'SetFornecedor' AND f.CDFORNECED = i.CDITEM"
         " LEFT JOIN CLIENTE c ON a.NMMETODO = 'SetCliente' AND c.CDCLIENTE = i.CDITEM"
         " LEFT JOIN FILIAL b ON a.NMMETODO = 'SetFilial' AND b.CDFILIAL = i.CDITEM"
         " LEFT JOIN PRODUTO p ON a.NMMETODO = 'SetProduto' AND p.CDPRODUTO = i.CDPRODUTO"
         " WHERE i.CDPRODUTO = $1 AND i.QTLINHAS > 0"
         " ORDER BY i.NRPACOTE DESC, i.NRITEM DESC"
         " LIMIT 1000";
}
static_assert(kHistoryLimit == 1000, "HistorySql's LIMIT is kHistoryLimit");

}  // namespace server
