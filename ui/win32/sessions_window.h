#ifndef PORTWICK_UI_WIN32_SESSIONS_WINDOW_H_
#define PORTWICK_UI_WIN32_SESSIONS_WINDOW_H_

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>

#include "capture/capture_store.h"
#include "ui/sessions/conversation_lines.h"
#include "ui/sessions/export_command.h"
#include "ui/sessions/session_order.h"
#include "ui/sessions/session_table.h"
#include "ui/sessions/view_rules.h"
#include "ui/win32/gdi_object.h"
#include "ui/win32/keyboard_hook.h"

namespace portwick {

class FileChoosers;

// The Sessions window drawn with plain Win32 controls: above, a virtual
// (owner-data) list view of the sessions a capture store holds, sorted by a
// click on a column's header and narrowed by the filter box; below, the
// selected session's conversation in another owner-data list view, a line
// per row, as text with the trace's escapes or as hex, each line in its
// direction's colour with its mark, headers bold on a light background and
// a Find match highlighted. Find (Ctrl+F, F3, Shift+F3, Enter in the find
// box; text or hex bytes), Follow, Copy (Ctrl+C as text, Ctrl+Shift+C as
// hex, in the conversation) and Export (a menu under the Export button:
// either direction's bytes, the transcript, pcapng of the session or of all)
// work as in the Qt window. A line at the bottom says what the last command
// did. Esc or the close box hides the window.
//
// What it decides and says is ui/sessions/'s (session_table, session_order,
// conversation_lines, view_rules, find_input, export_command, session_texts),
// shared with the Qt window; this class creates the controls, lays them out
// in dialog units and wires them to that logic.
//
// A modeless top-level window without an owner; its messages come from the
// thread's message loop, and its keys through a KeyboardTarget hook
// (keyboard_hook.h), so Tab, mnemonics and its accelerators work under any
// loop. While shown it reads the store every kRefreshInterval. The store is
// shared with the run that writes it and kept after the run ends.
//
// GUI thread only (the thread that made it). `choosers` (Save dialogs,
// error boxes) is borrowed and must outlive the window.
class Win32SessionsWindow : private KeyboardTarget {
 public:
  using ExportKind = SessionExportKind;

  // The controls' ids, in the order Tab visits them.
  enum Control : int {
    kFilterLabel = 100,
    kFilterBox,
    kSessionList,
    kHexBox,
    kFollowBox,
    kFindLabel,
    kFindBox,
    kFindKind,  // 0 text, 1 hex bytes
    kPreviousButton,
    kNextButton,
    kExportButton,
    kConversationList,
    kMessageLine,
  };
  // Commands of the accelerators and of the Export menu (kExportCommand
  // plus the ExportKind's value).
  enum Command : int {
    kFocusFindCommand = 200,
    kFindNextCommand,
    kFindPreviousCommand,
    kExportCommand = 300,
  };

  explicit Win32SessionsWindow(FileChoosers* choosers);
  ~Win32SessionsWindow() override;
  Win32SessionsWindow(const Win32SessionsWindow&) = delete;
  Win32SessionsWindow& operator=(const Win32SessionsWindow&) = delete;

  // Null when the window could not be made (no desktop to draw on).
  HWND hwnd() const { return hwnd_; }
  HWND control(Control id) const { return GetDlgItem(hwnd_, id); }

  void SetStore(std::shared_ptr<const CaptureStore> store);
  const CaptureStore* store() const { return store_.get(); }
  // Shows the window, raised and active; Hide hides it.
  void Present();
  void Hide();
  // Reads the store now (the timer does this while the window is shown).
  void Refresh();

  // The commands, as the window's controls and keys run them.
  void SelectSession(SessionId id);
  SessionId selected_session() const { return lines_.session(); }
  void SetHexMode(bool hex);
  void SetFilter(const std::string& text);  // UTF-8
  void SortBy(SessionTable::Column column, bool ascending);
  // Finds the find box's text (as hex bytes when the find kind says so);
  // false when nothing matches.
  bool FindNext(bool forward);
  void CopySelection(bool hex);
  void Export(ExportKind kind);

  // What the window shows, for tests.
  std::string message() const;
  const SessionOrder& order() const { return order_; }
  const SessionTable& table() const { return table_; }
  const ConversationLines& lines() const { return lines_; }

 private:
  class TableEvents : public SessionTable::Observer {
   public:
    explicit TableEvents(Win32SessionsWindow* window) : window_(window) {}
    void BeforeReset() override {}
    void AfterReset() override { window_->order_stale_ = true; }
    void BeforeRemove(int, int) override {}
    void AfterRemove() override { window_->order_stale_ = true; }
    void BeforeInsert(int, int) override {}
    void AfterInsert() override { window_->order_stale_ = true; }
    void RowsChanged(int, int) override { window_->order_stale_ = true; }
    void DurationsChanged() override;

   private:
    Win32SessionsWindow* const window_;
  };
  class LineEvents : public ConversationLines::Observer {
   public:
    explicit LineEvents(Win32SessionsWindow* window) : window_(window) {}
    void BeforeReset() override {}
    void AfterReset() override { window_->LinesReset(); }
    void BeforeInsert(int, int) override;
    void AfterInsert() override;
    void BeforeRemove(int, int) override {}
    void AfterRemove() override { window_->LinesReset(); }
    void HighlightChanged() override;

   private:
    Win32SessionsWindow* const window_;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  // sessions_window.cc: making, laying out, showing.
  void CreateControls();
  void LayOut();
  void OnShown(bool shown);
  void OnCommand(int id, int code);
  LRESULT OnNotify(const NMHDR& header);
  bool OnSplitterMouse(UINT message, LPARAM lparam);
  int DluX(int units) const;
  int DluY(int units) const;
  void Say(const std::string& text);

  // sessions_window_lists.cc: the two owner-data list views.
  void UpdateTable();
  void SyncSessionList();
  void OnSessionSelectionChanged();
  void OnColumnClick(int column);
  void ShowSortArrow();
  void FillSessionCell(NMLVDISPINFOW& info) const;
  void FillLine(NMLVDISPINFOW& info) const;
  LRESULT DrawSessionRow(NMLVCUSTOMDRAW& draw) const;
  LRESULT DrawLine(NMLVCUSTOMDRAW& draw) const;
  void LinesReset();
  bool ConversationAtEnd() const;
  int ConversationTop() const;
  void ScrollConversationTo(int row, bool centre);

  // KeyboardTarget: accelerators, the copy keys, dialog navigation.
  HWND window() const override { return hwnd_; }
  bool PreTranslate(MSG* message) override;

  FileChoosers* const choosers_;
  std::shared_ptr<const CaptureStore> store_;
  TableEvents table_events_{this};
  LineEvents line_events_{this};
  SessionTable table_{&table_events_};
  SessionOrder order_;
  bool order_stale_ = true;
  // The session selected in the list (0: none); the conversation may show
  // another one that the filter hid.
  SessionId list_selection_ = 0;
  bool syncing_list_ = false;  // selection changes made by SyncSessionList
  ConversationLines lines_{&line_events_};
  FollowRule follow_;
  std::optional<ConversationLines::Match> match_;

  HWND hwnd_ = nullptr;
  HWND sessions_ = nullptr;  // the controls: children of hwnd_, which owns them
  HWND conversation_ = nullptr;
  GdiObject<HFONT> font_;        // the desktop's message font
  GdiObject<HFONT> fixed_font_;  // the conversation's
  GdiObject<HFONT> bold_fixed_font_;
  HACCEL accelerators_ = nullptr;
  int char_width_ = 7;  // of font_: dialog base units
  int char_height_ = 16;
  double split_ = 1.0 / 3;  // the session list's share of the lists' height
  bool dragging_split_ = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_WIN32_SESSIONS_WINDOW_H_
