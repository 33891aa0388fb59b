#include "desktop/LocalDatabaseUpdater.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <QStatusBar>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/QtHostServices.h"
#include "host/db/DtmDBGeral.h"
#include "host/wire/ServiceName.h"

namespace desktop {

namespace {

namespace fs = std::filesystem;

constexpr int kPollMs = 100;

void RemoveStaging(const std::string& staging) {
  std::error_code ignored;
  for (const char* suffix : {"", ".etag", ".new"}) fs::remove(staging + suffix, ignored);
}

// Removes the staging copies that a desktop which ended during a download left beside `local`
// (named LOCAL.atualizando.PID.N, PID no longer running).
void RemoveLeftovers(const std::string& local) {
  const fs::path path(local);
  const std::string prefix = path.filename().string() + ".atualizando.";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path.parent_path().empty() ? fs::path(".") : path.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      fs::remove(entry.path(), ignored);
    }
  }
}

// A staging copy beside `local`: a hard link of it (a copy where links are not possible), with
// its ETag, so the download can answer "unchanged" without touching the copy in use.
std::string PrepareStaging(const std::string& local) {
  static int counter = 0;
  RemoveLeftovers(local);
  const std::string staging = local + ".atualizando." + std::to_string(::getpid()) + "." + std::to_string(++counter);
  RemoveStaging(staging);
  std::error_code error;
  if (fs::exists(local, error)) {
    fs::create_hard_link(local, staging, error);
    if (error) fs::copy_file(local, staging, fs::copy_options::overwrite_existing, error);
    if (fs::exists(local + ".etag", error)) {
      fs::copy_file(local + ".etag", staging + ".etag", fs::copy_options::overwrite_existing, error);
    }
  }
  return staging;
}

}  // namespace

struct LocalDatabaseUpdater::Job {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool abandoned = false;
  bool cleaned = false;
  host::LocalDatabaseRefresh result;
  std::string local;
  std::string staging;
  std::shared_ptr<host::DownloadCanceller> cancel;  // the server's download: ends its exchange

  // Gives the job up; its staging copy goes with it (now when the download has ended, else when
  // it ends, which the cancelled exchange makes soon). Thread-safe.
  void Abandon() {
    if (cancel) cancel->Cancel();
    bool cleanNow = false;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      abandoned = true;
      cleanNow = done && !cleaned;
      cleaned = cleaned || done;
    }
    changed.notify_all();
    if (cleanNow) RemoveStaging(staging);
  }
};

LocalDatabaseUpdater::LocalDatabaseUpdater(QtHostServices& services, QStatusBar& bar, QObject* parent)
    : QObject(parent), services_(services), bar_(bar) {
  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, [this] { Poll(); });
}

LocalDatabaseUpdater::~LocalDatabaseUpdater() { Cancel(); }

bool LocalDatabaseUpdater::HaveLocalCopy() const {
  std::error_code ignored;
  const std::string& local = services_.Settings().LocalDatabase();
  return !local.empty() && fs::exists(local, ignored);
}

void LocalDatabaseUpdater::Start() {
  if (job_) return;
  const DesktopSettings& s = services_.Settings();
  if (s.LocalDatabase().empty()) return;
  auto job = std::make_shared<Job>();
  job->local = s.LocalDatabase();
  job->staging = PrepareStaging(job->local);
  Download download = download_;
  if (!download) {
    host::LocalDatabaseDownload server(s.WebURL(), s.WebPort(), std::string(host::wire::kServiceName),
                                        services_.AccessToken());
    server.SetCaFile(s.CaFile());
    server.SetInsecure(s.Insecure());
    job->cancel = std::make_shared<host::DownloadCanceller>();
    download = [server, cancel = job->cancel](const std::string& path) { return server.Refresh(path, cancel.get()); };
  }
  job_ = job;
  bar_.showMessage(QStringLiteral("Atualizando os cadastros a partir do servidor..."));
  // Detached: a download given up is not waited for (the window may be closing); it holds only
  // the job and its own copy of the download.
  std::thread([job, download] {
    host::LocalDatabaseRefresh result;
    try {
      result = download(job->staging);
    } catch (const std::exception& e) {
      result = {host::LocalDatabaseRefresh::Outcome::Failed, e.what()};
    } catch (...) {
      result = {host::LocalDatabaseRefresh::Outcome::Failed, "erro inesperado"};
    }
    bool cleanNow = false;
    {
      const std::lock_guard<std::mutex> lock(job->mutex);
      job->result = std::move(result);
      job->done = true;
      cleanNow = job->abandoned && !job->cleaned;
      job->cleaned = job->cleaned || job->abandoned;
    }
    job->changed.notify_all();
    if (cleanNow) RemoveStaging(job->staging);
  }).detach();
  poll_->start();
}

void LocalDatabaseUpdater::RefreshAndWait() {
  Start();
  if (!job_) return;
  waited_ = true;
  const std::shared_ptr<Job> job = job_;
  BusyIndicator* busy = services_.Busy();
  const bool shown = busy && !busy->Running();
  if (shown) busy->Start(QStringLiteral("Atualizando os cadastros..."));
  inWait_ = true;
  try {
    CallRunner::Run(
        [job] {
          std::unique_lock<std::mutex> lock(job->mutex);
          job->changed.wait(lock, [&] { return job->done || job->abandoned; });
        },
        [job] { job->Abandon(); });
  } catch (...) {
    // The wait itself raises nothing; the outcome is the job's.
  }
  inWait_ = false;
  if (shown && busy) busy->Stop();
  Poll();
}

void LocalDatabaseUpdater::Cancel() {
  if (!job_) return;
  const std::shared_ptr<Job> job = std::move(job_);
  job_.reset();
  poll_->stop();
  waited_ = false;
  job->Abandon();
  bar_.showMessage(QStringLiteral("Atualização dos cadastros cancelada; a cópia local anterior continua em uso."), 8000);
}

void LocalDatabaseUpdater::Poll() {
  // A refresh waited for is finished once its wait has ended, outside the wait's event loop.
  if (!job_ || inWait_) return;
  bool done = false;
  bool abandoned = false;
  {
    const std::lock_guard<std::mutex> lock(job_->mutex);
    done = job_->done;
    abandoned = job_->abandoned;
  }
  if (abandoned) {
    // Given up through the wait's Cancelar (or Esc): the job cleans up after itself.
    Cancel();
  } else if (done) {
    Finish();
  }
}

void LocalDatabaseUpdater::Finish() {
  const std::shared_ptr<Job> job = std::move(job_);
  job_.reset();
  poll_->stop();
  host::LocalDatabaseRefresh result;
  {
    const std::lock_guard<std::mutex> lock(job->mutex);
    result = job->result;
    job->cleaned = true;  // what is left of the staging copy is this thread's now
  }
  if (result.outcome == host::LocalDatabaseRefresh::Outcome::Updated) {
    std::error_code error;
    fs::rename(job->staging, job->local, error);
    if (error) {
      result = {host::LocalDatabaseRefresh::Outcome::Failed,
                "Não foi possível substituir " + job->local + " pela cópia recebida (" + error.message() +
                    "). A cópia local anterior continua em uso."};
    } else {
      std::error_code ignored;
      fs::rename(job->staging + ".etag", job->local + ".etag", ignored);
      // The connection stays on the file it opened: the next local query opens the new copy
      // (queries read their rows whole, so none is left reading the old one).
      host::dtmDBGeral().Close();
    }
  }
  RemoveStaging(job->staging);
  Report(result);
  waited_ = false;
  emit Finished(result.outcome);
}

void LocalDatabaseUpdater::Report(const host::LocalDatabaseRefresh& refresh) {
  switch (refresh.outcome) {
    case host::LocalDatabaseRefresh::Outcome::Updated:
      bar_.showMessage(QStringLiteral("Cadastros atualizados a partir do servidor."), 8000);
      return;
    case host::LocalDatabaseRefresh::Outcome::Unchanged:
      bar_.showMessage(QStringLiteral("Os cadastros já estavam atualizados."), 8000);
      return;
    case host::LocalDatabaseRefresh::Outcome::Failed:
      break;
  }
  const std::string& shown = refresh.message;
  if (waited_) {
    services_.ShowError(shown);
  } else {
    // In the background nobody asked: the status bar says it, no dialog interrupts the work.
    std::fprintf(stderr, "pdi07310-desktop: %s\n", shown.c_str());
    bar_.showMessage(QString::fromStdString(shown), 15000);
  }
}

}  // namespace desktop
