#include "capture/uScreenCapture.h"

#include <algorithm>
#include <cstring>

#include "protocol/uFrameMessage.h"

namespace halvora {

namespace {

constexpr int Block = 64;
constexpr int DefaultQuality = 60;

}  // namespace

TScreenCapturer::TScreenCapturer(std::unique_ptr<IScreenGrabber> AGrabber)
    : FGrabber(std::move(AGrabber)) {}

TScreenCapturer::~TScreenCapturer() {
  FreeBuffers();
}

bool TScreenCapturer::CaptureChanges(const TRect& AArea, std::uint8_t AMonitor,
                                     TIdBytes& APayload) {
  APayload.clear();
  const int Width = AArea.Right - AArea.Left;
  const int Height = AArea.Bottom - AArea.Top;
  if (Width <= 0 || Height <= 0) return false;
  if (Width != FWidth || Height != FHeight) AllocBuffers(Width, Height);
  const TPoint Origin{AArea.Left, AArea.Top};
  if (Origin != FOrigin) {
    FOrigin = Origin;
    FForceFull = true;
  }
  // An unchanged buffer equals the image last compared, so there is nothing to look for.
  if (!FGrabber->Grab(FOrigin, FDamage) && !FForceFull) return false;

  std::vector<TRect> Rects;
  FindChangedRects(Rects);
  if (Rects.empty()) return false;

  AppendFrameHeader(
      APayload, {AMonitor, static_cast<std::uint16_t>(FWidth), static_cast<std::uint16_t>(FHeight),
                 static_cast<std::uint16_t>(Rects.size())});
  for (const TRect& Rect : Rects) {
    WriteTile(Rect, APayload);
    KeepSent(Rect);
  }
  FForceFull = false;
  return true;
}

void TScreenCapturer::AllocBuffers(int AWidth, int AHeight) {
  FreeBuffers();
  const TGrabBuffer Buffer = FGrabber->Alloc(AWidth, AHeight);
  if (!Buffer.Bits) throw EScreenCapture("Falha ao criar o buffer de captura de tela");
  FBits = Buffer.Bits;
  FPitch = Buffer.Pitch;
  // Left undefined: the forced frame that follows never reads it.
  FPrev.reset(new std::uint8_t[static_cast<std::size_t>(AWidth) * AHeight * 4]);
  FWidth = AWidth;
  FHeight = AHeight;
  FForceFull = true;
}

void TScreenCapturer::FreeBuffers() {
  FGrabber->Free();
  FBits = nullptr;
  FPitch = 0;
  FPrev.reset();
  FWidth = 0;
  FHeight = 0;
}

void TScreenCapturer::FindChangedRects(std::vector<TRect>& AList) {
  const int Cols = (FWidth + Block - 1) / Block;
  const int Rows = (FHeight + Block - 1) / Block;
  if (!FForceFull) MarkTouched(Cols, Rows);
  FChanged.assign(Cols, FForceFull ? 1 : 0);
  for (int R = 0; R < Rows; ++R) {
    const int Y0 = R * Block;
    const int Y1 = std::min(Y0 + Block, FHeight);
    if (!FForceFull) MarkBlockRow(Y0, Y1, &FTouched[static_cast<std::size_t>(R) * Cols]);
    for (int C0 = 0; C0 < Cols;) {
      if (!FChanged[C0]) {
        ++C0;
        continue;
      }
      int C1 = C0 + 1;
      while (C1 < Cols && FChanged[C1]) ++C1;
      const TRect Run{C0 * Block, Y0, std::min(C1 * Block, FWidth), Y1};
      // Join the run to the rectangle of the same extent that ends right above it.
      auto Above = std::find_if(AList.rbegin(), AList.rend(), [&](const TRect& ARect) {
        return ARect.Left == Run.Left && ARect.Right == Run.Right && ARect.Bottom == Run.Top;
      });
      if (Above != AList.rend())
        Above->Bottom = Run.Bottom;
      else
        AList.push_back(Run);
      C0 = C1;
    }
  }
}

// Flags in FTouched the blocks that the damage of the last grab reaches.
void TScreenCapturer::MarkTouched(int AColumns, int ARows) {
  FTouched.assign(static_cast<std::size_t>(AColumns) * ARows, FDamage.Everything ? 1 : 0);
  if (FDamage.Everything) return;
  for (const TRect& Rect : FDamage.Rects) {
    const int Left = std::max(Rect.Left, 0), Top = std::max(Rect.Top, 0);
    const int Right = std::min(Rect.Right, FWidth), Bottom = std::min(Rect.Bottom, FHeight);
    if (Left >= Right || Top >= Bottom) continue;
    for (int R = Top / Block; R <= (Bottom - 1) / Block; ++R) {
      std::uint8_t* BlockRow = &FTouched[static_cast<std::size_t>(R) * AColumns];
      std::fill(BlockRow + Left / Block, BlockRow + (Right - 1) / Block + 1, 1);
    }
  }
}

// Sets the flag of each block of pixel rows AY0 to AY1 − 1 that the damage reaches (ATouched,
// one flag per column) and that differs from the image last sent. Each run of touched blocks
// is compared row by row across its whole width first: while the rows are equal, so is every
// block in them, and once one differs the blocks are compared from that row on, each up to
// its first difference. An unchanged screen thus costs one pass over what the damage reaches.
void TScreenCapturer::MarkBlockRow(int AY0, int AY1, const std::uint8_t* ATouched) {
  const int Cols = static_cast<int>(FChanged.size());
  for (int C0 = 0; C0 < Cols;) {
    if (!ATouched[C0]) {
      FChanged[C0++] = 0;
      continue;
    }
    int C1 = C0 + 1;
    while (C1 < Cols && ATouched[C1]) ++C1;
    const std::size_t X0 = static_cast<std::size_t>(C0) * Block * 4;
    const std::size_t X1 = static_cast<std::size_t>(std::min(C1 * Block, FWidth)) * 4;
    int First = AY0;
    while (First < AY1 && std::memcmp(Row(First) + X0, PrevRow(First) + X0, X1 - X0) == 0) ++First;
    for (int C = C0; C < C1; ++C) {
      const std::size_t BlockX = static_cast<std::size_t>(C) * Block * 4;
      const std::size_t Bytes = std::min<std::size_t>(X1 - BlockX, Block * 4);
      bool Changed = false;
      for (int Y = First; Y < AY1 && !Changed; ++Y)
        Changed = std::memcmp(Row(Y) + BlockX, PrevRow(Y) + BlockX, Bytes) != 0;
      FChanged[C] = Changed;
    }
    C0 = C1;
  }
}

void TScreenCapturer::WriteTile(const TRect& ARect, TIdBytes& AStream) {
  const int Quality = FQuality > 0 ? FQuality : DefaultQuality;
  const int Width = ARect.Right - ARect.Left;
  const int Height = ARect.Bottom - ARect.Top;
  const std::span<const std::uint8_t> Jpeg = FEncoder.Encode(
      Row(ARect.Top) + static_cast<std::size_t>(ARect.Left) * 4, FPitch, Width, Height, Quality);
  AppendFrameTile(AStream,
                  {static_cast<std::uint16_t>(ARect.Left), static_cast<std::uint16_t>(ARect.Top),
                   static_cast<std::uint16_t>(Width), static_cast<std::uint16_t>(Height), Jpeg});
}

// Takes the tile into FPrev. Only tiles go there: a pixel that the buffer got outside them was
// not compared (it was drawn after the grabber took its damage) and must still count as a
// change when the grabber reports it, so FPrev keeps what the viewer was sent.
void TScreenCapturer::KeepSent(const TRect& ARect) {
  const std::size_t Left = static_cast<std::size_t>(ARect.Left) * 4;
  const std::size_t Bytes = static_cast<std::size_t>(ARect.Right - ARect.Left) * 4;
  for (int Y = ARect.Top; Y < ARect.Bottom; ++Y)
    std::memcpy(PrevRow(Y) + Left, Row(Y) + Left, Bytes);
}

}  // namespace halvora
