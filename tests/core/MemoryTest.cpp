#include "../../core/src/linux/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>

using namespace tallyfox;

TEST(Memory, LargeCapacitiesFillWholeHugePagesAndNeverShrinkOrOverflow) {
  constexpr std::size_t hugePage = 2 * 1024 * 1024;
  EXPECT_EQ(Memory::roomyCapacity(1000, 8), 1000u);  // small arrays are left as asked
  for (const std::size_t count : {std::size_t(131072), std::size_t(1000000), std::size_t(3 * hugePage + 1)}) {
    for (const std::size_t size : {std::size_t(1), std::size_t(4), std::size_t(8)}) {
      const std::size_t capacity = Memory::roomyCapacity(count, size);
      EXPECT_GE(capacity, count);
      // Not more than a huge page beyond what was asked.
      EXPECT_LE((capacity - count) * size, hugePage) << count << " x " << size;
    }
  }
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 4;
  EXPECT_EQ(Memory::roomyCapacity(huge, 8), huge);  // the byte count would overflow
}

TEST(Memory, GrowingAndReservingKeepTheElements) {
  std::vector<std::uint32_t> v(1000);
  std::iota(v.begin(), v.end(), 0u);
  // Past the capacity (a move into a new buffer), then within it.
  Memory::prepare(v, 600000);
  EXPECT_GE(v.capacity(), 600000u);
  Memory::prepare(v, 400000);
  Memory::reserve(v, 5000000);
  EXPECT_GE(v.capacity(), 5000000u);
  ASSERT_EQ(v.size(), 1000u);
  for (std::uint32_t k = 0; k < 1000; ++k) ASSERT_EQ(v[k], k);

  const auto filled = Memory::filled<std::uint64_t>(700000, 7);
  EXPECT_EQ(filled.size(), 700000u);
  EXPECT_EQ(std::accumulate(filled.begin(), filled.end(), std::uint64_t(0)), 7u * 700000u);
  EXPECT_TRUE(Memory::filled<std::uint8_t>(0).empty());
}
