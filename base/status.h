#ifndef PORTWICK_BASE_STATUS_H_
#define PORTWICK_BASE_STATUS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace portwick {

// The outcome of an operation that can fail: success, or the step that failed
// ("bind", "resolve", "connect", "open", ...), the system's error number (0
// when the failure has none, such as a name that doesn't resolve) and the
// reason in words. The failures callers must tell apart also carry a kind;
// callers branch on ok(), kind() and error_number() and show Message() or
// reason(); nobody parses or compares the text.
//
// A value type: copy it freely, from any thread.
class Status {
 public:
  // What failed, for the failures that are told apart; kOther for the rest.
  enum class Kind : uint8_t {
    kOk,
    kOther,
    kResolve,  // the destination's name did not resolve
    kOpen,     // a file could not be opened or created
    kPcap,     // the pcapng output could not be created
  };

  // Success.
  Status() = default;

  // A failed step with the system's reason for `error_number` (an errno
  // value, positive or negated).
  static Status Error(std::string_view step, int error_number);
  // A failed step with a reason of its own (for errors that aren't errno
  // values, such as a name resolver's).
  static Status Error(std::string_view step, int error_number, std::string reason);
  // The same, for a failure of a kind callers tell apart.
  static Status Error(Kind kind, std::string_view step, int error_number);
  static Status Error(Kind kind, std::string_view step, int error_number, std::string reason);

  bool ok() const { return step_.empty(); }
  Kind kind() const { return kind_; }
  const std::string& step() const { return step_; }
  int error_number() const { return error_number_; }
  const std::string& reason() const { return reason_; }
  // "step: reason", or "" on success.
  std::string Message() const;

  friend bool operator==(const Status&, const Status&) = default;

 private:
  Kind kind_ = Kind::kOk;
  std::string step_;
  int error_number_ = 0;
  std::string reason_;
};

// The system's text for an errno value (positive or negated).
std::string ErrorText(int error_number);

}  // namespace portwick

#endif  // PORTWICK_BASE_STATUS_H_
