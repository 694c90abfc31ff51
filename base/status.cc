#include "base/status.h"

#include <utility>

namespace portwick {

Status Status::Error(std::string_view step, int error_number) {
  return Error(Kind::kOther, step, error_number, ErrorText(error_number));
}

Status Status::Error(std::string_view step, int error_number, std::string reason) {
  return Error(Kind::kOther, step, error_number, std::move(reason));
}

Status Status::Error(Kind kind, std::string_view step, int error_number) {
  return Error(kind, step, error_number, ErrorText(error_number));
}

Status Status::Error(Kind kind, std::string_view step, int error_number, std::string reason) {
  Status status;
  status.kind_ = kind == Kind::kOk ? Kind::kOther : kind;
  // An empty step would read as success.
  status.step_ = step.empty() ? "error" : std::string(step);
  status.error_number_ = error_number < 0 ? -error_number : error_number;
  status.reason_ = std::move(reason);
  return status;
}

std::string Status::Message() const {
  if (ok()) return {};
  return reason_.empty() ? step_ : step_ + ": " + reason_;
}

}  // namespace portwick
