#ifndef PORTWICK_UI_FRAMEWORK_PANE_CONTROL_H_
#define PORTWICK_UI_FRAMEWORK_PANE_CONTROL_H_

#include "trafficlog/output_pane.h"

namespace portwick {

// A dialog's output pane as the program writes to it: log sinks append
// (AppendText, any thread, never waiting for the GUI thread, as OutputPane
// says) and the window clears it. Owned by its dialog.
class PaneControl : public OutputPane {
 public:
  // Empties the pane and drops text still queued for it. GUI thread only.
  virtual void ClearText() = 0;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_PANE_CONTROL_H_
