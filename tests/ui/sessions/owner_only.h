#ifndef PORTWICK_TESTS_UI_SESSIONS_OWNER_ONLY_H_
#define PORTWICK_TESTS_UI_SESSIONS_OWNER_ONLY_H_

#include <gtest/gtest.h>

#include <string>

namespace portwick::testing {

// Whether the file at `path` (UTF-8) can be opened by the user who made it
// and by no one else: mode 0600 on POSIX; on Windows an access list that
// grants only the current user (and the system). Says what it found when
// not.
::testing::AssertionResult OwnerOnly(const std::string& path);

}  // namespace portwick::testing

#endif  // PORTWICK_TESTS_UI_SESSIONS_OWNER_ONLY_H_
