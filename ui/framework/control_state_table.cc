#include "ui/framework/control_state_table.h"

#include "ui/framework/dialog.h"

namespace portwick {

ControlStateTable::ControlStateTable(std::initializer_list<int> control_ids) {
  entries_.reserve(control_ids.size());
  for (int id : control_ids) entries_.push_back(Entry{id, false, false});
}

ControlStateTable::Entry* ControlStateTable::Find(int control_id) {
  for (Entry& entry : entries_) {
    if (entry.id == control_id) return &entry;
  }
  return nullptr;
}

const ControlStateTable::Entry* ControlStateTable::Find(int control_id) const {
  for (const Entry& entry : entries_) {
    if (entry.id == control_id) return &entry;
  }
  return nullptr;
}

void ControlStateTable::SetControlEnabled(int control_id, bool enabled) {
  Entry* entry = Find(control_id);
  if (entry == nullptr) return;
  if (entry->disabled == enabled) {
    entry->disabled = !enabled;
    entry->pending = true;
  }
  if (entry->pending) pending_ = true;
}

void ControlStateTable::Apply(const std::function<void(int control_id, bool enabled)>& enable) {
  if (!pending_) return;
  for (Entry& entry : entries_) {
    if (entry.pending) enable(entry.id, !entry.disabled);
  }
  for (Entry& entry : entries_) entry.pending = false;
  pending_ = false;
}

void ControlStateTable::Apply(Dialog& dialog) {
  Apply([&dialog](int control_id, bool enabled) { dialog.EnableControl(control_id, enabled); });
}

bool ControlStateTable::IsPending(int control_id) const {
  const Entry* entry = Find(control_id);
  return entry != nullptr && entry->pending;
}

bool ControlStateTable::IsEnabled(int control_id) const {
  const Entry* entry = Find(control_id);
  return entry == nullptr || !entry->disabled;
}

}  // namespace portwick
