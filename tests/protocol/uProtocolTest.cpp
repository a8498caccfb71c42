#include "protocol/uProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/uText.h"

namespace halvora {
namespace {

using namespace std::string_literals;

TEST(ProtocolTest, ByteHelpers) {
  EXPECT_TRUE(TextToBytes("").empty());
  EXPECT_EQ(TextToBytes("a\xC3\xA3"), (TIdBytes{'a', 0xC3, 0xA3}));

  EXPECT_TRUE(MakeBytes(nullptr, 0).empty());
  const std::uint8_t Buffer[] = {0, 1, 0xFF, 7};
  EXPECT_EQ(MakeBytes(Buffer, 3), (TIdBytes{0, 1, 0xFF}));

  EXPECT_EQ(SingleByte(0xAB), TIdBytes{0xAB});
}

TEST(ProtocolTest, BytesToTextKeepsValidTextAndReplacesMalformedSequences) {
  const std::string Multilingual = "Olá ação — мир 你好 مرحبا 😀🔑 a\0b\0"s;
  EXPECT_EQ(BytesToText(TextToBytes(Multilingual)), Multilingual);
  EXPECT_EQ(BytesToText({}), "");

  // Overlong, surrogate, above U+10FFFF, truncated at the end.
  const TIdBytes Malformed = {'a',  0xC0, 0xAF, 'b',  0xED, 0xA0, 0x80,
                              0xF4, 0x90, 0x80, 0x80, 0xE2, 0x82};
  EXPECT_EQ(BytesToText(Malformed), "a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD"
                                    "\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(ProtocolTest, HelloTexts) {
  EXPECT_EQ(HelloCliente("123456789", "k3y"), "2|C|123456789|k3y");
  EXPECT_EQ(HelloCliente("", "k3y"), "2|C||k3y");
  EXPECT_EQ(HelloCliente("123", ""), "2|C|123|");
  EXPECT_EQ(HelloAtendente("t0ken"), "2|A|t0ken");
  EXPECT_EQ(HelloAtendente(""), "2|A|");
}

TEST(ProtocolTest, SplitFields) {
  struct TCase {
    std::string Input, First, Second, Third;
  };
  const std::vector<TCase> Cases = {
      {"", "", "", ""},         {"a", "a", "", ""},           {"a|b", "a", "b", ""},
      {"a|b|c", "a", "b", "c"}, {"a|b|c|d", "a", "b", "c|d"}, {"|x|", "", "x", ""},
      {"||", "", "", ""},       {"a||b", "a", "", "b"},       {" a | b ", " a ", " b ", ""},
      {"ã|€|😀", "ã", "€", "😀"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Input);
    const TFields F = SplitFields(C.Input);
    EXPECT_EQ(F.First, C.First);
    EXPECT_EQ(F.Second, C.Second);
    EXPECT_EQ(F.Third, C.Third);
  }
}

TEST(ProtocolTest, FormatIdGroupsNineUtf16Units) {
  struct TCase {
    std::string Input, Expected;
  };
  const std::vector<TCase> Cases = {
      {"123456789", "123 456 789"},
      {"ããããããããã", "ããã ããã ããã"},
      {"😀1234567", "😀1 234 567"},  // the pair counts as two units
      {"12345678", "12345678"},
      {"1234567890", "1234567890"},
      {"ãããããããããã", "ãããããããããã"},
      {"😀12345678", "😀12345678"},  // nine characters, ten units
      {"", ""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Input);
    EXPECT_EQ(FormatId(C.Input), C.Expected);
  }
}

TEST(ProtocolTest, RandomStringDrawsFromTheAlphabet) {
  struct TCase {
    std::string Alphabet;
    int Count;
  };
  const std::vector<TCase> Cases = {
      {"ABCDEFGHJKLMNPQRSTUVWXYZ2345679", 6},
      {"äöü€", 12},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Alphabet);
    const std::u16string Alphabet = Utf8ToUtf16(C.Alphabet);
    const std::u16string Drawn = Utf8ToUtf16(RandomString(C.Alphabet, C.Count));
    ASSERT_EQ(Drawn.size(), static_cast<std::size_t>(C.Count));
    for (const char16_t Unit : Drawn) EXPECT_NE(Alphabet.find(Unit), std::u16string::npos);
  }
  EXPECT_EQ(RandomString("abc", 0), "");
  EXPECT_EQ(RandomString("abc", -5), "");
  EXPECT_THROW(RandomString("", 3), std::invalid_argument);
}

// Statistical sanity check: the bounds are about ten standard deviations wide.
TEST(ProtocolTest, RandomStringUsesBothCharactersOfATwoCharacterAlphabet) {
  const std::string Drawn = RandomString("ab", 10000);
  ASSERT_EQ(Drawn.size(), 10000u);
  const auto As = std::count(Drawn.begin(), Drawn.end(), 'a');
  EXPECT_EQ(As + std::count(Drawn.begin(), Drawn.end(), 'b'), 10000);
  EXPECT_GT(As, 4500);
  EXPECT_LT(As, 5500);
}

TEST(ProtocolTest, ProofHashKnownAnswers) {
  struct TCase {
    std::string First, Second, Expected;
  };
  const std::vector<TCase> Cases = {
      {"abc", "def", "ec5952851b8051e1ecf6b6076d99d05646cd90a9f293c17250105742b9e4a19e"},
      {"", "", "e7ac0786668e0ff0f02b62bd04f45ff636fd82db63b1104601c975dc005f3a67"},
      {"123456789", "s3cr3t|x", "75fbc49e0f4574a766dabd9c49a0b456a6554094afa6e7d7263d78867d4fd819"},
      {"ação", "ключ🔑", "caeac7f447b226d1668b0c8021b6ccdb50d3aadf61dd366a399ce451c745daab"},
      {"0123456789abcdef0123456789abcdef", "senhaç9",
       "daf17b43b82f7a995c24d5c7c3a202a0fcc2a131019db133891aa4ea2d32108a"},
      {"abc", "", "16a3ed414449413487c2735c51e0e9c1df1f869cf94d89573b99acc91ccf4c30"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.First + ":" + C.Second);
    EXPECT_EQ(ProofHash(C.First, C.Second), C.Expected);
  }
}

TEST(ProtocolTest, MousePacketLayout) {
  const std::uint8_t Wire[] = {0x02, 0x34, 0x12, 0xFF, 0xFF, 0x07, 0x88, 0xFF};
  TMousePacket P;
  std::memcpy(&P, Wire, sizeof P);
  EXPECT_EQ(std::uint8_t{P.Monitor}, 2);
  EXPECT_EQ(std::uint16_t{P.X}, 0x1234);
  EXPECT_EQ(std::uint16_t{P.Y}, 65535);
  EXPECT_EQ(std::uint8_t{P.Action}, 7);
  EXPECT_EQ(std::int16_t{P.Wheel}, -120);
}

TEST(ProtocolTest, KeyPacketLayout) {
  const std::uint8_t Wire[] = {0x2E, 0x01, 0x01};
  TKeyPacket P;
  std::memcpy(&P, Wire, sizeof P);
  EXPECT_EQ(std::uint16_t{P.VKey}, 0x012E);
  EXPECT_EQ(std::uint8_t{P.Down}, 1);
}

}  // namespace
}  // namespace halvora
