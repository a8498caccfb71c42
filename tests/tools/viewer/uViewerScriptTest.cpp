#include "uViewerScript.h"

#include <gtest/gtest.h>

namespace halvora::viewer {
namespace {

TScriptCommand ParseOne(const std::string& ALine) {
  std::vector<TScriptCommand> Commands;
  std::string Error;
  EXPECT_TRUE(ParseScript(ALine, Commands, Error)) << Error;
  EXPECT_EQ(Commands.size(), 1u);
  return Commands.empty() ? TScriptCommand{} : Commands[0];
}

TEST(ViewerScript, ReadsEveryCommand) {
  using Op = TScriptOp;
  const auto Wait = ParseOne("wait 250");
  EXPECT_EQ(Wait.Op, Op::soWait);
  EXPECT_EQ(Wait.Ms, 250);

  const auto Frames = ParseOne("wait-frames 2");
  EXPECT_EQ(Frames.Op, Op::soWaitFrames);
  EXPECT_EQ(Frames.Count, 2);
  EXPECT_EQ(Frames.Ms, DefaultWaitMs);

  const auto For = ParseOne("wait-for 111 500");
  EXPECT_EQ(For.Op, Op::soWaitFor);
  EXPECT_EQ(For.Count, 111);
  EXPECT_EQ(For.Ms, 500);

  const auto Mouse = ParseOne("mouse 1 65535 0 7 -120");
  EXPECT_EQ(Mouse.Op, Op::soMouse);
  EXPECT_EQ((std::vector{Mouse.Monitor, Mouse.X, Mouse.Y, Mouse.Action, Mouse.Wheel}),
            (std::vector{1, 65535, 0, 7, -120}));

  const auto Click = ParseOne("click 0 10 20 right");
  EXPECT_EQ(Click.Op, Op::soClick);
  EXPECT_EQ((std::vector{Click.X, Click.Y, Click.Action}), (std::vector{10, 20, 3}));
  EXPECT_EQ(ParseOne("click 0 1 1").Action, 1);
  EXPECT_EQ(ParseOne("click 0 1 1 middle").Action, 5);
  EXPECT_EQ(ParseOne("wheel 0 5 6 120").Wheel, 120);
  EXPECT_EQ(ParseOne("move 2 5 6").Op, Op::soMove);

  const auto Key = ParseOne("key 0x25 down");
  EXPECT_EQ(Key.Keys, std::vector<std::uint16_t>{0x25});
  EXPECT_TRUE(Key.Down);
  EXPECT_FALSE(ParseOne("key 13 up").Down);

  EXPECT_EQ(ParseOne("type Ab 9").Keys, (std::vector<std::uint16_t>{0x41, 0x42, 0x20, 0x39}));
  EXPECT_EQ(ParseOne("clip-text  olá | # \"x").Text, "olá | # \"x");
  EXPECT_EQ(ParseOne("clip-text").Text, "");
  EXPECT_EQ(ParseOne("clip-files \"a b\" c/").Paths, (std::vector<std::string>{"a b", "c/"}));
  EXPECT_EQ(ParseOne("monitor 1").Count, 1);
  EXPECT_EQ(ParseOne("block 1").Count, 1);
  EXPECT_EQ(ParseOne("sas").Op, Op::soSas);
  EXPECT_EQ(ParseOne("snapshot").Op, Op::soSnapshot);
  EXPECT_EQ(ParseOne("end").Op, Op::soEnd);
  EXPECT_EQ(ParseOne("quit").Op, Op::soQuit);
}

TEST(ViewerScript, SkipsCommentsAndBlankLinesAndKeepsLineNumbers) {
  std::vector<TScriptCommand> Commands;
  std::string Error;
  ASSERT_TRUE(ParseScript("# início\r\n\r\n  wait 1  \r\n\t# outro\nsnapshot", Commands, Error));
  ASSERT_EQ(Commands.size(), 2u);
  EXPECT_EQ(Commands[0].Line, 3);
  EXPECT_EQ(Commands[0].Source, "wait 1");
  EXPECT_EQ(Commands[1].Line, 5);
}

TEST(ViewerScript, RejectsBadLinesNamingTheLine) {
  const struct {
    const char* Line;
    const char* Error;
  } Cases[] = {
      {"wiat 5", "comando desconhecido"},
      {"wait", "uso: wait MS"},
      {"wait 1 2", "uso: wait MS"},
      {"wait -1", "tempo inválido"},
      {"wait 1x", "tempo inválido"},
      {"wait-frames 0", "número de frames inválido"},
      {"wait-for 256", "número de mensagem inválido"},
      {"mouse 0 70000 0 0", "X inválido"},
      {"mouse 0 1 1", "uso: mouse"},
      {"mouse 0 1 1 7 40000", "roda inválido"},
      {"click 0 1 1 side", "botão inválido"},
      {"key 65 pressed", "esperado down ou up"},
      {"key 0x10000 up", "código de tecla inválido"},
      {"type a-b", "type aceita só"},
      {"type", "uso: type"},
      {"monitor 256", "monitor inválido"},
      {"block 2", "estado de bloqueio inválido"},
      {"clip-files", "uso: clip-files"},
      {"clip-files \"a b", "aspas sem fechamento"},
      {"sas now", "uso: sas"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Line);
    std::vector<TScriptCommand> Commands;
    std::string Error;
    EXPECT_FALSE(ParseScript(std::string("wait 1\n# x\n") + Case.Line, Commands, Error));
    EXPECT_EQ(Error.rfind("linha 3: ", 0), 0u) << Error;
    EXPECT_NE(Error.find(Case.Error), std::string::npos) << Error;
  }
}

}  // namespace
}  // namespace halvora::viewer
