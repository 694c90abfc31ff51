#ifndef PORTWICK_UI_FRAMEWORK_CONTROL_STATE_TABLE_H_
#define PORTWICK_UI_FRAMEWORK_CONTROL_STATE_TABLE_H_

#include <functional>
#include <initializer_list>
#include <vector>

namespace portwick {

class Dialog;

// The enabled states of a fixed set of controls, recorded when a command
// changes them and applied together when the message loop is idle.
// GUI thread only.
class ControlStateTable {
 public:
  // One entry per id, in this order; every entry enabled, nothing pending.
  explicit ControlStateTable(std::initializer_list<int> control_ids);

  // Records the wanted state of `control_id`. When it differs from the
  // recorded one the entry flips and becomes pending; a pending entry makes
  // the table pending. Ids not in the table are ignored.
  void SetControlEnabled(int control_id, bool enabled);

  // When the table is pending, calls `enable(id, enabled)` for every pending
  // entry in table order, then clears every pending bit. Otherwise does
  // nothing.
  void Apply(const std::function<void(int control_id, bool enabled)>& enable);

  // Apply() onto the controls of `dialog` (Dialog::EnableControl); ids the
  // dialog does not have are skipped.
  void Apply(Dialog& dialog);

  bool pending() const { return pending_; }
  bool IsPending(int control_id) const;
  // The recorded state; true for ids not in the table.
  bool IsEnabled(int control_id) const;

 private:
  struct Entry {
    int id;
    bool disabled;
    bool pending;
  };

  Entry* Find(int control_id);
  const Entry* Find(int control_id) const;

  std::vector<Entry> entries_;
  bool pending_ = false;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_CONTROL_STATE_TABLE_H_
