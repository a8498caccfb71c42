#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "e2e/uEndToEnd.h"

namespace halvora::test {

inline constexpr int srNone = 0, srHost = 2;  // session roles as the host reports them
inline const std::string ReadyStatus = "Pronto. Aguardando o atendente.";

// Registered with an ID and waiting for a technician.
inline bool IsReady(const nlohmann::json& S) {
  return S["status"] == ReadyStatus &&
         std::regex_match(S["id"].get<std::string>(), std::regex("[0-9]{9}"));
}

// Temporary folders and the programs of an end-to-end test.
class TEndToEndTest : public ::testing::Test {
 protected:
  std::string Folder(const std::string& AName) {
    const std::string Path = Temp.Path(AName);
    std::filesystem::create_directories(Path);
    return Path;
  }
  std::unique_ptr<TRelayProcess> StartRelay(std::uint16_t APort = 0,
                                            const std::vector<std::string>& AOptions = {}) {
    return std::make_unique<TRelayProcess>(Folder("relay"), APort, AOptions);
  }
  std::unique_ptr<THostProcess> StartHost(const TRelayProcess& ARelay, const std::string& ADisplay,
                                          const std::string& AName = "host") {
    const std::string HostFolder = Folder(AName);
    return std::make_unique<THostProcess>(HostFolder, LinuxHost(HostFolder, ADisplay),
                                          ARelay.Url());
  }
  std::unique_ptr<TViewerProcess> Viewer(const TRelayProcess& ARelay,
                                         const std::vector<std::string>& AArgs,
                                         const std::string& AScript) {
    return std::make_unique<TViewerProcess>(Folder("viewers"), ARelay.Url(), AArgs, AScript);
  }
  // A viewer that gives the host's ID and current password.
  std::unique_ptr<TViewerProcess> Technician(const TRelayProcess& ARelay, THostProcess& AHost,
                                             const std::string& AScript) {
    const nlohmann::json State = AHost.State();
    return Viewer(ARelay, {"--id", State["id"], "--password", State["password"]}, AScript);
  }

  TTempFolder Temp;
};

}  // namespace halvora::test
