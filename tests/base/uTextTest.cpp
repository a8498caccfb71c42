#include "base/uText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvora {
namespace {

using namespace std::string_literals;

const std::string Fffd = "\xEF\xBF\xBD";

// Valid text at the boundaries of each UTF-8 length, with its UTF-16 form.
TEST(TextTest, ValidTextConvertsBothWaysUnchanged) {
  struct TCase {
    std::string Utf8;
    std::u16string Utf16;
  };
  const std::vector<TCase> Cases = {
      {"", u""},
      {"plain ascii text, longer than one word", u"plain ascii text, longer than one word"},
      {"a\0b"s, u"a\0b"s},
      {"\x7F", u"\x7F"},
      {"\xC2\x80", u"\x80"},
      {"\xDF\xBF", u"\x7FF"},
      {"\xE0\xA0\x80", u"\x800"},
      {"\xED\x9F\xBF", u"\xD7FF"},
      {"\xEE\x80\x80", u"\xE000"},
      {"\xEF\xBF\xBD", u"\xFFFD"},  // a genuine U+FFFD is kept as it is
      {"\xEF\xBF\xBF", u"\xFFFF"},
      {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
      {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
      {"Olá, мир, 你好 😀!", u"Olá, мир, 你好 😀!"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Utf8);
    EXPECT_EQ(SanitizeUtf8(C.Utf8), C.Utf8);
    EXPECT_EQ(Utf8ToUtf16(C.Utf8), C.Utf16);
    EXPECT_EQ(Utf16ToUtf8(C.Utf16), C.Utf8);
    EXPECT_EQ(Utf16Length(C.Utf8), C.Utf16.size());
  }
}

// Each maximal invalid subpart becomes one U+FFFD; Utf8ToUtf16 and Utf16Length agree.
TEST(TextTest, MalformedUtf8BecomesReplacementCharacters) {
  struct TCase {
    std::string Input;
    std::string Expected;
  };
  const std::vector<TCase> Cases = {
      {"\x80", Fffd},  // stray continuation byte
      {"\xBF\x80", Fffd + Fffd},
      {"\xC2", Fffd},  // truncated at the end
      {"\xE2\x82", Fffd},
      {"\xF0\x9F\x98", Fffd},
      {"\xE2\x82Z", Fffd + "Z"},                    // truncated before ASCII
      {"\xF0\x9F\x98\xC3\xA9", Fffd + "\xC3\xA9"},  // truncated before a valid sequence
      {"\xC0\xAF", Fffd + Fffd},                    // overlong
      {"\xC1\xBF", Fffd + Fffd},
      {"\xE0\x80\xAF", Fffd + Fffd + Fffd},
      {"\xE0\x9F\xBF", Fffd + Fffd + Fffd},
      {"\xF0\x8F\xBF\xBF", Fffd + Fffd + Fffd + Fffd},
      {"\xED\xA0\x80", Fffd + Fffd + Fffd},  // surrogates
      {"\xED\xBF\xBF", Fffd + Fffd + Fffd},
      {"\xED\xA0\x80\xED\xB0\x80", Fffd + Fffd + Fffd + Fffd + Fffd + Fffd},
      {"\xF4\x90\x80\x80", Fffd + Fffd + Fffd + Fffd},  // above U+10FFFF
      {"\xF5\x80\x80\x80", Fffd + Fffd + Fffd + Fffd},
      {"\xF8\x88\x80\x80\x80", Fffd + Fffd + Fffd + Fffd + Fffd},
      {"\xFE\xFF", Fffd + Fffd},
      {"a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + Fffd + Fffd + Fffd + "b" + Fffd + "c" + Fffd + Fffd + "d"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::PrintToString(C.Input));
    EXPECT_EQ(SanitizeUtf8(C.Input), C.Expected);
    EXPECT_EQ(Utf8ToUtf16(C.Input), Utf8ToUtf16(C.Expected));
    EXPECT_EQ(Utf16Length(C.Input), Utf8ToUtf16(C.Expected).size());
  }
}

// The word-at-a-time ASCII scan must notice an invalid byte wherever it falls.
TEST(TextTest, InvalidByteIsFoundAtAnyOffsetInAscii) {
  for (std::size_t Offset = 0; Offset <= 20; ++Offset) {
    SCOPED_TRACE(Offset);
    std::string Input(24, 'x');
    Input[Offset] = '\xFF';
    std::string Expected(24, 'x');
    Expected.replace(Offset, 1, Fffd);
    EXPECT_EQ(SanitizeUtf8(Input), Expected);
    EXPECT_EQ(Utf16Length(Input), 24u);
    EXPECT_EQ(Utf8ToUtf16(Input)[Offset], u'\xFFFD');
  }
}

TEST(TextTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  struct TCase {
    std::u16string Input;
    std::string Expected;
  };
  const std::vector<TCase> Cases = {
      {u"\xD800", Fffd},
      {u"\xDC00", Fffd},
      {u"a\xD83D", "a" + Fffd},
      {u"\xD83Dz", Fffd + "z"},
      {u"\xDC00\xD800", Fffd + Fffd},
      {u"\xD800\xD83D\xDE00", Fffd + "😀"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expected);
    EXPECT_EQ(Utf16ToUtf8(C.Input), C.Expected);
  }
}

}  // namespace
}  // namespace halvora
