#pragma once

#include <QPushButton>
#include <QRgb>

namespace halvora {

inline constexpr QRgb WindowBackground = qRgb(0xEE, 0xF5, 0xF8);
inline constexpr QRgb FocusRing = qRgb(0x94, 0xC2, 0xCF);

// A button's look; when several apply, the first listed wins.
enum class TButtonState {
  bsDisabled,
  bsPressed,  // held down with the pointer over it (or by the keyboard)
  bsHover,
  bsNormal,
};

struct TButtonColors {
  QRgb FFill;
  QRgb FOutline;
  QRgb FCaption;
};

inline constexpr TButtonColors ButtonColorTable[] = {
    {qRgb(0xEE, 0xF5, 0xF8), qRgb(0xDD, 0xE5, 0xE8), qRgb(0x9A, 0xAA, 0xB0)},  // bsDisabled
    {qRgb(0x94, 0xC2, 0xCF), qRgb(0x2C, 0x73, 0x89), qRgb(0x1F, 0x3A, 0x44)},  // bsPressed
    {qRgb(0xEE, 0xF5, 0xF8), qRgb(0x2C, 0x73, 0x89), qRgb(0x2C, 0x73, 0x89)},  // bsHover
    {qRgb(0xFF, 0xFF, 0xFF), qRgb(0x40, 0x94, 0xAC), qRgb(0x2C, 0x73, 0x89)},  // bsNormal
};

constexpr const TButtonColors& ButtonColors(TButtonState AState) {
  return ButtonColorTable[static_cast<int>(AState)];
}

// A push button drawn in the program's colours: a rounded box, a focus ring while it has
// keyboard focus, and a centred one-line caption. The default button looks like any other.
class TButton : public QPushButton {
 public:
  explicit TButton(const QString& AText, QWidget* AParent = nullptr);

  TButtonState State() const;

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void enterEvent(QEnterEvent* AEvent) override;
  void leaveEvent(QEvent* AEvent) override;
};

}  // namespace halvora
