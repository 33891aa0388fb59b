// HistoryPanel is the dockable "Histórico" panel: the change history of the current product
// (time, user, client address, list, operation, item code, name), newest first, as the server's
// getHistorico answers it; times in local time, operations in Portuguese, taxpayer numbers
// with their masks.
//
// Promises:
// - SetKey tells the panel which product is current; the request goes out only once the key has
//   stayed the same for kDebounce, so scrolling through the list sends one request, not one per row.
// - The request runs on a worker thread through its own connection (never the screen's, never
//   through the busy animation or the call runner's wait): the user interface never waits for it.
// - An answer is shown only when it is for the key current at that moment and for the latest
//   request; an answer that arrives late for an earlier product is dropped.
// - A failure is shown in the panel's status line in plain Portuguese (no method or service name;
//   those are in its hint); the table is emptied so it never shows another product's history as
//   this one's; the same product is asked again after kRetryAfter, so the failure clears by
//   itself once the server answers.
// - Client addresses are shown without their (throwaway) port.
// - The destructor waits for a request under way (bounded by the fetcher's own deadlines).
//
// The fetcher runs off the user-interface thread and must touch nothing shared with it; the
// default one (ServerFetcher) opens a fresh connection per request with short deadlines.
//
// Used on the user-interface thread only (except the fetcher). Not copyable (a QWidget).
#pragma once

#include <QDockWidget>
#include <QString>
#include <QFutureWatcher>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QTableWidget;
class QTimer;

namespace host {
class Variant;
}

namespace desktop {

class DesktopSettings;

// One change of a product as the panel shows it.
struct HistoryRow {
  std::string time, user, address, list, operation, code, name;
};

// The outcome of one request: rows, or an error text.
struct HistoryAnswer {
  std::vector<HistoryRow> rows;
  std::string error;  // empty on success
};

class HistoryPanel : public QDockWidget {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kDebounce{300};
  // After a failure the same key is asked again this long after, while the panel is shown.
  static constexpr std::chrono::milliseconds kRetryAfter{10000};

  using Fetcher = std::function<HistoryAnswer(const std::string& key)>;

  explicit HistoryPanel(Fetcher fetcher, QWidget* parent = nullptr);
  ~HistoryPanel() override;

  // The fetcher asking the server of `settings` (address, token, CA file) with getHistorico.
  // `token` (when given; called on the worker thread, so it must be thread-safe) supplies the
  // access token at each request instead: the session's, which a new sign-in changes.
  static Fetcher ServerFetcher(const DesktopSettings& settings, const std::string& serviceName,
                               std::function<std::string()> token = {});
  // A client address as the panel shows it: without the port ("10.0.0.5:51234" -> "10.0.0.5",
  // "[::1]:5000" -> "::1").
  static QString AddressShown(const QString& address);
  // Reads getHistorico's raw result (the {"ok":…} text) into rows. Raises on a refusal or a
  // packet it cannot read. Thread-safe (touches only its own objects).
  static std::vector<HistoryRow> ReadAnswer(const host::Variant& raw);

  // Changes where the history comes from (waits for a request under way first); the current key
  // is fetched again.
  void SetFetcher(Fetcher fetcher);
  // The current product's key; empty for none (the panel empties). A new key is fetched after
  // kDebounce; the same key again does nothing.
  void SetKey(const std::string& key);
  // Fetches the current key again now.
  void Refresh();
  // Fetches the current key again after kDebounce (after the screen talked to the server: a
  // save may have added changes); several calls in a row give one request.
  void RefreshSoon();
  const std::string& Key() const { return key_; }
  // Requests sent and answers dropped as stale since creation (for tests).
  int Requests() const { return requests_; }
  int Dropped() const { return dropped_; }
  bool Busy() const { return watcher_.isRunning(); }
  // Holds new requests back while paused (a request under way is waited for first, bounded by
  // the fetcher's deadlines); the last one held back goes out when the pause ends.
  void SetPaused(bool paused);
  QTableWidget* Table() const { return table_; }
  QLabel* Status() const { return status_; }
  // Changes kRetryAfter (for tests).
  void SetRetryInterval(std::chrono::milliseconds interval);

 private:
  void Start();
  void OnFinished();
  void Show(const HistoryAnswer& answer);

  Fetcher fetcher_;
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* debounce_ = nullptr;
  QTimer* retry_ = nullptr;
  QFutureWatcher<HistoryAnswer> watcher_;
  std::string key_;
  std::string inFlightKey_;
  unsigned generation_ = 0;          // bumped by each request and each change of source
  unsigned inFlightGeneration_ = 0;
  bool pending_ = false;  // the key changed while a request ran or paused: start again after
  bool paused_ = false;
  int requests_ = 0;
  int dropped_ = 0;
};

}  // namespace desktop
