#ifndef PORTWICK_UI_PROGRAM_PATH_H_
#define PORTWICK_UI_PROGRAM_PATH_H_

#include <string>

namespace portwick {

// Argument 0 of this process exactly as it was started (its bytes, not
// decoded), as a command script repeats it: read from the process's own
// argument vector where the system shows it (/proc on Linux), empty where it
// can't be read. The program itself hands the window the path main received
// (UiServices::program_path); this is the fallback for callers that don't.
// Any thread.
std::string ProcessProgramPath();

}  // namespace portwick

#endif  // PORTWICK_UI_PROGRAM_PATH_H_
