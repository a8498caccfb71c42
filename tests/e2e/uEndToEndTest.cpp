// The relay, the host and the viewer as separate processes on loopback: registration,
// admission, permanent access, a relay that goes away mid-session, and refusals.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <thread>

#include "e2e/uEndToEndFixture.h"

namespace halvora::test {
namespace {

class EndToEnd : public TEndToEndTest {
 protected:
  std::unique_ptr<THostProcess> StartHost(const TRelayProcess& ARelay,
                                          const std::string& AName = "host") {
    return TEndToEndTest::StartHost(ARelay, X.Display(), AName);
  }

  TXvfb X;
};

TEST_F(EndToEnd, RegistersAndKeepsItsIdAcrossRestarts) {
  std::string Id;
  std::uint16_t Port;
  {
    auto Relay = StartRelay();
    Port = Relay->Port();
    auto Host = StartHost(*Relay);
    ASSERT_TRUE(Host->WaitState(IsReady));
    Id = Host->State()["id"];
  }
  auto Relay = StartRelay(Port);
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady));
  EXPECT_EQ(Host->State()["id"], Id);
}

TEST_F(EndToEnd, AnotherKeyForAKnownIdIsRefusedAndWaitsLong) {
  auto Relay = StartRelay();
  std::string Id;
  {
    auto Host = StartHost(*Relay);
    ASSERT_TRUE(Host->WaitState(IsReady));
    Id = Host->State()["id"];
  }
  // A second computer claims the ID with a key of its own.
  WriteFile(Folder("impostor") + "/config/halvora/halvora.ini",
            "[Server]\nUrl=" + Relay->Url() + "\n[Client]\nId=" + Id + "\nKey=" +
                std::string(48, 'f') + "\n");
  auto Impostor = StartHost(*Relay, "impostor");
  ASSERT_TRUE(Impostor->WaitState([](const nlohmann::json& S) {
    return !S["waits"].empty() && S["attempts"].size() >= 2;
  })) << Impostor->State().dump();
  const nlohmann::json S = Impostor->State();
  EXPECT_EQ(S["waits"][0], 60000);  // asked for the long wait (cut short by the test seam)
  EXPECT_NE(S["status"], ReadyStatus);
  EXPECT_FALSE(S["status"].get<std::string>().empty());
  EXPECT_NE(S["id"], "") << "keeps its ID for the next attempt";
}

TEST_F(EndToEnd, AdmitsByPasswordOnlyWithTheRightOne) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady));
  const std::string Id = Host->State()["id"], Password = Host->State()["password"];

  auto Wrong = Viewer(*Relay, {"--id", Id, "--password", "errada"}, "");
  EXPECT_EQ(Wrong->Wait(), 4) << Wrong->Output();
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["role"] == srNone; }));

  auto Right = Viewer(*Relay, {"--id", Id, "--password", Password, "--name", "Fulano"},
                      "wait 1500\nend\n");
  EXPECT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["role"] == srHost && S["caption"] == "Halvora - em atendimento por Fulano";
  }));
  EXPECT_EQ(Right->Wait(), 0) << Right->Output();
  EXPECT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["role"] == srNone && S["status"] == "Sessão encerrada pelo atendente.";
  })) << Host->State().dump();
}

TEST_F(EndToEnd, PermanentAccessIsCountedUsedAndRevoked) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady));
  const std::string Id = Host->State()["id"];

  ASSERT_EQ(Relay->Http("POST", "/admin/hosts/" + Id + "/permanent", "tok-1|Empresa Um"), 200);
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["fixed"] ==
           "Uma empresa tem acesso permanente a este computador (entra sem a senha acima).";
  }));

  auto Trusted = Viewer(*Relay, {"--id", Id, "--token", "tok-1"}, "wait 300\nend\n");
  EXPECT_EQ(Trusted->Wait(), 0) << Trusted->Output();

  Host->Command("revoke");
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["fixed"] == ""; }));
  auto Revoked = Viewer(*Relay, {"--id", Id, "--token", "tok-1"}, "");
  EXPECT_EQ(Revoked->Wait(), 4) << "without the permanent access a password is needed";
}

TEST_F(EndToEnd, ARelayThatDiesEndsTheSessionAndTheHostComesBack) {
  auto Relay = StartRelay();
  const std::uint16_t Port = Relay->Port();
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady));
  const std::string Id = Host->State()["id"];
  // A first session starts the input worker, which stays for the life of the program; its
  // pointer move makes the worker open its display connection well before the baseline.
  auto First = Viewer(*Relay, {"--id", Id, "--password", Host->State()["password"]},
                      "mouse 0 1000 1000 0\nwait 1000\nend\n");
  ASSERT_EQ(First->Wait(), 0) << First->Output();
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["role"] == srNone && S["status"] == "Sessão encerrada pelo atendente.";
  }));
  const int Threads = Host->Threads(), Sockets = Host->Sockets();

  auto Technician = Viewer(*Relay, {"--id", Id, "--password", Host->State()["password"]},
                           "wait 20000\n");
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["role"] == srHost; }));
  Relay->Kill(SIGKILL);
  EXPECT_TRUE(Host->WaitState([](const nlohmann::json& S) {
    return S["role"] == srNone &&
           S["status"] == "Sem conexão com o servidor. Tentando reconectar...";
  }));
  EXPECT_EQ(Technician->Wait(), 2) << Technician->Output();

  Relay = StartRelay(Port);
  const auto Back = std::chrono::steady_clock::now();
  ASSERT_TRUE(Host->WaitState(IsReady, 10s));
  EXPECT_LT(std::chrono::steady_clock::now() - Back, 4500ms) << "reconnects every 3 s";
  EXPECT_EQ(Host->State()["id"], Id);
  EXPECT_TRUE(WaitUntil([&] { return Host->Threads() == Threads && Host->Sockets() == Sockets; },
                        5s))
      << "threads " << Host->Threads() << " (was " << Threads << "), sockets "
      << Host->Sockets() << " (was " << Sockets << ")";
}

TEST_F(EndToEnd, ASecondTechnicianIsTurnedAwayFromABusyHost) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay);
  ASSERT_TRUE(Host->WaitState(IsReady));
  const std::string Id = Host->State()["id"], Password = Host->State()["password"];

  auto First = Viewer(*Relay, {"--id", Id, "--password", Password}, "wait 3000\nend\n");
  ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["role"] == srHost; }));
  auto Second = Viewer(*Relay, {"--id", Id, "--password", Password}, "");
  EXPECT_EQ(Second->Wait(), 3) << Second->Output();
  auto Unknown = Viewer(*Relay, {"--id", "000000001", "--password", "x"}, "");
  EXPECT_EQ(Unknown->Wait(), 3) << Unknown->Output();

  EXPECT_EQ(First->Wait(), 0) << "the first session went on undisturbed: " << First->Output();
}

}  // namespace
}  // namespace halvora::test
