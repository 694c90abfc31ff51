// The Sessions window's commands on the conversation: text or hex, Find,
// Copy, Export. What they decide and say is ui/sessions/'s; here they meet
// the controls.

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/windows/win32_text.h"
#include "ui/framework/file_choosers.h"
#include "ui/sessions/find_input.h"
#include "ui/win32/sessions_window.h"

namespace portwick {

namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Puts `text` (UTF-8, "\n" between lines) on the clipboard as Unicode text
// with Windows' "\r\n"; false when the clipboard is busy.
bool PutOnClipboard(HWND owner, const std::string& text) {
  std::wstring wide;
  for (wchar_t c : Utf16FromUtf8(text)) {
    if (c == L'\n') wide += L'\r';
    wide += c;
  }
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) return false;
  void* bytes = GlobalLock(memory);
  std::memcpy(bytes, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  if (!OpenClipboard(owner)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // The clipboard owns the memory once it has taken it.
  const bool taken = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!taken) GlobalFree(memory);
  return taken;
}

}  // namespace

void Win32SessionsWindow::SetHexMode(bool hex) {
  if ((SendMessageW(control(kHexBox), BM_GETCHECK, 0, 0) == BST_CHECKED) != hex) {
    SendMessageW(control(kHexBox), BM_SETCHECK, hex ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  const auto mode = hex ? ConversationLines::Mode::kHex : ConversationLines::Mode::kText;
  if (lines_.mode() == mode) return;
  // Keep the first line in view on the same byte, unless the view follows
  // the end.
  const bool following = ConversationAtEnd();
  const int top = ConversationTop();
  const ConversationLines::LineBytes line = lines_.BytesOf(top);
  lines_.SetMode(mode);  // lays out anew from the first page
  if (following || top < 0) {
    follow_.Restart();
    lines_.Load(kLoadBudget);
    return;
  }
  follow_.set_holding(true);
  const int row = lines_.LoadUntilShown({line.chunk_index, line.begin}, kHoldPlaceBudget);
  if (row >= 0) ScrollConversationTo(line.header ? row - 1 : row, false);
  follow_.set_holding(false);
}

bool Win32SessionsWindow::FindNext(bool forward) {
  const std::string typed = Utf8FromUtf16(WindowText(control(kFindBox)));
  const bool hex = SendMessageW(control(kFindKind), CB_GETCURSEL, 0, 0) == 1;
  const FindNeedle needle = ParseFindInput(typed, hex, lines_.line_count());
  if (!needle.error.empty()) {
    Say(needle.error);
    return false;
  }
  // From the match shown, or else from the top line in view.
  std::optional<ConversationLines::LineBytes> top;
  if (const int row = ConversationTop(); !match_ && row >= 0) top = lines_.BytesOf(row);
  const FindResult found =
      FindWrapping(lines_, needle.bytes, FindStart(match_, top, forward), forward);
  if (!found.match) {
    Say(FoundText(found, {}, forward, typed));
    return false;
  }
  match_ = found.match;
  const int row = lines_.RowOf(found.match->at);
  // The match itself is highlighted, not its whole line: no line selected,
  // the focus on the match's.
  lines_.SetHighlight(found.match);
  LVITEMW clear{};
  clear.stateMask = LVIS_SELECTED;
  SendMessageW(conversation_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
               reinterpret_cast<LPARAM>(&clear));
  LVITEMW focus{};
  focus.state = LVIS_FOCUSED;
  focus.stateMask = LVIS_FOCUSED;
  SendMessageW(conversation_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&focus));
  ScrollConversationTo(row, true);
  Say(FoundText(found, lines_.BytesOf(row).chunk, forward, typed));
  return true;
}

void Win32SessionsWindow::CopySelection(bool hex) {
  std::vector<int> rows;
  for (int row = -1;;) {
    row = static_cast<int>(
        SendMessageW(conversation_, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
    if (row < 0) break;
    rows.push_back(row);
  }
  if (!rows.empty() && !PutOnClipboard(hwnd_, lines_.CopyText(rows, hex))) {
    Say("Copy: the clipboard is in use by another program");
    return;
  }
  Say(CopiedText(rows.size(), hex));
}

void Win32SessionsWindow::Export(ExportKind kind) {
  const SessionId id = lines_.session();
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
  const std::optional<std::string> path = choosers_->ChooseSaveFile(hwnd_, request);
  if (!path) return;
  const Status status = RunExport(*store_, kind, id, *path);
  if (!status.ok()) {
    const std::string text = ExportFailedText(*path, status);
    Say(text);
    choosers_->ShowError(hwnd_, text);
    return;
  }
  Say(ExportDoneText(*store_, kind, id, *path));
}

}  // namespace portwick
