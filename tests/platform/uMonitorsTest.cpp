#include "platform/uMonitors.h"

#include <gtest/gtest.h>

#include <string>

namespace halvora {
namespace {

class TListedSource : public IMonitorSource {
 public:
  explicit TListedSource(std::vector<TListedMonitor> AList) : FList(std::move(AList)) {}
  std::vector<TListedMonitor> ListMonitors() override { return FList; }
  TRect ScreenArea() override { return {0, 0, 1366, 768}; }

 private:
  std::vector<TListedMonitor> FList;
};

struct TLayoutCase {
  const char* Name;
  std::vector<TListedMonitor> Listed;  // windowing-system coordinates
  std::vector<TRect> Rects;            // virtual-screen coordinates, in order
  TPoint Origin;
};

void PrintTo(const TLayoutCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

class MonitorLayoutTest : public testing::TestWithParam<TLayoutCase> {};

TEST_P(MonitorLayoutTest, OrdersAndPlaces) {
  TListedSource Source(GetParam().Listed);
  const TMonitorLayout Layout = GetMonitorLayout(Source);
  EXPECT_EQ(Layout.Rects, GetParam().Rects);
  EXPECT_EQ(Layout.Origin, GetParam().Origin);
  EXPECT_EQ(GetMonitorRects(Source), GetParam().Rects);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MonitorLayoutTest,
    testing::Values(TLayoutCase{"One", {{{0, 0, 1920, 1080}, true}}, {{0, 0, 1920, 1080}}, {0, 0}},
                    TLayoutCase{"NoneListedGivesTheScreen", {}, {{0, 0, 1366, 768}}, {0, 0}},
                    // The primary comes first although the other one lies further left.
                    TLayoutCase{"FlaggedPrimaryRightOfAnother",
                                {{{0, 0, 1280, 1024}, false}, {{1280, 0, 3200, 1080}, true}},
                                {{0, 0, 1920, 1080}, {-1280, 0, 0, 1024}},
                                {1280, 0}},
                    TLayoutCase{"PrimaryBetweenTwo",
                                {{{3840, 0, 5760, 1080}, false},
                                 {{1920, 0, 3840, 1080}, true},
                                 {{0, 0, 1920, 1080}, false}},
                                {{0, 0, 1920, 1080}, {-1920, 0, 0, 1080}, {1920, 0, 3840, 1080}},
                                {1920, 0}},
                    TLayoutCase{
                        "SameLeftEdgeUpperFirst",
                        {{{0, 0, 1920, 1080}, false},
                         {{1920, 1080, 3200, 2104}, false},
                         {{1920, 56, 3200, 1080}, false}},
                        {{0, 0, 1920, 1080}, {1920, 56, 3200, 1080}, {1920, 1080, 3200, 2104}},
                        {0, 0}},
                    TLayoutCase{"UnflaggedFirstListedWhenNoneAtOrigin",
                                {{{100, 50, 900, 650}, false}, {{900, 50, 1700, 650}, false}},
                                {{0, 0, 800, 600}, {800, 0, 1600, 600}},
                                {100, 50}},
                    TLayoutCase{"SameAreaTwiceCountsOnce",
                                {{{0, 0, 1920, 1080}, false},
                                 {{1920, 0, 3840, 1080}, false},
                                 {{1920, 0, 3840, 1080}, true}},
                                {{0, 0, 1920, 1080}, {-1920, 0, 0, 1080}},
                                {1920, 0}}),
    [](const testing::TestParamInfo<TLayoutCase>& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace halvora
