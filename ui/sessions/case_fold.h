#ifndef PORTWICK_UI_SESSIONS_CASE_FOLD_H_
#define PORTWICK_UI_SESSIONS_CASE_FOLD_H_

#include <string>
#include <string_view>

namespace portwick {

// `utf8` with every letter that has a lower-case twin replaced by it, so two
// texts compare without regard to case the way Qt's case-insensitive filter
// compares them (Unicode simple case folding). Folded here: ASCII, Latin-1,
// Latin Extended-A, Greek and the basic Cyrillic letters (U+0400-U+045F),
// which covers what the Sessions window shows (addresses, numbers, states
// and the system's reasons). Letters of other scripts (Armenian, Georgian,
// Latin Extended-B and beyond, full-width forms, the Kelvin and Ohm signs)
// compare exactly, where Qt would fold them. Bytes that are not UTF-8 are
// kept as they are (Qt would read each as U+FFFD). A pure function; any
// thread.
std::string FoldCase(std::string_view utf8);

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_CASE_FOLD_H_
