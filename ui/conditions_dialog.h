#ifndef PORTWICK_UI_CONDITIONS_DIALOG_H_
#define PORTWICK_UI_CONDITIONS_DIALOG_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/conditions/condition.h"
#include "engine/conditions/session_limits.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/native_window.h"

namespace portwick {

inline constexpr int kConditionsDialogId = 130;
// The condition fields, kConditionField + 0 ... kConditionFieldCount - 1.
inline constexpr int kConditionField = 1100;
inline constexpr int kConditionFieldCount = 8;
inline constexpr int kConnectTimeoutField = 1110;
inline constexpr int kIdleTimeoutField = 1111;
inline constexpr int kSessionCapField = 1112;
// Says why a value was refused; empty until then.
inline constexpr int kConditionsRefusalLabel = 1113;

// What the dialog edits: the forward's traffic conditions and the limits.
struct ConditionsForm {
  std::vector<Condition> conditions;
  SessionLimits limits;
};

// Dialog 130. A static table that lives for the whole process.
const DialogTemplate& ConditionsDialogTemplate();

// Action > Conditions...: the traffic conditions, one per field in the
// console's form (DIR:KIND=VALUE[,OPTION=VALUE...], blanks around ',', ':'
// and '=' allowed; a field may hold several separated by blanks, which is
// how more conditions than fields are shown),
// and the limits (connect time-out, idle time-out, session cap; empty or 0
// for off).
//
// OK reads every field; at the first value the parser refuses, the dialog
// stays open, beeps, puts the focus on that field and says in the refusal
// line which field and why (the parser's own message, which names the
// value). Otherwise it ends with kCommandOk and form() holds what was read.
// Cancel, Esc and the close box end it with kCommandCancel, changing nothing.
//
// Construction builds and fills the dialog (centred over `owner`) without
// showing it, so tests can look at it. `owner` may be null and must outlive
// the box. GUI thread only.
class ConditionsDialog {
 public:
  ConditionsDialog(NativeWindow owner, const ConditionsForm& form);
  ConditionsDialog(const ConditionsDialog&) = delete;
  ConditionsDialog& operator=(const ConditionsDialog&) = delete;
  ~ConditionsDialog();

  // Runs the dialog modally until it ends; kCommandOk or kCommandCancel.
  int Run();

  // What OK read (the values given to the constructor until then).
  const ConditionsForm& form() const { return form_; }
  Dialog& dialog() const { return *dialog_; }

 private:
  void OnOk();
  // Reads every field into `form`; false (after Refuse) at the first value
  // that can't be taken.
  bool ReadFields(ConditionsForm* form);
  void Refuse(int control_id, const std::string& why);

  std::unique_ptr<Dialog> dialog_;
  ConditionsForm form_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_CONDITIONS_DIALOG_H_
