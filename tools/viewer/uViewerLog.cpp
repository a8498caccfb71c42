#include "uViewerLog.h"

#include <cstdio>

#include "protocol/uProtocol.h"

namespace halvora::viewer {

namespace {

constexpr std::size_t TextShown = 200;
constexpr std::size_t BytesShown = 16;

// The text in double quotes with control characters, quotes and backslashes escaped;
// long texts are cut at a character boundary.
std::string Quoted(const TBytes& ABytes) {
  std::size_t Shown = std::min(ABytes.size(), TextShown);
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
  for (std::size_t I = 0; I < std::min(ABytes.size(), BytesShown); ++I) {
    char Byte[4];
    std::snprintf(Byte, sizeof Byte, "%02x", ABytes[I]);
    if (I > 0) Result += ' ';
    Result += Byte;
  }
  if (ABytes.size() > BytesShown) Result += " ...";
  return Result;
}

std::string N(std::uint64_t AValue) {
  return std::to_string(AValue);
}

}  // namespace

std::string Summarize(std::uint8_t ACmd, const TBytes& APayload) {
  switch (ACmd) {
    case cmdWelcome:
    case cmdSessionEnded:
    case cmdRefused:
    case cmdConnectResult:
    case cmdRelayError:
    case cmdChallenge:
    case cmdClipText:
      return Quoted(APayload);
    case cmdAccessResult: {
      const auto Flag = TAccessResultMessage::Decode(APayload);
      return Flag ? "flag=" + N(Flag->Value) : "flag inválida";
    }
    case cmdBlockState: {
      const auto Flag = TBlockStateMessage::Decode(APayload);
      return Flag ? "flag=" + N(Flag->Value) : "flag inválida";
    }
    case cmdMonitorInfo: {
      const auto Info = TMonitorInfoMessage::Decode(APayload);
      return Info ? "monitores=" + N(Info->Count) + " selecionado=" + N(Info->Selected)
                  : "inválida";
    }
    case cmdFrame: {
      const auto Header = TFrameHeader::Decode(APayload);
      if (!Header) return "frame truncado";
      return "monitor=" + N(Header->Monitor) + " " + N(Header->Width) + "x" + N(Header->Height) +
             " tiles=" + N(Header->TileCount);
    }
    case cmdClipFilesBegin: {
      const auto Begin = TClipFilesBeginMessage::Decode(APayload);
      if (!Begin) return "inválida";
      return "id=" + N(Begin->Id) + " itens=" + N(Begin->Count) + " total=" + N(Begin->Total);
    }
    case cmdClipFileEntry: {
      const auto Entry = TClipFileEntryMessage::Decode(APayload);
      if (!Entry) return "inválida";
      return "id=" + N(Entry->Id) + " tamanho=" + N(static_cast<std::uint64_t>(Entry->Size)) +
             " pasta=" + N(Entry->IsDir) + " nome=" + Quoted(TextToBytes(Entry->RelName));
    }
    case cmdClipFileData: {
      const auto Data = TClipFileDataMessage::Decode(APayload);
      if (!Data) return "inválida";
      return "id=" + N(Data->Id) + " dados=" + N(Data->Data.size());
    }
    case cmdClipFilesEnd: {
      const auto End = TClipFilesEndMessage::Decode(APayload);
      if (!End) return "inválida";
      return "id=" + N(End->Id) + " ok=" + N(End->Ok);
    }
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
