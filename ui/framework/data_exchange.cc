#include "ui/framework/data_exchange.h"

#include <cstdint>
#include <utility>

#include "ui/framework/desktop.h"
#include "ui/framework/dialog.h"

namespace portwick {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::function<void()>& BeepHook() {
  static std::function<void()> hook;
  return hook;
}

void ExchangeBeep() {
  if (BeepHook()) {
    BeepHook()();
  } else {
    Beep();
  }
}

bool ExchangeOne(Dialog& dialog, const ExchangePair& pair, ExchangeDirection direction) {
  const bool read = direction == ExchangeDirection::kRead;
  switch (pair.kind) {
    case FieldKind::kText:
      if (pair.text == nullptr) return false;
      return read ? ReadText(dialog, pair.control_id, pair.text)
                  : WriteText(dialog, pair.control_id, *pair.text);
    case FieldKind::kInt:
      if (pair.number == nullptr) return false;
      return read ? ReadInt(dialog, pair.control_id, pair.number)
                  : WriteInt(dialog, pair.control_id, *pair.number);
    case FieldKind::kCheck:
      if (pair.number == nullptr) return false;
      return read ? ReadCheck(dialog, pair.control_id, pair.number)
                  : WriteCheck(dialog, pair.control_id, pair.number);
  }
  return false;
}

}  // namespace

bool ParseSignedInt(std::string_view text, int32_t* value) {
  *value = 0;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t digits_start = i;
  // Accumulate the magnitude; stop early once it can't fit any more.
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) return false;
    ++i;
  }
  if (i == digits_start) return false;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return false;
  if (!negative && magnitude > INT32_MAX) return false;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

bool ReadText(const Dialog& dialog, int control_id, std::string* text) {
  return dialog.GetControlText(control_id, text);
}

bool WriteText(Dialog& dialog, int control_id, const std::string& text) {
  return dialog.SetControlText(control_id, text);
}

bool ReadInt(const Dialog& dialog, int control_id, int32_t* value) {
  std::string text;
  if (!dialog.GetControlText(control_id, &text)) {
    *value = 0;
    return false;
  }
  return ParseSignedInt(text, value);
}

bool WriteInt(Dialog& dialog, int control_id, int32_t value) {
  return dialog.SetControlText(control_id, std::to_string(value));
}

bool ReadCheck(const Dialog& dialog, int control_id, int32_t* state) {
  return dialog.GetCheck(control_id, state);
}

bool WriteCheck(Dialog& dialog, int control_id, int32_t* state) {
  if (*state < 0 || *state > 2) *state = 0;
  return dialog.SetCheck(control_id, *state);
}

bool ExchangePairs(Dialog& dialog, std::span<const ExchangePair> pairs, ExchangeDirection direction,
                   int only_control_id) {
  for (const ExchangePair& pair : pairs) {
    if (only_control_id != kExchangeAll && pair.control_id != only_control_id) {
      continue;
    }
    if (!ExchangeOne(dialog, pair, direction)) {
      ReportFieldFailure(dialog, pair.control_id);
      return false;
    }
  }
  return true;
}

void ReportFieldFailure(Dialog& dialog, int control_id) {
  ExchangeBeep();
  dialog.FocusControl(control_id);
}

void SetExchangeBeep(std::function<void()> beep) { BeepHook() = std::move(beep); }

}  // namespace portwick
