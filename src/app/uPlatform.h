#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/uSingleInstance.h"
#include "host/uMain.h"

namespace halvora {

// The caption of the idle window and of the program's message boxes.
inline constexpr const char* IdleCaption = "Halvora";

// The interactive mode's parts on one platform: the window, its event loop and the services
// the controller drives.
class IDesktop {
 public:
  virtual ~IDesktop() = default;
  virtual IMainView& View() = 0;
  virtual IDialogs& Dialogs() = 0;
  // The subsystems and the relay transports of this platform.
  virtual THostServices Services() = 0;
  virtual std::shared_ptr<ITransportFactory> Transports() = 0;
  // Connects the window and the clipboard's notices to AController; Detach undoes that
  // before the controller goes.
  virtual void Attach(TfrmMain& AController) = 0;
  virtual void Detach() = 0;
  // Runs the event loop, calling ATick every second, until the program is told to end; the
  // window shows first when AShowWindow.
  virtual int Run(bool AShowWindow, std::function<void()> ATick) = 0;
};

// One platform's program: the system side of each mode and the desktop of the interactive one.
class IPlatform {
 public:
  virtual ~IPlatform() = default;
  virtual void RunServiceDispatcher() = 0;
  virtual int RunInstall(const std::vector<std::string>& AArgs) = 0;
  virtual int RunUninstall() = 0;
  // The marker of one interactive copy per desktop session.
  virtual std::unique_ptr<IInstanceMarker> NewInstanceMarker() = 0;
  // Shows AText in a message box of its own, outside any window.
  virtual void Inform(const std::string& AText) = 0;
  virtual std::unique_ptr<IDesktop> NewDesktop(bool AAgent) = 0;
};

// The composition of the platform this program is built for (app/<platform>/).
std::unique_ptr<IPlatform> NewPlatform(int& AArgc, char** AArgv);

}  // namespace halvora
