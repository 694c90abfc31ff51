#ifndef PORTWICK_UI_FRAMEWORK_DATA_EXCHANGE_H_
#define PORTWICK_UI_FRAMEWORK_DATA_EXCHANGE_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace portwick {

class Dialog;

// Parses a signed decimal number the way dialog integer fields are read:
// optional blanks, an optional '+' or '-', one or more digits, optional
// blanks, nothing else, and the value within int32_t. On failure `*value` is
// 0 and the result false.
bool ParseSignedInt(std::string_view text, int32_t* value);

// Exchange primitives between the controls of `dialog` and fields. Each
// returns false when the step fails; a control id the dialog lacks, or a
// control of a kind that cannot hold the value, fails. Strings are UTF-8.
// GUI thread only.

// Text of a label, edit, output pane, check box, push button or group box.
bool ReadText(const Dialog& dialog, int control_id, std::string* text);
bool WriteText(Dialog& dialog, int control_id, const std::string& text);

// Signed integer in a text control: ParseSignedInt of its text. `*value`
// always receives the parsed value (0 on failure).
bool ReadInt(const Dialog& dialog, int control_id, int32_t* value);
// Writes `value` in decimal.
bool WriteInt(Dialog& dialog, int control_id, int32_t value);

// Check state of a check box: 0 unchecked, 1 checked, 2 indeterminate.
bool ReadCheck(const Dialog& dialog, int control_id, int32_t* state);
// A `*state` outside 0..2 is first set to 0, then the box takes the state.
bool WriteCheck(Dialog& dialog, int control_id, int32_t* state);

enum class ExchangeDirection {
  kRead,   // controls into fields
  kWrite,  // fields into controls
};

enum class FieldKind { kText, kInt, kCheck };

// One control paired with one field; the field must outlive every exchange.
struct ExchangePair {
  int control_id;
  FieldKind kind;
  std::string* text = nullptr;  // kText
  int32_t* number = nullptr;    // kInt and kCheck

  static ExchangePair Text(int id, std::string* field) {
    return {id, FieldKind::kText, field, nullptr};
  }
  static ExchangePair Int(int id, int32_t* field) { return {id, FieldKind::kInt, nullptr, field}; }
  static ExchangePair Check(int id, int32_t* field) {
    return {id, FieldKind::kCheck, nullptr, field};
  }
};

// Pass as `only_control_id` to exchange every pair.
inline constexpr int kExchangeAll = -1;

// Exchanges `pairs` in order (only the pair of `only_control_id` unless it is
// kExchangeAll). At the first failing pair: beep, give that control the
// keyboard focus, exchange nothing further and return false. True otherwise.
bool ExchangePairs(Dialog& dialog, std::span<const ExchangePair> pairs, ExchangeDirection direction,
                   int only_control_id = kExchangeAll);

// What a failed exchange does for `control_id`: beeps and gives that control
// the keyboard focus. For callers that find a value unusable after reading it.
void ReportFieldFailure(Dialog& dialog, int control_id);

// The beep of a failed exchange; the default is the desktop's Beep(). An
// empty function restores the default. Tests install a counter here.
void SetExchangeBeep(std::function<void()> beep);

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_DATA_EXCHANGE_H_
