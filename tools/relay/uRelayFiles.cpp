#include "relay/uRelayFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "relay/uRelayWire.h"

namespace halvora::relay {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t MaxFileSize = 64 * 1024 * 1024;

THttpReply NotFound() {
  return TextReply(404, "Não encontrado.");
}

std::optional<std::string> ReadFile(const fs::path& APath) {
  std::error_code Error;
  if (!fs::is_regular_file(APath, Error) || fs::file_size(APath, Error) > MaxFileSize || Error)
    return std::nullopt;
  std::ifstream File(APath, std::ios::binary);
  std::string Content((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  if (File.bad()) return std::nullopt;
  return Content;
}

std::optional<std::string> PercentDecode(std::string_view AText) {
  std::string Result;
  for (std::size_t I = 0; I < AText.size(); ++I) {
    if (AText[I] != '%') {
      Result.push_back(AText[I]);
      continue;
    }
    if (I + 2 >= AText.size()) return std::nullopt;
    const auto Hex = [](char C) -> int {
      if (C >= '0' && C <= '9') return C - '0';
      if (C >= 'a' && C <= 'f') return C - 'a' + 10;
      if (C >= 'A' && C <= 'F') return C - 'A' + 10;
      return -1;
    };
    const int High = Hex(AText[I + 1]), Low = Hex(AText[I + 2]);
    if (High < 0 || Low < 0) return std::nullopt;
    Result.push_back(static_cast<char>(High * 16 + Low));
    I += 2;
  }
  return Result;
}

std::string ContentType(const fs::path& APath) {
  static const std::map<std::string, std::string> Types = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".json", "application/json; charset=utf-8"},
  };
  std::string Extension = APath.extension().string();
  std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  const auto Found = Types.find(Extension);
  return Found == Types.end() ? "application/octet-stream" : Found->second;
}

// True when APath, with links resolved, lies inside ARoot (already canonical).
bool Inside(const fs::path& ARoot, const fs::path& APath) {
  std::error_code Error;
  const fs::path Resolved = fs::weakly_canonical(APath, Error);
  if (Error) return false;
  const auto [RootEnd, PathAt] =
      std::mismatch(ARoot.begin(), ARoot.end(), Resolved.begin(), Resolved.end());
  return RootEnd == ARoot.end();
}

}  // namespace

bool IsBrandCode(std::string_view ACode) {
  return !ACode.empty() && ACode.size() <= 64 &&
         std::all_of(ACode.begin(), ACode.end(), [](char C) {
           return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') ||
                  C == '_' || C == '-';
         });
}

THttpReply BrandReply(const std::string& AFolder, std::string_view ACode, bool ALogo) {
  if (AFolder.empty() || !IsBrandCode(ACode)) return NotFound();
  std::error_code Error;
  const fs::path Root = fs::canonical(AFolder, Error);
  if (Error) return NotFound();
  // A file of the brand; nothing when a link leads it out of the brands folder.
  const auto BrandFile = [&](const char* AName) -> std::optional<fs::path> {
    fs::path File = Root / std::string(ACode) / AName;
    if (!Inside(Root, File)) return std::nullopt;
    return File;
  };
  const auto Logo = BrandFile("logo.png");
  if (ALogo) {
    auto Content = Logo ? ReadFile(*Logo) : std::nullopt;
    if (!Content) return NotFound();
    return {200, "image/png", std::move(*Content), {}};
  }
  const auto NameFile = BrandFile("nome.txt");
  const auto Text = NameFile ? ReadFile(*NameFile) : std::nullopt;
  if (!Text) return NotFound();
  std::string_view Name = *Text;
  if (Name.substr(0, 3) == "\xEF\xBB\xBF") Name.remove_prefix(3);
  const std::string Trimmed = Trim(Name);
  if (Trimmed.empty()) return NotFound();
  const nlohmann::json Answer = {{"nome", Trimmed},
                                 {"tem_logo", Logo && fs::is_regular_file(*Logo, Error)}};
  return JsonReply(Answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::optional<std::string> SafeRelativePath(std::string_view APath) {
  if (APath.empty() || APath.front() != '/') return std::nullopt;
  auto Decoded = PercentDecode(APath.substr(1));
  if (!Decoded) return std::nullopt;
  if (Decoded->find_first_of(std::string_view("\\:\0", 3)) != std::string::npos)
    return std::nullopt;
  if (!Decoded->empty() && Decoded->front() == '/') return std::nullopt;
  std::size_t Start = 0;
  while (Start <= Decoded->size()) {
    const auto End = std::min(Decoded->find('/', Start), Decoded->size());
    if (Decoded->compare(Start, End - Start, "..") == 0) return std::nullopt;
    Start = End + 1;
  }
  if (Decoded->empty() || Decoded->back() == '/') *Decoded += "index.html";
  return Decoded;
}

THttpReply StaticReply(const std::string& AFolder, std::string_view APath) {
  if (AFolder.empty()) return NotFound();
  const auto Relative = SafeRelativePath(APath);
  if (!Relative) return NotFound();
  std::error_code Error;
  const fs::path Root = fs::canonical(AFolder, Error);
  if (Error) return NotFound();
  const fs::path File = Root / *Relative;
  if (!Inside(Root, File)) return NotFound();
  auto Content = ReadFile(File);
  if (!Content) return NotFound();
  return {200, ContentType(File), std::move(*Content), {}};
}

}  // namespace halvora::relay
