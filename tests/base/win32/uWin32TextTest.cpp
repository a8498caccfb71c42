#include "base/win32/uWin32Text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace halvora {
namespace {

TEST(TWin32Text, Utf8AndWideTextConvertBothWays) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::wstring>> Cases = {
      {""s, L""s},
      {"Halvora.ini"s, L"Halvora.ini"s},
      {"C:\\Usuários\\José\\AppData"s, L"C:\\Usu\u00E1rios\\Jos\u00E9\\AppData"s},
      {"日本"s, L"\u65E5\u672C"s},
      {"\xF0\x9F\x8E\x89"s, L"\xD83C\xDF89"s},  // U+1F389 as a surrogate pair
      {"a\0b"s, L"a\0b"s},
  };
  for (const auto& [Utf8, Wide] : Cases) {
    SCOPED_TRACE(Utf8);
    EXPECT_EQ(Utf8ToWide(Utf8), Wide);
    EXPECT_EQ(WideToUtf8(Wide), Utf8);
  }
}

TEST(TWin32Text, MalformedTextBecomesTheReplacementCharacter) {
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xFFz"), L"\uFFFDz");
  EXPECT_EQ(WideToUtf8(std::wstring(L"\xD800x", 2)), "\xEF\xBF\xBDx");  // a lone surrogate
  EXPECT_EQ(WideToUtf8(std::wstring(1, L'\xDC00')), "\xEF\xBF\xBD");
}

TEST(TWin32Text, SystemErrorTextIsTheSystemsOneLineDescription) {
  std::set<std::string> Texts;
  for (const unsigned long Code :
       {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_ALREADY_EXISTS}) {
    const std::string Text = SystemErrorText(Code);
    SCOPED_TRACE(std::to_string(Code) + ": " + Text);
    EXPECT_GT(Text.size(), 5u);
    EXPECT_EQ(Text.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(Text.back(), ' ');
    EXPECT_NE(Text, "erro " + std::to_string(Code));
    Texts.insert(Text);
  }
  EXPECT_EQ(Texts.size(), 4u);
  // A code the system has no text for.
  EXPECT_EQ(SystemErrorText(0x2000FFFF), "erro 536936447");
}

}  // namespace
}  // namespace halvora
