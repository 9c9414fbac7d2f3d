#include "../../core/src/linux/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

using namespace tallyfox;

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
