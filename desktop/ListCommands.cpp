#include "desktop/ListCommands.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "desktop/AccessibleNames.h"
#include "desktop/QtHostServices.h"
#include "desktop/UserAction.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/core/Component.h"
#include "host/data/ClientDataSet.h"
#include "host/services/HostLib.h"
#include "host/tools/ListExport.h"
#include "host/tools/ScreenLists.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool running = false;

struct RunningGuard {
  RunningGuard() { running = true; }
  ~RunningGuard() { running = false; }
};

}  // namespace

bool ListCommands::Running() { return running; }

host::TDBGrid* ListCommands::PasteTarget(const host::TForm& form, QString* why) {
  std::string reason;
  host::TDBGrid* grid = host::ScreenLists::PasteTarget(form, &reason);
  if (!grid && why) *why = Q(reason);
  return grid;
}

host::PasteSummary ListCommands::Paste(QWidget* parent, host::TDBGrid& grid, const QString& text, QtHostServices& services) {
  host::PasteSummary summary;
  if (running) return summary;
  const std::vector<std::string> codes = host::ListPaste::SplitCodes(text.toStdString());
  const QString name = Q(host::ScreenLists::ListName(grid));
  if (codes.empty()) {
    services.MessageDlg("A área de transferência não tem códigos para colar (um código por linha).",
                        host::TMsgDlgType::mtInformation, {host::mbOK}, 0);
    return summary;
  }
  if (codes.size() > kMaxPasteCodes) {
    services.MessageDlg("A área de transferência tem " + std::to_string(codes.size()) +
                            " códigos; cole no máximo " + std::to_string(kMaxPasteCodes) +
                            " de cada vez. Nada foi incluído.",
                        host::TMsgDlgType::mtWarning, {host::mbOK}, 0);
    return summary;
  }
  RunningGuard guard;
  const int total = static_cast<int>(codes.size());
  QProgressDialog progress(QStringLiteral("Colando na lista %1: 0 de %2").arg(name).arg(total),
                           QStringLiteral("Parar"), 0, total, parent);
  progress.setObjectName(QStringLiteral("dlgColarProgresso"));
  progress.setWindowTitle(QStringLiteral("Colar lista"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumWidth(360);
  progress.show();
  QApplication::processEvents();
  UserAction::Run([&] {
    summary = host::ListPaste(grid).Run(codes, [&](int done, int all) {
      progress.setLabelText(QStringLiteral("Colando na lista %1: %2 de %3").arg(name).arg(done + 1).arg(all));
      progress.setValue(done);
      // The windows repaint and "Parar" is heard between rows; the modal dialog keeps every other
      // input away from the main window meanwhile.
      QApplication::processEvents();
      return !progress.wasCanceled();
    });
  });
  if (summary.unknown > 0) {
    // A save whose answer never came may or may not be stored: the list read again says which.
    progress.setLabelText(QStringLiteral("A conexão caiu; relendo a lista %1...").arg(name));
    QApplication::processEvents();
    UserAction::Run([&] { host::ListPaste(grid).Recheck(summary); });
  }
  progress.setValue(total);
  progress.hide();
  PasteSummaryDialog dialog(summary, name, parent);
  services.Exec(dialog);
  return summary;
}

void ListCommands::Export(QWidget* parent, const host::TForm* form, QtHostServices& services) {
  host::TDBGrid* main = form ? host::ScreenLists::MainList(*form) : nullptr;
  if (!main) {
    services.ShowError("Abra a tela antes de exportar uma lista.");
    return;
  }
  host::TDBGrid* detail = host::ScreenLists::DetailInView(*form);
  static QString lastFolder;
  ExportDialog dialog(Q(form->Caption()), detail ? Q(host::ScreenLists::ListName(*detail)) : QString(), lastFolder, parent);
  if (services.Exec(dialog) != QDialog::Accepted) return;
  // The dialog offers the detail choices only when a detail list is in view.
  const ExportDialog::Choice choice = detail ? dialog.Chosen() : ExportDialog::Choice::MainList;
  const std::string path = dialog.Path().toStdString();
  if (QFileInfo::exists(dialog.Path()) &&
      services.MessageDlg("O arquivo " + path + " já existe. Deseja substituí-lo?", host::TMsgDlgType::mtConfirmation,
                          {host::mbYes, host::mbNo}, 0) != host::mrYes) {
    return;
  }
  int rows = 0;
  const bool ok = UserAction::Run([&] {
    host::ExportTable table;
    switch (choice) {
      case ExportDialog::Choice::MainList:
        table = host::ListExport::FromGrid(*main);
        break;
      case ExportDialog::Choice::DetailCurrent:
        table = host::ListExport::FromGrid(*detail);
        break;
      case ExportDialog::Choice::DetailAll:
        // Each row names its product as the clerk knows it (code and name), not by inner key.
        table = host::ListExport::FromGridAllRows(*detail, main, "Produto");
        break;
    }
    rows = static_cast<int>(table.rows.size());
    try {
      host::ListExport::Write(table, path);
    } catch (const std::exception& e) {
      throw host::EPlatformError(std::string("Não foi possível exportar a lista: ") + e.what());
    }
  });
  if (!ok) return;
  lastFolder = QFileInfo(dialog.Path()).absolutePath();
  services.MessageDlg("Lista exportada: " + std::to_string(rows) + " linha(s) gravada(s) em " + path + ".",
                      host::TMsgDlgType::mtInformation, {host::mbOK}, 0);
}

// ---- Summary -----------------------------------------------------------------------------------

QString PasteSummaryDialog::Headline(const host::PasteSummary& s) {
  QString text = QStringLiteral("%1 de %2 código(s) gravado(s), %3 recusado(s)").arg(s.stored).arg(s.total).arg(s.refused);
  text += s.unknown > 0 ? QStringLiteral(", %1 sem resposta do servidor (não se sabe se foram gravados).").arg(s.unknown)
                        : QStringLiteral(".");
  if (s.stopped) {
    // Stopped at a code that failed (its line carries the reason), or before the next one.
    const int done = static_cast<int>(s.lines.size());
    const bool atFailedCode = done > 0 && !s.lines.back().stored && s.lines.back().message == s.stopReason;
    text += atFailedCode ? QStringLiteral("\nA colagem parou no código %1 de %2 (%3)")
                               .arg(done).arg(s.total).arg(Q(s.lines.back().code))
                         : QStringLiteral("\nA colagem parou antes do código %1 de %2").arg(done + 1).arg(s.total);
    if (!s.stopReason.empty()) text += QStringLiteral(": ") + Q(QtHostServices::ClerkText(s.stopReason, nullptr));
    text += QStringLiteral(". O que foi gravado até ali continua gravado.");
  }
  return text;
}

PasteSummaryDialog::PasteSummaryDialog(const host::PasteSummary& summary, const QString& listName, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dlgColarResumo"));
  setWindowTitle(QStringLiteral("Colar lista - %1").arg(listName));
  auto* layout = new QVBoxLayout(this);
  auto* headline = new QLabel(Headline(summary), this);
  headline->setObjectName(QStringLiteral("lblColarResumo"));
  headline->setWordWrap(true);
  layout->addWidget(headline);
  table_ = new QTableWidget(static_cast<int>(summary.lines.size()), 3, this);
  table_->setObjectName(QStringLiteral("tblColarResumo"));
  table_->setAccessibleName(QStringLiteral("Resultado de cada código"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Nº"), QStringLiteral("Código"), QStringLiteral("Resultado")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  NameTableParts(*table_);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  int r = 0;
  for (const host::PasteLine& line : summary.lines) {
    auto* number = new QTableWidgetItem(QString::number(line.number));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(r, 0, number);
    table_->setItem(r, 1, new QTableWidgetItem(Q(line.code)));
    auto* outcome = new QTableWidgetItem(line.stored ? (line.message.empty() ? QStringLiteral("gravado") : Q(line.message))
                                                     : Q(QtHostServices::ClerkText(line.message, nullptr)));
    if (!line.stored) outcome->setForeground(QColor(170, 30, 30));
    outcome->setToolTip(outcome->text());
    table_->setItem(r, 2, outcome);
    ++r;
  }
  table_->resizeColumnsToContents();
  table_->setCurrentIndex(QModelIndex());
  layout->addWidget(table_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  resize(620, 380);
}

// ---- Export ------------------------------------------------------------------------------------

ExportDialog::ExportDialog(const QString& mainName, const QString& detailName, const QString& folder, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dlgExportarLista"));
  setWindowTitle(QStringLiteral("Exportar lista"));
  auto* layout = new QVBoxLayout(this);
  auto* which = new QGroupBox(QStringLiteral("Lista"), this);
  auto* whichLayout = new QVBoxLayout(which);
  main_ = new QRadioButton(QStringLiteral("A lista principal (%1)").arg(mainName), which);
  main_->setObjectName(QStringLiteral("rbListaPrincipal"));
  const bool hasDetail = !detailName.isEmpty();
  detail_ = new QRadioButton(hasDetail ? QStringLiteral("%1 do registro atual").arg(detailName)
                                       : QStringLiteral("A lista do registro atual (nenhuma em vista)"), which);
  detail_->setObjectName(QStringLiteral("rbListaAtual"));
  detailAll_ = new QRadioButton(hasDetail ? QStringLiteral("%1 de todos os registros").arg(detailName)
                                          : QStringLiteral("A lista de todos os registros (nenhuma em vista)"), which);
  detailAll_->setObjectName(QStringLiteral("rbListaTodos"));
  detail_->setEnabled(hasDetail);
  detailAll_->setEnabled(hasDetail);
  whichLayout->addWidget(main_);
  whichLayout->addWidget(detail_);
  whichLayout->addWidget(detailAll_);
  // The option chosen is the one holding the focus, so the arrows start from it.
  (hasDetail ? detail_ : main_)->setChecked(true);
  (hasDetail ? detail_ : main_)->setFocus();
  layout->addWidget(which);

  auto* form = new QFormLayout;
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("cbFormato"));
  format_->addItem(QStringLiteral("CSV (planilha, separado por ponto e vírgula)"), QStringLiteral("csv"));
  format_->addItem(QStringLiteral("XLSX (pasta de trabalho do Excel)"), QStringLiteral("xlsx"));
  format_->setAccessibleName(QStringLiteral("Formato"));
  form->addRow(QStringLiteral("&Formato:"), format_);
  auto* fileRow = new QHBoxLayout;
  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("edArquivo"));
  path_->setAccessibleName(QStringLiteral("Arquivo"));
  path_->setMinimumWidth(320);
  path_->setText(QDir(folder.isEmpty() ? QDir::homePath() : folder).filePath(QStringLiteral("lista.csv")));
  auto* browse = new QPushButton(QStringLiteral("&Procurar…"), this);
  browse->setObjectName(QStringLiteral("btnProcurarArquivo"));
  fileRow->addWidget(path_, 1);
  fileRow->addWidget(browse);
  auto* fileLabel = new QLabel(QStringLiteral("&Arquivo:"), this);
  fileLabel->setBuddy(path_);
  form->addRow(fileLabel, fileRow);
  layout->addLayout(form);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Exportar"));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("btnExportar"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancelar"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  connect(format_, &QComboBox::currentIndexChanged, this, [this] { FollowFormat(); });
}

ExportDialog::Choice ExportDialog::Chosen() const {
  if (detail_->isChecked()) return Choice::DetailCurrent;
  if (detailAll_->isChecked()) return Choice::DetailAll;
  return Choice::MainList;
}

void ExportDialog::Choose(Choice choice) {
  QRadioButton* b = Option(choice);
  if (b->isEnabled()) b->setChecked(true);
}

QRadioButton* ExportDialog::Option(Choice choice) const {
  switch (choice) {
    case Choice::DetailCurrent:
      return detail_;
    case Choice::DetailAll:
      return detailAll_;
    case Choice::MainList:
      break;
  }
  return main_;
}

QString ExportDialog::Path() const { return path_->text().trimmed(); }
void ExportDialog::SetPath(const QString& path) { path_->setText(path); }
QString ExportDialog::Format() const { return format_->currentData().toString(); }

void ExportDialog::SetFormat(const QString& extension) {
  const int i = format_->findData(extension.toLower());
  if (i >= 0) format_->setCurrentIndex(i);
}

void ExportDialog::FollowFormat() {
  // The file's extension follows the format chosen (the writer picks the format by it).
  const QString path = Path();
  if (path.isEmpty()) return;
  const QFileInfo info(path);
  path_->setText(QDir(info.path()).filePath(info.completeBaseName() + QLatin1Char('.') + Format()));
}

void ExportDialog::Browse() {
  const QString filter = Format() == QLatin1String("xlsx") ? QStringLiteral("Pasta de trabalho (*.xlsx)")
                                                           : QStringLiteral("CSV (*.csv)");
  const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar lista"), Path(), filter);
  if (chosen.isEmpty()) return;
  path_->setText(chosen);
  const QString ext = QFileInfo(chosen).suffix().toLower();
  if (ext == QLatin1String("csv") || ext == QLatin1String("xlsx")) {
    SetFormat(ext);
  } else {
    FollowFormat();
  }
}

void ExportDialog::accept() {
  // A path without the format's extension gets it; another extension follows the format.
  const QString ext = QFileInfo(Path()).suffix().toLower();
  if (Path().isEmpty()) {
    path_->setFocus();
    return;
  }
  if (ext != Format()) FollowFormat();
  QDialog::accept();
}

}  // namespace desktop
