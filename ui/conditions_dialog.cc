#include "ui/conditions_dialog.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>

#include "ui/framework/data_exchange.h"

namespace portwick {

namespace {

using K = ControlKind;
constexpr uint32_t kField = kStyleTabStop;

// clang-format off
constexpr ControlTemplate kControls[] = {
    {K::kLabel, kNoControlId,
     "One condition per field: DIRECTION:KIND=VALUE[,OPTION=VALUE...], for example "
     "down:delay=100ms,jitter=10ms. They act at once: new sessions draw them, open ones follow "
     "them from their next chunk.", kStyleNone, 7, 7, 286, 26},
    {K::kLabel, kNoControlId, "&Conditions:", kStyleNone, 7, 36, 80, 8},
    {K::kEdit, kConditionField + 0, nullptr, kField, 7, 46, 286, 12},
    {K::kEdit, kConditionField + 1, nullptr, kField, 7, 61, 286, 12},
    {K::kEdit, kConditionField + 2, nullptr, kField, 7, 76, 286, 12},
    {K::kEdit, kConditionField + 3, nullptr, kField, 7, 91, 286, 12},
    {K::kEdit, kConditionField + 4, nullptr, kField, 7, 106, 286, 12},
    {K::kEdit, kConditionField + 5, nullptr, kField, 7, 121, 286, 12},
    {K::kEdit, kConditionField + 6, nullptr, kField, 7, 136, 286, 12},
    {K::kEdit, kConditionField + 7, nullptr, kField, 7, 151, 286, 12},
    {K::kLabel, kNoControlId,
     "Directions: up (client to server), down, both. Kinds: delay, rate, slice, cut, stall, "
     "close-delay. Options: jitter, pause, end=fin|reset, probability=0..1.",
     kStyleNone, 7, 167, 286, 18},
    {K::kGroupBox, kNoControlId, "Limits, from the next Start", kStyleNone, 7, 189, 286, 46},
    {K::kLabel, kNoControlId, "Co&nnect time-out:", kStyleNone, 14, 203, 64, 8},
    {K::kEdit, kConnectTimeoutField, nullptr, kField, 80, 201, 60, 12},
    {K::kLabel, kNoControlId, "&Idle time-out:", kStyleNone, 150, 203, 64, 8},
    {K::kEdit, kIdleTimeoutField, nullptr, kField, 216, 201, 60, 12},
    {K::kLabel, kNoControlId, "Session ca&p:", kStyleNone, 14, 219, 64, 8},
    {K::kEdit, kSessionCapField, nullptr, kField, 80, 217, 60, 12},
    {K::kLabel, kConditionsRefusalLabel, "", kStyleNone, 7, 240, 286, 18},
    {K::kPushButton, kCommandOk, "OK", kStyleDefaultButton | kStyleTabStop, 189, 262, 50, 14},
    {K::kPushButton, kCommandCancel, "Cancel", kStyleTabStop, 243, 262, 50, 14},
};
// clang-format on

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Blanks around ',', ':' and '=' are spacing within a condition, not the
// start of another one.
std::string WithoutInnerBlanks(std::string_view text) {
  const auto joins = [](char c) { return c == ',' || c == ':' || c == '='; };
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string joined;
  for (const char c : text) {
    if (blank(c) && !joined.empty() && joins(joined.back())) continue;
    if (joins(c)) {
      while (!joined.empty() && blank(joined.back())) joined.pop_back();
    }
    joined += c;
  }
  return joined;
}

// A duration field: "" for none, else DurationText.
std::string DurationField(std::chrono::milliseconds duration) {
  return duration.count() == 0 ? "" : DurationText(duration);
}

std::optional<uint32_t> ParseSessionCap(std::string_view text, std::string* why) {
  uint32_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() ||
      count > SessionLimits::kMaxSessionsLimit) {
    *why = "'" + std::string(text) + "' is not a number of sessions from 0 to " +
           std::to_string(SessionLimits::kMaxSessionsLimit);
    return std::nullopt;
  }
  return count;
}

}  // namespace

const DialogTemplate& ConditionsDialogTemplate() {
  static const DialogTemplate kTemplate{
      .caption = "Traffic Conditions",
      .width = 300,
      .height = 283,
      .font_family = "MS Sans Serif",
      .font_point_size = 8,
      .controls = kControls,
      .menus = {},
  };
  return kTemplate;
}

ConditionsDialog::ConditionsDialog(NativeWindow owner, const ConditionsForm& form) : form_(form) {
  dialog_ = CreateDialog(ConditionsDialogTemplate(), DialogFrame::kModal, owner);
  dialog_->CenterOver(owner);
  // One condition per field; the last field takes whatever doesn't fit.
  std::string fields[kConditionFieldCount];
  for (size_t i = 0; i < form_.conditions.size(); ++i) {
    std::string& field = fields[std::min<size_t>(i, kConditionFieldCount - 1)];
    if (!field.empty()) field += " ";
    field += ConditionText(form_.conditions[i]);
  }
  for (int i = 0; i < kConditionFieldCount; ++i) {
    dialog_->SetControlText(kConditionField + i, fields[i]);
  }
  dialog_->SetCueBanner(kConditionField, "down:delay=100ms,jitter=10ms");
  dialog_->SetControlText(kConnectTimeoutField, DurationField(form_.limits.connect_timeout));
  dialog_->SetControlText(kIdleTimeoutField, DurationField(form_.limits.idle_timeout));
  dialog_->SetControlText(kSessionCapField, form_.limits.max_sessions == 0
                                                ? ""
                                                : std::to_string(form_.limits.max_sessions));
  dialog_->SetCueBanner(kConnectTimeoutField, "the system's");
  dialog_->SetCueBanner(kIdleTimeoutField, "never");
  dialog_->SetCueBanner(kSessionCapField, "none");
  dialog_->SetControlTip(kConnectTimeoutField, "How long a connect may take: 5s, 500ms, 2m");
  dialog_->SetControlTip(kIdleTimeoutField,
                         "A session with no bytes either way for this long is closed");
  dialog_->SetControlTip(kSessionCapField,
                         "At this many open sessions new connections wait to be accepted");
  dialog_->OnCommand(kCommandOk, [this] { OnOk(); });
  dialog_->FocusControl(kConditionField);
}

ConditionsDialog::~ConditionsDialog() = default;

int ConditionsDialog::Run() { return dialog_->RunModal(); }

void ConditionsDialog::OnOk() {
  ConditionsForm read;
  if (!ReadFields(&read)) return;
  form_ = std::move(read);
  // Without its handler OK ends the dialog with its own id.
  dialog_->OnCommand(kCommandOk, {});
  dialog_->SendCommand(kCommandOk);
}

bool ConditionsDialog::ReadFields(ConditionsForm* form) {
  dialog_->SetControlText(kConditionsRefusalLabel, "");
  std::string error;
  for (int i = 0; i < kConditionFieldCount; ++i) {
    std::string text;
    ReadText(*dialog_, kConditionField + i, &text);
    text = WithoutInnerBlanks(text);
    std::string_view rest = text;
    while (!(rest = Trimmed(rest)).empty()) {
      const std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
      rest.remove_prefix(word.size());
      const std::optional<Condition> condition = ParseCondition(word, &error);
      if (!condition) {
        Refuse(kConditionField + i, "Condition " + std::to_string(i + 1) + ": " + error);
        return false;
      }
      form->conditions.push_back(*condition);
    }
  }
  const struct {
    int id;
    const char* name;
    std::chrono::milliseconds* to;
  } kDurations[] = {
      {kConnectTimeoutField, "Connect time-out", &form->limits.connect_timeout},
      {kIdleTimeoutField, "Idle time-out", &form->limits.idle_timeout},
  };
  for (const auto& duration : kDurations) {
    std::string text;
    ReadText(*dialog_, duration.id, &text);
    if (Trimmed(text).empty()) continue;
    const std::optional<std::chrono::milliseconds> value = ParseDuration(Trimmed(text), &error);
    if (!value) {
      Refuse(duration.id, std::string(duration.name) + ": " + error);
      return false;
    }
    *duration.to = *value;
  }
  std::string cap;
  ReadText(*dialog_, kSessionCapField, &cap);
  if (!Trimmed(cap).empty()) {
    const std::optional<uint32_t> count = ParseSessionCap(Trimmed(cap), &error);
    if (!count) {
      Refuse(kSessionCapField, "Session cap: " + error);
      return false;
    }
    form->limits.max_sessions = *count;
  }
  return true;
}

void ConditionsDialog::Refuse(int control_id, const std::string& why) {
  dialog_->SetControlText(kConditionsRefusalLabel, why);
  ReportFieldFailure(*dialog_, control_id);
}

}  // namespace portwick
