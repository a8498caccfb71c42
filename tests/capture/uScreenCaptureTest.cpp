#include "capture/uScreenCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "uCaptureTestSupport.h"

namespace halvora {
namespace {

using test::DecodeFrame;
using test::TDecodedFrame;
using test::TFakeGrabber;
using test::TTestScreen;

constexpr TRect cFullHd{0, 0, 1920, 1080};

class ScreenCaptureTest : public testing::Test {
 protected:
  // Captures AArea, expecting a frame whose tiles all look like the screen.
  TDecodedFrame Capture(const TRect& AArea, std::uint8_t AMonitor = 0) {
    EXPECT_TRUE(FCapturer.CaptureChanges(AArea, AMonitor, FPayload));
    TDecodedFrame Frame = DecodeFrame(FPayload);
    EXPECT_EQ(Frame.Monitor, AMonitor);
    EXPECT_EQ(Frame.Width, AArea.Right - AArea.Left);
    EXPECT_EQ(Frame.Height, AArea.Bottom - AArea.Top);
    for (const auto& Tile : Frame.Tiles)
      EXPECT_GE(TilePsnr(Tile, FScreen, {AArea.Left, AArea.Top}), 30.0);
    return Frame;
  }
  bool Unchanged(const TRect& AArea) {
    return !FCapturer.CaptureChanges(AArea, 0, FPayload) && FPayload.empty();
  }

  TTestScreen FScreen{1920, 1080};
  TFakeGrabber* FGrabber = new TFakeGrabber(FScreen);
  TScreenCapturer FCapturer{std::unique_ptr<IScreenGrabber>(FGrabber)};
  TIdBytes FPayload;
};

TEST_F(ScreenCaptureTest, FirstFrameIsOneTileOverTheWholeAreaThenOnlyChanges) {
  for (const TRect& Area : {cFullHd, TRect{0, 0, 100, 70}}) {
    SCOPED_TRACE(std::to_string(Area.Right) + "x" + std::to_string(Area.Bottom));
    EXPECT_EQ(Capture(Area).Rects(), std::vector<TRect>{Area});
    EXPECT_TRUE(Unchanged(Area));
    EXPECT_TRUE(Unchanged(Area));
  }
}

TEST_F(ScreenCaptureTest, FrameBytesFollowTheWireLayout) {
  Capture(cFullHd, 1);
  FScreen.Touch(0, 0);
  ASSERT_TRUE(FCapturer.CaptureChanges(cFullHd, 1, FPayload));
  const TIdBytes Head{0x01, 0x80, 0x07, 0x38, 0x04, 0x01, 0x00,  // monitor, 1920, 1080, 1 tile
                      0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x40, 0x00};
  ASSERT_GT(FPayload.size(), 19u);
  EXPECT_EQ(TIdBytes(FPayload.begin(), FPayload.begin() + 15), Head);
  const std::size_t Length = FPayload[15] | FPayload[16] << 8 | FPayload[17] << 16 |
                             static_cast<std::size_t>(FPayload[18]) << 24;
  EXPECT_EQ(FPayload.size(), 19 + Length);
  EXPECT_EQ(FPayload[19], 0xFF);  // start of image
  EXPECT_EQ(FPayload[20], 0xD8);
  EXPECT_EQ(FPayload[FPayload.size() - 2], 0xFF);  // end of image
  EXPECT_EQ(FPayload.back(), 0xD9);
}

struct TChangeCase {
  const char* Name;
  TRect Area;
  std::vector<std::pair<int, int>> Pixels;  // changed pixels, area coordinates
  std::vector<TRect> Tiles;
};

void PrintTo(const TChangeCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

// A pixel inside block (AColumn, ARow), off its first row and column.
std::pair<int, int> B(int AColumn, int ARow) {
  return {AColumn * 64 + 37, ARow * 64 + 21};
}

class ChangedBlocksTest : public ScreenCaptureTest,
                          public testing::WithParamInterface<TChangeCase> {};

TEST_P(ChangedBlocksTest, GiveTheseTiles) {
  const TChangeCase& Case = GetParam();
  Capture(Case.Area);
  for (auto [X, Y] : Case.Pixels) FScreen.Touch(X, Y);
  EXPECT_EQ(Capture(Case.Area).Rects(), Case.Tiles);
  EXPECT_TRUE(Unchanged(Case.Area));
}

const TRect cSmall{0, 0, 100, 70};

INSTANTIATE_TEST_SUITE_P(
    Tiles, ChangedBlocksTest,
    testing::Values(
        TChangeCase{"OnePixel", cFullHd, {{130, 5}}, {{128, 0, 192, 64}}},
        TChangeCase{"LastRowOfABlockOnly", cFullHd, {{1900, 63}}, {{1856, 0, 1920, 64}}},
        TChangeCase{"BottomRightEdgeBlock", cSmall, {{99, 69}}, {{64, 64, 100, 70}}},
        TChangeCase{"EdgeColumnJoinsDown", cSmall, {{70, 10}, {70, 66}}, {{64, 0, 100, 70}}},
        TChangeCase{"EdgeRowRun", cSmall, {{1, 65}, {99, 65}}, {{0, 64, 100, 70}}},
        TChangeCase{"Square", cFullHd, {B(0, 0), B(1, 0), B(0, 1), B(1, 1)}, {{0, 0, 128, 128}}},
        TChangeCase{"StepDown",
                    cFullHd,
                    {B(0, 0), B(1, 0), B(1, 1)},
                    {{0, 0, 128, 64}, {64, 64, 128, 128}}},
        TChangeCase{
            "RowBetween", cFullHd, {B(3, 0), B(3, 2)}, {{192, 0, 256, 64}, {192, 128, 256, 192}}},
        TChangeCase{
            "TwoRunsInARow", cFullHd, {B(0, 0), B(2, 0)}, {{0, 0, 64, 64}, {128, 0, 192, 64}}},
        TChangeCase{"JoinsAnEarlierEntry",
                    cFullHd,
                    {B(0, 0), B(2, 0), B(0, 1)},
                    {{0, 0, 64, 128}, {128, 0, 192, 64}}},
        TChangeCase{"WiderRunBelow",
                    cFullHd,
                    {B(0, 0), B(0, 1), B(1, 1)},
                    {{0, 0, 64, 64}, {0, 64, 128, 128}}},
        TChangeCase{"NarrowerRunBelow",
                    cFullHd,
                    {B(4, 3), B(5, 3), B(5, 4), B(4, 5), B(5, 5)},
                    {{256, 192, 384, 256}, {320, 256, 384, 320}, {256, 320, 384, 384}}}),
    [](const testing::TestParamInfo<TChangeCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(ScreenCaptureTest, UnusedFourthByteCountsAsAChange) {
  Capture(cSmall);
  FScreen.Touch(10, 10, 3);
  EXPECT_EQ(Capture(cSmall).Rects(), (std::vector<TRect>{{0, 0, 64, 64}}));
}

TEST_F(ScreenCaptureTest, MovedOrResizedAreaGivesAFullFrame) {
  Capture(cSmall);
  const TRect Moved{10, 20, 110, 90};
  EXPECT_EQ(Capture(Moved).Rects(), (std::vector<TRect>{{0, 0, 100, 70}}));
  const TRect Wider{10, 20, 150, 90};
  EXPECT_EQ(Capture(Wider).Rects(), (std::vector<TRect>{{0, 0, 140, 70}}));
  EXPECT_EQ(FGrabber->FAllocs, 2);
  EXPECT_TRUE(Unchanged(Wider));
}

TEST_F(ScreenCaptureTest, AGrabberThatKnowsNothingChangedSkipsTheComparison) {
  Capture(cSmall);
  FGrabber->FClaimUnchanged = true;
  FScreen.Touch(10, 10);  // not copied, so not seen
  EXPECT_TRUE(Unchanged(cSmall));
  FGrabber->FClaimUnchanged = false;
  EXPECT_EQ(Capture(cSmall).Rects(), (std::vector<TRect>{{0, 0, 64, 64}}));
}

// A change outside the damage that a grab reports is not looked for. The viewer has not got
// it, so it is found when a later grab reports it (drawn while the grabber copied, after it
// took its damage) or reports everything.
TEST_F(ScreenCaptureTest, OnlyBlocksThatTheDamageReachesAreCompared) {
  Capture(cFullHd);
  for (const bool LaterEverything : {false, true}) {
    SCOPED_TRACE(LaterEverything ? "later everything" : "later its damage");
    FGrabber->FDamage.SetNone();
    FGrabber->FDamage.Rects = {{120, 2, 135, 8}};
    FScreen.Touch(130, 5);
    FScreen.Touch(1000, 700);
    EXPECT_EQ(Capture(cFullHd).Rects(), (std::vector<TRect>{{128, 0, 192, 64}}));
    if (LaterEverything)
      FGrabber->FDamage.SetEverything();
    else
      FGrabber->FDamage.Rects = {{999, 699, 1001, 701}};
    EXPECT_EQ(Capture(cFullHd).Rects(), (std::vector<TRect>{{960, 640, 1024, 704}}));
    EXPECT_TRUE(Unchanged(cFullHd));
  }
}

TEST_F(ScreenCaptureTest, QualityZeroEncodesAtSixty) {
  auto Frame = [&](int AQuality) {
    TScreenCapturer Capturer(std::make_unique<TFakeGrabber>(FScreen));
    Capturer.SetQuality(AQuality);
    TIdBytes Payload;
    EXPECT_TRUE(Capturer.CaptureChanges({0, 0, 640, 480}, 0, Payload));
    return Payload;
  };
  const TIdBytes Default = Frame(0);
  EXPECT_EQ(Frame(-5), Default);
  EXPECT_EQ(Frame(60), Default);
  EXPECT_NE(Frame(61), Default);
  EXPECT_GT(Frame(95).size(), Default.size());
}

// Random changes on an area that is no multiple of the block size: the tiles cover exactly
// the blocks that differ from the image last sent, each once, whether the grabber reports
// everything or (every other round) just the changed pixels and rectangles reaching off the
// area.
TEST_F(ScreenCaptureTest, TilesCoverExactlyTheChangedBlocks) {
  const TRect Area{0, 0, 333, 200};
  std::mt19937 Random(7);
  Capture(Area);
  std::vector<std::uint8_t> Sent = FScreen.Pixels();
  for (int Round = 0; Round < 60; ++Round) {
    TDamageRegion& Damage = FGrabber->FDamage;
    if (Round % 2 == 0)
      Damage.SetEverything();
    else
      Damage.SetNone();
    if (!Damage.Everything) Damage.Rects = {{-100, -100, 3, 3}, {330, 190, 500, 300}};
    const int Changes = static_cast<int>(Random() % 5);
    for (int I = 0; I < Changes; ++I) {
      const int X = static_cast<int>(Random() % 333), Y = static_cast<int>(Random() % 200);
      FScreen.Touch(X, Y, static_cast<int>(Random() % 4));
      if (!Damage.Everything) Damage.Rects.push_back({X, Y, X + 1, Y + 1});
    }
    std::set<std::pair<int, int>> Expected;
    for (int Y = 0; Y < 200; ++Y)
      for (int X = 0; X < 333; ++X)
        if (std::memcmp(FScreen.Pixel(X, Y), &Sent[(Y * 1920 + X) * 4], 4) != 0)
          Expected.insert({X / 64, Y / 64});
    if (Expected.empty()) {
      EXPECT_TRUE(Unchanged(Area));
      continue;
    }
    std::set<std::pair<int, int>> Covered;
    for (const TRect& Tile : Capture(Area).Rects())
      for (int Y = Tile.Top; Y < Tile.Bottom; Y += 64)
        for (int X = Tile.Left; X < Tile.Right; X += 64)
          EXPECT_TRUE(Covered.insert({X / 64, Y / 64}).second) << "block covered twice";
    EXPECT_EQ(Covered, Expected) << "round " << Round;
    Sent = FScreen.Pixels();
  }
}

TEST_F(ScreenCaptureTest, EmptyAreaDoesNothing) {
  for (const TRect& Area : {TRect{5, 5, 5, 50}, TRect{5, 5, 50, 4}}) EXPECT_TRUE(Unchanged(Area));
  EXPECT_EQ(FGrabber->FAllocs, 0);
}

TEST_F(ScreenCaptureTest, BufferThatCannotBeMadeRaisesTheError) {
  FGrabber->FFailAlloc = true;
  try {
    FCapturer.CaptureChanges(cSmall, 0, FPayload);
    FAIL() << "no error";
  } catch (const EScreenCapture& AError) {
    EXPECT_STREQ(AError.what(), "Falha ao criar o buffer de captura de tela");
  }
  FGrabber->FFailAlloc = false;
  EXPECT_EQ(Capture(cSmall).Rects(), std::vector<TRect>{cSmall});
}

}  // namespace
}  // namespace halvora
