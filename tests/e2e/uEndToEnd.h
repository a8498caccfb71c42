#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/linux/uChildProcess.h"
#include "support/linux/uXvfb.h"
#include "support/uTestFiles.h"

namespace halvora::test {

using namespace std::chrono_literals;

// The reference relay as a process on 127.0.0.1, with its database in AFolder.
class TRelayProcess {
 public:
  // APort 0 picks a free port; a restart passes the port of the first run. AOptions go to the
  // relay as well.
  TRelayProcess(const std::string& AFolder, std::uint16_t APort = 0,
                const std::vector<std::string>& AOptions = {});
  std::uint16_t Port() const { return FPort; }
  std::string Url() const;        // ws://127.0.0.1:<port>/relay
  std::string SecureUrl() const;  // wss://localhost:<port>/relay, with a certificate in AOptions
  void Kill(int ASignal);
  // An HTTP request to the relay's own endpoints, with the admin token; the status code, 0 when
  // it failed.
  int Http(const std::string& AMethod, const std::string& ATarget, const std::string& ABody = {});

 private:
  const std::string FAdminToken;  // handed to the relay in a file of the folder
  std::unique_ptr<TChildProcess> FProcess;
  std::uint16_t FPort = 0;
};

// How one test host program starts: the program with its arguments and environment, its
// settings file as this process sees it, and how the host names a path of this process.
struct THostLaunch {
  std::string Program;
  std::vector<std::string> Args;
  std::vector<std::string> Environment;
  std::string SettingsFile;
  std::function<std::string(const std::string&)> HostPath = [](const std::string& APath) {
    return APath;
  };
};

// The Linux test host on X display ADisplay, with its settings and runtime folders under
// AFolder.
THostLaunch LinuxHost(const std::string& AFolder, const std::string& ADisplay);

// The test host (the program with its test seam), its state and commands files in AFolder.
// Unless its settings file exists, it starts with one that names the relay at ARelayUrl.
class THostProcess {
 public:
  THostProcess(const std::string& AFolder, const THostLaunch& ALaunch,
               const std::string& ARelayUrl);
  ~THostProcess();

  nlohmann::json State();  // the last state the host wrote; empty before the first
  bool WaitState(const std::function<bool(const nlohmann::json&)>& ACondition,
                 std::chrono::milliseconds ATimeout = 20s);
  void Command(const std::string& ACommand);  // see the seam's commands
  TChildProcess& Process() { return *FProcess; }
  int Threads();  // of the host process now
  int Sockets();

 private:
  std::string FFolder;
  std::unique_ptr<TChildProcess> FProcess;
};

// The command-line viewer run against the relay; AScript becomes its script file.
class TViewerProcess {
 public:
  TViewerProcess(const std::string& AFolder, const std::string& ARelayUrl,
                 const std::vector<std::string>& AArgs, const std::string& AScript);
  int Wait(std::chrono::milliseconds ATimeout = 60s);  // its exit code; -1 on timeout
  std::string Log() const;     // what it received (received.log)
  std::string Output() const;  // what it printed
  const std::string& Folder() const { return FOut; }  // its --out folder

 private:
  std::string FOut;
  std::unique_ptr<TChildProcess> FProcess;
};

}  // namespace halvora::test
