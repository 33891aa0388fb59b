#include "desktop/SearchDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/DataSetTableModel.h"
#include "desktop/UserAction.h"
#include "host/data/DataSet.h"
#include "host/data/Field.h"

namespace desktop {

SearchDialog::SearchDialog(host::TDataSet& dataSet, QWidget* parent)
    : QDialog(parent), dataSet_(&dataSet) {
  setObjectName(QStringLiteral("searchDialog"));
  setWindowTitle(QStringLiteral("Procurar"));
  model_ = new DataSetTableModel(dataSet, this);
  column_ = new QComboBox(this);
  column_->setObjectName(QStringLiteral("searchColumn"));
  for (int c = 0; c < model_->columnCount(); ++c)
    column_->addItem(model_->headerData(c, Qt::Horizontal).toString());
  value_ = new QLineEdit(this);
  value_->setObjectName(QStringLiteral("searchValue"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("searchStatus"));

  auto* buttons = new QDialogButtonBox(this);
  // Every control has a letter of its own (Alt+letter); Enter in the value is Localizar.
  QPushButton* find = buttons->addButton(QStringLiteral("&Localizar"), QDialogButtonBox::AcceptRole);
  find->setDefault(true);
  buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { Locate(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Campo:"), column_);
  form->addRow(QStringLiteral("&Valor:"), value_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(status_);
  layout->addWidget(buttons);
  if (model_->rowCount() == 0) {
    status_->setText(QStringLiteral("Não há registros."));
    find->setEnabled(false);
  }
  value_->setFocus();
}

bool SearchDialog::Locate() {
  // Start after the current row, so a second search finds the next match.
  const int from = dataSet_->RecNo();
  const int row = model_->Find(value_->text(), column_->currentIndex(), from);
  if (row < 0) {
    status_->setText(QStringLiteral("Nenhum registro encontrado."));
    return false;
  }
  if (!UserAction::Run([&] { dataSet_->SetRecNo(row + 1); })) return false;
  accept();
  return true;
}

}  // namespace desktop
