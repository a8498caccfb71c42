// The program on Linux: X11 for the screen and input, Qt for the window and the clipboard,
// systemd for the service.
#include <QApplication>
#include <QMessageBox>

#include <memory>

#include "app/linux/uInstanceMarker.h"
#include "app/uPlatform.h"
#include "brand/uBrandService.h"
#include "capture/x11/uX11ScreenSource.h"
#include "clipboard/qt/uQtClipboard.h"
#include "clipboard/uClipboardSync.h"
#include "input/uInputBlocker.h"
#include "input/uInputInjector.h"
#include "input/x11/uX11InputBlocker.h"
#include "input/x11/uX11InputInjector.h"
#include "install/uInstaller.h"
#include "install/uInstallerSteps.h"
#include "install/uSecureAttention.h"
#include "protocol/beast/uBeastTransport.h"
#include "session/uCaptureThread.h"
#include "ui/qt/uMainWindow.h"
#include "ui/qt/uQtMainLoop.h"

namespace halvora {
namespace {

QString BoxText(const std::string& AText) {
  return QString::fromStdString(AText).replace("\r\n", "\n");
}

// The questions and notices of the uninstaller as message boxes.
class TInstallDialogs final : public IInstallDialogs {
 public:
  bool Confirm(const std::string& AText) override {
    QMessageBox Box(QMessageBox::Question, IdleCaption, BoxText(AText),
                    QMessageBox::Yes | QMessageBox::No);
    return Box.exec() == QMessageBox::Yes;
  }
  void Inform(const std::string& AText) override {
    QMessageBox Box(QMessageBox::Information, IdleCaption, BoxText(AText));
    Box.exec();
  }
};

class TQtDesktop final : public IDesktop {
 public:
  TQtDesktop(QApplication& AApp, bool AAgent) : FApp(Prepared(AApp, AAgent)) {}

  IMainView& View() override { return FView; }
  IDialogs& Dialogs() override { return FView; }

  THostServices Services() override {
    SetInputPlatform([] { return NewX11InputSink({}); });
    THostServices Services;
    Services.Capture =
        std::make_shared<TCaptureFactory>([] { return NewX11ScreenSource({}); });
    Services.Input = std::make_shared<TInputQueue>();
    Services.Blocker = std::make_shared<TInputBlocker>([] { return NewX11InputBlock({}); });
    Services.Clip = FClip;
    Services.Brand = std::make_shared<TBrandService>();
    Services.SecureAttention = std::make_shared<TSecureAttention>();
    Services.Installer = std::make_shared<TInstaller>();
    return Services;
  }

  std::shared_ptr<ITransportFactory> Transports() override {
    return std::make_shared<TBeastTransportFactory>();
  }

  void Attach(TfrmMain& AController) override {
    FView.Attach(AController);
    FClip->SetOnNotify([&AController](const std::string& AText) { AController.SetStatus(AText); });
  }
  void Detach() override { FClip->SetOnNotify(nullptr); }

  int Run(bool AShowWindow, std::function<void()> ATick) override {
    TTickTimer Tick(std::move(ATick));
    if (AShowWindow) FView.show();
    return FApp.exec();
  }

 private:
  // Set up before the window is made.
  static QApplication& Prepared(QApplication& AApp, bool AAgent) {
    QApplication::setApplicationName(IdleCaption);
    // The agent lives in the tray: closing its last dialog must not end it.
    QApplication::setQuitOnLastWindowClosed(!AAgent);
    BindMainQueueToQt(MainQueue());
    return AApp;
  }

  QApplication& FApp;
  TMainWindow FView;
  const std::shared_ptr<TClipboardSync> FClip = NewQtClipboardSync();
};

class TLinuxPlatform final : public IPlatform {
 public:
  TLinuxPlatform(int& AArgc, char** AArgv) : FArgc(AArgc), FArgv(AArgv) {}

  void RunServiceDispatcher() override { halvora::RunServiceDispatcher(); }
  int RunInstall(const std::vector<std::string>& AArgs) override {
    TInstallContext Context = PlatformInstallContext(nullptr);
    return halvora::RunInstall(AArgs, Context);
  }
  int RunUninstall() override {
    Application();
    TInstallDialogs Dialogs;
    TInstallContext Context = PlatformInstallContext(&Dialogs);
    return halvora::RunUninstall(Context);
  }

  std::unique_ptr<IInstanceMarker> NewInstanceMarker() override {
    return std::make_unique<TInstanceMarker>(InstanceFolder(), DisplayKey());
  }
  void Inform(const std::string& AText) override {
    Application();
    QMessageBox Box(QMessageBox::Information, IdleCaption, QString::fromStdString(AText));
    Box.exec();
  }

  std::unique_ptr<IDesktop> NewDesktop(bool AAgent) override {
    return std::make_unique<TQtDesktop>(Application(), AAgent);
  }

 private:
  QApplication& Application() {
    if (!FApplication) FApplication = std::make_unique<QApplication>(FArgc, FArgv);
    return *FApplication;
  }

  int& FArgc;
  char** FArgv;
  std::unique_ptr<QApplication> FApplication;
};

}  // namespace

std::unique_ptr<IPlatform> NewPlatform(int& AArgc, char** AArgv) {
  return std::make_unique<TLinuxPlatform>(AArgc, AArgv);
}

}  // namespace halvora
