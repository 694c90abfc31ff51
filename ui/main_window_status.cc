// The main window's status line: whether and where it listens, the run's
// sessions and bytes, the capture's use, and the last failure with the
// system's reason.
#include <chrono>
#include <vector>

#include "capture/capture_store.h"
#include "ui/conditions_summary.h"
#include "ui/main_window.h"
#include "ui/sessions/session_texts.h"

namespace portwick {

namespace {

// How often the status line reads the run's figures.
constexpr std::chrono::milliseconds kStatusInterval{250};
constexpr int kStatusTimerId = 1;

}  // namespace

void MainWindow::CreateStatusLine() {
  dialog_->AddStatusLine();
  has_status_line_ = true;
  dialog_->SetTimer(kStatusTimerId, kStatusInterval, [this] { UpdateStatusLine(); });
  UpdateStatusLine();
}

void MainWindow::ReportError(const std::string& text) {
  last_error_ = text;
  UpdateStatusLine();
}

void MainWindow::NoteConnectFailures(const CaptureStore& store, uint64_t sequence) {
  if (&store != failures_store_) {
    failures_store_ = &store;
    failures_seen_after_ = 0;
  }
  if (sequence == failures_seen_after_) return;
  // The sessions changed since the last look; the newest failure is shown.
  const CapturedSession* newest = nullptr;
  const std::vector<CapturedSession> changed = store.Sessions(failures_seen_after_);
  for (const CapturedSession& session : changed) {
    if (session.state == CapturedState::kFailed && (newest == nullptr || session.id > newest->id)) {
      newest = &session;
    }
  }
  failures_seen_after_ = sequence;
  if (newest != nullptr) last_error_ = ConnectErrorText(*newest);
}

void MainWindow::NoteLogLoss() {
  const LogLoss loss = run_.log_loss();
  if (loss.first_failure.ok()) return;
  const std::string text =
      LogFileErrorText(run_log_file_, loss.first_failure) + "; " + std::to_string(loss.records) +
      (loss.records == 1 ? " record (" : " records (") + SizeText(loss.bytes) + ") not written";
  // Said once per run; while it is still the last failure shown, its counts
  // go on.
  if (!log_loss_noted_) {
    log_loss_noted_ = true;
    last_error_ = text;
  } else if (last_error_ == log_loss_text_) {
    last_error_ = text;
  }
  log_loss_text_ = text;
}

void MainWindow::UpdateStatusLine() {
  if (!has_status_line_) return;
  StatusFigures figures;
  figures.listening = run_.IsRunning();
  figures.port = run_.BoundPort();
  figures.destination = destination_text_;
  figures.conditions = ConditionsSummary(conditions_);
  if (const std::shared_ptr<CaptureStore> store = capture_store()) {
    figures.capturing = true;
    figures.counts = store->Counts();
    NoteConnectFailures(*store, figures.counts.sequence);
  }
  NoteLogLoss();
  figures.last_error = last_error_;
  const std::string text = StatusLineText(figures);
  if (dialog_->StatusText() != text) {
    dialog_->SetStatusText(text);
    // The bar cuts a long line off; the whole of it (the failure's reason
    // last) stays reachable.
    dialog_->SetStatusTip(text);
  }
}

std::string MainWindow::StatusText() const {
  return has_status_line_ ? dialog_->StatusText() : std::string();
}

}  // namespace portwick
