#include "brand/uMarca.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <optional>

#include "base/uAscii.h"
#include "base/uFiles.h"
#include "base/uText.h"
#include "brand/uPngImage.h"

namespace halvora {
namespace {

constexpr std::string_view BrandPrefix = "halvora-";
constexpr std::size_t MinCodeLength = 6;
constexpr std::size_t MaxCodeLength = 12;
constexpr std::size_t MaxSafeCodeLength = 64;
constexpr std::size_t MaxNameFile = 1024 * 1024;
constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view CrLf = "\r\n";

// Serialises the cache: two lookups of one code may finish together, and the main thread
// reads while a lookup writes. Keeps each name and logo pair together.
std::mutex CacheLock;

bool IsCodeChar(char AChar) {
  return (AChar >= '0' && AChar <= '9') || (AChar >= 'a' && AChar <= 'z');
}

// The file-name part of APath without its extension; both slash kinds separate folders.
std::string_view BaseNameWithoutExtension(std::string_view APath) {
  const std::size_t Slash = APath.find_last_of("/\\");
  std::string_view Name = Slash == std::string_view::npos ? APath : APath.substr(Slash + 1);
  const std::size_t Dot = Name.rfind('.');
  return Dot == std::string_view::npos ? Name : Name.substr(0, Dot);
}

bool IsSafeCodeChar(char AChar) {
  return (AChar >= '0' && AChar <= '9') || (AChar >= 'a' && AChar <= 'z') ||
         (AChar >= 'A' && AChar <= 'Z') || AChar == '-' || AChar == '_';
}

// Every byte but letters, digits, "-" and "_" as %XX: dots too, so that no dot segment can
// reach the path.
std::string PercentEncoded(std::string_view AText) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string Result;
  for (const char Char : AText) {
    if (IsSafeCodeChar(Char)) {
      Result += Char;
    } else {
      const auto Byte = static_cast<unsigned char>(Char);
      Result += '%';
      Result += Hex[Byte >> 4];
      Result += Hex[Byte & 15];
    }
  }
  return Result;
}

// The whole file, or nothing when it cannot be read or is longer than AMax bytes.
std::optional<std::string> ReadWhole(const std::string& APath, std::size_t AMax) {
  std::ifstream File(PathOf(APath), std::ios::binary);
  if (!File) return std::nullopt;
  std::string Text;
  char Buffer[16384];
  while (File.read(Buffer, sizeof Buffer) || File.gcount() > 0) {
    Text.append(Buffer, static_cast<std::size_t>(File.gcount()));
    if (Text.size() > AMax) return std::nullopt;
  }
  if (File.bad()) return std::nullopt;
  return Text;
}

// Replaces APath by AContent, so that a reader sees the old content or all of the new one.
// The cache holds nothing secret: the session agent of an installed host reads it too.
bool ReplaceWhole(const std::string& APath, std::string_view AContent) {
  try {
    ReplaceFile(APath, AContent, TReplaceMode::rmPublicRead);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// The name file's text: byte-order mark skipped, malformed UTF-8 replaced, lines joined
// with CR LF, blanks trimmed at both ends.
std::string NameFromFile(std::string_view AText) {
  if (AText.starts_with(Bom)) AText.remove_prefix(Bom.size());
  const std::string Text = SanitizeUtf8(AText);
  std::string Joined;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '\r' || Text[I] == '\n') {
      if (Text[I] == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
      Joined += CrLf;
    } else {
      Joined += Text[I];
    }
  }
  return std::string(TrimBlanks(Joined));
}

std::string_view AsText(const TIdBytes& ABytes) {
  return {reinterpret_cast<const char*>(ABytes.data()), ABytes.size()};
}

}  // namespace

std::string CodigoMarcaDoArquivo(std::string_view AFileName) {
  const std::string Name = AsciiLower(BaseNameWithoutExtension(AFileName));
  const std::size_t Prefix = Name.find(BrandPrefix);
  if (Prefix == std::string::npos) return {};
  std::size_t End = Prefix + BrandPrefix.size();
  const std::size_t Start = End;
  while (End < Name.size() && IsCodeChar(Name[End])) ++End;
  const std::size_t Length = End - Start;
  if (Length < MinCodeLength || Length > MaxCodeLength) return {};
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

bool IsSafeBrandCode(std::string_view ACode) {
  if (ACode.empty() || ACode.size() > MaxSafeCodeLength) return false;
  for (const char Char : ACode)
    if (!IsSafeCodeChar(Char)) return false;
  return true;
}

std::string ArquivoMarca(const std::string& APasta, const std::string& ACodigo,
                         const std::string& AExt) {
  constexpr char Separator = static_cast<char>(std::filesystem::path::preferred_separator);
  std::string Result = APasta;
  if (Result.empty() || (Result.back() != '/' && Result.back() != Separator)) Result += Separator;
  return Result + "marca-" + ACodigo + AExt;
}

bool CarregarMarca(const std::string& APasta, const std::string& ACodigo, std::string& ANome,
                   TIdBytes& ALogo) {
  ANome.clear();
  ALogo.clear();
  if (APasta.empty() || !IsSafeBrandCode(ACodigo)) return false;
  try {
    std::lock_guard Guard(CacheLock);
    const std::optional<std::string> Text =
        ReadWhole(ArquivoMarca(APasta, ACodigo, ".txt"), MaxNameFile);
    if (!Text) return false;
    ANome = NameFromFile(*Text);
    if (ANome.empty()) return false;
    if (const auto Png = ReadWhole(ArquivoMarca(APasta, ACodigo, ".png"), MaxPngBytes)) {
      TIdBytes Logo(Png->begin(), Png->end());
      if (PngSize(Logo)) ALogo = std::move(Logo);
    }
    return true;
  } catch (...) {
    ANome.clear();
    ALogo.clear();
    return false;
  }
}

void SalvarMarca(const std::string& APasta, const std::string& ACodigo, const std::string& ANome,
                 const TIdBytes& ALogo) {
  if (APasta.empty() || !IsSafeBrandCode(ACodigo)) return;
  try {
    std::lock_guard Guard(CacheLock);
    std::error_code Error;
    std::filesystem::create_directories(PathOf(APasta), Error);
    if (Error) return;
    if (!ReplaceWhole(ArquivoMarca(APasta, ACodigo, ".txt"),
                      std::string(Bom) + ANome + std::string(CrLf)))
      return;
    const std::string Logo = ArquivoMarca(APasta, ACodigo, ".png");
    if (ALogo.empty())
      std::filesystem::remove(PathOf(Logo), Error);
    else
      ReplaceWhole(Logo, AsText(ALogo));
  } catch (...) {
    // A cache that cannot be written is not an error: the brand still shows.
  }
}

// --- TBuscaMarca ---

TBuscaMarca::TBuscaMarca(std::string AUrl, std::string ACodigo, std::string APasta,
                         TMarcaEvento AEvento, THttpOptions AOptions, TMainQueue& AQueue,
                         std::function<void()> AOnEnd)
    : TThread(AQueue),
      FUrl(std::move(AUrl)),
      FCodigo(std::move(ACodigo)),
      FPasta(std::move(APasta)),
      FEvento(std::move(AEvento)),
      FOptions(std::move(AOptions)),
      FOnEnd(std::move(AOnEnd)) {
  Start();
}

TBuscaMarca::~TBuscaMarca() {
  Cancel();
  StopThread();
}

void TBuscaMarca::Cancel() {
  // Under the lock, so that a client made after this sees the flag before its first request.
  std::lock_guard Guard(FHttpLock);
  Terminate();
  if (FHttp) FHttp->Abort();
}

void TBuscaMarca::Execute() {
  try {
    {
      THttpClient Http(FOptions);
      {
        std::lock_guard Guard(FHttpLock);
        if (Terminated()) return;
        FHttp = &Http;
      }
      struct TDetach {
        TBuscaMarca& Lookup;
        ~TDetach() {
          std::lock_guard Guard(Lookup.FHttpLock);
          Lookup.FHttp = nullptr;
        }
      } Detach{*this};
      Fetch(Http);
    }
    if (!FNome.empty() && !Terminated()) {
      SalvarMarca(FPasta, FCodigo, FNome, FLogo);
      Synchronize([this] { Notificar(); });
    }
  } catch (...) {
    // Any failure ends the lookup without a report.
  }
  if (FOnEnd) Queue(FOnEnd);
}

void TBuscaMarca::Fetch(THttpClient& AHttp) {
  const std::string Url = FUrl + "/v1/marca/" + PercentEncoded(FCodigo);
  const THttpResult Answer = AHttp.Get(Url);
  if (Answer.Error != THttpError::heNone || Answer.Status != 200) return;
  // UTF-8 whatever the answer declares; malformed bytes become U+FFFD instead of failing.
  const nlohmann::json Json =
      nlohmann::json::parse(SanitizeUtf8(AsText(Answer.Body)), nullptr, false);
  if (!Json.is_object()) return;
  std::string Nome;
  if (const auto It = Json.find("nome"); It != Json.end() && It->is_string())
    Nome = It->get<std::string>();
  const auto Flag = Json.find("tem_logo");
  const bool TemLogo = Flag != Json.end() && Flag->is_boolean() && Flag->get<bool>();
  FNome = std::move(Nome);
  if (FNome.empty() || !TemLogo) return;
  THttpResult Logo = AHttp.Get(Url + "/logo");
  if (Logo.Error == THttpError::heNone && Logo.Status == 200 && PngSize(Logo.Body))
    FLogo = std::move(Logo.Body);
}

void TBuscaMarca::Notificar() {
  if (FEvento) FEvento(FCodigo, FNome, FLogo);
}

}  // namespace halvora
