#include <windows.h>

#include <stdexcept>
#include <vector>

#include "base/uAscii.h"
#include "base/uIniFile.h"
#include "base/win32/uWin32Text.h"

namespace halvora {
namespace {

// The settings file through the private-profile functions: section and key names match
// without regard to case, and every call reads or writes the file itself.
class TProfileStore final : public IIniStore {
 public:
  explicit TProfileStore(std::string APath)
      : FPath(std::move(APath)), FWidePath(PathOf(FPath).wstring()) {}

  std::string ReadString(std::string_view ASection, std::string_view AKey,
                         std::string_view ADefault) const override {
    if (!ValueExists(ASection, AKey)) return std::string(ADefault);
    return WideToUtf8(Read(Utf8ToWide(ASection).c_str(), Utf8ToWide(AKey).c_str()));
  }

  int ReadInteger(std::string_view ASection, std::string_view AKey,
                  int ADefault) const override {
    return ParseDecimal(ReadString(ASection, AKey, {})).value_or(ADefault);
  }

  bool ValueExists(std::string_view ASection, std::string_view AKey) const override {
    // The section's key names, each ended by a zero.
    const std::wstring Names = Read(Utf8ToWide(ASection).c_str(), nullptr);
    const std::wstring Wanted = Utf8ToWide(AKey);
    for (std::size_t Start = 0; Start < Names.size();) {
      std::size_t End = Names.find(L'\0', Start);
      if (End == std::wstring::npos) End = Names.size();
      if (CompareStringOrdinal(Names.data() + Start, static_cast<int>(End - Start),
                               Wanted.data(), static_cast<int>(Wanted.size()),
                               TRUE) == CSTR_EQUAL)
        return true;
      Start = End + 1;
    }
    return false;
  }

  void WriteString(std::string_view ASection, std::string_view AKey,
                   std::string_view AValue) override {
    Write(ASection, AKey, Utf8ToWide(WithoutControls(AValue)).c_str());
  }

  void DeleteKey(std::string_view ASection, std::string_view AKey) override {
    if (ValueExists(ASection, AKey)) Write(ASection, AKey, nullptr);
  }

  void Commit(TReplaceMode) override {}

 private:
  // The value, or with a null AKey the section's key names; the buffer grows until it fits.
  std::wstring Read(const wchar_t* ASection, const wchar_t* AKey) const {
    std::vector<wchar_t> Buffer(256);
    for (;;) {
      const DWORD Size = static_cast<DWORD>(Buffer.size());
      const DWORD Length = GetPrivateProfileStringW(ASection, AKey, L"", Buffer.data(), Size,
                                                    FWidePath.c_str());
      // A full buffer means the text may have been cut: the list form ends in two zeros.
      if (Length + (AKey ? 1 : 2) < Size) return std::wstring(Buffer.data(), Length);
      Buffer.resize(Buffer.size() * 2);
    }
  }

  void Write(std::string_view ASection, std::string_view AKey, const wchar_t* AValue) {
    MarkAsUnicode();
    if (!WritePrivateProfileStringW(Utf8ToWide(WithoutControls(ASection)).c_str(),
                                    Utf8ToWide(WithoutControls(AKey)).c_str(), AValue,
                                    FWidePath.c_str()))
      throw std::runtime_error("erro ao gravar \"" + FPath + "\": " +
                               SystemErrorText(GetLastError()));
  }

  // A file that is new or still empty starts as UTF-16 with its byte-order mark, so that the
  // profile functions keep every character rather than the system's code page.
  void MarkAsUnicode() const {
    WIN32_FILE_ATTRIBUTE_DATA Data{};
    if (GetFileAttributesExW(FWidePath.c_str(), GetFileExInfoStandard, &Data) &&
        (Data.nFileSizeLow != 0 || Data.nFileSizeHigh != 0))
      return;
    const HANDLE File = CreateFileW(FWidePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER Size{};
    if (GetFileSizeEx(File, &Size) && Size.QuadPart == 0) {
      const unsigned char Bom[] = {0xFF, 0xFE};
      DWORD Written = 0;
      WriteFile(File, Bom, sizeof(Bom), &Written, nullptr);
    }
    CloseHandle(File);
  }

  const std::string FPath;
  const std::wstring FWidePath;
};

}  // namespace

std::unique_ptr<IIniStore> OpenIniStore(const std::string& APath) {
  return std::make_unique<TProfileStore>(APath);
}

}  // namespace halvora
