#ifndef PORTWICK_APP_PROGRAM_ARGUMENTS_H_
#define PORTWICK_APP_PROGRAM_ARGUMENTS_H_

#include <string>
#include <vector>

namespace portwick {

// The program's arguments in UTF-8, the program's own name first: on Linux
// `argv` as it is; on Windows the UTF-16 command line (GetCommandLineW split
// by CommandLineToArgvW), since argv there holds the arguments in the ANSI
// code page and loses every character outside it. Call once, in main.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace portwick

#endif  // PORTWICK_APP_PROGRAM_ARGUMENTS_H_
