#ifndef PORTWICK_TESTS_FUZZ_SHELL_WORDS_H_
#define PORTWICK_TESTS_FUZZ_SHELL_WORDS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portwick::fuzzing {

// Splits one simple command line into its words the way a POSIX shell does
// (blanks between words; backslash, '...' and "..." quoting; inside double
// quotes a backslash escapes only $ ` " \ and newline), for a line that is
// meant to run one program and nothing else. Returns nullopt when the shell
// would do more than pass words to a program: an unquoted ; & | < > ( ) $ `
// or a glob character (* ? [), a comment, a leading ~, an expansion inside
// double quotes, an unquoted newline other than one ending the line, a
// variable assignment or reserved word in the program's place, or an
// unterminated quote. Newlines inside quotes belong to the word.
std::optional<std::vector<std::string>> SplitShellWords(std::string_view line);

}  // namespace portwick::fuzzing

#endif  // PORTWICK_TESTS_FUZZ_SHELL_WORDS_H_
