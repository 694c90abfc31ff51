#ifndef PORTWICK_RUN_NUMBER_TEXT_H_
#define PORTWICK_RUN_NUMBER_TEXT_H_

#include <string_view>

namespace portwick {

// Converts text to a number the way atoi does: skips leading white space
// (space, \t, \n, \v, \f, \r), takes an optional '+' or '-', then decimal
// digits up to the first other character. No digits give 0. Unlike atoi the
// result is defined for every input: a value outside the int range is clamped
// to INT_MIN or INT_MAX.
int TextToInt(std::string_view text);

}  // namespace portwick

#endif  // PORTWICK_RUN_NUMBER_TEXT_H_
