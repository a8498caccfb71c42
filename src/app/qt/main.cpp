// The program: one executable for every mode, the interactive one on Qt.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

#include "app/linux/uInstanceMarker.h"
#include "app/uEntry.h"
#include "brand/uBrandService.h"
#include "capture/x11/uX11ScreenSource.h"
#include "clipboard/qt/uQtClipboard.h"
#include "clipboard/uClipboardSync.h"
#include "host/uHostSession.h"
#include "input/uInputBlocker.h"
#include "input/uInputInjector.h"
#include "input/x11/uX11InputBlocker.h"
#include "input/x11/uX11InputInjector.h"
#include "host/uMain.h"
#include "install/uInstalacao.h"
#include "install/uInstaller.h"
#include "install/uInstallerSteps.h"
#include "install/uSecureAttention.h"
#include "install/uProcessArguments.h"
#include "ui/qt/uMainWindow.h"
#include "ui/qt/uQtMainLoop.h"

#ifdef HALVORA_TEST_SEAM
#include "e2e/uHostSeam.h"
#endif

namespace halvora {
namespace {

constexpr const char* IdleCaption = "Halvora";

class TInstaller final : public IInstaller {
 public:
  bool InstallElevated(const std::string& AServerUrl, const std::string& AId,
                       const std::string& AKey, const std::string& ABrandCode) override {
    TInstallContext Context = PlatformInstallContext(nullptr);
    return halvora::InstallElevated(Context, AServerUrl, AId, AKey, ABrandCode);
  }
};

// The questions and notices of the uninstaller as message boxes.
class TInstallDialogs final : public IInstallDialogs {
 public:
  bool Confirm(const std::string& AText) override {
    QMessageBox Box(QMessageBox::Question, IdleCaption, Text(AText),
                    QMessageBox::Yes | QMessageBox::No);
    return Box.exec() == QMessageBox::Yes;
  }
  void Inform(const std::string& AText) override {
    QMessageBox Box(QMessageBox::Information, IdleCaption, Text(AText));
    Box.exec();
  }

 private:
  static QString Text(const std::string& AText) {
    return QString::fromStdString(AText).replace("\r\n", "\n");
  }
};

// The technician's input goes to the process-wide injection worker.
class TInputQueue final : public IInputQueue {
 public:
  void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) override {
    halvora::QueueMouseInput(APacket, AMonitor);
  }
  void QueueKeyInput(const TKeyPacket& APacket) override { halvora::QueueKeyInput(APacket); }
  void QueueReleaseKeys() override { halvora::QueueReleaseKeys(); }
};

class TBlocker final : public IInputBlocker {
 public:
  void SetActive(bool AActive) override { FBlocker.SetActive(AActive); }
  bool Active() const override { return FBlocker.Active(); }

 private:
  TInputBlocker FBlocker{[] { return NewX11InputBlock({}); }};
};

class TModes final : public IEntryModes {
 public:
  TModes(int& AArgc, char** AArgv, std::vector<std::string> AArgs)
      : FArgc(AArgc), FArgv(AArgv), FArgs(std::move(AArgs)) {}

  void RunServiceDispatcher() override { halvora::RunServiceDispatcher(); }
  int RunInstall() override {
    TInstallContext Context = PlatformInstallContext(nullptr);
    return halvora::RunInstall(FArgs, Context);
  }
  int RunUninstall() override {
    Application();
    TInstallDialogs Dialogs;
    TInstallContext Context = PlatformInstallContext(&Dialogs);
    return halvora::RunUninstall(Context);
  }

  bool EnsureSingleInstance() override {
    FMarker = std::make_unique<TInstanceMarker>(InstanceFolder(), DisplayKey());
    return halvora::EnsureSingleInstance(*FMarker, IsInstalled(), [this](const std::string& AText) {
      Application();
      QMessageBox Box(QMessageBox::Information, IdleCaption, QString::fromStdString(AText));
      Box.exec();
    });
  }

  int RunInteractive() override {
    QApplication& App = Application();
    const bool Agent = IsAgentMode();
    QApplication::setApplicationName(IdleCaption);
    // The agent lives in the tray: closing its last dialog must not end it.
    QApplication::setQuitOnLastWindowClosed(!Agent);
    BindMainQueueToQt(MainQueue());

    TMainWindow View;
    TMainEnvironment Env;
    Env.ProgramPath = ProgramFilePath();
    Env.AgentMode = Agent;
    const bool Dev = HasSwitch(SWITCH_DEV);
    Env.DevMode = Dev;
    SetInputPlatform([] { return NewX11InputSink({}); });
    Env.Services.Capture = std::make_shared<TCaptureFactory>([] { return NewX11ScreenSource({}); });
    Env.Services.Input = std::make_shared<TInputQueue>();
    Env.Services.Blocker = std::make_shared<TBlocker>();
    const std::shared_ptr<TClipboardSync> Clip = NewQtClipboardSync();
    Env.Services.Clip = Clip;
    Env.Services.Brand = std::make_shared<TBrandService>();
    Env.Services.SecureAttention = std::make_shared<TSecureAttention>();
    Env.Services.Installer = std::make_shared<TInstaller>();
    Env.View = &View;
    Env.Dialogs = &View;
#ifdef HALVORA_TEST_SEAM
    test::THostSeam Seam(Env);  // the end-to-end test host only
#endif
    int Code = 0;
    {
      TfrmMain Controller(std::move(Env));
      View.Attach(Controller);
      Clip->SetOnNotify([&Controller](const std::string& AText) { Controller.SetStatus(AText); });
      // Notices stop before the controller goes (its destruction ends the session).
      struct TUnhook {
        TClipboardSync& Clip;
        ~TUnhook() { Clip.SetOnNotify(nullptr); }
      } Unhook{*Clip};
#ifdef HALVORA_TEST_SEAM
      Seam.Attach(Controller);
#endif
      // A later copy brings this one forward, but never in the middle of a session.
      FMarker->Listen([&] {
        if (Controller.Model().Caption == IdleCaption) View.ShowMainWindow();
      });
      // With the dev switch the ID and password also go to standard output, for a host that
      // runs where nobody sees its window (a demo on a private X server).
      std::string Shown;
      TTickTimer Tick([&] {
        Controller.tmrTickTimer();
        if (!Dev) return;
        const std::string Now = "Halvora: ID " + Controller.Model().lblId.Text + ", senha " +
                                Controller.Model().lblPassword.Text;
        if (Now != Shown) std::printf("%s\n", (Shown = Now).c_str());
        std::fflush(stdout);
      });
      if (!Agent) View.show();
      Code = App.exec();
    }
    MainQueue().Shutdown();
    return Code;
  }

 private:
  QApplication& Application() {
    if (!FApplication) FApplication = std::make_unique<QApplication>(FArgc, FArgv);
    return *FApplication;
  }

  int& FArgc;
  char** FArgv;
  const std::vector<std::string> FArgs;
  std::unique_ptr<TInstanceMarker> FMarker;
  std::unique_ptr<QApplication> FApplication;
};

}  // namespace
}  // namespace halvora

int main(int argc, char** argv) {
  std::vector<std::string> Args(argv, argv + argc);
  halvora::TModes Modes(argc, argv, Args);
  return halvora::RunEntry(Args, Modes);
}
