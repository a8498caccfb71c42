#include "brand/uMarca.h"

#include "base/uAscii.h"

namespace halvora {
namespace {

constexpr std::string_view BRAND_PREFIX = "halvora-";
constexpr std::size_t MIN_CODE_LENGTH = 6;
constexpr std::size_t MAX_CODE_LENGTH = 12;

bool IsCodeChar(char AChar) { return (AChar >= '0' && AChar <= '9') || (AChar >= 'a' && AChar <= 'z'); }

// The file-name part of APath without its extension; both slash kinds separate folders.
std::string_view BaseNameWithoutExtension(std::string_view APath) {
  const std::size_t Slash = APath.find_last_of("/\\");
  std::string_view Name = Slash == std::string_view::npos ? APath : APath.substr(Slash + 1);
  const std::size_t Dot = Name.rfind('.');
  return Dot == std::string_view::npos ? Name : Name.substr(0, Dot);
}

}  // namespace

std::string CodigoMarcaDoArquivo(std::string_view AFileName) {
  const std::string Name = AsciiLower(BaseNameWithoutExtension(AFileName));
  const std::size_t Prefix = Name.find(BRAND_PREFIX);
  if (Prefix == std::string::npos) return {};
  std::size_t End = Prefix + BRAND_PREFIX.size();
  const std::size_t Start = End;
  while (End < Name.size() && IsCodeChar(Name[End])) ++End;
  const std::size_t Length = End - Start;
  if (Length < MIN_CODE_LENGTH || Length > MAX_CODE_LENGTH) return {};
  return Name.substr(Start, Length);
}

std::string UrlApiDoServidor(std::string_view AServerUrl) {
  const std::string_view Url = TrimBlanks(AServerUrl);
  const std::size_t SchemeEnd = Url.find("://");
  if (SchemeEnd == std::string_view::npos) return "https://" + std::string(Url);
  const std::string Scheme = AsciiLower(Url.substr(0, SchemeEnd));
  const std::string_view Rest = Url.substr(SchemeEnd + 3);
  const std::string_view Host = Rest.substr(0, Rest.find('/'));
  return (Scheme == "ws" || Scheme == "http" ? "http://" : "https://") + std::string(Host);
}

}  // namespace halvora
