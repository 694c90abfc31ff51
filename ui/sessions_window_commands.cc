// The Sessions window's commands on the conversation: Find, Copy, Export.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "capture/session_label.h"
#include "capture/trace_format.h"
#include "ui/file_choosers.h"
#include "ui/session_export.h"
#include "ui/session_texts.h"
#include "ui/sessions_window.h"

namespace portwick {

bool SessionsWindow::FindNext(bool forward) {
  const std::string typed = find_box_->text().toStdString();
  std::string needle;
  if (find_kind_->currentIndex() == 1) {
    const std::optional<std::string> bytes = FindBytesFromHex(typed);
    if (!bytes) {
      Say("Find: \"" + typed + "\" is not hex bytes (pairs of hex digits, such as 0d 0a)");
      return false;
    }
    needle = *bytes;
  } else {
    needle = FindBytesFromText(typed);
  }
  if (needle.empty() || conversation_->rowCount() == 0) {
    Say(needle.empty() ? "Find: nothing to find" : "Find: no conversation shown");
    return false;
  }
  // From the match shown, or else from the top line in view.
  std::optional<ConversationModel::Place> from;
  if (match_) {
    from = match_->at;
  } else {
    const QModelIndex top = conversation_view_->indexAt(QPoint(0, 0));
    const ConversationModel::LineBytes line = conversation_->BytesOf(top.row());
    if (top.isValid() && forward) from = ConversationModel::Place{line.chunk_index, line.begin};
    if (from && from->offset > 0) --from->offset;  // the top line's own bytes count
  }
  std::optional<ConversationModel::Match> match = conversation_->Find(needle, from, forward);
  bool wrapped = false;
  if (!match && from) {
    match = conversation_->Find(needle, std::nullopt, forward);
    wrapped = match.has_value();
  }
  if (!match) {
    Say("Find: \"" + typed + "\" not found");
    return false;
  }
  match_ = match;
  const int row = conversation_->RowOf(match->at);
  const QModelIndex index = conversation_->index(row);
  // The match itself is highlighted, not its whole line.
  conversation_->SetHighlight(match);
  conversation_view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::Clear);
  conversation_view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  // Named as the view shows the chunk: its header's direction and time;
  // counts from 1, as a reader counts.
  std::string where = "Found at byte " + std::to_string(match->at.offset + 1) + " of chunk " +
                      std::to_string(match->at.chunk + 1);
  if (const ChunkRef chunk = conversation_->BytesOf(row).chunk) {
    where += chunk->direction() == Direction::kClientToServer ? " (client \u2192 server, "
                                                              : " (server \u2192 client, ";
    AppendClockTime(where, chunk->time().wall);
    where += ")";
  }
  Say(where + (wrapped ? (forward ? ", from the start" : ", from the end") : ""));
  return true;
}

void SessionsWindow::CopySelection(bool hex) {
  std::vector<int> rows;
  for (const QModelIndex& index : conversation_view_->selectionModel()->selectedIndexes()) {
    rows.push_back(index.row());
  }
  if (rows.empty()) {
    Say("Copy: select lines of the conversation first");
    return;
  }
  const std::string text = conversation_->CopyText(rows, hex);
  QApplication::clipboard()->setText(
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  Say("Copied " + std::to_string(rows.size()) + (rows.size() == 1 ? " line" : " lines") +
      (hex ? " as hex" : " as text"));
}

void SessionsWindow::Export(ExportKind kind) {
  if (store_ == nullptr) {
    Say("Export: nothing captured yet");
    return;
  }
  const SessionId id = conversation_->session();
  if (kind != ExportKind::kPcapngAll && id == 0) {
    Say("Export: select a session first");
    return;
  }
  const std::string label = SessionLabel(id);
  SaveFileRequest request;
  request.confirm_overwrite = true;
  switch (kind) {
    case ExportKind::kClientBytes:
    case ExportKind::kServerBytes:
      request.filters = {"Raw Data (*.bin)", "All Files (*)"};
      request.default_suffix = "bin";
      request.initial_name =
          "session-" + label +
          (kind == ExportKind::kClientBytes ? "-client-to-server.bin" : "-server-to-client.bin");
      break;
    case ExportKind::kTranscript:
      request.filters = {"Text Files (*.txt)", "All Files (*)"};
      request.default_suffix = "txt";
      request.initial_name = "session-" + label + ".txt";
      break;
    case ExportKind::kPcapngSession:
    case ExportKind::kPcapngAll:
      request.filters = {"pcapng Files (*.pcapng)", "All Files (*)"};
      request.default_suffix = "pcapng";
      request.initial_name =
          kind == ExportKind::kPcapngAll ? "sessions.pcapng" : "session-" + label + ".pcapng";
      break;
  }
  const std::optional<std::string> path = choosers_->ChooseSaveFile(this, request);
  if (!path) return;

  Status status;
  switch (kind) {
    case ExportKind::kClientBytes:
      status = ExportDirection(*store_, id, Direction::kClientToServer, *path);
      break;
    case ExportKind::kServerBytes:
      status = ExportDirection(*store_, id, Direction::kServerToClient, *path);
      break;
    case ExportKind::kTranscript:
      status = ExportTranscript(*store_, id, *path);
      break;
    case ExportKind::kPcapngSession:
      status = ExportPcapng(*store_, {id}, *path);
      break;
    case ExportKind::kPcapngAll:
      status = ExportPcapng(*store_, {}, *path);
      break;
  }
  if (!status.ok()) {
    const std::string text = "Cannot export to " + *path + ": " + status.Message();
    Say(text);
    choosers_->ShowError(this, text);
    return;
  }
  std::string note;
  if (kind != ExportKind::kPcapngAll) {
    if (std::optional<CapturedSession> session = store_->Session(id);
        session && session->trimmed()) {
      note = "; the capture had dropped " + SizeText(session->bytes_dropped) + " of it";
    }
  }
  Say("Exported to " + *path + note);
}

}  // namespace portwick
