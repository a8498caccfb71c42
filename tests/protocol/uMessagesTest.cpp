// Every message of the catalogue through its typed encoder and decoder: the number, the round
// trip, the exact bytes where the layout is fixed, and the payloads each decoder refuses.
#include "protocol/uMessages.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "protocol/uClipMessages.h"
#include "protocol/uFrameMessage.h"

namespace halvora {
namespace {

TIdBytes Text(std::string_view AText) {
  return TextToBytes(AText);
}

TIdBytes Concat(std::initializer_list<TIdBytes> AParts) {
  TIdBytes Result;
  for (const TIdBytes& Part : AParts) Result.insert(Result.end(), Part.begin(), Part.end());
  return Result;
}

// One message type: a sample, what it must look like on the wire (when given), and payloads
// that its decoder must refuse.
struct TCase {
  int Number;  // as the catalogue numbers it
  std::uint8_t Cmd;
  std::function<TIdBytes()> Encode;
  std::function<bool(const TIdBytes&)> DecodesToSample;
  std::function<bool(const TIdBytes&)> Accepts;
  TIdBytes Wire;  // empty: not checked
  std::vector<TIdBytes> Refused;
};

template <class T>
TCase Row(int ANumber, T ASample, TIdBytes AWire = {}, std::vector<TIdBytes> ARefused = {}) {
  return {ANumber,
          T::Cmd,
          [ASample] { return ASample.Encode(); },
          [ASample](const TIdBytes& APayload) {
            const auto Decoded = T::Decode(APayload);
            return Decoded && *Decoded == ASample;
          },
          [](const TIdBytes& APayload) { return T::Decode(APayload).has_value(); },
          std::move(AWire),
          std::move(ARefused)};
}

TIdBytes WithoutLast(TIdBytes ABytes) {
  ABytes.pop_back();
  return ABytes;
}

const TIdBytes cJpeg = {0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9};
const TIdBytes cData = {'d', 0, 'a', 0xFF};
const std::string Nonce = "0123456789abcdef0123456789abcdef";

TIdBytes Frame(std::initializer_list<TIdBytes> ATiles, std::uint16_t ACount,
               std::uint16_t AWidth = 100, std::uint16_t AHeight = 70) {
  TIdBytes Result;
  AppendFrameHeader(Result, {1, AWidth, AHeight, ACount});
  for (const TIdBytes& Tile : ATiles) Result.insert(Result.end(), Tile.begin(), Tile.end());
  return Result;
}

TIdBytes Tile(std::uint16_t AX, std::uint16_t AY, std::uint16_t AWidth, std::uint16_t AHeight,
              const TIdBytes& AJpeg = cJpeg) {
  TIdBytes Result;
  AppendFrameTile(Result, {AX, AY, AWidth, AHeight, AJpeg});
  return Result;
}

std::vector<TCase> Catalogue() {
  const TFrameMessage Frame2{1, 100, 70, {{0, 0, 64, 64, cJpeg}, {64, 64, 36, 6, cJpeg}}};
  TMouseMessage Mouse;
  Mouse.Packet = {2, 0x1234, 65535, 7, -120};
  TKeyMessage Key;
  Key.Packet = {0x012E, 1};
  const TIdBytes Bytes16(16, 0);
  return {
      Row(1, THelloMessage::Host("123456789", "k3y"), Text("2|C|123456789|k3y"),
          {Text(""), Text("2"), Text("3|A|tok"), Text("2|X|tok"), Text("2|C|no-key-separator")}),
      Row(1, THelloMessage::Technician("t0k|en"), Text("2|A|t0k|en")),
      Row(2, TWelcomeMessage{"123456789"}, Text("123456789")),
      Row(5, TAccessRequestMessage{"77", "Ana", "Suporte|n2"}, Text("77|Ana|Suporte|n2")),
      Row(6, TSessionEndedMessage{"Fim."}, Text("Fim.")),
      Row(7, THostEndMessage{}),
      Row(8, TKeepAliveMessage{}),
      Row(9, TRelayNoopMessage{}),
      Row(10, TRefusedMessage{"hello", "Saudação inválida.", ""},
          Text("hello|Saudação inválida.|")),
      Row(11, TProofAcceptedMessage{}),
      Row(12, TInstallOfferMessage{"Instale."}, Text("Instale.")),
      Row(13, TRevokePermanentMessage{}),
      Row(14, TPermanentCountMessage{3}, Text("3")),
      Row(15, TTrustedAccessMessage{"77", "Ana", ""}, Text("77|Ana|")),
      Row(16, TBrandMessage{"acme", "Acme Suporte"}, Text("acme|Acme Suporte")),
      Row(50, TConnectHostMessage{"123456789", "Ana", "Suporte"}, Text("123456789|Ana|Suporte")),
      Row(51, TConnectResultMessage{0, "Conectado.", "senha"}, Text("0|Conectado.|senha"),
          {Text(""), Text("x|a|b"), Text(" 0|a|b")}),
      Row(52, TRelayErrorMessage{"Mensagem vazia."}, Text("Mensagem vazia.")),
      Row(100, TChallengeMessage{Nonce}, Text(Nonce),
          {Text(""), Text(Nonce.substr(1)), Text(Nonce + "0"),
           Text("0123456789ABCDEF0123456789abcdef"), Text("0123456789abcdeg0123456789abcdef")}),
      Row(101, TProofMessage{std::string(64, 'a')}, Text(std::string(64, 'a'))),
      Row(102, TAccessResultMessage{true}, {1}, {{}, {2}, {1, 0}}),
      Row(102, TAccessResultMessage{false}, {0}),
      Row(103, Frame2,
          Concat({{1, 100, 0, 70, 0, 2, 0},
                  {0, 0, 0, 0, 64, 0, 64, 0, 6, 0, 0, 0},
                  cJpeg,
                  {64, 0, 64, 0, 36, 0, 6, 0, 6, 0, 0, 0},
                  cJpeg}),
          {{},
           {1, 100, 0, 70, 0, 1},                        // header cut short
           Frame({Tile(0, 0, 8, 8)}, 1, 0, 70),          // zero width
           Frame({Tile(0, 0, 8, 8)}, 1, 100, 0),         // zero height
           Frame({}, 0),                                 // no tiles
           Frame({Tile(0, 0, 8, 8)}, 2),                 // fewer tiles than announced
           Frame({TIdBytes(11, 0)}, 1),                  // tile record cut short
           Frame({WithoutLast(Tile(0, 0, 8, 8))}, 1),    // JPEG cut short
           Frame({Concat({Tile(0, 0, 8, 8), {0}})}, 1),  // a byte after the last tile
           Frame({Tile(0, 0, 0, 8)}, 1),                 // empty tile
           Frame({Tile(0, 0, 8, 0)}, 1),                 // empty tile
           Frame({Tile(93, 0, 8, 8)}, 1),                // past the right edge
           Frame({Tile(0, 63, 8, 8)}, 1),                // past the bottom edge
           Frame({Tile(0xFFFF, 0, 2, 8)}, 1)}),          // no wrap-around
      Row(104, TFrameAckMessage{}),
      Row(105, Mouse, {2, 0x34, 0x12, 0xFF, 0xFF, 7, 0x88, 0xFF}, {TIdBytes(7, 0), TIdBytes(9, 0)}),
      Row(106, Key, {0x2E, 0x01, 0x01}, {TIdBytes(2, 0), TIdBytes(4, 0)}),
      Row(107, TMonitorInfoMessage{3, 0}, {3, 0}, {{}, {1}, {0, 0}, {9, 0}, {2, 2}, {2, 0, 0}}),
      Row(107, TMonitorInfoMessage{8, 7}, {8, 7}),
      Row(108, TSelectMonitorMessage{2}, {2}, {{}, {2, 0}}),
      Row(109, TBlockInputMessage{true}, {1}, {{}, {1, 1}}),
      Row(109, TBlockInputMessage{false}, {0}),
      Row(110, TBlockStateMessage{true}, {1}, {{}, {2}, {0, 0}}),
      Row(111, TClipTextMessage{"olá\n|mundo"}, Text("olá\n|mundo")),
      Row(112, TClipFilesBeginMessage{7, 5000, 209715200},
          {7, 0, 0, 0, 0x88, 0x13, 0, 0, 0, 0, 0x80, 0x0C, 0, 0, 0, 0},
          {TIdBytes(15, 0), TIdBytes(17, 0), TClipFilesBeginMessage{7, 5001, 0}.Encode(),
           TClipFilesBeginMessage{7, 0, 209715201}.Encode()}),
      Row(113, TClipFileEntryMessage{7, 65537, false, "docs\\a.txt"},
          Concat({{7, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}, Text("docs\\a.txt")}),
          {TIdBytes(13, 0), {}}),
      Row(113, TClipFileEntryMessage{7, 0, true, "d"}),
      Row(114, TClipFileDataMessage{7, cData}, Concat({{7, 0, 0, 0}, cData}), {TIdBytes(4, 0), {}}),
      Row(115, TClipFilesEndMessage{7, true}, {7, 0, 0, 0, 1}, {TIdBytes(4, 0), TIdBytes(6, 0)}),
      Row(115, TClipFilesEndMessage{7, false}, {7, 0, 0, 0, 0}),
      Row(116, TSecureAttentionMessage{}),
  };
}

TEST(MessagesTest, EveryMessageOfTheCatalogueEncodesAndDecodes) {
  std::set<int> Numbers;
  for (const TCase& Case : Catalogue()) {
    SCOPED_TRACE(Case.Number);
    Numbers.insert(Case.Number);
    EXPECT_EQ(Case.Cmd, Case.Number);
    const TIdBytes Payload = Case.Encode();
    if (!Case.Wire.empty()) {
      EXPECT_EQ(Payload, Case.Wire);
    }
    EXPECT_TRUE(Case.DecodesToSample(Payload));
    // Every cut of the payload is read within its bounds (which AddressSanitizer checks).
    for (std::size_t Size = 0; Size < Payload.size(); ++Size)
      Case.Accepts(TIdBytes(Payload.begin(), Payload.begin() + static_cast<std::ptrdiff_t>(Size)));
    for (std::size_t I = 0; I < Case.Refused.size(); ++I) {
      SCOPED_TRACE("refused payload " + std::to_string(I));
      EXPECT_FALSE(Case.Accepts(Case.Refused[I]));
    }
  }
  std::set<int> Expected = {1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 50, 51, 52};
  for (int Number = 100; Number <= 116; ++Number) Expected.insert(Number);
  EXPECT_EQ(Numbers, Expected);
}

TEST(MessagesTest, TextRulesOfTheCatalogue) {
  // Field text: at most three fields, the last keeps further separators, missing ones empty.
  EXPECT_EQ(*TAccessRequestMessage::Decode(Text("a")), (TAccessRequestMessage{"a", "", ""}));
  EXPECT_EQ(*TRefusedMessage::Decode(Text("x")), (TRefusedMessage{"x", "", ""}));
  EXPECT_EQ(*TBrandMessage::Decode(Text("c|n|ignored")), (TBrandMessage{"c", "n"}));
  EXPECT_EQ(*TConnectResultMessage::Decode(Text("3")), (TConnectResultMessage{3, "", ""}));
  EXPECT_EQ(*THelloMessage::Decode(Text("2|A")), THelloMessage::Technician(""));
  EXPECT_EQ(*THelloMessage::Decode(Text("2|C||k|x")), THelloMessage::Host("", "k|x"));
  // Decimal text that does not parse counts as 0.
  EXPECT_EQ(TPermanentCountMessage::Decode(Text("abc"))->Count, 0);
  EXPECT_EQ(TPermanentCountMessage::Decode({})->Count, 0);
  // Malformed UTF-8 is read as U+FFFD; empty payloads give empty texts.
  EXPECT_EQ(TWelcomeMessage::Decode(TIdBytes{'a', 0xFF})->Text, "a\xEF\xBF\xBD");
  EXPECT_EQ(TClipFileEntryMessage::Decode(Concat({TIdBytes(13, 0), {0xC3}}))->RelName,
            "\xEF\xBF\xBD");
  EXPECT_EQ(TWelcomeMessage::Decode({})->Text, "");
  // Ignored payloads are ignored whatever they hold.
  EXPECT_TRUE(TFrameAckMessage::Decode(Text("anything")));
  // Any byte but 1 frees the input; any Ok but 0 completes a transfer.
  EXPECT_FALSE(TBlockInputMessage::Decode(TIdBytes{2})->Block);
  EXPECT_TRUE(TClipFilesEndMessage::Decode(TIdBytes{7, 0, 0, 0, 2})->Ok);
  EXPECT_TRUE(
      TClipFileEntryMessage::Decode(TClipFileEntryMessage{1, -1, false, "x"}.Encode())->Size == -1);
}

TEST(MessagesTest, FrameHeaderAndTileLayout) {
  // Monitor 1, 1920 × 1080, one 64 × 64 tile at (0, 0) with 1234 bytes of JPEG.
  const TIdBytes Jpeg(1234, 0xAB);
  const TIdBytes Payload = TFrameMessage{1, 1920, 1080, {{0, 0, 64, 64, Jpeg}}}.Encode();
  ASSERT_EQ(Payload.size(), 1253u);
  EXPECT_EQ(TIdBytes(Payload.begin(), Payload.begin() + 19),
            (TIdBytes{0x01, 0x80, 0x07, 0x38, 0x04, 0x01, 0x00, 0, 0, 0, 0, 0x40, 0, 0x40, 0, 0xD2,
                      0x04, 0, 0}));
  EXPECT_EQ(TFrameHeader::Decode(Payload), (TFrameHeader{1, 1920, 1080, 1}));

  // A tile that ends exactly on the area's edges is inside; the JPEG views the payload.
  const TIdBytes Edge = Frame({Tile(92, 62, 8, 8)}, 1);
  const auto Decoded = TFrameMessage::Decode(Edge);
  ASSERT_TRUE(Decoded);
  EXPECT_EQ(Decoded->Tiles.at(0).Jpeg.data(), Edge.data() + 7 + 12);

  // The reason of a refusal names the tile.
  std::string Fault;
  EXPECT_FALSE(TFrameMessage::Decode(Frame({Tile(0, 0, 8, 8)}, 2), &Fault));
  EXPECT_EQ(Fault, "frame truncado no tile 1");
}

}  // namespace
}  // namespace halvora
