#ifndef PORTWICK_UI_PROGRAM_PATH_H_
#define PORTWICK_UI_PROGRAM_PATH_H_

#include <string>

namespace portwick {

// Argument 0 of this process exactly as it was started (its bytes, not
// decoded), as a command script repeats it. Falls back to Qt's first
// application argument when the process's own vector can't be read. Any
// thread.
std::string ProcessProgramPath();

}  // namespace portwick

#endif  // PORTWICK_UI_PROGRAM_PATH_H_
