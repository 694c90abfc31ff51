#ifndef PORTWICK_UI_ABOUT_BOX_H_
#define PORTWICK_UI_ABOUT_BOX_H_

#include <memory>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/native_window.h"
#include "ui/ui_services.h"

namespace portwick {

inline constexpr int kAboutDialogId = 100;
inline constexpr int kAboutVersionLabel = 1013;
inline constexpr int kAboutPublisherLink = 1007;

// Shown as the link to the home page, and the copyright line beside it.
inline constexpr char kPublisherName[] = "Portwick Project";
inline constexpr char kCopyrightLine[] = "(c) 2026";

// Dialog 100. A static table that lives for the whole process.
const DialogTemplate& AboutBoxTemplate();

// The About box: the icon, "Portwick <product version>", the publisher's name
// as a link to the home page ("?from=about") and the copyright line.
//
// Construction builds and initialises the dialog (centred over `owner`, link
// in place, version label set) without showing it, so tests can look at it.
// `owner` may be null and must outlive the box. GUI thread only.
class AboutBox {
 public:
  AboutBox(NativeWindow owner, const UiServices& services);
  AboutBox(const AboutBox&) = delete;
  AboutBox& operator=(const AboutBox&) = delete;
  ~AboutBox();

  // Runs the box modally until OK (result 1), Esc or the close box (2).
  int Run();

  Dialog& dialog() const { return *dialog_; }

 private:
  std::unique_ptr<Dialog> dialog_;
};

// Help > About...: runs the About box modally over the active window and
// returns when it has been closed. GUI thread only.
void ShowAboutBox(const UiServices& services);

}  // namespace portwick

#endif  // PORTWICK_UI_ABOUT_BOX_H_
