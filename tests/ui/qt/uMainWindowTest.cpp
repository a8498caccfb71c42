// The main window over a headless controller: what it shows, where clicks go, closing, and
// the main queue driven by Qt's event loop.
#include "ui/qt/uMainWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

#include "protocol/uProtocol.h"
#include "support/uTestFiles.h"
#include "uTestApp.h"
#include "uWindowFixture.h"
#include "ui/qt/uQtMainLoop.h"

namespace halvora {
namespace {

using test::Near;
using test::StartSession;
using test::THostHarness;
using test::TWindowFixture;

std::string Hex(QRgb AColor) {
  return QColor(AColor).name().toStdString();
}

// --- what the window shows ---

struct TLookCase {
  const char* FName;
  std::function<void(THostHarness&)> FDrive;
  const char* FCaption;
  bool FDisconnectEnabled;
  const char* FFixed;  // nullptr: hidden, with the revoke button
};

void PrintTo(const TLookCase& ACase, std::ostream* AOut) {
  *AOut << ACase.FName;
}

class TWindowLook : public ::testing::TestWithParam<TLookCase> {};

TEST_P(TWindowLook, RendersTheModel) {
  const TLookCase& Case = GetParam();
  TWindowFixture F;
  Case.FDrive(F.H);

  const QImage Image = test::Screenshot(F.View);
  ASSERT_TRUE(QDir().mkpath(HALVORA_UI_ARTIFACTS));
  Image.save(
      QString(HALVORA_UI_ARTIFACTS "/window-%1%2.png").arg(Case.FName, test::PlatformSuffix()));

  EXPECT_EQ(Image.size(), QSize(440, 384));
  const std::pair<QPoint, QRgb> Pixels[] = {
      {{5, 5}, qRgb(0x2C, 0x73, 0x89)},      // header
      {{19, 38}, qRgb(0x40, 0x94, 0xAC)},    // built-in logo
      {{5, 77}, qRgb(0x94, 0xC2, 0xCF)},     // accent
      {{5, 90}, WindowBackground},          // window
      {{20, 100}, qRgb(0xFF, 0xFF, 0xFF)},   // local panel, top left
      {{410, 200}, qRgb(0xFF, 0xFF, 0xFF)},  // local panel, bottom right
  };
  for (const auto& [Point, Color] : Pixels)
    EXPECT_EQ(Hex(Image.pixel(Point)), Hex(Color)) << Point.x() << "," << Point.y();

  // Each label's text is drawn in its model colour: the glyphs' cores come within a few steps
  // of it (thin glyphs are never quite solid).
  const TMainWindowModel& M = F.H.Host->Model();
  for (const char* Name :
       {"lblTitle", "lblLocalTitle", "lblId", "lblPassword", "lblStatus", "lblInstall"}) {
    QLabel* Lbl = F.Find<QLabel>(Name);
    const QRect Box(Lbl->mapTo(&F.View, QPoint(0, 0)), Lbl->size());
    const QRgb Want = Lbl->palette().color(QPalette::WindowText).rgb();
    bool Found = false;
    for (int Y = Box.top(); Y <= Box.bottom() && !Found; ++Y)
      for (int X = Box.left(); X <= Box.right() && !Found; ++X)
        Found = Near(Image.pixel(X, Y), Want, 24);
    EXPECT_TRUE(Found) << Name << " has no pixel in " << Hex(Want);
  }
  EXPECT_EQ(Hex(F.Find<QLabel>("lblInstall")->palette().color(QPalette::WindowText).rgb()),
            Hex(static_cast<QRgb>(M.lblInstall.Color)));
  EXPECT_EQ(F.View.windowTitle().toStdString(), Case.FCaption);
  EXPECT_EQ(F.Text("lblStatus").toStdString(), M.lblStatus.Text);
  EXPECT_EQ(F.Text("lblPassword").toStdString(), F.H.Host->Password());
  EXPECT_EQ(F.Find("btnDisconnect")->isEnabled(), Case.FDisconnectEnabled);
  EXPECT_EQ(F.Find("btnNewPassword")->isEnabled(), !Case.FDisconnectEnabled);
  EXPECT_EQ(F.Find("lblFixed")->isHidden(), Case.FFixed == nullptr);
  EXPECT_EQ(F.Find("btnRevoke")->isHidden(), Case.FFixed == nullptr);
  if (Case.FFixed) {
    EXPECT_EQ(F.Text("lblFixed").toStdString(), Case.FFixed);
  }
  EXPECT_TRUE(F.Find("btnServer")->isHidden());
}

const std::vector<TLookCase> cLookCases = {
    {"idle", [](THostHarness&) {}, "Halvora", false, nullptr},
    {"session", StartSession, "Halvora - em atendimento por Fulano", true, nullptr},
    {"one_company", [](THostHarness& H) { EXPECT_TRUE(H.Deliver(cmdPermanentCount, "1")); },
     "Halvora", false,
     "Uma empresa tem acesso permanente a este computador (entra sem a senha acima)."},
    {"three_companies", [](THostHarness& H) { EXPECT_TRUE(H.Deliver(cmdPermanentCount, "3")); },
     "Halvora", false,
     "3 empresas têm acesso permanente a este computador (entram sem a senha acima)."},
};

INSTANTIATE_TEST_SUITE_P(States, TWindowLook, ::testing::ValuesIn(cLookCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.FName); });

// --- clicks ---

TEST(TMainWindow, NewPasswordShowsTheNewPassword) {
  TWindowFixture F;
  const std::string Before = F.H.Host->Password();
  F.Click("btnNewPassword");
  EXPECT_NE(F.H.Host->Password(), Before);
  EXPECT_EQ(F.Text("lblPassword").toStdString(), F.H.Host->Password());
}

TEST(TMainWindow, DisconnectEndsTheSession) {
  TWindowFixture F;
  StartSession(F.H);
  ASSERT_EQ(F.H.Host->Role(), TSessionRole::srHost);
  F.Click("btnDisconnect");
  EXPECT_EQ(F.H.Host->Role(), TSessionRole::srNone);
  EXPECT_EQ(F.View.windowTitle(), "Halvora");
  EXPECT_FALSE(F.Find("btnDisconnect")->isEnabled());
}

// Answers the dialog the next step opens once its event loop runs; modal dialogs never block.
void AnswerNextDialog(std::function<void(QWidget*)> AAnswer) {
  QTimer::singleShot(0, [AAnswer] {
    QWidget* Dialog = QApplication::activeModalWidget();
    if (!Dialog) {
      ADD_FAILURE() << "no dialog open";
      return;
    }
    AAnswer(Dialog);
  });
}

void Press(QWidget* ADialog, QMessageBox::StandardButton AButton) {
  auto* Box = qobject_cast<QMessageBox*>(ADialog);
  ASSERT_NE(Box, nullptr);
  EXPECT_EQ(Box->windowTitle(), "Halvora");
  Box->button(AButton)->click();
}

TEST(TMainWindow, RevokeAsksFirst) {
  for (const auto& [Answer, Revokes] :
       {std::pair{QMessageBox::Yes, true}, {QMessageBox::No, false}}) {
    SCOPED_TRACE(Revokes ? "yes" : "no");
    TWindowFixture F;
    ASSERT_TRUE(F.H.Deliver(cmdPermanentCount, "2"));
    F.H.Relay->TakeSent();
    AnswerNextDialog([Answer](QWidget* ADialog) { Press(ADialog, Answer); });
    F.Click("btnRevoke");
    TIdBytes Message;
    if (Revokes) {
      ASSERT_TRUE(F.H.Relay->NextSent(Message));
      EXPECT_EQ(Message, TIdBytes{cmdRevokePermanent});
    } else {
      EXPECT_FALSE(F.Sent(cmdRevokePermanent));
    }
  }
}

TEST(TMainWindow, ServerTakesTheEnteredAddress) {
  for (const bool Accept : {true, false}) {
    SCOPED_TRACE(Accept ? "ok" : "cancel");
    TWindowFixture F;
    const std::string Before = F.H.Host->ServerUrl();
    AnswerNextDialog([Accept, Before](QWidget* ADialog) {
      auto* Input = qobject_cast<QInputDialog*>(ADialog);
      ASSERT_NE(Input, nullptr);
      EXPECT_EQ(Input->windowTitle(), "Servidor");
      EXPECT_EQ(Input->labelText(), "Endereço do servidor (em branco = padrão)");
      for (const QLabel* Prompt : Input->findChildren<QLabel*>())
        EXPECT_EQ(Prompt->textFormat(), Qt::PlainText);
      EXPECT_EQ(Input->textValue().toStdString(), Before);
      Input->setTextValue("ws://outro.test/relay");
      Accept ? Input->accept() : Input->reject();
    });
    F.Click("btnServer");
    EXPECT_EQ(F.H.Host->ServerUrl(), Accept ? "ws://outro.test/relay" : Before);
  }
}

// --- text from the network ---

// A technician's display name, the relay's texts and a brand name carrying markup that would
// draw a fake badge and a local picture (solid red): every place shows the characters as they
// are, line breaks and "[*]" included, and the picture is never drawn.
TEST(TMainWindow, TextFromTheNetworkShowsAsItIs) {
  const test::TTempFolder Temp;
  const std::string Picture = Temp.Path("r.png");
  test::SaveRedPicture(Picture);
  const std::string Markup = "<b>Técnico verificado</b><img src=\"file://" + Picture + "\">";
  const std::string Name = Markup + " [*]";
  const auto NoPicture = [](const QImage& AShot) {
    return !AShot.isNull() && !test::Shows(AShot, qRgb(255, 0, 0), 40);
  };

  TWindowFixture F;
  ASSERT_TRUE(F.H.Deliver(cmdWelcome, "123456789"));
  struct TStep {
    const char* What;
    std::uint8_t Cmd;
    std::string Payload;
    const char* Label;
    std::string Shown;
  };
  const std::string Relay = Markup + "\n\n\n\nfim";
  const TStep Steps[] = {
      {"access request", cmdAccessRequest, "111222333|" + Name + "\n\n\n\n|", "lblStatus",
       Name + " está pedindo acesso..."},
      {"trusted access", cmdTrustedAccess, "111222333|" + Name + "\n\n\n\n|", "lblStatus",
       "Este computador está sendo controlado por " + Name + "."},
      {"refusal", cmdRefused, "x|" + Relay, "lblStatus", Relay},
      {"install offer", cmdInstallOffer, Relay, "lblStatus", Relay},
      {"brand", cmdBrand, "acme01|" + Markup, "lblTitle", Markup},
  };
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(Step.What);
    if (Step.Cmd == cmdInstallOffer) {
      AnswerNextDialog([&](QWidget* ADialog) {
        auto* Box = qobject_cast<QMessageBox*>(ADialog);
        ASSERT_NE(Box, nullptr);
        EXPECT_EQ(Box->textFormat(), Qt::PlainText);
        EXPECT_TRUE(Box->text().startsWith(QString::fromStdString(Relay + "\n\nInstalar")));
        EXPECT_TRUE(NoPicture(Box->grab().toImage()));
        Box->button(QMessageBox::No)->click();
      });
    }
    ASSERT_TRUE(F.H.Deliver(Step.Cmd, Step.Payload));
    QLabel* Shown = F.Find<QLabel>(Step.Label);
    EXPECT_EQ(Shown->textFormat(), Qt::PlainText);
    EXPECT_EQ(Shown->text().toStdString(), Step.Shown);
    EXPECT_TRUE(NoPicture(test::Screenshot(F.View)));
  }
  F.View.winId();
  EXPECT_EQ(F.View.windowHandle()->title().toStdString(), "Halvora - em atendimento por " + Name);
  const std::string Hint = F.H.Host->Model().Tray.Hint;
  EXPECT_TRUE(Hint.starts_with("Halvora: " + Name)) << Hint;
  // With no notification area here, no icon is shown and its tooltip is kept as it is.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_EQ(F.View.findChild<QSystemTrayIcon*>()->toolTip().toStdString(), Hint);
  }
}

TEST(TMainWindow, MessageBoxesShowTheirTextAsItIs) {
  const std::string Text = "<b>Aviso</b>\n<a href=\"x\">link</a> &amp;";
  for (const bool Question : {true, false}) {
    SCOPED_TRACE(Question ? "confirmation" : "information");
    TWindowFixture F;
    AnswerNextDialog([&](QWidget* ADialog) {
      auto* Box = qobject_cast<QMessageBox*>(ADialog);
      ASSERT_NE(Box, nullptr);
      EXPECT_EQ(Box->textFormat(), Qt::PlainText);
      EXPECT_EQ(Box->text().toStdString(), Text);
      Press(ADialog, Question ? QMessageBox::Yes : QMessageBox::Ok);
    });
    if (Question)
      EXPECT_TRUE(F.View.Confirm(Text));
    else
      F.View.Inform(Text);
  }
}

// --- closing and the tray ---

TEST(TMainWindow, CloseEndsOnlyOutsideAgentMode) {
  for (const bool Agent : {false, true}) {
    SCOPED_TRACE(Agent ? "agent" : "interactive");
    TWindowFixture F(Agent);
    F.View.show();
    EXPECT_EQ(F.View.close(), !Agent);
    if (Agent && QSystemTrayIcon::isSystemTrayAvailable()) {
      EXPECT_TRUE(F.View.isHidden());
    } else if (Agent) {
      EXPECT_TRUE(F.View.isMinimized());  // no tray to bring it back from
    }
  }
}

TEST(TMainWindow, TrayClickBringsTheWindowBack) {
  TWindowFixture F(true);
  F.View.show();
  F.View.HideMainWindow();
  auto* Tray = F.View.findChild<QSystemTrayIcon*>();
  ASSERT_NE(Tray, nullptr);
  EXPECT_EQ(Tray->toolTip().toStdString(), F.H.Host->Model().Tray.Hint);
  emit Tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(F.View.isVisible());
  EXPECT_FALSE(F.View.isMinimized());
}

// --- the main queue on Qt's loop ---

TEST(BindMainQueueToQt, QtLoopRunsPostsFromAnyThread) {
  test::TTestApp App;
  TMainQueue Queue;
  BindMainQueueToQt(Queue);
  std::vector<int> Ran;
  std::vector<std::thread::id> Threads;
  std::thread Worker([&] {
    for (int I = 0; I < 3; ++I)
      Queue.Post(&Queue, [&, I] {
        Ran.push_back(I);
        Threads.push_back(std::this_thread::get_id());
      });
  });
  Worker.join();
  EXPECT_TRUE(Ran.empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(Ran, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(Threads, std::vector<std::thread::id>(3, std::this_thread::get_id()));
  EXPECT_EQ(Queue.PendingCount(), 0u);
}

}  // namespace
}  // namespace halvora
