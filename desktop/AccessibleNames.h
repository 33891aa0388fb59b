// Accessible names for the parts Qt builds inside a table view (its headers and the corner
// button), which have no caption of their own: a screen reader then says what each one is.
//
// Used on the user-interface thread only.
#pragma once

#include <QAbstractButton>
#include <QHeaderView>
#include <QTableView>

namespace desktop {

inline void NameTableParts(QTableView& table) {
  table.horizontalHeader()->setAccessibleName(QStringLiteral("Títulos das colunas"));
  table.verticalHeader()->setAccessibleName(QStringLiteral("Linhas"));
  // The corner button is the only button the view creates itself.
  for (QAbstractButton* corner : table.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly))
    if (corner->accessibleName().isEmpty()) corner->setAccessibleName(QStringLiteral("Selecionar tudo"));
}

}  // namespace desktop
