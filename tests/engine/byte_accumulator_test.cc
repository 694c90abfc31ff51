#include "engine/byte_accumulator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace portwick {
namespace {

std::unique_ptr<char[]> Block(const std::string& text) {
  auto block = std::make_unique<char[]>(text.size());
  std::memcpy(block.get(), text.data(), text.size());
  return block;
}

TEST(ByteAccumulatorTest, JoinsOwnedAndBorrowedPiecesInOrderWithAZeroAfter) {
  ByteAccumulator acc;
  auto owned = Block("abc");
  const char* owned_data = owned.get();
  const std::string borrowed("d\0e", 3);
  ASSERT_TRUE(acc.Append(owned_data, 3, std::move(owned)));
  ASSERT_TRUE(acc.Append(borrowed.data(), 3, nullptr));
  EXPECT_EQ(acc.total(), 6);

  std::unique_ptr<char[]> joined = acc.Join();
  EXPECT_EQ(std::string(joined.get(), 7), std::string("abcd\0e\0", 7));

  acc.Clear();
  EXPECT_TRUE(acc.empty());
  EXPECT_EQ(acc.total(), 0);
  EXPECT_EQ(acc.Join()[0], '\0');
}

TEST(ByteAccumulatorTest, RefusesATotalBeyondARecordLength) {
  ByteAccumulator acc;
  static const char kByte = 'x';
  const int32_t max = std::numeric_limits<int32_t>::max();
  // Lengths only; Join is never called on these.
  ASSERT_TRUE(acc.Append(&kByte, max - 10, nullptr));
  EXPECT_FALSE(acc.Append(&kByte, 10, nullptr));  // no room left for the zero
  EXPECT_TRUE(acc.Append(&kByte, 9, nullptr));
  EXPECT_EQ(acc.total(), max - 1);
  EXPECT_FALSE(acc.Append(&kByte, -1, nullptr));
}

}  // namespace
}  // namespace portwick
