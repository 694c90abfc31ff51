#include "run/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace portwick {
namespace {

struct NumberCase {
  const char* text;
  int expected;
  bool in_int_range;  // std::atoi is defined for the text and must agree
};

TEST(TextToIntTest, FollowsAtoiAndClampsOverflow) {
  const NumberCase kCases[] = {
      {"", 0, true},
      {"80", 80, true},
      {"  42", 42, true},
      {"\t\n\v\f\r-17", -17, true},
      {"+5", 5, true},
      {"-", 0, true},
      {"+-3", 0, true},
      {" - 5", 0, true},
      {"12abc", 12, true},
      {"abc", 0, true},
      {"=8", 0, true},
      {"0x10", 0, true},
      {"007", 7, true},
      {"3 4", 3, true},
      {"2147483647", INT_MAX, true},
      {"-2147483648", INT_MIN, true},
      {"2147483648", INT_MAX, false},
      {"-2147483649", INT_MIN, false},
      {"99999999999999999999999999", INT_MAX, false},
      {"-99999999999999999999999999", INT_MIN, false},
      {"00000000000000000000000001", 1, true},
  };
  for (const NumberCase& c : kCases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    EXPECT_EQ(TextToInt(c.text), c.expected);
    if (c.in_int_range) {
      EXPECT_EQ(TextToInt(c.text), std::atoi(c.text));
    }
  }
}

TEST(TextToIntTest, StopsAtTheEndOfTheView) {
  // The view ends before the later digits; they must not be read.
  const std::string text = "12345";
  EXPECT_EQ(TextToInt(std::string_view(text).substr(0, 2)), 12);
}

}  // namespace
}  // namespace portwick
