// The Sessions window's two owner-data list views: the rows come from the
// session table (through its filter and sort order) and from the
// conversation's lines, asked for as they are drawn.

#include <algorithm>
#include <string>

#include "base/windows/win32_text.h"
#include "ui/win32/sessions_window.h"

namespace portwick {

namespace {

// Dark blue one way, dark orange-brown the other: apart in hue and in
// lightness, so they stay apart for most colour vision. Headers on a light
// tint of their direction's colour.
constexpr COLORREF kUpText = RGB(0x0B, 0x3D, 0x91);
constexpr COLORREF kDownText = RGB(0x8A, 0x3B, 0x00);
constexpr COLORREF kUpHeader = RGB(0xE3, 0xEC, 0xFA);
constexpr COLORREF kDownHeader = RGB(0xFB, 0xEB, 0xD9);
constexpr COLORREF kFailedText = RGB(0xB0, 0x00, 0x20);

// Copies `text` into the list view's buffer, cut to fit.
void FillText(LVITEMW& item, const std::string& text) {
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
  const std::wstring wide = Utf16FromUtf8(text);
  const size_t length = std::min(wide.size(), static_cast<size_t>(item.cchTextMax - 1));
  std::copy_n(wide.data(), length, item.pszText);
  item.pszText[length] = L'\0';
}

void SetItemState(HWND list, int row, UINT state, UINT mask) {
  LVITEMW item{};
  item.state = state;
  item.stateMask = mask;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int SelectedRow(HWND list) {
  return static_cast<int>(
      SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

}  // namespace

void Win32SessionsWindow::TableEvents::DurationsChanged() {
  // Durations run on while sessions are open: a new order only when they
  // are what the list sorts by, else the column is drawn again.
  if (window_->order_.sort_column() == SessionTable::kDuration) {
    window_->order_stale_ = true;
  } else if (window_->sessions_ != nullptr) {
    InvalidateRect(window_->sessions_, nullptr, FALSE);
  }
}

void Win32SessionsWindow::UpdateTable() {
  table_.Update(store_.get());
  if (order_stale_) SyncSessionList();
}

void Win32SessionsWindow::SyncSessionList() {
  order_.Rebuild(table_);
  order_stale_ = false;
  // The rows may have moved: the selection follows its session.
  syncing_list_ = true;
  SendMessageW(sessions_, LVM_SETITEMCOUNT, static_cast<WPARAM>(order_.size()),
               LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  SetItemState(sessions_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  const int view_row = list_selection_ == 0 ? -1 : order_.ViewRow(table_.RowOf(list_selection_));
  if (view_row >= 0) {
    SetItemState(sessions_, view_row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  } else {
    list_selection_ = 0;  // hidden by the filter or dropped: nothing selected
  }
  syncing_list_ = false;
  InvalidateRect(sessions_, nullptr, FALSE);
}

void Win32SessionsWindow::SelectSession(SessionId id) {
  const int view_row = order_.ViewRow(table_.RowOf(id));
  if (view_row < 0) return;
  SetItemState(sessions_, view_row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  SendMessageW(sessions_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(view_row), FALSE);
}

void Win32SessionsWindow::OnSessionSelectionChanged() {
  if (syncing_list_) return;
  const CapturedSession* session = table_.SessionAt(order_.TableRow(SelectedRow(sessions_)));
  // A session that the filter hides (or the store dropped) stays shown below
  // until another one is chosen.
  if (session == nullptr) {
    list_selection_ = 0;
    return;
  }
  list_selection_ = session->id;
  if (session->id == lines_.session()) return;
  match_.reset();
  lines_.SetSession(store_.get(), session->id);
  follow_.Restart();
  lines_.Load(kLoadBudget);
}

void Win32SessionsWindow::SetStore(std::shared_ptr<const CaptureStore> store) {
  if (store == store_) return;
  lines_.SetSession(nullptr, 0);
  match_.reset();
  list_selection_ = 0;
  store_ = std::move(store);
  order_stale_ = true;
  UpdateTable();
}

void Win32SessionsWindow::SetFilter(const std::string& text) {
  const HWND box = control(kFilterBox);
  const std::wstring wide = Utf16FromUtf8(text);
  std::wstring shown(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
  shown.resize(
      static_cast<size_t>(GetWindowTextW(box, shown.data(), static_cast<int>(shown.size()))));
  if (shown != wide) {
    SetWindowTextW(box, wide.c_str());  // comes back here through EN_CHANGE
    return;
  }
  if (order_.filter() == text) return;
  order_.SetFilter(text);
  SyncSessionList();
}

void Win32SessionsWindow::SortBy(SessionTable::Column column, bool ascending) {
  order_.SetSort(column, ascending);
  SyncSessionList();
  ShowSortArrow();
  const int selected = SelectedRow(sessions_);
  if (selected >= 0)
    SendMessageW(sessions_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
}

void Win32SessionsWindow::OnColumnClick(int column) {
  if (column < 0 || column >= SessionTable::kColumnCount) return;
  const auto which = static_cast<SessionTable::Column>(column);
  // A click on the sorted column turns the order round; on another, sorts
  // by it from the smallest.
  SortBy(which, which == order_.sort_column() ? !order_.ascending() : true);
}

void Win32SessionsWindow::ShowSortArrow() {
  const HWND header = reinterpret_cast<HWND>(SendMessageW(sessions_, LVM_GETHEADER, 0, 0));
  if (header == nullptr) return;
  for (int column = 0; column < SessionTable::kColumnCount; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (column == order_.sort_column()) item.fmt |= order_.ascending() ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&item));
  }
}

void Win32SessionsWindow::FillSessionCell(NMLVDISPINFOW& info) const {
  const int row = order_.TableRow(info.item.iItem);
  const int column = info.item.iSubItem;
  if (row < 0 || row >= table_.row_count() || column < 0 || column >= SessionTable::kColumnCount) {
    FillText(info.item, {});
    return;
  }
  FillText(info.item, table_.CellText(row, static_cast<SessionTable::Column>(column)));
}

LRESULT Win32SessionsWindow::DrawSessionRow(NMLVCUSTOMDRAW& draw) const {
  if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
    const CapturedSession* session =
        table_.SessionAt(order_.TableRow(static_cast<int>(draw.nmcd.dwItemSpec)));
    if (session != nullptr && session->state == CapturedState::kFailed) draw.clrText = kFailedText;
  }
  return CDRF_DODEFAULT;
}

void Win32SessionsWindow::LinesReset() {
  // Lines went (a new session or mode, or chunks the store dropped from the
  // front): every row may show another line now.
  SendMessageW(conversation_, LVM_SETITEMCOUNT, static_cast<WPARAM>(lines_.line_count()), 0);
  SetItemState(conversation_, -1, 0, LVIS_SELECTED);
  InvalidateRect(conversation_, nullptr, FALSE);
}

void Win32SessionsWindow::LineEvents::BeforeInsert(int, int) {
  window_->follow_.BeforeInsert(window_->ConversationAtEnd());
}

void Win32SessionsWindow::LineEvents::AfterInsert() {
  Win32SessionsWindow& w = *window_;
  SendMessageW(w.conversation_, LVM_SETITEMCOUNT, static_cast<WPARAM>(w.lines_.line_count()),
               LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  const bool follow = SendMessageW(w.control(kFollowBox), BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (w.follow_.ScrollToEnd(follow) && w.lines_.line_count() > 0) {
    SendMessageW(w.conversation_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(w.lines_.line_count() - 1),
                 FALSE);
  }
}

void Win32SessionsWindow::LineEvents::HighlightChanged() {
  InvalidateRect(window_->conversation_, nullptr, FALSE);
}

bool Win32SessionsWindow::ConversationAtEnd() const {
  const auto count = SendMessageW(conversation_, LVM_GETITEMCOUNT, 0, 0);
  const auto top = SendMessageW(conversation_, LVM_GETTOPINDEX, 0, 0);
  const auto page = SendMessageW(conversation_, LVM_GETCOUNTPERPAGE, 0, 0);
  return top + page >= count;
}

int Win32SessionsWindow::ConversationTop() const {
  if (lines_.line_count() == 0) return -1;
  return static_cast<int>(SendMessageW(conversation_, LVM_GETTOPINDEX, 0, 0));
}

void Win32SessionsWindow::ScrollConversationTo(int row, bool centre) {
  if (row < 0 || row >= lines_.line_count()) return;
  RECT first{LVIR_BOUNDS, 0, 0, 0};
  SendMessageW(conversation_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
  const int height = std::max(1, static_cast<int>(first.bottom - first.top));
  const int page = static_cast<int>(SendMessageW(conversation_, LVM_GETCOUNTPERPAGE, 0, 0));
  const int top = std::max(0, centre ? row - page / 2 : row);
  const int lines = top - ConversationTop();
  SendMessageW(conversation_, LVM_SCROLL, 0, static_cast<LPARAM>(lines * height));
  SendMessageW(conversation_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void Win32SessionsWindow::FillLine(NMLVDISPINFOW& info) const {
  const int row = info.item.iItem;
  FillText(info.item, row >= 0 && row < lines_.line_count() ? lines_.LineText(row) : std::string());
}

LRESULT Win32SessionsWindow::DrawLine(NMLVCUSTOMDRAW& draw) const {
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      if (row < 0 || row >= lines_.line_count()) return CDRF_DODEFAULT;
      const bool up = lines_.DirectionOf(row) == Direction::kClientToServer;
      draw.clrText = up ? kUpText : kDownText;
      LRESULT result = CDRF_DODEFAULT;
      if (lines_.IsHeader(row)) {
        draw.clrTextBk = up ? kUpHeader : kDownHeader;
        SelectObject(draw.nmcd.hdc, bold_fixed_font_.get());
        result |= CDRF_NEWFONT;
      }
      if (lines_.HighlightOf(row)) result |= CDRF_NOTIFYPOSTPAINT;
      return result;
    }
    case CDDS_ITEMPOSTPAINT: {
      // The match's characters in the selection's colours, over the line.
      const std::optional<ConversationLines::Columns> columns = lines_.HighlightOf(row);
      if (!columns) return CDRF_DODEFAULT;
      const std::wstring text = Utf16FromUtf8(lines_.LineText(row));
      const int first = std::min(columns->first, static_cast<int>(text.size()));
      const int last = std::clamp(columns->last, first, static_cast<int>(text.size()));
      RECT label{LVIR_LABEL, 0, 0, 0};
      SendMessageW(conversation_, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&label));
      HDC dc = draw.nmcd.hdc;
      HGDIOBJ old =
          SelectObject(dc, lines_.IsHeader(row) ? bold_fixed_font_.get() : fixed_font_.get());
      SIZE before{};
      SIZE match{};
      GetTextExtentPoint32W(dc, text.data(), first, &before);
      GetTextExtentPoint32W(dc, text.data() + first, last - first, &match);
      // The list view leaves about two edges' width before a label's text.
      const int left = label.left + 2 * GetSystemMetrics(SM_CXEDGE) + before.cx;
      RECT mark{left, label.top, left + match.cx, label.bottom};
      SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      ExtTextOutW(dc, mark.left, mark.top + (mark.bottom - mark.top - match.cy) / 2,
                  ETO_OPAQUE | ETO_CLIPPED, &mark, text.data() + first,
                  static_cast<UINT>(last - first), nullptr);
      SelectObject(dc, old);
      return CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

}  // namespace portwick
