#include "uFrameDecoder.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/uTestFiles.h"
#include "uViewerTestImages.h"

namespace halvora::viewer {
namespace {

using test::Near;
using test::SolidTile;
using test::TRgb;

constexpr TRgb cRed{255, 0, 0}, cGreen{0, 255, 0}, cBlue{0, 0, 255}, cBlack{0, 0, 0};

class FrameDecoderTest : public testing::Test {
 protected:
  TRgb At(int AMonitor, int AX, int AY) const { return Canvases.Find(AMonitor)->Pixel(AX, AY); }

  TCanvasSet Canvases;
  TFrameDecoder Decoder;
};

TEST_F(FrameDecoderTest, PlacesTilesOnTheCanvasOfTheirMonitor) {
  Canvases.SetMonitors(2, 0);
  // A 100 × 70 area cut on the 64-pixel grid, as the host does; the bottom strip stays black.
  auto Result = Decoder.Apply(
      Canvases, test::MakeFrame(0, 100, 70,
                                {SolidTile(0, 0, 64, 64, cRed), SolidTile(64, 0, 36, 64, cGreen)}));
  ASSERT_TRUE(Result.Ok) << Result.Error;
  EXPECT_EQ(Result.Monitor, 0);
  EXPECT_EQ(Result.Tiles, 2);
  Result = Decoder.Apply(Canvases, test::MakeFrame(1, 32, 16, {SolidTile(0, 0, 32, 16, cBlue)}));
  ASSERT_TRUE(Result.Ok) << Result.Error;

  EXPECT_EQ(Canvases.Find(0)->Width(), 100);
  EXPECT_EQ(Canvases.Find(0)->Height(), 70);
  EXPECT_TRUE(Near(At(0, 0, 0), cRed));
  EXPECT_TRUE(Near(At(0, 63, 63), cRed));
  EXPECT_TRUE(Near(At(0, 64, 0), cGreen));
  EXPECT_TRUE(Near(At(0, 99, 63), cGreen));
  EXPECT_EQ(At(0, 50, 69), cBlack);
  EXPECT_TRUE(Near(At(1, 31, 15), cBlue));

  // A later frame of the same size changes only its tiles.
  ASSERT_TRUE(
      Decoder.Apply(Canvases, test::MakeFrame(0, 100, 70, {SolidTile(64, 64, 36, 6, cBlue)})).Ok);
  EXPECT_TRUE(Near(At(0, 99, 69), cBlue));
  EXPECT_TRUE(Near(At(0, 0, 0), cRed));
  EXPECT_TRUE(Near(At(0, 99, 63), cGreen));
}

TEST_F(FrameDecoderTest, SizeChangeStartsAFreshCanvas) {
  ASSERT_TRUE(
      Decoder.Apply(Canvases, test::MakeFrame(0, 64, 64, {SolidTile(0, 0, 64, 64, cRed)})).Ok);
  ASSERT_TRUE(
      Decoder.Apply(Canvases, test::MakeFrame(0, 128, 64, {SolidTile(64, 0, 64, 64, cGreen)})).Ok);
  EXPECT_EQ(Canvases.Find(0)->Width(), 128);
  EXPECT_EQ(At(0, 10, 10), cBlack);
  EXPECT_TRUE(Near(At(0, 100, 10), cGreen));
}

TEST_F(FrameDecoderTest, MonitorInformationDropsCanvasesBeyondTheCount) {
  ASSERT_TRUE(Decoder.Apply(Canvases, test::MakeFrame(1, 8, 8, {SolidTile(0, 0, 8, 8, cRed)})).Ok);
  Canvases.SetMonitors(1, 0);
  EXPECT_EQ(Canvases.Find(1), nullptr);
}

TEST_F(FrameDecoderTest, MalformedFramesAreReportedAndLeaveTheCanvasAlone) {
  Canvases.SetMonitors(2, 0);
  const TBytes Good = test::MakeFrame(0, 64, 64, {SolidTile(0, 0, 64, 64, cGreen)});
  const auto Mutated = [&Good](std::function<void(TBytes&)> AChange) {
    TBytes Frame = Good;
    AChange(Frame);
    return Frame;
  };
  TBytes Garbage = test::EncodeJpeg(64, 64, cGreen);
  for (std::size_t I = 20; I < Garbage.size() - 2; ++I) Garbage[I] = 0x5A;
  TBytes Half = test::EncodeJpeg(64, 64, cGreen);
  Half.resize(Half.size() / 2);

  const struct {
    const char* Name;
    TBytes Frame;
    const char* Error;
  } Cases[] = {
      {"header cut short", TBytes(Good.begin(), Good.begin() + 5), "cabeçalho incompleto"},
      {"zero width", Mutated([](TBytes& F) { F[1] = F[2] = 0; }), "tamanho zero"},
      {"no tiles", test::MakeFrame(0, 64, 64, {}), "sem tiles"},
      {"tile record cut short", TBytes(Good.begin(), Good.begin() + 13), "truncado no tile 0"},
      {"JPEG length past the end", Mutated([](TBytes& F) { F[18] = 1; }), "JPEG do tile 0"},
      {"more tiles announced", Mutated([](TBytes& F) { F[5] = 2; }), "truncado no tile 1"},
      {"tile outside the canvas", test::MakeFrame(0, 64, 64, {SolidTile(40, 0, 32, 32, cGreen)}),
       "fora da tela"},
      {"empty tile", test::MakeFrame(0, 64, 64, {{0, 0, 0, 8, test::EncodeJpeg(8, 8, cGreen)}}),
       "fora da tela"},
      {"bytes after the last tile", Mutated([](TBytes& F) { F.push_back(0); }), "sobrando"},
      {"monitor beyond the count", Mutated([](TBytes& F) { F[0] = 2; }), "fora dos 2"},
      {"not a JPEG", test::MakeFrame(0, 64, 64, {{0, 0, 64, 64, TBytes(100, 0x11)}}),
       "JPEG inválido"},
      {"damaged JPEG", test::MakeFrame(0, 64, 64, {{0, 0, 64, 64, Garbage}}), "JPEG"},
      {"JPEG cut short", test::MakeFrame(0, 64, 64, {{0, 0, 64, 64, Half}}), "JPEG"},
      {"JPEG of another size",
       test::MakeFrame(0, 64, 64, {{0, 0, 64, 64, test::EncodeJpeg(32, 32, cGreen)}}),
       "JPEG de 32x32"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TFrameResult Before =
        Decoder.Apply(Canvases, test::MakeFrame(0, 64, 64, {SolidTile(0, 0, 64, 64, cRed)}));
    ASSERT_TRUE(Before.Ok) << Before.Error;
    const TFrameResult Result = Decoder.Apply(Canvases, Case.Frame);
    EXPECT_FALSE(Result.Ok);
    EXPECT_NE(Result.Error.find(Case.Error), std::string::npos) << Result.Error;
    EXPECT_EQ(Canvases.Find(0)->Width(), 64);
    EXPECT_TRUE(Near(At(0, 32, 32), cRed));
  }
}

TEST_F(FrameDecoderTest, CanvasIsWrittenAsPng) {
  ASSERT_TRUE(
      Decoder.Apply(Canvases, test::MakeFrame(0, 80, 40, {SolidTile(0, 0, 64, 40, cBlue)})).Ok);
  halvora::test::TTempFolder Folder;
  std::string Error;
  ASSERT_TRUE(Canvases.WriteAll(Folder.Path(""), Error)) << Error;

  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgb;
  ASSERT_TRUE(test::ReadPng(Folder.Path("monitor-0.png"), Width, Height, Rgb));
  ASSERT_EQ(Width, 80);
  ASSERT_EQ(Height, 40);
  const std::pair<int, int> Points[] = {{0, 0}, {63, 39}, {64, 0}, {79, 39}};
  for (const auto& [X, Y] : Points) {
    const std::size_t Offset = (static_cast<std::size_t>(Y) * 80 + X) * 3;
    EXPECT_EQ((TRgb{Rgb[Offset], Rgb[Offset + 1], Rgb[Offset + 2]}), At(0, X, Y));
  }
}

}  // namespace
}  // namespace halvora::viewer
