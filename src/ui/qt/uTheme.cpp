#include "ui/qt/uTheme.h"

#include <QGuiApplication>
#include <QPainter>

namespace halvora {

TButton::TButton(const QString& AText, QWidget* AParent) : QPushButton(AText, AParent) {}

TButtonState TButton::State() const {
  if (!isEnabled()) return TButtonState::bsDisabled;
  if (isDown()) return TButtonState::bsPressed;
  // Held on the button and dragged off it: Qt still counts the pointer as over it.
  const bool Held = QGuiApplication::mouseButtons() & Qt::LeftButton;
  return underMouse() && !Held ? TButtonState::bsHover : TButtonState::bsNormal;
}

void TButton::paintEvent(QPaintEvent*) {
  const TButtonColors& Colors = ButtonColors(State());
  QPainter Painter(this);
  const QWidget* Parent = parentWidget();
  Painter.fillRect(rect(), Parent ? Parent->palette().color(Parent->backgroundRole())
                                  : QColor(WindowBackground));

  // Half-pixel offsets put the 1 px pens exactly on the edge pixels.
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setPen(QColor(Colors.FOutline));
  Painter.setBrush(QColor(Colors.FFill));
  Painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  if (hasFocus() && isEnabled()) {
    Painter.setPen(QColor(FocusRing));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRoundedRect(QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5), 2, 2);
  }

  Painter.setPen(QColor(Colors.FCaption));
  Painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, text());
}

void TButton::enterEvent(QEnterEvent* AEvent) {
  QPushButton::enterEvent(AEvent);
  update();
}

void TButton::leaveEvent(QEvent* AEvent) {
  QPushButton::leaveEvent(AEvent);
  update();
}

}  // namespace halvora
