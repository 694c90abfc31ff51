#ifndef PORTWICK_UI_FRAMEWORK_COMMAND_MAP_H_
#define PORTWICK_UI_FRAMEWORK_COMMAND_MAP_H_

#include <functional>
#include <map>

namespace portwick {

// Routes command ids to handlers (a window's message map). Buttons, menu
// items and check boxes of a TemplateDialog all end up in Dispatch().
// GUI thread only.
class CommandMap {
 public:
  using Handler = std::function<void()>;

  CommandMap() = default;
  CommandMap(const CommandMap&) = delete;
  CommandMap& operator=(const CommandMap&) = delete;

  // Sets the handler of `command_id`, replacing an earlier one. An empty
  // handler removes the entry.
  void On(int command_id, Handler handler);

  bool Contains(int command_id) const;

  // Runs the handler of `command_id`; false when there is none. The handler
  // runs from a copy, so it may replace its entry or destroy this map's
  // owner.
  bool Dispatch(int command_id) const;

 private:
  std::map<int, Handler> handlers_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_COMMAND_MAP_H_
