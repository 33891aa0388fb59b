#include "desktop/HistoryPanel.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "desktop/AccessibleNames.h"
#include "desktop/DesktopSettings.h"
#include "desktop/QtHostServices.h"
#include "host/data/ClientDataSet.h"
#include "host/data/Field.h"
#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The server's field for each column of the panel, in order; the code column falls back to the
// item's inner key when the shown code is empty.
const char* const kFields[] = {"DTHRALTERACAO", "NMUSUARIO", "DSENDERECO", "NMLISTA", "IDOPERACAO", "CDITEMDES", "NMITEM"};
const char* const kCaptions[] = {"Data e hora", "Usuário", "Endereço", "Lista", "Operação", "Código", "Nome"};
constexpr int kColumns = 7;

// A request that receives nothing for this long fails: the panel never waits long.
constexpr std::chrono::milliseconds kConnectTimeout{3000};
constexpr std::chrono::milliseconds kReadTimeout{10000};

// A cell as the user reads it: the time in local time, the operation in Portuguese, "—" for an
// empty value (a change made without a user name).
QString Shown(int column, const std::string& value) {
  if (value.empty()) return QStringLiteral("—");
  const QString text = Q(value);
  if (column == 0) {
    const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : text;
  }
  // A taxpayer number with its mask, as the lists show it (CNPJ 14 digits, CPF 11).
  const bool digits = std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (column == 5 && digits && value.size() == 14) {
    return text.left(2) + '.' + text.mid(2, 3) + '.' + text.mid(5, 3) + '/' + text.mid(8, 4) + '-' + text.mid(12, 2);
  }
  if (column == 5 && digits && value.size() == 11) {
    return text.left(3) + '.' + text.mid(3, 3) + '.' + text.mid(6, 3) + '-' + text.mid(9, 2);
  }
  if (column == 2) return HistoryPanel::AddressShown(text);
  if (column == 4) {
    if (text == QLatin1String("insert")) return QStringLiteral("inclusão");
    if (text == QLatin1String("delete")) return QStringLiteral("exclusão");
    if (text == QLatin1String("update")) return QStringLiteral("alteração");
  }
  return text;
}

}  // namespace

QString HistoryPanel::AddressShown(const QString& address) {
  // The client's port changes with every connection and tells the clerk nothing.
  QString host = address;
  if (host.startsWith(QLatin1Char('['))) {
    const int close = host.indexOf(QLatin1Char(']'));
    if (close > 0) return host.mid(1, close - 1);
  }
  const int colon = host.lastIndexOf(QLatin1Char(':'));
  if (colon > 0 && host.indexOf(QLatin1Char(':')) == colon) {
    bool digits = colon + 1 < host.size();
    for (int i = colon + 1; i < host.size(); ++i) digits = digits && host[i].isDigit();
    if (digits) host.truncate(colon);
  }
  return host;
}

HistoryPanel::HistoryPanel(Fetcher fetcher, QWidget* parent)
    : QDockWidget(QStringLiteral("Histórico"), parent), fetcher_(std::move(fetcher)) {
  setObjectName(QStringLiteral("dockHistorico"));
  setAccessibleName(QStringLiteral("Histórico"));
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  status_ = new QLabel(body);
  status_->setObjectName(QStringLiteral("lblHistoricoSituacao"));
  status_->setWordWrap(true);
  table_ = new QTableWidget(0, kColumns, body);
  table_->setObjectName(QStringLiteral("tblHistorico"));
  table_->setAccessibleName(QStringLiteral("Alterações do produto"));
  QStringList captions;
  for (const char* c : kCaptions) captions << QString::fromUtf8(c);
  table_->setHorizontalHeaderLabels(captions);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setWordWrap(false);
  NameTableParts(*table_);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  layout->addWidget(status_);
  layout->addWidget(table_, 1);
  setWidget(body);
  debounce_ = new QTimer(this);
  debounce_->setSingleShot(true);
  debounce_->setInterval(kDebounce);
  connect(debounce_, &QTimer::timeout, this, [this] { Start(); });
  retry_ = new QTimer(this);
  retry_->setSingleShot(true);
  retry_->setInterval(kRetryAfter);
  connect(retry_, &QTimer::timeout, this, [this] {
    if (isVisible()) Start();
  });
  connect(&watcher_, &QFutureWatcher<HistoryAnswer>::finished, this, [this] { OnFinished(); });
  status_->setText(fetcher_ ? QStringLiteral("Nenhum produto selecionado.")
                            : QStringLiteral("O histórico não está disponível nesta instalação."));
}

HistoryPanel::~HistoryPanel() {
  // The worker holds nothing of this object; its own deadlines bound this wait.
  disconnect(&watcher_, nullptr, this, nullptr);
  watcher_.waitForFinished();
}

void HistoryPanel::SetFetcher(Fetcher fetcher) {
  watcher_.waitForFinished();
  // An answer of the previous source not yet delivered is dropped when it arrives.
  ++generation_;
  fetcher_ = std::move(fetcher);
  const std::string key = key_;
  key_.clear();
  table_->setRowCount(0);
  status_->setText(fetcher_ ? QStringLiteral("Nenhum produto selecionado.")
                            : QStringLiteral("O histórico não está disponível nesta instalação."));
  SetKey(key);
}

void HistoryPanel::SetRetryInterval(std::chrono::milliseconds interval) {
  retry_->setInterval(static_cast<int>(interval.count()));
}

void HistoryPanel::SetKey(const std::string& key) {
  if (key == key_) return;
  key_ = key;
  retry_->stop();
  table_->setRowCount(0);
  if (!fetcher_) return;
  if (key_.empty()) {
    debounce_->stop();
    status_->setText(QStringLiteral("Nenhum produto selecionado."));
    return;
  }
  status_->setText(QStringLiteral("Carregando o histórico…"));
  debounce_->start();
}

void HistoryPanel::Refresh() {
  if (!fetcher_ || key_.empty()) return;
  debounce_->stop();
  Start();
}

void HistoryPanel::RefreshSoon() {
  if (!fetcher_ || key_.empty()) return;
  debounce_->start();
}

void HistoryPanel::SetPaused(bool paused) {
  paused_ = paused;
  if (paused) {
    watcher_.waitForFinished();
  } else if (pending_ && !watcher_.isRunning()) {
    Start();
  }
}

void HistoryPanel::Start() {
  // Whatever was waiting for the pause to end is served by this request (or the held one).
  debounce_->stop();
  if (key_.empty() || !fetcher_) return;
  if (watcher_.isRunning() || paused_) {
    // One request at a time: the newest key goes out when the one under way ends.
    pending_ = true;
    return;
  }
  pending_ = false;
  inFlightKey_ = key_;
  inFlightGeneration_ = ++generation_;
  ++requests_;
  Fetcher fetch = fetcher_;
  const std::string key = key_;
  watcher_.setFuture(QtConcurrent::run([fetch, key]() -> HistoryAnswer {
    try {
      return fetch(key);
    } catch (const std::exception& e) {
      return HistoryAnswer{{}, e.what()};
    } catch (...) {
      return HistoryAnswer{{}, "erro inesperado"};
    }
  }));
}

void HistoryPanel::OnFinished() {
  const HistoryAnswer answer = watcher_.result();
  const bool stale = inFlightKey_ != key_ || inFlightGeneration_ != generation_;
  inFlightKey_.clear();
  if (stale) {
    ++dropped_;
  } else {
    Show(answer);
  }
  if (stale && !key_.empty()) pending_ = true;
  if (pending_ && !paused_) {
    pending_ = false;
    Start();
  }
}

void HistoryPanel::Show(const HistoryAnswer& answer) {
  table_->setRowCount(0);
  if (!answer.error.empty()) {
    // In the clerk's words; the connection's own text (method, service) only in the hint and on
    // standard error. The same key is asked again after a while: the error clears by itself once
    // the server answers.
    std::string details;
    const std::string shown = QtHostServices::ClerkText(answer.error, &details);
    if (!details.empty()) std::fprintf(stderr, "pdi07310-desktop: histórico: %s\n", details.c_str());
    status_->setText(QStringLiteral("Histórico indisponível agora: ") + Q(shown));
    status_->setToolTip(Q(details.empty() ? answer.error : details));
    retry_->start();
    return;
  }
  status_->setToolTip(QString());
  table_->setRowCount(static_cast<int>(answer.rows.size()));
  int r = 0;
  for (const HistoryRow& row : answer.rows) {
    const std::string* cells[kColumns] = {&row.time, &row.user, &row.address, &row.list,
                                          &row.operation, &row.code, &row.name};
    for (int c = 0; c < kColumns; ++c) table_->setItem(r, c, new QTableWidgetItem(Shown(c, *cells[c])));
    ++r;
  }
  table_->resizeColumnsToContents();
  // The name takes the width left (resizing to the contents gave it only its own).
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  status_->setText(answer.rows.empty()
                       ? QStringLiteral("Nenhuma alteração registrada para este produto.")
                       : QStringLiteral("%1 alteração(ões), da mais recente à mais antiga.").arg(answer.rows.size()));
}

std::vector<HistoryRow> HistoryPanel::ReadAnswer(const host::Variant& raw) {
  const host::Variant data = host::CheckResultServ(raw, false);
  host::TClientDataSet rows;
  rows.SetData(data);
  int index[kColumns];
  for (int c = 0; c < kColumns; ++c) {
    index[c] = -1;
    const auto& fields = rows.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (fields[i]->FieldName() == kFields[c]) index[c] = static_cast<int>(i);
  }
  int itemKey = -1;
  for (std::size_t i = 0; i < rows.Fields().size(); ++i)
    if (rows.Fields()[i]->FieldName() == "CDITEM") itemKey = static_cast<int>(i);
  std::vector<HistoryRow> out;
  out.reserve(static_cast<std::size_t>(rows.RecordCount()));
  for (int n = 1; n <= rows.RecordCount(); ++n) {
    rows.SetDisplayRow(n);
    const std::vector<std::string> values = rows.RowValues();
    const auto at = [&values](int i) { return i >= 0 && i < static_cast<int>(values.size()) ? values[static_cast<std::size_t>(i)] : std::string(); };
    HistoryRow row{at(index[0]), at(index[1]), at(index[2]), at(index[3]), at(index[4]), at(index[5]), at(index[6])};
    if (row.code.empty()) row.code = at(itemKey);
    out.push_back(std::move(row));
  }
  rows.SetDisplayRow(0);
  return out;
}

HistoryPanel::Fetcher HistoryPanel::ServerFetcher(const DesktopSettings& settings, const std::string& serviceName,
                                                  std::function<std::string()> tokenSource) {
  const std::string host = settings.WebURL();
  const int port = settings.WebPort();
  const std::string configured = settings.AccessToken();
  const std::string caFile = settings.CaFile();
  const bool insecure = settings.Insecure();
  return [=, source = std::move(tokenSource)](const std::string& key) {
    // A connection of its own, made and dropped on the worker thread: nothing is shared with the
    // screen's connection or its calls.
    host::TNetConnection connection;
    connection.SetHost(host);
    connection.SetPort(port);
    connection.SetServerName(serviceName);
    const std::string token = source ? source() : configured;
    if (!token.empty()) connection.SetAccessToken(token);
    if (!caFile.empty()) connection.SetCaFile(caFile);
    connection.SetInsecure(insecure);
    connection.SetConnectTimeout(kConnectTimeout);
    connection.SetReadTimeout(kReadTimeout);
    const host::Variant raw = connection.Call("getHistorico", {host::Variant::FromText(key)});
    return HistoryAnswer{ReadAnswer(raw), {}};
  };
}

}  // namespace desktop
