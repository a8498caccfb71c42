// The session controller over a scripted relay: roles, texts, admission and the direct path.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "install/uInstalacao.h"
#include "protocol/uProtocol.h"
#include "support/uHostHarness.h"
#include "support/uPlatformFacts.h"
#include "support/uSha256.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::THostHarness;

const std::string StoredKey(48, 'a');

TIdBytes Frame(std::uint8_t ACmd, std::string_view AText = {}) {
  TIdBytes Result(AText.size() + 1, ACmd);
  std::copy(AText.begin(), AText.end(), Result.begin() + 1);
  return Result;
}

int LinesStartingWith(const std::string& AText, std::string_view APrefix) {
  int Count = 0;
  std::size_t Start = 0;
  while (Start < AText.size()) {
    std::size_t End = AText.find('\n', Start);
    if (End == std::string::npos) End = AText.size();
    Count += std::string_view(AText).substr(Start, End - Start).starts_with(APrefix);
    Start = End + 1;
  }
  return Count;
}

class HostController : public ::testing::Test, public THostHarness {
 public:
  void SetUp() override {
    WriteSettings("[Server]\nUrl=ws://relay.test/relay\n[Client]\nId=123456789\nKey=" + StoredKey +
                  "\n");
    Start();
    TIdBytes Hello;
    ASSERT_TRUE(Relay->NextSent(Hello));
    ASSERT_EQ(Hello, Frame(cmdHello, "2|C|123456789|" + StoredKey));
    ASSERT_TRUE(RunUntil([&] { return Host->Status() == "Registrando no servidor..."; }));
  }

  // Delivers a message from the relay and lets the host handle it.
  void Receive(const TIdBytes& AMessage) {
    Relay->Push(AMessage);
    Sync();
  }
  void Receive(std::uint8_t ACmd, std::string_view AText = {}) { Receive(Frame(ACmd, AText)); }

  // Everything queued before has been handled once a marker that follows it has.
  void Sync() {
    ++FSyncs;
    Relay->Push(Frame(cmdPermanentCount, std::to_string(100000 + FSyncs)));
    ASSERT_TRUE(RunUntil([&] {
      return Host->Model().lblFixed.Text.rfind(std::to_string(100000 + FSyncs), 0) == 0;
    }));
  }

  // What the host sent since the last call, without hellos and keep-alives.
  std::vector<TIdBytes> Sent() {
    std::vector<TIdBytes> Result;
    for (TIdBytes& Message : Relay->TakeSent())
      if (Message[0] != cmdHello && Message[0] != cmdKeepAlive)
        Result.push_back(std::move(Message));
    return Result;
  }

  // Opens a challenge and returns its nonce.
  std::string Challenge(std::string_view ARequest = "987654321|Fulano|") {
    Receive(cmdAccessRequest, ARequest);
    const std::vector<TIdBytes> Messages = Sent();
    if (Messages.size() != 1 || Messages[0][0] != cmdChallenge) return {};
    return std::string(Messages[0].begin() + 1, Messages[0].end());
  }
  void Admit() {
    Receive(cmdTrustedAccess, "987654321|Fulano|");
    Sent();
  }
  std::string Proof(const std::string& ANonce) {
    return test::Sha256Hex(ANonce + ":" + Host->Password());
  }

  // Lets the relay client's thread take AMessages while the main thread runs nothing; returns
  // once a marker behind them waits in the main queue.
  void ReceiveOnClientThread(const std::vector<TIdBytes>& AMessages) {
    std::size_t Expected = Loop.Queue().PendingCount() + 1;
    for (const TIdBytes& Message : AMessages) {
      Relay->Push(Message);
      Expected += !IsDirect(Message[0]);
    }
    Relay->Push(Frame(cmdPermanentCount, "1"));
    const auto Guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Loop.Queue().PendingCount() < Expected && std::chrono::steady_clock::now() < Guard)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(Loop.Queue().PendingCount(), Expected);
  }
  static bool IsDirect(std::uint8_t ACmd) {
    return ACmd == cmdFrameAck || ACmd == cmdMouse || ACmd == cmdKey || ACmd == cmdSelectMonitor;
  }
  // What reached input or capture since the log was last cleared.
  std::vector<std::string> SessionCalls() {
    std::vector<std::string> Result;
    for (const std::string& Call : Fakes.Log.Calls())
      if (Call.starts_with("input.mouse") || Call.starts_with("input.key") ||
          Call == "capture.ack" || Call.starts_with("capture.monitor") || Call == "capture.start")
        Result.push_back(Call);
    return Result;
  }

 private:
  int FSyncs = 0;
};

using TRole = TSessionRole;

TEST_F(HostController, RoleTransitions) {
  struct TRow {
    const char* Name;
    TRole From;
    std::function<void(HostController&, const std::string& ANonce)> Event;
    TRole To;
    std::vector<TIdBytes> Sent;
    const char* Status;  // nullptr: not looked at
  };
  const TIdBytes Admitted{cmdAccessResult, 1}, Refused{cmdAccessResult, 0}, End{cmdHostEnd};
  const auto Msg = [](std::uint8_t ACmd, std::string AText = "") {
    return [=](HostController& AHost, const std::string&) { AHost.Receive(ACmd, AText); };
  };
  const TRow Rows[] = {
      {"request",
       TRole::srNone,
       Msg(cmdAccessRequest, "1|Ana|"),
       TRole::srHostAuth,
       {},
       "Ana está pedindo acesso..."},
      {"trusted",
       TRole::srNone,
       Msg(cmdTrustedAccess, "1|Ana|"),
       TRole::srHost,
       {Admitted},
       "Este computador está sendo controlado por Ana."},
      {"trusted while asking",
       TRole::srHostAuth,
       Msg(cmdTrustedAccess, "2|Bia|"),
       TRole::srHost,
       {Admitted},
       "Este computador está sendo controlado por Bia."},
      {"right proof",
       TRole::srHostAuth,
       [](HostController& AHost, const std::string& ANonce) {
         AHost.Receive(cmdProof, AHost.Proof(ANonce));
       },
       TRole::srHost,
       {{cmdProofAccepted}, Admitted},
       "Este computador está sendo controlado por Fulano."},
      {"wrong proof",
       TRole::srHostAuth,
       Msg(cmdProof, std::string(64, '0')),
       TRole::srNone,
       {Refused, End},
       "Tentativa de conexão recusada: senha incorreta."},
      {"deadline",
       TRole::srHostAuth,
       [](HostController& AHost, const std::string&) {
         AHost.Clock.Advance(30000);
         AHost.Host->tmrTickTimer();
       },
       TRole::srNone,
       {End},
       "A conexão não foi concluída a tempo."},
      {"ended by technician while asking",
       TRole::srHostAuth,
       Msg(cmdSessionEnded),
       TRole::srNone,
       {},
       "Sessão encerrada pelo atendente."},
      {"ended by technician",
       TRole::srHost,
       Msg(cmdSessionEnded),
       TRole::srNone,
       {},
       "Sessão encerrada pelo atendente."},
      {"ended by the button while asking",
       TRole::srHostAuth,
       [](HostController& AHost, const std::string&) { AHost.Host->btnDisconnectClick(); },
       TRole::srNone,
       {End},
       "Sessão encerrada."},
      {"ended by the button",
       TRole::srHost,
       [](HostController& AHost, const std::string&) { AHost.Host->btnDisconnectClick(); },
       TRole::srNone,
       {End},
       "Sessão encerrada."},
      {"connection lost",
       TRole::srHost,
       [](HostController& AHost, const std::string&) {
         AHost.Relay->Drop();
         AHost.RunUntil([&] { return AHost.Host->Role() == TRole::srNone; });
       },
       TRole::srNone,
       {},
       "Sem conexão com o servidor. Tentando reconectar..."},
      {"new server address",
       TRole::srHost,
       [](HostController& AHost, const std::string&) {
         AHost.Fakes.View.FInputValue = "ws://other.test/relay";
         AHost.Host->btnServerClick();
       },
       TRole::srNone,
       {},
       "Conectando ao servidor..."},
      {"installed",
       TRole::srHost,
       [](HostController& AHost, const std::string&) { AHost.Host->lblInstallClick(); },
       TRole::srNone,
       {End},
       nullptr},
      // The relay pairs one technician at a time: a request means it ended the session.
      {"request during a session",
       TRole::srHost,
       Msg(cmdAccessRequest, "3|Caio|"),
       TRole::srHostAuth,
       {},
       "Caio está pedindo acesso..."},
      {"trusted during a session",
       TRole::srHost,
       Msg(cmdTrustedAccess, "3|Caio|"),
       TRole::srHost,
       {Admitted},
       "Este computador está sendo controlado por Caio."},
      {"proof without a challenge",
       TRole::srNone,
       Msg(cmdProof, std::string(64, '0')),
       TRole::srNone,
       {},
       "Registrando no servidor..."},
      {"end without a session",
       TRole::srNone,
       Msg(cmdSessionEnded),
       TRole::srNone,
       {},
       "Registrando no servidor..."},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    TearDown();
    Host.reset();
    Relay->TakeSent();
    SetUp();
    std::string Nonce;
    if (Row.From == TRole::srHostAuth) Nonce = Challenge();
    if (Row.From == TRole::srHost) {
      Receive(cmdTrustedAccess, "987654321|Fulano|");
      Sent();
    }
    ASSERT_EQ(Host->Role(), Row.From);
    Row.Event(*this, Nonce);
    EXPECT_EQ(Host->Role(), Row.To);
    std::vector<TIdBytes> Messages = Sent();
    if (Row.From != TRole::srHostAuth && Row.To == TRole::srHostAuth) {
      ASSERT_EQ(Messages.size(), 1u);
      EXPECT_EQ(Messages[0][0], cmdChallenge);
      Messages.clear();
    }
    EXPECT_EQ(Messages, Row.Sent);
    if (Row.Status) {
      EXPECT_EQ(Host->Status(), Row.Status);
    }
  }
}

TEST_F(HostController, WindowDestroyedDuringASessionTellsTheRelay) {
  Admit();
  Host.reset();
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdHostEnd}}));
}

TEST_F(HostController, ProofsAreComparedIgnoringLetterCaseOnly) {
  std::string Nonce = Challenge();
  std::string Upper = Proof(Nonce);
  for (char& Char : Upper) Char = static_cast<char>(std::toupper(static_cast<unsigned char>(Char)));
  Receive(cmdProof, Upper);
  EXPECT_EQ(Host->Role(), TRole::srHost);

  Host->btnDisconnectClick();
  Nonce = Challenge();
  Receive(cmdProof, Proof(Nonce) + " ");
  EXPECT_EQ(Host->Role(), TRole::srNone);

  // A proof over a nonce that a second request replaced.
  const std::string Old = Challenge();
  Challenge();
  Receive(cmdProof, Proof(Old));
  EXPECT_EQ(Host->Role(), TRole::srNone);
}

TEST_F(HostController, TheFifthWrongProofRenewsThePasswordAndTheCountStartsAgain) {
  const std::string First = Host->Password();
  for (int I = 1; I <= 4; ++I) {
    Challenge(I % 2 ? "1|Ana|" : "2|Bia|");
    Receive(cmdProof, "x");
    Receive(cmdProof, "x");  // no challenge open: ignored, not counted
    EXPECT_EQ(Host->Password(), First);
  }
  Challenge();
  Receive(cmdProof, "x");
  EXPECT_EQ(Host->Status(), "Muitas tentativas com senha incorreta. Uma nova senha foi gerada.");
  const std::string Second = Host->Password();
  EXPECT_NE(Second, First);
  EXPECT_EQ(Host->Model().lblPassword.Text, Second);
  for (int I = 1; I <= 4; ++I) {
    Challenge();
    Receive(cmdProof, "x");
  }
  EXPECT_EQ(Host->Password(), Second);
  EXPECT_EQ(Host->Status(), "Tentativa de conexão recusada: senha incorreta.");
}

TEST_F(HostController, AnAdmissionResetsTheFailureCount) {
  for (int I = 0; I < 4; ++I) {
    Challenge();
    Receive(cmdProof, "x");
  }
  Admit();
  Host->btnDisconnectClick();
  const std::string Password = Host->Password();
  Challenge();
  Receive(cmdProof, "x");
  EXPECT_EQ(Host->Password(), Password);
}

TEST_F(HostController, TheTechnicianIsNamedByNameAndQualifierOrByTheFormattedId) {
  struct TCase {
    const char* Request;
    const char* Status;
  };
  const TCase Cases[] = {
      {"111222333|  Fulano  |  Suporte X  ", "Fulano (Suporte X) está pedindo acesso..."},
      {"111222333|Fulano|", "Fulano está pedindo acesso..."},
      {"111222333||Suporte X", "111 222 333 está pedindo acesso..."},
      {"12345|  |", "12345 está pedindo acesso..."},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Request);
    Challenge(Case.Request);
    EXPECT_EQ(Host->Status(), Case.Status);
  }
}

TEST_F(HostController, AChallengeLapsesBetween30And31sEvenAcrossTheTickWrap) {
  for (const std::uint32_t Start : {1000u, 0xFFFFFFFFu - 10000u}) {
    SCOPED_TRACE(Start);
    TearDown();
    Host.reset();
    Relay->TakeSent();
    Clock.Advance(Start - Clock.GetTickCount());
    SetUp();
    Challenge();
    std::uint32_t Elapsed = 0;
    while (Host->Role() == TRole::srHostAuth && Elapsed < 40000) {
      Clock.Advance(250);
      Elapsed += 250;
      if (Elapsed % 1000 == 0) Host->tmrTickTimer();
    }
    EXPECT_GE(Elapsed, 30000u);
    EXPECT_LT(Elapsed, 31000u);
    EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdHostEnd}}));
  }
}

TEST_F(HostController, KeepAliveEvery15TicksOnlyWhileOnline) {
  const auto KeepAlives = [&] {
    int Count = 0;
    for (const TIdBytes& Message : Relay->TakeSent()) Count += Message[0] == cmdKeepAlive;
    return Count;
  };
  KeepAlives();
  Ticks(14);
  EXPECT_EQ(KeepAlives(), 0);
  Ticks(1);
  EXPECT_EQ(KeepAlives(), 1);
  Ticks(15);
  EXPECT_EQ(KeepAlives(), 1);

  Relay->Drop();
  ASSERT_TRUE(RunUntil([&] { return Host->Status().rfind("Sem conexão", 0) == 0; }));
  const int Before = Relay->Connections();
  // Offline the count wraps without sending; the relay client reconnects 3 s later.
  for (int I = 0; I < 15; ++I) {
    Host->tmrTickTimer();
  }
  EXPECT_EQ(KeepAlives(), 0);
  ASSERT_TRUE(Clock.WaitForWaits(1));  // the client waits before its next attempt
  Clock.Advance(3000);
  ASSERT_TRUE(RunUntil([&] { return Relay->Connections() > Before; }));
}

TEST_F(HostController, TheDirectPathServesOnlyARunningSession) {
  const TIdBytes Mouse{cmdMouse, 1, 0x10, 0x00, 0x20, 0x00, 7, 0xF8, 0xFF};
  const TIdBytes Key{cmdKey, 0x41, 0x00, 1};
  const std::vector<TIdBytes> Direct{{cmdFrameAck}, Mouse, Key, {cmdSelectMonitor, 2}};
  for (const TIdBytes& Message : Direct) Receive(Message);
  EXPECT_TRUE(Fakes.Log.Calls().empty());

  Admit();
  Fakes.Log.Clear();
  for (const TIdBytes& Message : Direct) Receive(Message);
  // Wrong lengths are dropped.
  for (const TIdBytes& Message : std::vector<TIdBytes>{{cmdMouse, 1, 2, 3, 4, 5, 6, 7},
                                                       {cmdKey, 1, 2},
                                                       {cmdKey, 1, 2, 3, 4},
                                                       {cmdSelectMonitor},
                                                       {cmdSelectMonitor, 1, 2}})
    Receive(Message);
  EXPECT_EQ(Fakes.Log.Calls(), (std::vector<std::string>{"capture.ack", "input.mouse 1 16 32 7",
                                                         "input.key 65 1", "capture.monitor 2"}));
}

// The relay may pair another technician as soon as a session ends; what that technician sends
// must not act here before the host has seen the end, however late the main thread runs.
TEST_F(HostController, NothingDeliveredAfterAnEndReachesInputOrCapture) {
  const TIdBytes Mouse{cmdMouse, 0, 0x10, 0x00, 0x20, 0x00, 1, 0, 0};
  const std::vector<TIdBytes> Intruder{Mouse, {cmdKey, 0x41, 0x00, 1}, {cmdFrameAck},
                                       {cmdSelectMonitor, 1}};
  struct TCase {
    const char* Name;
    std::function<void(HostController&)> End;
    TRole After;
  };
  const auto Message = [](std::uint8_t ACmd, const char* AText) {
    return [=](HostController& AHost) { AHost.ReceiveOnClientThread({Frame(ACmd, AText)}); };
  };
  const TCase Cases[] = {
      {"ended by the technician", Message(cmdSessionEnded, ""), TRole::srNone},
      {"another technician asks", Message(cmdAccessRequest, "2|Bia|"), TRole::srHostAuth},
      {"another technician is trusted", Message(cmdTrustedAccess, "2|Bia|"), TRole::srHost},
      {"link lost",
       [](HostController& AHost) {
         const int Before = AHost.Relay->Connections();
         AHost.Relay->Drop();
         ASSERT_TRUE(AHost.Clock.WaitForWaiters(1));  // the client waits to reconnect
         AHost.Clock.Advance(3000);
         const auto Guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         while (AHost.Relay->Connections() == Before && std::chrono::steady_clock::now() < Guard)
           std::this_thread::sleep_for(std::chrono::milliseconds(1));
       },
       TRole::srNone},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TearDown();
    Host.reset();
    Relay->TakeSent();
    SetUp();
    Admit();
    Fakes.Log.Clear();
    Case.End(*this);
    ReceiveOnClientThread(Intruder);
    EXPECT_EQ(SessionCalls(), std::vector<std::string>{});

    Sync();
    EXPECT_EQ(Host->Role(), Case.After);
    Fakes.Log.Clear();
    Receive(Mouse);
    // Only a new admission opens the path again.
    EXPECT_EQ(SessionCalls().size(), Case.After == TRole::srHost ? 1u : 0u);
  }
}

// Frames still on their way when a session ends must not reach whoever the relay pairs next.
TEST_F(HostController, TheSessionSendsNothingOnceItsEndHasArrived) {
  Admit();
  const TSendPacketFunc Send = Fakes.Capture->FSend;
  EXPECT_TRUE(Send(cmdMonitorInfo, {1, 0}));
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdMonitorInfo, 1, 0}}));
  ReceiveOnClientThread({Frame(cmdSessionEnded)});
  EXPECT_FALSE(Send(cmdMonitorInfo, {1, 0}));
  Sync();
  Admit();
  EXPECT_FALSE(Send(cmdMonitorInfo, {1, 0})) << "a new session does not revive an old sender";
  EXPECT_TRUE(Fakes.Capture->FSend(cmdMonitorInfo, {1, 0}));
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdMonitorInfo, 1, 0}}));
}

TEST_F(HostController, AProofOvertakenByTheEndOfItsPairingAdmitsNobody) {
  const TIdBytes Mouse{cmdMouse, 0, 0x10, 0x00, 0x20, 0x00, 1, 0, 0};
  const std::string Nonce = Challenge("1|Ana|");
  ReceiveOnClientThread({Frame(cmdProof, Proof(Nonce)), Frame(cmdSessionEnded),
                         Frame(cmdAccessRequest, "2|Bia|"), Mouse});
  Sync();
  EXPECT_EQ(Host->Role(), TRole::srHostAuth);
  EXPECT_EQ(Host->Status(), "Bia está pedindo acesso...");
  std::vector<TIdBytes> Messages = Sent();
  ASSERT_EQ(Messages.size(), 1u);  // Bia's challenge, and no 11, 102 or 7 for Ana
  EXPECT_EQ(Messages[0][0], cmdChallenge);
  EXPECT_EQ(SessionCalls(), std::vector<std::string>{});

  // A wrong proof in the same place still counts, and tells nobody.
  const std::string Password = Host->Password();
  for (int I = 0; I < 5; ++I) {
    ReceiveOnClientThread({Frame(cmdProof, "x"), Frame(cmdAccessRequest, "2|Bia|")});
    Sync();
  }
  EXPECT_NE(Host->Password(), Password);
  for (const TIdBytes& Sent : Sent()) EXPECT_EQ(Sent[0], cmdChallenge);
}

TEST_F(HostController, ASessionDrivesTheSubsystemsAndTheWindow) {
  Receive(cmdBlockInput, "\x01");  // before admission: ignored
  Receive(cmdClipText, "x");
  Receive(cmdSecureAttention);
  EXPECT_TRUE(Fakes.Log.Calls().empty());
  EXPECT_TRUE(Sent().empty());

  Receive(cmdTrustedAccess, "111222333|Fulano|Suporte X");
  EXPECT_EQ(Host->Model().Caption, "Halvora - em atendimento por Fulano (Suporte X)");
  EXPECT_EQ(Host->Model().Tray.Hint, "Halvora: Fulano (Suporte X) está acessando este computador");
  EXPECT_TRUE(Host->Model().Tray.Visible);
  EXPECT_FALSE(Host->Model().btnNewPassword.Enabled);
  EXPECT_TRUE(Host->Model().btnDisconnect.Enabled);
  Sent();

  Receive(cmdBlockInput, "\x01");
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdBlockState, 1}}));
  EXPECT_EQ(Host->Status(), "Mouse e teclado bloqueados por Fulano (Suporte X).");
  Fakes.Blocker->FCanBlock = false;
  Receive(cmdBlockInput, "\x01");
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdBlockState, 0}}));
  EXPECT_EQ(Host->Status(), "Não foi possível bloquear o mouse e o teclado.");
  Receive(cmdBlockInput, std::string_view("\x00", 1));
  EXPECT_EQ(Host->Status(), "Este computador está sendo controlado por Fulano (Suporte X).");
  Receive(Frame(cmdBlockInput, "\x01\x01"));  // wrong length
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdBlockState, 0}}));

  Receive(cmdClipText, "abc");
  Receive(cmdSecureAttention);
  EXPECT_EQ(Host->Status(),
            "O atendente pediu Ctrl+Alt+Del, que só funciona com o Halvora instalado neste "
            "computador.");
  Fakes.Log.Clear();
  Receive(cmdSessionEnded);
  EXPECT_EQ(Fakes.Log.Calls(),
            (std::vector<std::string>{"blocker off", "clip.deactivate", "capture.stop",
                                      "input.release", "restore"}));
  EXPECT_EQ(Host->Model().Caption, "Halvora");
  EXPECT_FALSE(Host->Model().Tray.Visible);
  EXPECT_EQ(Host->Model().Tray.Hint, "Halvora - disponível para o suporte autorizado");
}

TEST_F(HostController, RelayTextsAndCounts) {
  Receive(cmdRefused, "1|ID em uso|x");
  EXPECT_EQ(Host->Status(), "ID em uso");
  Receive(cmdRefused, "sem separador");
  EXPECT_EQ(Host->Status(), "");
  struct TCase {
    const char* Count;
    bool Visible;
    const char* Text;
  };
  const TCase Cases[] = {
      {"1", true, "Uma empresa tem acesso permanente a este computador (entra sem a senha acima)."},
      {"3", true, "3 empresas têm acesso permanente a este computador (entram sem a senha acima)."},
      {"abc", false, nullptr},
      {"-2", false, nullptr},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Count);
    Relay->Push(Frame(cmdPermanentCount, Case.Count));
    // A barrier that leaves the count alone.
    const std::string Barrier = std::string("after ") + Case.Count;
    Relay->Push(Frame(cmdRefused, "|" + Barrier + "|"));
    ASSERT_TRUE(RunUntil([&] { return Host->Status() == Barrier; }));
    EXPECT_EQ(Host->Model().lblFixed.Visible, Case.Visible);
    EXPECT_EQ(Host->Model().btnRevoke.Visible, Case.Visible);
    if (Case.Text) {
      EXPECT_EQ(Host->Model().lblFixed.Text, Case.Text);
    }
  }
}

TEST_F(HostController, AWelcomeIsSavedAtOnceAndShownWhileOnline) {
  Receive(cmdWelcome, "555666777");
  EXPECT_EQ(Host->Status(), "Pronto. Aguardando o atendente.");
  EXPECT_EQ(Host->Model().lblId.Text, "555 666 777");
  EXPECT_NE(ReadSettings().find("Id=555666777"), std::string::npos);
  Relay->Drop();
  ASSERT_TRUE(RunUntil([&] { return Host->Model().lblId.Text == "--- --- ---"; }));
}

TEST_F(HostController, ABrandAnnouncement) {
  Receive(cmdBrand, "acme01|Acme Suporte|ignored");
  EXPECT_EQ(Host->BrandCode(), "acme01");
  EXPECT_NE(ReadSettings().find("Brand=acme01"), std::string::npos);
  EXPECT_EQ(Host->Model().lblTitle.Text, "Acme Suporte");
  EXPECT_EQ(Host->Model().lblSubtitle.Text, "Suporte remoto por Halvora");

  Fakes.Log.Clear();
  Receive(cmdBrand, "acme01|Outro nome");
  EXPECT_EQ(Host->Model().lblTitle.Text, "Acme Suporte");
  EXPECT_TRUE(Fakes.Log.Calls().empty());

  Admit();
  Receive(cmdBrand, "other9|Uma Revenda Com Nome Longo");  // 27 characters: the small title
  EXPECT_EQ(Host->Model().lblTitle.Text, "Uma Revenda Com Nome Longo");
  EXPECT_EQ(Host->Model().lblTitle.FontHeight, 16);
  EXPECT_EQ(Host->BrandCode(), "acme01");
  Fakes.Brand->FCachedName = "Acme";
  Host->btnDisconnectClick();
  EXPECT_EQ(Host->Model().lblTitle.Text, "Acme");
  EXPECT_EQ(Host->Model().lblTitle.FontHeight, 24);

  // Lookups that answer late: the session's brand no longer shows, the host's own does.
  const std::vector<TMarcaEvento> Reports = Fakes.Brand->FReports;
  ASSERT_EQ(Reports.size(), 3u);  // the host's, the session's, the host's again
  EXPECT_EQ(Fakes.Brand->FKinds, (std::vector<TBrandLookup>{
                                     TBrandLookup::blHost, TBrandLookup::blSession,
                                     TBrandLookup::blHost}));
  Reports[1]("other9", "Uma Revenda Com Nome Longo", {});
  EXPECT_EQ(Host->Model().lblTitle.Text, "Acme");
  Reports[2]("acme01", "Acme Suporte Técnico", {});
  EXPECT_EQ(Host->Model().lblTitle.Text, "Acme Suporte Técnico");
}

TEST_F(HostController, ValuesFromTheNetworkCannotAddSettings) {
  Receive(cmdWelcome, "123\n[Server]\nUrl=wss://evil.example/relay");
  Receive(cmdBrand, "abc\r\nKey=0|Nome");
  const std::string Text = ReadSettings();
  EXPECT_EQ(LinesStartingWith(Text, "["), 2);
  EXPECT_EQ(LinesStartingWith(Text, "Url="), 1);
  EXPECT_EQ(LinesStartingWith(Text, "Key="), 1);
  EXPECT_NE(Text.find("\nUrl=ws://relay.test/relay\n"), std::string::npos);
}

TEST(HostStart, ASettingsFileThatCannotBeWrittenIsReportedAndTheHostRunsOn) {
  THostHarness Harness;
  // A file where the settings folder should be: not writable, even for root.
  test::WriteFile(Harness.Folders.KnownFolderPath(TKnownFolder::kfUserAppData) +
                      test::ExpectedNames().AppFolder,
                  "not a folder");
  Harness.Start();
  EXPECT_TRUE(Harness.Host->Status().starts_with("Não foi possível salvar a configuração: "))
      << Harness.Host->Status();
  EXPECT_EQ(Harness.Host->Key().size(), 48u);
  TIdBytes Hello;
  ASSERT_TRUE(Harness.Relay->NextSent(Hello));
  EXPECT_EQ(Hello[0], cmdHello);
}

std::string InstallQuestion(const std::string& APrefix, bool ADuringSession) {
  std::string Text =
      "Instalar o Halvora neste computador?\r\n\r\nEle passa a iniciar com o Windows e fica "
      "disponível para o suporte autorizado, mesmo sem ninguém usando o computador. Para remover "
      "depois, use \"Aplicativos\" do Windows.";
  if (!APrefix.empty()) Text = APrefix + "\r\n\r\n" + Text;
  if (ADuringSession)
    Text += "\r\n\r\nO atendimento em andamento será encerrado; o atendente pode reconectar em "
            "seguida.";
  return Text;
}

TEST_F(HostController, AnInstallOfferAsksAndInstallsWithTheHostsIdentity) {
  Admit();
  Fakes.Log.Clear();
  // Installing disconnects, so no marker message can follow this one.
  Relay->Push(Frame(cmdInstallOffer, "Seu suporte recomenda instalar."));
  ASSERT_TRUE(RunUntil([&] {
    const auto Calls = Fakes.Log.Calls();
    return !Calls.empty() && Calls.back() == "terminate";
  }));
  const std::vector<std::string> Calls = Fakes.Log.Calls();
  ASSERT_GE(Calls.size(), 2u);
  EXPECT_EQ(Calls[0], "confirm " + InstallQuestion("Seu suporte recomenda instalar.", true));
  EXPECT_EQ(Calls[1], "install ws://relay.test/relay 123456789 " + StoredKey + " ");
  EXPECT_EQ(Calls.back(), "terminate");
  EXPECT_NE(std::find(Calls.begin(), Calls.end(),
                      "inform Halvora instalado. Ele continua disponível com o mesmo ID."),
            Calls.end());
  EXPECT_EQ(Host->Role(), TRole::srNone);
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdHostEnd}}));
}

TEST_F(HostController, AnInstallThatFailsOrIsDeclinedLeavesTheHostAsItWas) {
  Fakes.Installer->FSucceeds = false;
  Host->lblInstallClick();
  EXPECT_EQ(Fakes.Log.Calls().front(), "confirm " + InstallQuestion("", false));
  EXPECT_EQ(Host->Status(), "A instalação não foi concluída.");
  Fakes.Log.Clear();
  Fakes.View.FAnswerYes = false;
  Host->lblInstallClick();
  EXPECT_EQ(Fakes.Log.Calls().size(), 1u);  // the question only
  Receive(cmdWelcome, "555666777");  // still connected
  EXPECT_EQ(Host->MyId(), "555666777");
}

TEST(HostStart, NoInstallOfferWhenInstalledInAgentModeOrWithoutAnId) {
  struct TCase {
    const char* Name;
    bool Installed, Agent;
    const char* Id;
  };
  const TCase Cases[] = {{"installed", true, false, "1"},
                         {"agent", false, true, "1"},
                         {"no id yet", false, false, ""}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    THostHarness Harness;
    if (Case.Installed) {
      test::WriteFile(MachineSettingsPath(Harness.Folders), "");
      test::WriteFile(InstalledExePath(Harness.Folders), "");
    }
    test::WriteFile(Harness.SettingsFile(), std::string("[Client]\nId=") + Case.Id + "\n");
    TMainEnvironment Env = Harness.Environment();
    Env.AgentMode = Case.Agent;
    Harness.Start(std::move(Env));
    EXPECT_EQ(Harness.Host->Model().lblInstall.Visible, !Case.Installed);
    Harness.Host->PacketReceived(cmdInstallOffer, TextToBytes("Instale"));
    EXPECT_EQ(Harness.Host->Status(), "Instale");
    EXPECT_TRUE(Harness.Fakes.Log.Calls().empty());
  }
}

TEST(HostStart, InAgentModeTheTrayStaysAndClosingHidesTheWindow) {
  THostHarness Harness;
  TMainEnvironment Env = Harness.Environment();
  Env.AgentMode = true;
  Harness.Start(std::move(Env));
  EXPECT_TRUE(Harness.Host->Model().Tray.Visible);
  EXPECT_EQ(Harness.Host->Model().Tray.Hint, "Halvora - disponível para o suporte autorizado");
  EXPECT_FALSE(Harness.Host->FormCloseQuery());
  Harness.Host->TrayClick();
  EXPECT_EQ(Harness.Fakes.Log.Calls(), (std::vector<std::string>{"hide", "show"}));

  THostHarness Normal;
  Normal.Start();
  EXPECT_FALSE(Normal.Host->Model().Tray.Visible);
  EXPECT_TRUE(Normal.Host->FormCloseQuery());
  EXPECT_FALSE(Normal.Host->Model().btnServer.Visible);
}

TEST_F(HostController, TheServerDialogReconnectsOrChangesNothing) {
  Fakes.View.FInputOk = false;
  Host->btnServerClick();
  EXPECT_EQ(Fakes.Log.Calls(), (std::vector<std::string>{
                                   "input Servidor: Endereço do servidor (em branco = padrão) "
                                   "[ws://relay.test/relay]"}));
  EXPECT_EQ(Relay->Connections(), 1);
  Fakes.View.FInputOk = true;
  Fakes.View.FInputValue = "   ";
  Host->btnServerClick();
  EXPECT_EQ(Host->ServerUrl(), "wss://relay.halvora.example/relay");
  EXPECT_EQ(Host->Status(), "Conectando ao servidor...");
  EXPECT_NE(ReadSettings().find("Url=wss://relay.halvora.example/relay"), std::string::npos);
  EXPECT_EQ(Host->ApiUrl(), "http://relay.test");  // not derived again
  ASSERT_TRUE(RunUntil([&] { return Relay->Connections() == 2; }));
}

TEST_F(HostController, RevokingAsksFirst) {
  const std::string Question =
      "confirm Remover todos os acessos permanentes a este computador?\r\nO suporte volta a "
      "precisar da senha que aparece nesta tela.";
  Fakes.View.FAnswerYes = false;
  Host->btnRevokeClick();
  EXPECT_TRUE(Sent().empty());
  Fakes.View.FAnswerYes = true;
  Host->btnRevokeClick();
  EXPECT_EQ(Sent(), (std::vector<TIdBytes>{{cmdRevokePermanent}}));
  EXPECT_EQ(Fakes.Log.Calls(), (std::vector<std::string>{Question, Question}));
}

TEST_F(HostController, TheIdShowsOnlyOnlineAndFormattedOnlyWithNineCharacters) {
  EXPECT_EQ(Host->Model().lblId.Text, "123 456 789");  // the stored ID, before message 2
  Receive(cmdWelcome, "12345678");
  EXPECT_EQ(Host->Model().lblId.Text, "12345678");
  EXPECT_TRUE(Host->Model().btnNewPassword.Enabled);
  EXPECT_FALSE(Host->Model().btnDisconnect.Enabled);
  const std::string Before = Host->Password();
  Host->btnNewPasswordClick();
  EXPECT_NE(Host->Password(), Before);
  EXPECT_EQ(ReadSettings().find(Host->Password()), std::string::npos);
}

TEST_F(HostController, AnyMessageOfAnyShapeIsHandledSafely) {
  std::mt19937 Random(20261210);
  Admit();
  for (int Cmd = 0; Cmd <= 255; ++Cmd) {
    for (std::size_t Length = 0; Length <= 20; ++Length) {
      TIdBytes Payload(Length);
      for (auto& Byte : Payload) Byte = static_cast<std::uint8_t>(Random());
      const auto Command = static_cast<std::uint8_t>(Cmd);
      const bool Direct = Host->SessionPath().DirectPacket(Command, Payload);
      EXPECT_EQ(Direct, Command == cmdFrameAck || Command == cmdMouse || Command == cmdKey ||
                            Command == cmdSelectMonitor);
      if (!Direct) Host->PacketReceived(Command, Payload);
    }
  }
  EXPECT_EQ(Host->Key(), StoredKey);
  EXPECT_EQ(Host->ServerUrl(), "ws://relay.test/relay");
  // The file still holds exactly its two sections, whatever the values were.
  EXPECT_EQ(LinesStartingWith(ReadSettings(), "["), 2);
}

}  // namespace
}  // namespace halvora
