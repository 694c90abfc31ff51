#ifndef PORTWICK_UI_SESSIONS_VIEW_RULES_H_
#define PORTWICK_UI_SESSIONS_VIEW_RULES_H_

#include <chrono>
#include <optional>
#include <string>

#include "ui/sessions/session_table.h"

namespace portwick {

// The Sessions window's rules for what it shows when, apart from drawing:
// how often and how long it reads the store, which session it selects when
// opened, when the conversation follows its end, and what Copy says. The
// window's thread.

// While shown, the window reads the store this often, and lays out new
// chunks for at most kLoadBudget each time. Switching between text and hex
// loads for at most kHoldPlaceBudget to find the line that was at the top.
inline constexpr std::chrono::milliseconds kRefreshInterval{100};
inline constexpr std::chrono::milliseconds kLoadBudget{30};
inline constexpr std::chrono::milliseconds kHoldPlaceBudget{300};

// Opened on an empty selection, the window selects the newest session, most
// likely the one the user came for; nothing when something is selected or
// nothing is listed.
std::optional<SessionId> SessionToSelectOnShow(bool has_selection, const SessionTable& table);

// Follow: lines that arrive while the view is at its end scroll into view,
// unless a change of layout holds the place the user looked at.
class FollowRule {
 public:
  // A new conversation starts at its end.
  void Restart() { at_end_ = true; }
  // Lines are about to arrive; `view_at_end`: the view shows the last line.
  void BeforeInsert(bool view_at_end) { at_end_ = view_at_end; }
  // Whether the view should scroll to its end now the lines are in.
  bool ScrollToEnd(bool follow_on) const { return follow_on && at_end_ && !holding_; }
  void set_holding(bool holding) { holding_ = holding; }

 private:
  bool at_end_ = true;    // the view was scrolled to its end
  bool holding_ = false;  // a new layout keeps the place in view, not the end
};

// "Copied 3 lines as hex", or why nothing was copied (`lines` 0).
std::string CopiedText(size_t lines, bool hex);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_VIEW_RULES_H_
