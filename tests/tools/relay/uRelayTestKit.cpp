#include "uRelayTestKit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "support/uWaitUntil.h"

namespace halvora::relay::test {

namespace fs = std::filesystem;

TRelayOptions TestOptions(std::string ADatabase) {
  TRelayOptions Result;
  Result.Address = "127.0.0.1";
  Result.Port = 0;
  Result.Database = std::move(ADatabase);
  Result.NoopInterval = 0;
  Result.Threads = 3;
  Result.Quiet = true;
  Result.AdminToken = TestAdminToken;
  return Result;
}

THttpResult AdminRequest(std::uint16_t APort, std::string_view AMethod, std::string_view ATarget,
                         std::string ABody) {
  return HttpRequest(APort, AMethod, ATarget, std::move(ABody), false,
                     {{"Authorization", std::string("Bearer ") + TestAdminToken}});
}

TTempFolder::TTempFolder() {
  static std::atomic<int> Counter{0};
  FPath =
      fs::temp_directory_path() / ("halvora-relay-test-" + std::to_string(std::random_device{}()) +
                                   "-" + std::to_string(++Counter));
  fs::create_directories(FPath);
}

TTempFolder::~TTempFolder() {
  std::error_code Ignored;
  fs::remove_all(FPath, Ignored);
}

void TTempFolder::Write(const std::string& ARelative, const std::string& AContent) const {
  const fs::path File = FPath / ARelative;
  fs::create_directories(File.parent_path());
  std::ofstream(File, std::ios::binary) << AContent;
}

TMessage Expect(TRelayTestClient& AClient, std::uint8_t ACmd, std::chrono::milliseconds ATimeout) {
  const auto Message = AClient.Receive(ATimeout);
  if (!Message) {
    ADD_FAILURE() << "expected message " << int(ACmd) << ", got none";
    return {};
  }
  EXPECT_EQ(int(Message->Cmd), int(ACmd)) << "payload: " << Message->Payload.substr(0, 80);
  return *Message;
}

std::string RegisterHost(TRelayTestClient& AHost, const std::string& AId, const std::string& AKey) {
  AHost.Send(1, "2|C|" + AId + "|" + AKey);
  const std::string Id = Expect(AHost, 2).Payload;
  Expect(AHost, 14);
  return Id;
}

void HelloTechnician(TRelayTestClient& ATechnician, const std::string& AToken) {
  ATechnician.Send(1, "2|A|" + AToken);
  EXPECT_EQ(Expect(ATechnician, 2).Payload, "");
}

std::string ConnectTo(TRelayTestClient& ATechnician, const std::string& AId, int AExpectedCode) {
  ATechnician.Send(50, AId + "|Ana|Suporte");
  const std::string Answer = Expect(ATechnician, 51).Payload;
  EXPECT_EQ(Answer.substr(0, Answer.find('|')), std::to_string(AExpectedCode)) << Answer;
  return Answer;
}

void Admit(TRelayTestClient& AHost, TRelayTestClient& ATechnician) {
  AHost.Send(11);
  AHost.Send(102, "\x01");
  EXPECT_EQ(Expect(ATechnician, 102).Payload, "\x01");
}

bool WaitOnline(std::uint16_t APort, const std::string& AId, bool AOnline) {
  return halvora::test::WaitUntil([&] {
    const auto Status =
        nlohmann::json::parse(AdminRequest(APort, "GET", "/admin/status").Body, nullptr, false);
    if (Status.is_object())
      for (const auto& Host : Status["hosts"])
        if (Host["id"] == AId && Host["online"] == AOnline) return true;
    return false;
  }, 10s);
}

}  // namespace halvora::relay::test
