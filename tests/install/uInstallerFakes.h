#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "install/uInstallerSteps.h"
#include "support/uTempFolders.h"
#include "support/uTestFiles.h"

namespace halvora::test {

class TFakeElevation final : public IElevation {
 public:
  bool RunElevated(const std::vector<std::string>& AArgs, int& AExitCode) override {
    Calls.push_back(AArgs);
    if (!Starts) return false;
    AExitCode = ExitCode;
    return true;
  }
  bool Starts = true;
  int ExitCode = 0;
  std::vector<std::vector<std::string>> Calls;
};

class TFakeServices final : public IServiceManager {
 public:
  bool HasAccess() override { return Access; }
  bool InstallService(const std::string& AExePath) override {
    InstalledExe = AExePath;
    return Installs;
  }
  void RemoveService() override { ++Removals; }
  bool Access = true;
  bool Installs = true;
  std::string InstalledExe;
  int Removals = 0;
};

class TFakeEntry final : public IUninstallEntry {
 public:
  void Write(const TUninstallEntry& AEntry) override { Written.push_back(AEntry); }
  void Remove() override { ++Removals; }
  std::vector<TUninstallEntry> Written;
  int Removals = 0;
};

class TFakePolicy final : public ISasPolicy {
 public:
  void SetSasPolicy(bool AEnable) override {
    Calls.push_back(AEnable);
    if (Throws) throw std::runtime_error("policy");
  }
  bool Throws = false;
  std::vector<bool> Calls;
};

class TFakeDialogs final : public IInstallDialogs {
 public:
  bool Confirm(const std::string& AText) override {
    Questions.push_back(AText);
    return Answer;
  }
  void Inform(const std::string& AText) override { Notices.push_back(AText); }
  bool Answer = true;
  std::vector<std::string> Questions;
  std::vector<std::string> Notices;
};

// An installer context on temporary folders with fakes for every system part; the running
// program is a small file outside the installation.
struct TInstallRig {
  TInstallRig() {
    WriteFile(ProgramPath, "program");
    Context.Folders = &Folders;
    Context.ProgramPath = ProgramPath;
    Context.Elevation = Elevation;
    Context.Services = Services;
    Context.Entry = Entry;
    Context.Policy = Policy;
    Context.Dialogs = &Dialogs;
    Context.Sleep = [this](std::uint32_t AMilliseconds) { Sleeps.push_back(AMilliseconds); };
    Context.RemoveInstallFolder = [](const std::string& AFolder) {
      std::error_code Error;
      std::filesystem::remove_all(AFolder, Error);
    };
  }

  TTempFolders Folders;
  TTempFolder Source;
  std::string ProgramPath = Source.Path("build/halvora");
  std::shared_ptr<TFakeElevation> Elevation = std::make_shared<TFakeElevation>();
  std::shared_ptr<TFakeServices> Services = std::make_shared<TFakeServices>();
  std::shared_ptr<TFakeEntry> Entry = std::make_shared<TFakeEntry>();
  std::shared_ptr<TFakePolicy> Policy = std::make_shared<TFakePolicy>();
  TFakeDialogs Dialogs;
  std::vector<std::uint32_t> Sleeps;
  TInstallContext Context;
};

}  // namespace halvora::test
