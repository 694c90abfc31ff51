#ifndef PORTWICK_RUN_APPLICATION_TITLE_H_
#define PORTWICK_RUN_APPLICATION_TITLE_H_

namespace portwick {

// The program's name as it shows to the user: string 128 of the main window,
// the caption of the help box, the end of every window title and the prefix
// of the console's messages.
inline constexpr char kApplicationTitle[] = "Portwick";

}  // namespace portwick

#endif  // PORTWICK_RUN_APPLICATION_TITLE_H_
