#include "capture/uQualityPolicy.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvora {
namespace {

struct TAck {
  std::uint32_t Ms;
  std::size_t Bytes;
};

// Acknowledgements in turn and the quality after each, starting from a new policy.
struct TQualityCase {
  const char* Name;
  std::vector<TAck> Acks;
  std::vector<int> Qualities;
};

TEST(QualityPolicy, FollowsTheAcknowledgementTimesOfLargeFrames) {
  const TQualityCase Cases[] = {
      {"slow: down by 10", {{300, 30000}, {221, 30000}}, {50, 40}},
      {"220 ms is not slow", {{300, 30000}, {220, 30000}}, {50, 50}},
      {"150 ms: unchanged", {{300, 30000}, {150, 30000}}, {50, 50}},
      {"90 ms is not fast", {{300, 30000}, {90, 30000}}, {50, 50}},
      {"fast: up by 5", {{300, 30000}, {89, 30000}, {50, 30000}}, {50, 55, 60}},
      {"ceiling 60", {{50, 30000}, {0, 30000}}, {60, 60}},
      {"floor 25, not 20",
       {{300, 30000}, {300, 30000}, {300, 30000}, {300, 30000}, {5000, 30000}},
       {50, 40, 30, 25, 25}},
      {"back up from the floor",
       {{300, 30000}, {300, 30000}, {300, 30000}, {300, 30000}, {10, 30000}, {10, 30000}},
       {50, 40, 30, 25, 30, 35}},
      {"20,000 bytes say nothing", {{300, 20000}, {300, 30000}, {10, 20000}}, {60, 50, 50}},
      {"20,001 bytes count", {{300, 20001}, {10, 20001}}, {50, 55}},
      {"small frames say nothing", {{300, 0}, {300, 1}}, {60, 60}},
  };
  for (const TQualityCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TQualityPolicy Policy;
    EXPECT_EQ(Policy.Quality(), 60) << "default";
    std::vector<int> Qualities;
    for (const TAck& Ack : Case.Acks) {
      Policy.FrameAcked(Ack.Ms, Ack.Bytes);
      Qualities.push_back(Policy.Quality());
    }
    EXPECT_EQ(Qualities, Case.Qualities);
  }
}

}  // namespace
}  // namespace halvora
