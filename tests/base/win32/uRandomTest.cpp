#include "base/uRandom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace halvora {
namespace {

// How many of the 256 byte values occur in ABytes.
std::size_t DistinctBytes(const std::uint8_t* ABytes, std::size_t ACount) {
  return std::set<std::uint8_t>(ABytes, ABytes + ACount).size();
}

TEST(TSystemRandom, FillsTheWholeBufferWithFreshBytes) {
  std::string Error;
  std::vector<std::uint8_t> First(64), Second(64);
  ASSERT_TRUE(SystemRandomBytes(First.data(), First.size(), Error)) << Error;
  ASSERT_TRUE(SystemRandomBytes(Second.data(), Second.size(), Error)) << Error;
  EXPECT_NE(First, Second);
  EXPECT_TRUE(SystemRandomBytes(nullptr, 0, Error)) << Error;

  // Larger than one request to the system (1 MiB): every part is filled, none repeats.
  const std::size_t MiB = 1 << 20;
  std::vector<std::uint8_t> Large(3 * MiB + 7, 0);
  ASSERT_TRUE(SystemRandomBytes(Large.data(), Large.size(), Error)) << Error;
  for (const std::size_t Start : {std::size_t{0}, MiB - 2048, 2 * MiB, 3 * MiB - 4096}) {
    SCOPED_TRACE(Start);
    EXPECT_GT(DistinctBytes(Large.data() + Start, 4096), 200u);
  }
  EXPECT_GT(DistinctBytes(Large.data() + 3 * MiB, 7), 1u);
  EXPECT_FALSE(std::equal(Large.begin(), Large.begin() + MiB, Large.begin() + MiB));
  EXPECT_TRUE(Error.empty());
}

}  // namespace
}  // namespace halvora
