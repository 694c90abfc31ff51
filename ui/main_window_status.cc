// The main window's status line: whether and where it listens, the run's
// sessions and bytes, the capture's use, and the last failure with the
// system's reason.
#include <QtCore/QTimer>
#include <QtWidgets/QLabel>
#include <QtWidgets/QStatusBar>
#include <vector>

#include "capture/capture_store.h"
#include "ui/framework/template_dialog.h"
#include "ui/main_window.h"
#include "ui/sessions/session_texts.h"

namespace portwick {

namespace {

// How often the status line reads the run's figures.
constexpr int kStatusIntervalMs = 250;

}  // namespace

void MainWindow::CreateStatusLine() {
  QStatusBar* bar = dialog_->AddStatusBar();
  status_line_ = new QLabel(bar);  // owned by the bar (Qt parent)
  status_line_->setObjectName("status_line");
  status_line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bar->addWidget(status_line_, 1);
  status_timer_ = new QTimer(dialog_.get());
  status_timer_->setInterval(kStatusIntervalMs);
  QObject::connect(status_timer_, &QTimer::timeout, dialog_.get(), [this] { UpdateStatusLine(); });
  status_timer_->start();
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
  if (status_line_ == nullptr) return;
  StatusFigures figures;
  figures.listening = run_.IsRunning();
  figures.port = run_.BoundPort();
  figures.destination = destination_text_;
  if (const std::shared_ptr<CaptureStore> store = capture_store()) {
    figures.capturing = true;
    figures.counts = store->Counts();
    NoteConnectFailures(*store, figures.counts.sequence);
  }
  NoteLogLoss();
  figures.last_error = last_error_;
  const QString text = QString::fromStdString(StatusLineText(figures));
  if (status_line_->text() != text) {
    status_line_->setText(text);
    // The bar cuts a long line off; the whole of it (the failure's reason
    // last) stays reachable.
    status_line_->setToolTip(text);
  }
}

QString MainWindow::StatusText() const {
  return status_line_ != nullptr ? status_line_->text() : QString();
}

}  // namespace portwick
