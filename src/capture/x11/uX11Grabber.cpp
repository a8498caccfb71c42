#include "capture/x11/uX11Grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/x11/uX11Connection.h"

namespace halvora {

namespace {

class TX11ScreenGrabber : public IScreenGrabber {
 public:
  TX11ScreenGrabber(const std::string& ADisplayName, TPoint AVirtualOrigin, bool AAllowShm);
  ~TX11ScreenGrabber() override;

  TGrabBuffer Alloc(int AWidth, int AHeight) override;
  void Free() override;
  bool Grab(TPoint AOrigin, TDamageRegion& ADamage) override;

 private:
  struct TPointerState {
    int X = 0, Y = 0;
    unsigned long Serial = 0;
    TRect Box;  // where it is drawn, root coordinates; empty when it is not
    bool operator==(const TPointerState&) const = default;
  };

  bool AllocShm(int AWidth, int AHeight);
  bool TakeDamage();
  bool DamageIn(const TRect& AArea, const TPointerState& APointer, TDamageRegion& ADamage) const;
  bool CopyArea(int ARootX, int ARootY, int AWidth, int AHeight, int AToX, int AToY);
  void DrawPointer(XFixesCursorImage* ACursor, int ARootX, int ARootY);

  TX11Connection FConnection;
  Display* FDisplay;
  Window FRoot;
  Visual* FVisual;
  int FDepth;
  TPoint FVirtualOrigin;
  bool FAllowShm;
  bool FHasXFixes = false;
  Damage FDamage = 0;  // on the root; none when the server has no DAMAGE extension
  int FDamageEvent = 0;
  XserverRegion FDrawnRegion = 0;  // what FDamage held when it was last taken
  std::vector<TRect> FDrawn;       // its rectangles, root coordinates
  // What the buffer holds: the area at FGrabbedAt with the pointer as FPointer describes it.
  bool FCurrent = false;
  TPoint FGrabbedAt;
  TPointerState FPointer;
  int FWidth = 0;
  int FHeight = 0;
  std::size_t FPitch = 0;
  std::uint8_t* FBits = nullptr;
  XImage* FShmImage = nullptr;
  XShmSegmentInfo FShm{};
  std::unique_ptr<std::uint8_t[]> FPlain;  // the buffer when no shared memory is used
};

// True when the pixels of the default visual are 32-bit blue, green, red, unused in memory.
bool HasBgrxPixels(Display* ADisplay, const Visual* AVisual, int ADepth) {
  if (AVisual->c_class != TrueColor || (ADepth != 24 && ADepth != 32) ||
      AVisual->red_mask != 0xFF0000 || AVisual->green_mask != 0xFF00 ||
      AVisual->blue_mask != 0xFF || ImageByteOrder(ADisplay) != LSBFirst)
    return false;
  int Count = 0;
  XPixmapFormatValues* Formats = XListPixmapFormats(ADisplay, &Count);
  bool Found = false;
  for (int I = 0; I < Count; ++I)
    Found = Found || (Formats[I].depth == ADepth && Formats[I].bits_per_pixel == 32);
  XFree(Formats);
  return Found;
}

// Lays the premultiplied ARGB pixel AArgb over the BGRX pixel at APixel.
void Blend(std::uint8_t* APixel, std::uint32_t AArgb) {
  const std::uint32_t Keep = 255 - (AArgb >> 24);
  for (int I = 0; I < 3; ++I) {
    const std::uint32_t Over = (AArgb >> (8 * I)) & 0xFF;
    APixel[I] = static_cast<std::uint8_t>(
        std::min<std::uint32_t>(255, Over + (APixel[I] * Keep + 127) / 255));
  }
}

TX11ScreenGrabber::TX11ScreenGrabber(const std::string& ADisplayName, TPoint AVirtualOrigin,
                                     bool AAllowShm)
    : FConnection(ADisplayName),
      FDisplay(FConnection.Handle()),
      FRoot(DefaultRootWindow(FDisplay)),
      FVisual(DefaultVisual(FDisplay, DefaultScreen(FDisplay))),
      FDepth(DefaultDepth(FDisplay, DefaultScreen(FDisplay))),
      FVirtualOrigin(AVirtualOrigin),
      FAllowShm(AAllowShm) {
  if (!HasBgrxPixels(FDisplay, FVisual, FDepth))
    throw EScreenCapture(
        "Formato de tela não suportado: a captura exige cores TrueColor de 24 ou 32 bits");
  int Event = 0, Error = 0, Major = 0, Minor = 0;
  FHasXFixes = XFixesQueryExtension(FDisplay, &Event, &Error) &&
               XFixesQueryVersion(FDisplay, &Major, &Minor) && Major >= 1;
  // The server reports when anything is drawn on the root, so a still screen needs no copy.
  if (FHasXFixes && XDamageQueryExtension(FDisplay, &FDamageEvent, &Error) &&
      XDamageQueryVersion(FDisplay, &Major, &Minor)) {
    FDamage = XDamageCreate(FDisplay, FRoot, XDamageReportNonEmpty);
    FDrawnRegion = XFixesCreateRegion(FDisplay, nullptr, 0);
    if (!FConnection.Sync()) FDamage = 0;
  }
}

TX11ScreenGrabber::~TX11ScreenGrabber() {
  Free();
  if (FDamage) XDamageDestroy(FDisplay, FDamage);
  if (FDrawnRegion) XFixesDestroyRegion(FDisplay, FDrawnRegion);
}

TGrabBuffer TX11ScreenGrabber::Alloc(int AWidth, int AHeight) {
  Free();
  if (!AllocShm(AWidth, AHeight)) {
    FPitch = static_cast<std::size_t>(AWidth) * 4;
    FPlain.reset(new (std::nothrow) std::uint8_t[FPitch * AHeight]());
    if (!FPlain) return {};
    FBits = FPlain.get();
  }
  FWidth = AWidth;
  FHeight = AHeight;
  return {FBits, FPitch};
}

bool TX11ScreenGrabber::AllocShm(int AWidth, int AHeight) {
  if (!FAllowShm || !XShmQueryExtension(FDisplay)) return false;
  XImage* Image =
      XShmCreateImage(FDisplay, FVisual, FDepth, ZPixmap, nullptr, &FShm, AWidth, AHeight);
  if (!Image) return false;
  FShm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(Image->bytes_per_line) * AHeight,
                      IPC_CREAT | 0600);
  void* Address = FShm.shmid < 0 ? reinterpret_cast<void*>(-1) : shmat(FShm.shmid, nullptr, 0);
  bool Attached = false;
  if (Address != reinterpret_cast<void*>(-1)) {
    FShm.shmaddr = Image->data = static_cast<char*>(Address);
    FShm.readOnly = False;
    FConnection.Sync();
    Attached = XShmAttach(FDisplay, &FShm) && FConnection.Sync();
  }
  // Marked for removal at once, the segment goes when both sides have let go of it, even if
  // this process dies.
  if (FShm.shmid >= 0) shmctl(FShm.shmid, IPC_RMID, nullptr);
  if (!Attached) {
    if (Address != reinterpret_cast<void*>(-1)) shmdt(Address);
    Image->data = nullptr;
    XDestroyImage(Image);
    FShm = {};
    return false;
  }
  FShmImage = Image;
  FBits = reinterpret_cast<std::uint8_t*>(Image->data);
  FPitch = static_cast<std::size_t>(Image->bytes_per_line);
  return true;
}

void TX11ScreenGrabber::Free() {
  if (FShmImage) {
    XShmDetach(FDisplay, &FShm);
    FConnection.Sync();
    shmdt(FShm.shmaddr);
    FShmImage->data = nullptr;
    XDestroyImage(FShmImage);
    FShmImage = nullptr;
    FShm = {};
  }
  FPlain.reset();
  FBits = nullptr;
  FPitch = 0;
  FWidth = 0;
  FHeight = 0;
  FCurrent = false;
}

// Takes what was drawn on the root since the last call into FDrawn. The damage is taken
// before the copy that follows, so drawing during the copy stays in it and is reported next
// time too. False when the server cannot say (no DAMAGE, or the region could not be read).
bool TX11ScreenGrabber::TakeDamage() {
  FDrawn.clear();
  if (!FDamage) return false;
  bool Drawn = false;
  XEvent Event;
  while (XPending(FDisplay)) {
    XNextEvent(FDisplay, &Event);
    Drawn = Drawn || Event.type == FDamageEvent + XDamageNotify;
  }
  // The server reports only when its damage stops being empty, which taking it makes it.
  if (!Drawn) return true;
  XDamageSubtract(FDisplay, FDamage, None, FDrawnRegion);
  int Count = 0;
  XRectangle* Rects = XFixesFetchRegion(FDisplay, FDrawnRegion, &Count);
  if (!Rects) return false;
  for (int I = 0; I < Count; ++I)
    FDrawn.push_back(
        {Rects[I].x, Rects[I].y, Rects[I].x + Rects[I].width, Rects[I].y + Rects[I].height});
  XFree(Rects);
  return true;
}

// Sets ADamage to the parts of FDrawn and of the old and new pointer (when it moved or
// changed) that lie in AArea (root coordinates), in buffer coordinates. False when none do.
bool TX11ScreenGrabber::DamageIn(const TRect& AArea, const TPointerState& APointer,
                                 TDamageRegion& ADamage) const {
  ADamage.SetNone();
  auto Add = [&](const TRect& ARoot) {
    const TRect Rect{std::max(ARoot.Left, AArea.Left) - AArea.Left,
                     std::max(ARoot.Top, AArea.Top) - AArea.Top,
                     std::min(ARoot.Right, AArea.Right) - AArea.Left,
                     std::min(ARoot.Bottom, AArea.Bottom) - AArea.Top};
    if (Rect.Left < Rect.Right && Rect.Top < Rect.Bottom) ADamage.Rects.push_back(Rect);
  };
  for (const TRect& Rect : FDrawn) Add(Rect);
  if (APointer != FPointer) {
    Add(FPointer.Box);
    Add(APointer.Box);
  }
  return !ADamage.Rects.empty();
}

bool TX11ScreenGrabber::Grab(TPoint AOrigin, TDamageRegion& ADamage) {
  if (!FBits) return false;
  const int X = AOrigin.X + FVirtualOrigin.X;
  const int Y = AOrigin.Y + FVirtualOrigin.Y;
  XFixesCursorImage* Cursor = FHasXFixes ? XFixesGetCursorImage(FDisplay) : nullptr;
  TPointerState Pointer;
  if (Cursor) {
    const int Left = Cursor->x - Cursor->xhot, Top = Cursor->y - Cursor->yhot;
    Pointer = {Cursor->x,
               Cursor->y,
               Cursor->cursor_serial,
               {Left, Top, Left + Cursor->width, Top + Cursor->height}};
  }
  const bool Known = TakeDamage();
  if (Known && FCurrent && AOrigin == FGrabbedAt) {
    if (!DamageIn({X, Y, X + FWidth, Y + FHeight}, Pointer, ADamage)) {
      // Neither drawing nor the pointer reached the area: the buffer holds it as it is.
      FPointer = Pointer;
      if (Cursor) XFree(Cursor);
      return false;
    }
  } else {
    ADamage.SetEverything();
  }
  bool Copied = false;
  Window Root = 0;
  int RootX = 0, RootY = 0;
  unsigned RootWidth = 0, RootHeight = 0, Border = 0, Depth = 0;
  if (XGetGeometry(FDisplay, FRoot, &Root, &RootX, &RootY, &RootWidth, &RootHeight, &Border,
                   &Depth)) {
    // Only the part on the root window is copied; the rest of the buffer keeps its pixels.
    const int X0 = std::max(X, 0);
    const int Y0 = std::max(Y, 0);
    const int X1 = std::min(X + FWidth, static_cast<int>(RootWidth));
    const int Y1 = std::min(Y + FHeight, static_cast<int>(RootHeight));
    if (X0 >= X1 || Y0 >= Y1)
      Copied = true;
    else if (FShmImage && X0 == X && Y0 == Y && X1 == X + FWidth && Y1 == Y + FHeight)
      Copied = XShmGetImage(FDisplay, FRoot, FShmImage, X, Y, AllPlanes);
    else
      Copied = CopyArea(X0, Y0, X1 - X0, Y1 - Y0, X0 - X, Y0 - Y);
  }
  if (Cursor) {
    DrawPointer(Cursor, X, Y);
    XFree(Cursor);
  }
  // A failed copy is tried again next time, whatever the damage says.
  FCurrent = Copied;
  FGrabbedAt = AOrigin;
  FPointer = Pointer;
  return true;
}

bool TX11ScreenGrabber::CopyArea(int ARootX, int ARootY, int AWidth, int AHeight, int AToX,
                                 int AToY) {
  XImage* Image = XGetImage(FDisplay, FRoot, ARootX, ARootY, static_cast<unsigned>(AWidth),
                            static_cast<unsigned>(AHeight), AllPlanes, ZPixmap);
  if (!Image) return false;
  const bool Usable = Image->bits_per_pixel == 32;
  if (Usable)
    for (int Y = 0; Y < AHeight; ++Y)
      std::memcpy(FBits + (AToY + Y) * FPitch + static_cast<std::size_t>(AToX) * 4,
                  Image->data + static_cast<std::size_t>(Y) * Image->bytes_per_line,
                  static_cast<std::size_t>(AWidth) * 4);
  XDestroyImage(Image);
  return Usable;
}

// The area's top-left corner is at (ARootX, ARootY) on the root window.
void TX11ScreenGrabber::DrawPointer(XFixesCursorImage* ACursor, int ARootX, int ARootY) {
  const int Left = ACursor->x - ACursor->xhot - ARootX;
  const int Top = ACursor->y - ACursor->yhot - ARootY;
  for (int CY = std::max(0, -Top); CY < ACursor->height && Top + CY < FHeight; ++CY)
    for (int CX = std::max(0, -Left); CX < ACursor->width && Left + CX < FWidth; ++CX) {
      // One pixel per unsigned long, ARGB in its low 32 bits; transparent ones are skipped,
      // so an all-transparent (hidden) pointer draws nothing.
      const auto Argb = static_cast<std::uint32_t>(ACursor->pixels[CY * ACursor->width + CX]);
      if (Argb >> 24)
        Blend(FBits + (Top + CY) * FPitch + static_cast<std::size_t>(Left + CX) * 4, Argb);
    }
}

}  // namespace

std::unique_ptr<IScreenGrabber> NewX11ScreenGrabber(const std::string& ADisplayName,
                                                    TPoint AVirtualOrigin, bool AAllowShm) {
  return std::make_unique<TX11ScreenGrabber>(ADisplayName, AVirtualOrigin, AAllowShm);
}

}  // namespace halvora
