// The program on Windows: Win32 for the message loop and the message boxes, WinHTTP for the
// relay and the brand service. The screen, input, clipboard, window, installer and service of
// this platform are not built yet: until they are, the program keeps its relay link and
// admits technicians without showing a window.
#include <windows.h>

#include <memory>

#include "app/uPlatform.h"
#include "app/win32/uInstanceMarker.h"
#include "base/win32/uWin32Text.h"
#include "brand/uBrandService.h"
#include "install/uSecureAttention.h"
#include "protocol/win32/uWinHttpTransport.h"
#include "ui/win32/uWin32MainLoop.h"

namespace halvora {
namespace {

// The exit codes for what this platform cannot do yet: a failure of its own kind each.
constexpr int InstallUnavailable = 9;
constexpr int UninstallUnavailable = 1;

int MessageBoxUtf8(const std::string& AText, UINT AType) {
  return MessageBoxW(nullptr, Utf8ToWide(AText).c_str(), Utf8ToWide(IdleCaption).c_str(),
                     AType);
}

// Questions and notices as message boxes; no text is asked for without a window.
class TMessageBoxes final : public IDialogs {
 public:
  bool Confirm(const std::string& AText) override {
    return MessageBoxUtf8(AText, MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
  void Inform(const std::string& AText) override { MessageBoxUtf8(AText, MB_ICONINFORMATION); }
  bool Input(const std::string&, const std::string&, std::string&) override { return false; }
};

// No window to render into: only the end of the program has an effect.
class TWindowlessView final : public IMainView {
 public:
  explicit TWindowlessView(TWin32MainLoop& ALoop) : FLoop(ALoop) {}
  void ModelChanged() override {}
  void ShowBalloon(const std::string&, const std::string&) override {}
  void MinimizeApplication() override {}
  void RestoreApplication() override {}
  void ShowMainWindow() override {}
  void HideMainWindow() override {}
  void TerminateApplication() override { FLoop.Quit(0); }

 private:
  TWin32MainLoop& FLoop;
};

class TWin32Desktop final : public IDesktop {
 public:
  IMainView& View() override { return FView; }
  IDialogs& Dialogs() override { return FDialogs; }

  THostServices Services() override {
    THostServices Services;
    Services.Brand = std::make_shared<TBrandService>();
    Services.SecureAttention = std::make_shared<TSecureAttention>();
    return Services;
  }

  std::shared_ptr<ITransportFactory> Transports() override {
    return std::make_shared<TWinHttpTransportFactory>();
  }

  void Attach(TfrmMain&) override {}
  void Detach() override {}

  int Run(bool, std::function<void()> ATick) override { return FLoop.Run(std::move(ATick)); }

 private:
  TWin32MainLoop FLoop;  // first: the main queue is bound to this thread from here on
  TWindowlessView FView{FLoop};
  TMessageBoxes FDialogs;
};

class TWin32Platform final : public IPlatform {
 public:
  void RunServiceDispatcher() override {}
  int RunInstall(const std::vector<std::string>&) override { return InstallUnavailable; }
  int RunUninstall() override { return UninstallUnavailable; }

  std::unique_ptr<IInstanceMarker> NewInstanceMarker() override {
    return std::make_unique<TInstanceMarker>();
  }
  void Inform(const std::string& AText) override { MessageBoxUtf8(AText, MB_ICONINFORMATION); }

  std::unique_ptr<IDesktop> NewDesktop(bool) override {
    return std::make_unique<TWin32Desktop>();
  }
};

}  // namespace

std::unique_ptr<IPlatform> NewPlatform(int&, char**) { return std::make_unique<TWin32Platform>(); }

}  // namespace halvora
