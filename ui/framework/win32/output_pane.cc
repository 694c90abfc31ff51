#include "ui/framework/win32/output_pane.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>

#include "ui/framework/win32/native_message.h"

namespace portwick {

namespace {

constexpr UINT_PTR kSubclassId = 0x5057;
constexpr UINT_PTR kDeliveryTimer = 0x5057;
// Characters taken off the queue at a time during a delivery.
constexpr std::ptrdiff_t kDeliveryPiece = 16 * 1024;

LONG TextLength(HWND control) {
  GETTEXTLENGTHEX query{GTL_NUMCHARS | GTL_PRECISE, 1200};
  return static_cast<LONG>(
      SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0));
}

void Select(HWND control, LONG from, LONG to) {
  CHARRANGE range{from, to};
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void ReplaceSelection(HWND control, const wchar_t* text) {
  // FALSE: the change can't be undone.
  SendMessageW(control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

bool IsLineBreak(wchar_t c) { return c == L'\n' || c == L'\r'; }

// The traffic as 8-bit text in the system's code page (CP_ACP), as a window
// of this system reads ANSI text: every byte stands for a character.
std::wstring FromAnsi(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.pop_back();  // the terminating zero
  return wide;
}

}  // namespace

Win32OutputPane::Win32OutputPane(HWND control, const Limits& limits)
    : control_(control),
      gui_thread_(GetWindowThreadProcessId(control, nullptr)),
      limits_{std::max<std::ptrdiff_t>(limits.max_chars, 1), std::max(limits.max_lines, 1),
              std::clamp<std::ptrdiff_t>(limits.max_line_chars, 1,
                                         std::max<std::ptrdiff_t>(limits.max_chars, 1)),
              limits.delivery_interval_ms, limits.delivery_budget_ms},
      queue_(limits_.max_chars) {
  // Room for a full pane and a delivery's text before it is trimmed again
  // (a rich edit takes 32K characters unless told otherwise).
  SendMessageW(control_, EM_EXLIMITTEXT, 0, limits_.max_chars * 2 + kDeliveryPiece * 2);
  // No wrapping: each line is as long as its text.
  SendMessageW(control_, EM_SETTARGETDEVICE, 0, 1);
  SendMessageW(control_, EM_SETUNDOLIMIT, 0, 0);
  SetWindowSubclass(control_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

Win32OutputPane::~Win32OutputPane() {
  if (IsWindow(control_)) {
    KillTimer(control_, kDeliveryTimer);
    RemoveWindowSubclass(control_, SubclassProc, kSubclassId);
  }
}

void Win32OutputPane::AppendText(const char* text) {
  if (text == nullptr || *text == '\0') return;
  std::wstring decoded = FromAnsi(text);
  if (GetCurrentThreadId() == gui_thread_) {
    DeliverAll();
    Insert(decoded);
    Trim();
    ScrollToEnd();
    return;
  }
  // One message per batch: later appends find a delivery asked for already.
  if (queue_.Push(std::move(decoded))) PostMessageW(control_, kPaneDeliveryMessage, 0, 0);
}

void Win32OutputPane::ScheduleDelivery() {
  if (timer_active_) return;
  const ULONGLONG since =
      last_delivery_ == 0 ? limits_.delivery_interval_ms : GetTickCount64() - last_delivery_;
  const UINT wait = since >= limits_.delivery_interval_ms
                        ? USER_TIMER_MINIMUM
                        : static_cast<UINT>(limits_.delivery_interval_ms - since);
  timer_active_ = SetTimer(control_, kDeliveryTimer, wait, nullptr) != 0;
  if (!timer_active_) Deliver(limits_.delivery_budget_ms);
}

void Win32OutputPane::DeliverAll() {
  if (timer_active_) KillTimer(control_, kDeliveryTimer);
  timer_active_ = false;
  Deliver(INFINITE);
}

void Win32OutputPane::Deliver(DWORD budget_ms) {
  const ULONGLONG started = GetTickCount64();
  bool changed = false;
  for (;;) {
    auto batch = queue_.Take(kDeliveryPiece);
    if (batch.discard_shown) {
      // Newer text than all of this has been dropped on its way here.
      SetWindowTextW(control_, L"");
      changed = true;
    }
    if (batch.text.empty()) break;
    Insert(batch.text);
    Trim();
    changed = true;
    if (budget_ms != INFINITE && GetTickCount64() - started >= budget_ms) break;
  }
  last_delivery_ = GetTickCount64();
  if (changed) ScrollToEnd();
  if (queue_.size() > 0) ScheduleDelivery();
}

void Win32OutputPane::Insert(const std::wstring& text) {
  if (text.empty()) return;
  // Characters in the last line so far.
  const LRESULT last_line = SendMessageW(control_, EM_GETLINECOUNT, 0, 0) - 1;
  const LRESULT last_start = SendMessageW(control_, EM_LINEINDEX, last_line, 0);
  std::ptrdiff_t line = SendMessageW(control_, EM_LINELENGTH, last_start, 0);
  std::wstring broken;
  const std::wstring* insert = &text;
  size_t from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLineBreak(text[i])) {
      line = 0;
      continue;
    }
    if (line >= limits_.max_line_chars) {
      broken.append(text, from, i - from);
      broken += L'\r';
      from = i;
      line = 0;
    }
    ++line;
  }
  if (from != 0) {
    broken.append(text, from, std::wstring::npos);
    insert = &broken;
  }
  const LONG end = TextLength(control_);
  Select(control_, end, end);
  ReplaceSelection(control_, insert->c_str());
}

void Win32OutputPane::Trim() {
  const LONG chars = TextLength(control_);
  const LRESULT lines = SendMessageW(control_, EM_GETLINECOUNT, 0, 0);
  if (chars <= limits_.max_chars && lines <= limits_.max_lines) return;
  // The oldest whole lines leave, down to an eighth below the limits.
  LRESULT cut = 0;
  const LONG keep_chars = static_cast<LONG>(limits_.max_chars - limits_.max_chars / 8);
  if (chars > keep_chars) {
    const LRESULT line = SendMessageW(control_, EM_EXLINEFROMCHAR, 0, chars - keep_chars - 1);
    const LRESULT next = SendMessageW(control_, EM_LINEINDEX, line + 1, 0);
    cut = next >= 0 ? next : SendMessageW(control_, EM_LINEINDEX, lines - 1, 0);
  }
  const LRESULT keep_lines = limits_.max_lines - limits_.max_lines / 8;
  if (lines > keep_lines) {
    cut = std::max(cut, SendMessageW(control_, EM_LINEINDEX, lines - keep_lines, 0));
  }
  if (cut <= 0) return;
  Select(control_, 0, static_cast<LONG>(cut));
  ReplaceSelection(control_, L"");
  const LONG end = TextLength(control_);
  Select(control_, end, end);
}

void Win32OutputPane::ScrollToEnd() { SendMessageW(control_, WM_VSCROLL, SB_BOTTOM, 0); }

void Win32OutputPane::ClearText() {
  queue_.Clear();
  if (timer_active_) KillTimer(control_, kDeliveryTimer);
  timer_active_ = false;
  SetWindowTextW(control_, L"");
  SendMessageW(control_, EM_EMPTYUNDOBUFFER, 0, 0);
}

std::wstring Win32OutputPane::Text() const {
  const LONG length = TextLength(control_);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  TEXTRANGEW range{{0, length}, text.data()};
  const LRESULT got = SendMessageW(control_, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
  std::replace(text.begin(), text.end(), L'\r', L'\n');
  return text;
}

int Win32OutputPane::LineCount() const {
  return static_cast<int>(SendMessageW(control_, EM_GETLINECOUNT, 0, 0));
}

LRESULT CALLBACK Win32OutputPane::SubclassProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam, UINT_PTR /*id*/, DWORD_PTR self) {
  auto* pane = reinterpret_cast<Win32OutputPane*>(self);
  if (message == kPaneDeliveryMessage) {
    pane->ScheduleDelivery();
    return 0;
  }
  if (message == WM_TIMER && wparam == kDeliveryTimer) {
    KillTimer(window, kDeliveryTimer);
    pane->timer_active_ = false;
    pane->Deliver(pane->limits_.delivery_budget_ms);
    return 0;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace portwick
