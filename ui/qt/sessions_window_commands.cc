// The Sessions window's commands on the conversation: Find, Copy, Export.
// What they decide and say is ui/sessions/'s; here they meet the widgets.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <optional>
#include <string>
#include <vector>

#include "ui/file_choosers.h"
#include "ui/qt/sessions_window.h"
#include "ui/sessions/find_input.h"

namespace portwick {

bool SessionsWindow::FindNext(bool forward) {
  const std::string typed = find_box_->text().toStdString();
  const FindNeedle needle =
      ParseFindInput(typed, find_kind_->currentIndex() == 1, conversation_->rowCount());
  if (!needle.error.empty()) {
    Say(needle.error);
    return false;
  }
  // From the match shown, or else from the top line in view.
  std::optional<ConversationModel::LineBytes> top;
  if (const QModelIndex index = conversation_view_->indexAt(QPoint(0, 0));
      !match_ && index.isValid()) {
    top = conversation_->BytesOf(index.row());
  }
  const FindResult found =
      FindWrapping(conversation_->lines(), needle.bytes, FindStart(match_, top, forward), forward);
  if (!found.match) {
    Say(FoundText(found, {}, forward, typed));
    return false;
  }
  match_ = found.match;
  const int row = conversation_->RowOf(found.match->at);
  const QModelIndex index = conversation_->index(row);
  // The match itself is highlighted, not its whole line.
  conversation_->SetHighlight(found.match);
  conversation_view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::Clear);
  conversation_view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  Say(FoundText(found, conversation_->BytesOf(row).chunk, forward, typed));
  return true;
}

void SessionsWindow::CopySelection(bool hex) {
  std::vector<int> rows;
  for (const QModelIndex& index : conversation_view_->selectionModel()->selectedIndexes()) {
    rows.push_back(index.row());
  }
  if (!rows.empty()) {
    const std::string text = conversation_->CopyText(rows, hex);
    QApplication::clipboard()->setText(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  Say(CopiedText(rows.size(), hex));
}

void SessionsWindow::Export(ExportKind kind) {
  const SessionId id = conversation_->session();
  if (const std::optional<std::string> refusal = ExportRefusal(store_.get(), kind, id)) {
    Say(*refusal);
    return;
  }
  ExportFileOffer offer = ExportFileOfferFor(kind, id);
  SaveFileRequest request;
  request.confirm_overwrite = true;
  request.filters = std::move(offer.filters);
  request.default_suffix = std::move(offer.default_suffix);
  request.initial_name = std::move(offer.initial_name);
  const std::optional<std::string> path = choosers_->ChooseSaveFile(this, request);
  if (!path) return;
  const Status status = RunExport(*store_, kind, id, *path);
  if (!status.ok()) {
    const std::string text = ExportFailedText(*path, status);
    Say(text);
    choosers_->ShowError(this, text);
    return;
  }
  Say(ExportDoneText(*store_, kind, id, *path));
}

}  // namespace portwick
