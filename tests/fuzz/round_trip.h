#ifndef PORTWICK_TESTS_FUZZ_ROUND_TRIP_H_
#define PORTWICK_TESTS_FUZZ_ROUND_TRIP_H_

#include "run/command_script.h"

namespace portwick::fuzzing {

// Builds the script for `values`, splits it as a shell would and parses the
// words as the program's command line; aborts (a finding) when the shell
// would do anything but start the program, or when the settings read back
// differ from `values`. Values that a process's arguments can't carry (a
// zero byte) are skipped.
void CheckScriptRoundTrip(const CommandScriptValues& values);

}  // namespace portwick::fuzzing

#endif  // PORTWICK_TESTS_FUZZ_ROUND_TRIP_H_
