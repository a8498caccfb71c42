#include "uViewerLog.h"

#include <cstdio>

#include "protocol/uProtocol.h"

namespace halvora::viewer {

namespace {

constexpr std::size_t cTextShown = 200;
constexpr std::size_t cBytesShown = 16;

// The text in double quotes with control characters, quotes and backslashes escaped;
// long texts are cut at a character boundary.
std::string Quoted(const TBytes& ABytes) {
  std::size_t Shown = std::min(ABytes.size(), cTextShown);
  while (Shown < ABytes.size() && Shown > 0 && (ABytes[Shown] & 0xC0) == 0x80) --Shown;
  std::string Result = "\"";
  for (std::size_t I = 0; I < Shown; ++I) {
    const char Char = static_cast<char>(ABytes[I]);
    switch (Char) {
      case '\n':
        Result += "\\n";
        break;
      case '\r':
        Result += "\\r";
        break;
      case '\t':
        Result += "\\t";
        break;
      case '"':
        Result += "\\\"";
        break;
      case '\\':
        Result += "\\\\";
        break;
      default:
        if (ABytes[I] < 0x20) {
          char Escape[8];
          std::snprintf(Escape, sizeof Escape, "\\x%02x", ABytes[I]);
          Result += Escape;
        } else {
          Result += Char;
        }
    }
  }
  Result += '"';
  if (Shown < ABytes.size()) Result += " (cortado)";
  return Result;
}

std::string Hex(const TBytes& ABytes) {
  std::string Result;
  for (std::size_t I = 0; I < std::min(ABytes.size(), cBytesShown); ++I) {
    char Byte[4];
    std::snprintf(Byte, sizeof Byte, "%02x", ABytes[I]);
    if (I > 0) Result += ' ';
    Result += Byte;
  }
  if (ABytes.size() > cBytesShown) Result += " ...";
  return Result;
}

std::string N(std::uint64_t AValue) {
  return std::to_string(AValue);
}

}  // namespace

std::string Summarize(std::uint8_t ACmd, const TBytes& APayload) {
  const std::size_t Size = APayload.size();
  const std::uint8_t* P = APayload.data();
  switch (ACmd) {
    case cmdWelcome:
    case cmdSessionEnded:
    case cmdRefused:
    case cmdConnectResult:
    case cmdRelayError:
    case cmdChallenge:
    case cmdClipText:
      return Quoted(APayload);
    case cmdAccessResult:
    case cmdBlockState:
      return Size == 1 ? "flag=" + N(P[0]) : "flag inválida";
    case cmdMonitorInfo:
      return Size == 2 ? "monitores=" + N(P[0]) + " selecionado=" + N(P[1]) : "inválida";
    case cmdFrame:
      if (Size < 7) return "frame truncado";
      return "monitor=" + N(P[0]) + " " + N(GetU16(P + 1)) + "x" + N(GetU16(P + 3)) +
             " tiles=" + N(GetU16(P + 5));
    case cmdClipFilesBegin:
      if (Size != 16) return "inválida";
      return "id=" + N(GetU32(P)) + " itens=" + N(GetU32(P + 4)) + " total=" + N(GetU64(P + 8));
    case cmdClipFileEntry:
      if (Size < 14) return "inválida";
      return "id=" + N(GetU32(P)) + " tamanho=" + N(GetU64(P + 4)) + " pasta=" + N(P[12]) +
             " nome=" + Quoted(TBytes(APayload.begin() + 13, APayload.end()));
    case cmdClipFileData:
      if (Size < 5) return "inválida";
      return "id=" + N(GetU32(P)) + " dados=" + N(Size - 4);
    case cmdClipFilesEnd:
      if (Size != 5) return "inválida";
      return "id=" + N(GetU32(P)) + " ok=" + N(P[4]);
    default:
      return Hex(APayload);
  }
}

bool TViewerLog::Open(const std::filesystem::path& AFile, std::string& AError) {
  FOut.open(AFile, std::ios::out | std::ios::trunc);
  if (!FOut) AError = "não foi possível criar " + AFile.string();
  return static_cast<bool>(FOut);
}

void TViewerLog::Record(std::uint8_t ACmd, const TBytes& APayload, std::string_view ANote) {
  const auto Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FStart).count();
  FOut << Elapsed << ' ' << int(ACmd) << ' ' << APayload.size() << ' ' << Summarize(ACmd, APayload);
  if (!ANote.empty()) FOut << " | " << ANote;
  FOut << std::endl;
}

}  // namespace halvora::viewer
