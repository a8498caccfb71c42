#include "base/win32/uWin32Text.h"

#include <windows.h>

#include "base/uText.h"

namespace halvora {

std::wstring Utf8ToWide(std::string_view AUtf8) {
  const std::u16string Wide = Utf8ToUtf16(AUtf8);
  return std::wstring(Wide.begin(), Wide.end());
}

std::string WideToUtf8(std::wstring_view AWide) {
  return Utf16ToUtf8(std::u16string(AWide.begin(), AWide.end()));
}

std::string SystemErrorText(unsigned long AError) {
  wchar_t* Buffer = nullptr;
  const DWORD Length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::wstring Text = Length > 0 ? std::wstring(Buffer, Length) : std::wstring();
  LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == L'\r' || Text.back() == L'\n' || Text.back() == L' '))
    Text.pop_back();
  if (Text.empty()) return "erro " + std::to_string(AError);
  return WideToUtf8(Text);
}

}  // namespace halvora
