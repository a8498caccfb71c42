#pragma once

#include <filesystem>
#include <string>

#include "relay/uRelayOptions.h"
#include "uRelayTestClient.h"

namespace halvora::relay::test {

inline constexpr const char* TestAdminToken = "token-de-teste-0123456789abcdef";

// Loopback, a free port, no log lines, no message 9, admin endpoint on with TestAdminToken.
TRelayOptions TestOptions(std::string ADatabase = ":memory:");

// A request to the admin endpoint with TestAdminToken.
THttpResult AdminRequest(std::uint16_t APort, std::string_view AMethod, std::string_view ATarget,
                         std::string ABody = {});

// A fresh folder below the system's temporary folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  const std::filesystem::path& Path() const { return FPath; }
  // Writes AContent to the file at ARelative (folders created).
  void Write(const std::string& ARelative, const std::string& AContent) const;

 private:
  std::filesystem::path FPath;
};

// The next message, which should have number ACmd (a test failure otherwise).
TMessage Expect(TRelayTestClient& AClient, std::uint8_t ACmd,
                std::chrono::milliseconds ATimeout = 10s);

// Host hello with AId and AKey; returns the welcomed ID after checking messages 2 and 14.
std::string RegisterHost(TRelayTestClient& AHost, const std::string& AId, const std::string& AKey);

// Technician hello; checks the ready answer.
void HelloTechnician(TRelayTestClient& ATechnician, const std::string& AToken = {});

// Asks for AId and checks the answer's code; returns the whole answer text.
std::string ConnectTo(TRelayTestClient& ATechnician, const std::string& AId, int AExpectedCode);

// The host, which has had its access request, admits the paired technician (messages 11 and
// 102 with 1); checks that the technician learns of it.
void Admit(TRelayTestClient& AHost, TRelayTestClient& ATechnician);

// Polls GET /admin/status until the host AId shows AOnline (10 s at most).
bool WaitOnline(std::uint16_t APort, const std::string& AId, bool AOnline);

}  // namespace halvora::relay::test
