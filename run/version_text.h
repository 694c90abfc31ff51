#ifndef PORTWICK_RUN_VERSION_TEXT_H_
#define PORTWICK_RUN_VERSION_TEXT_H_

#include <string>

namespace portwick {

// "Portwick 1.7.0.156": the application title and the four parts of the
// program's file version (the project version CMake builds in), as --version
// prints it. Any thread.
std::string VersionLine();

}  // namespace portwick

#endif  // PORTWICK_RUN_VERSION_TEXT_H_
