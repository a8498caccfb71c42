#include "ui/qt/uMainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QFontMetrics>

#include "ui/qt/uLiteralText.h"
#include "ui/uImages.h"

namespace halvora {
namespace {

constexpr int LogoSize = 56;
const QString cDialogTitle = QStringLiteral("Halvora");

QString ToQt(const std::string& AText) {
  return QString::fromStdString(AText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QColor ToColor(TColor AColor) {
  return QColor(static_cast<QRgb>(AColor));
}

QPixmap PngPixmap(const TIdBytes& APng) {
  QPixmap Pixmap;
  Pixmap.loadFromData(APng.data(), static_cast<uint>(APng.size()), "PNG");
  return Pixmap;
}

QIcon ApplicationIcon() {
  return QIcon(PngPixmap(ApplicationIconPng()));
}

void SetFill(QWidget* AWidget, QColor AColor) {
  QPalette Palette = AWidget->palette();
  Palette.setColor(QPalette::Window, AColor);
  AWidget->setPalette(Palette);
  AWidget->setAutoFillBackground(true);
}

template <typename T>
T* Place(T* AWidget, const char* AName, QRect AGeometry) {
  AWidget->setObjectName(QString::fromLatin1(AName));
  AWidget->setGeometry(AGeometry);
  return AWidget;
}

QWidget* Panel(QWidget* AParent, const char* AName, QRect AGeometry) {
  return Place(new QWidget(AParent), AName, AGeometry);
}

// Labels show their text as it is: much of it comes from the network and is never markup.
QLabel* Label(QWidget* AParent, const char* AName, QRect AGeometry, bool AWrap = false) {
  auto* Result = Place(new QLabel(AParent), AName, AGeometry);
  Result->setTextFormat(Qt::PlainText);
  Result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Result->setWordWrap(AWrap);
  return Result;
}

TButton* Button(QWidget* AParent, const char* AName, QRect AGeometry) {
  return Place(new TButton(QString(), AParent), AName, AGeometry);
}

void RenderCommon(QWidget* AWidget, const TComponentState& AState) {
  QFont Font = AWidget->font();
  Font.setPixelSize(AState.FontHeight);
  Font.setBold(AState.Bold);
  AWidget->setFont(Font);
  AWidget->setEnabled(AState.Enabled);
  AWidget->setVisible(AState.Visible);
}

void RenderPanel(QWidget* APanel, const TComponentState& AState) {
  SetFill(APanel, ToColor(AState.Color));
  APanel->setVisible(AState.Visible);
}

void RenderLabel(QLabel* ALabel, const TComponentState& AState) {
  ALabel->setText(ToQt(AState.Text));
  QPalette Palette = ALabel->palette();
  Palette.setColor(QPalette::WindowText, ToColor(AState.Color));
  ALabel->setPalette(Palette);
  RenderCommon(ALabel, AState);
}

// A substitute font may run wider than the one the layout was drawn for: a one-line label of
// fixed size then takes a smaller font rather than lose the end of its text.
void FitToWidth(QLabel* ALabel) {
  QFont Font = ALabel->font();
  while (Font.pixelSize() > 8 &&
         QFontMetrics(Font).horizontalAdvance(ALabel->text()) > ALabel->width())
    Font.setPixelSize(Font.pixelSize() - 1);
  ALabel->setFont(Font);
}

// TButton paints its caption in its own state colours, so the model's colour does not apply.
void RenderButton(TButton* AButton, const TComponentState& AState) {
  AButton->setText(ToQt(AState.Text));
  RenderCommon(AButton, AState);
}

}  // namespace

TMainWindow::TMainWindow() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(440, 384);
  SetFill(this, QColor(WindowBackground));
  QFont Font(QStringLiteral("Segoe UI"));
  Font.setPixelSize(12);
  setFont(Font);
  setWindowIcon(ApplicationIcon());

  FHeader = Panel(this, "pnlHeader", QRect(0, 0, 440, 76));
  FLogo = Label(FHeader, "imgLogo", QRect(16, 10, LogoSize, LogoSize));
  FLogo->setAlignment(Qt::AlignCenter);
  FTitle = Label(FHeader, "lblTitle", QRect(86, 12, 0, 0));
  FSubtitle = Label(FHeader, "lblSubtitle", QRect(87, 46, 0, 0));
  FAccent = Panel(this, "pnlAccent", QRect(0, 76, 440, 3));

  FLocal = Panel(this, "pnlLocal", QRect(16, 95, 408, 112));
  FLocalTitle = Label(FLocal, "lblLocalTitle", QRect(16, 12, 0, 0));
  FIdCaption = Label(FLocal, "lblIdCaption", QRect(16, 40, 0, 0));
  FId = Label(FLocal, "lblId", QRect(16, 58, 210, 37));
  FPassCaption = Label(FLocal, "lblPassCaption", QRect(236, 40, 0, 0));
  FPassword = Label(FLocal, "lblPassword", QRect(236, 58, 156, 37));
  QFont Mono(QStringLiteral("Consolas"));
  Mono.setStyleHint(QFont::TypeWriter);
  FPassword->setFont(Mono);
  FNewPassword = Button(FLocal, "btnNewPassword", QRect(296, 10, 96, 24));

  FHint = Label(this, "lblHint", QRect(16, 219, 408, 32), true);
  FStatus = Label(this, "lblStatus", QRect(16, 260, 408, 32), true);
  FFixed = Label(this, "lblFixed", QRect(16, 298, 290, 32), true);
  FRevoke = Button(this, "btnRevoke", QRect(314, 299, 110, 28));
  FInstall = Label(this, "lblInstall", QRect(164, 348, 142, 15));
  FInstall->setAlignment(Qt::AlignCenter);
  FInstall->setCursor(Qt::PointingHandCursor);
  FInstall->installEventFilter(this);
  FDisconnect = Button(this, "btnDisconnect", QRect(16, 342, 140, 28));
  FServer = Button(this, "btnServer", QRect(314, 342, 110, 28));

  FTray = new QSystemTrayIcon(ApplicationIcon(), this);
}

void TMainWindow::Attach(TfrmMain& AController) {
  FController = &AController;
  TfrmMain* C = FController;
  connect(FNewPassword, &QPushButton::clicked, this, [C] { C->btnNewPasswordClick(); });
  connect(FRevoke, &QPushButton::clicked, this, [C] { C->btnRevokeClick(); });
  connect(FDisconnect, &QPushButton::clicked, this, [C] { C->btnDisconnectClick(); });
  connect(FServer, &QPushButton::clicked, this, [C] { C->btnServerClick(); });
  connect(FTray, &QSystemTrayIcon::activated, this, [C](QSystemTrayIcon::ActivationReason AWhy) {
    if (AWhy == QSystemTrayIcon::Trigger) C->TrayClick();
  });
  ModelChanged();
}

void TMainWindow::ModelChanged() {
  if (!FController) return;
  const TMainWindowModel& M = FController->Model();
  setWindowTitle(LiteralCaption(ToQt(M.Caption)));
  RenderPanel(FHeader, M.pnlHeader);
  RenderPanel(FAccent, M.pnlAccent);
  RenderPanel(FLocal, M.pnlLocal);
  const std::pair<QLabel*, const TComponentState*> Labels[] = {{FTitle, &M.lblTitle},
                                                               {FSubtitle, &M.lblSubtitle},
                                                               {FLocalTitle, &M.lblLocalTitle},
                                                               {FIdCaption, &M.lblIdCaption},
                                                               {FId, &M.lblId},
                                                               {FPassCaption, &M.lblPassCaption},
                                                               {FPassword, &M.lblPassword},
                                                               {FHint, &M.lblHint},
                                                               {FStatus, &M.lblStatus},
                                                               {FFixed, &M.lblFixed},
                                                               {FInstall, &M.lblInstall}};
  for (const auto& [Lbl, State] : Labels) RenderLabel(Lbl, *State);
  // These labels take the size of their text.
  for (QLabel* Lbl : {FTitle, FSubtitle, FLocalTitle, FIdCaption, FPassCaption}) Lbl->adjustSize();
  for (QLabel* Lbl : {FId, FPassword, FInstall}) FitToWidth(Lbl);
  const std::pair<TButton*, const TComponentState*> Buttons[] = {{FNewPassword, &M.btnNewPassword},
                                                                 {FRevoke, &M.btnRevoke},
                                                                 {FDisconnect, &M.btnDisconnect},
                                                                 {FServer, &M.btnServer}};
  for (const auto& [Btn, State] : Buttons) RenderButton(Btn, *State);
  RenderLogo();
  // Visible first: how the tooltip must be put depends on who shows the icon.
  FTray->setVisible(M.Tray.Visible && QSystemTrayIcon::isSystemTrayAvailable());
  FTray->setToolTip(TrayToolTip(ToQt(M.Tray.Hint), CurrentTrayRoute()));
}

void TMainWindow::RenderLogo() {
  const TIdBytes& Logo = FController->BrandLogo();
  if (FLogoShown && Logo == FShownLogo) return;
  FShownLogo = Logo;
  FLogoShown = true;
  QImage Image;
  if (Logo.empty() || !Image.loadFromData(Logo.data(), static_cast<int>(Logo.size()), "PNG")) {
    FLogo->setPixmap(PngPixmap(BuiltInLogoPng()));
    return;
  }
  if (Image.width() > LogoSize || Image.height() > LogoSize)
    Image = Image.scaled(LogoSize, LogoSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  FLogo->setPixmap(QPixmap::fromImage(Image));
}

void TMainWindow::ShowBalloon(const std::string& ATitle, const std::string& AText) {
  // The title is the program's own; the message names the technician.
  if (FTray->isVisible())
    FTray->showMessage(ToQt(ATitle), BalloonMessage(ToQt(AText), CurrentTrayRoute()));
}

void TMainWindow::MinimizeApplication() {
  showMinimized();
}

void TMainWindow::RestoreApplication() {
  showNormal();
  raise();
}

void TMainWindow::ShowMainWindow() {
  show();
  showNormal();
  raise();
  activateWindow();
}

void TMainWindow::HideMainWindow() {
  // Without a notification area there is no icon to bring a hidden window back: it stays on
  // the taskbar, minimised.
  if (QSystemTrayIcon::isSystemTrayAvailable())
    hide();
  else
    showMinimized();
}

void TMainWindow::TerminateApplication() {
  QCoreApplication::quit();
}

bool TMainWindow::Confirm(const std::string& AText) {
  QMessageBox Box(QMessageBox::Question, cDialogTitle, ToQt(AText),
                  QMessageBox::Yes | QMessageBox::No, this);
  Box.setTextFormat(Qt::PlainText);
  return Box.exec() == QMessageBox::Yes;
}

void TMainWindow::Inform(const std::string& AText) {
  QMessageBox Box(QMessageBox::Information, cDialogTitle, ToQt(AText), QMessageBox::Ok, this);
  Box.setTextFormat(Qt::PlainText);
  Box.exec();
}

bool TMainWindow::Input(const std::string& ATitle, const std::string& APrompt,
                        std::string& AValue) {
  QInputDialog Dialog(this);
  Dialog.setWindowTitle(ToQt(ATitle));
  Dialog.setLabelText(ToQt(APrompt));
  Dialog.setTextValue(ToQt(AValue));
  // The prompt's label guesses its format, and QInputDialog has no setting for it.
  for (QLabel* Prompt : Dialog.findChildren<QLabel*>()) Prompt->setTextFormat(Qt::PlainText);
  if (Dialog.exec() != QDialog::Accepted) return false;
  AValue = Dialog.textValue().toStdString();
  return true;
}

void TMainWindow::closeEvent(QCloseEvent* AEvent) {
  if (!FController || FController->FormCloseQuery())
    AEvent->accept();
  else
    AEvent->ignore();
}

bool TMainWindow::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == FInstall && AEvent->type() == QEvent::MouseButtonRelease && FController) {
    const auto* Mouse = static_cast<QMouseEvent*>(AEvent);
    if (Mouse->button() == Qt::LeftButton &&
        FInstall->rect().contains(Mouse->position().toPoint())) {
      FController->lblInstallClick();
      return true;
    }
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

}  // namespace halvora
