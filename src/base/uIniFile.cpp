#include "base/uIniFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/uAscii.h"

namespace halvora {
namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char AChar) { return static_cast<unsigned char>(AChar) <= 0x20; }

bool IsControl(char AChar) {
  return static_cast<unsigned char>(AChar) < 0x20 || AChar == '\x7F';
}

std::string_view TrimLeft(std::string_view AText) {
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  return AText;
}


// The name of the section a header line opens; nothing for any other line.
std::optional<std::string_view> SectionOf(std::string_view ALine) {
  const std::string_view Text = TrimLeft(ALine);
  const std::size_t Close = Text.find(']');
  if (!Text.starts_with('[') || Close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(Text.substr(1, Close - 1));
}

// The name a key line sets; nothing for any other line.
std::optional<std::string_view> KeyOf(std::string_view ALine) {
  const std::string_view Text = TrimLeft(ALine);
  if (Text.starts_with(';') || Text.starts_with('#') || SectionOf(Text)) return std::nullopt;
  const std::size_t Equals = Text.find('=');
  if (Equals == std::string_view::npos) return std::nullopt;
  const std::string_view Name = TrimBlanks(Text.substr(0, Equals));
  if (Name.empty()) return std::nullopt;
  return Name;
}

// Where the value of a key line starts: after the first '=' and the blanks that follow it.
std::size_t ValueStart(std::string_view AKeyLine) {
  std::size_t Start = AKeyLine.find('=') + 1;
  while (Start < AKeyLine.size() && IsBlank(AKeyLine[Start])) ++Start;
  return Start;
}

}  // namespace

std::string WithoutControls(std::string_view AText) {
  std::string Result;
  Result.reserve(AText.size());
  for (char Char : AText) {
    if (!IsControl(Char)) Result += Char;
  }
  return Result;
}

TIniFile TIniFile::FromText(std::string_view AText) {
  TIniFile Result;
  if (AText.starts_with(Utf8Bom)) AText.remove_prefix(Utf8Bom.size());
  const std::size_t FirstEnd = AText.find('\n');
  Result.FCrLf = FirstEnd != std::string_view::npos && FirstEnd > 0 && AText[FirstEnd - 1] == '\r';
  std::size_t Start = 0;
  while (Start < AText.size()) {
    std::size_t End = AText.find('\n', Start);
    if (End == std::string_view::npos) End = AText.size();
    std::string_view Line = AText.substr(Start, End - Start);
    if (Result.FCrLf && Line.ends_with('\r')) Line.remove_suffix(1);
    Result.FLines.emplace_back(Line);
    Start = End + 1;
  }
  return Result;
}

std::string TIniFile::ToText() const {
  const std::string_view LineEnd = FCrLf ? "\r\n" : "\n";
  std::string Result;
  for (const std::string& Line : FLines) {
    Result += Line;
    Result += LineEnd;
  }
  return Result;
}

bool TIniFile::Load(const std::string& APath) {
  std::ifstream File(PathOf(APath), std::ios::binary);
  std::string Text;
  char Chunk[4096];
  while (File.read(Chunk, sizeof Chunk) || File.gcount() > 0) {
    Text.append(Chunk, static_cast<std::size_t>(File.gcount()));
  }
  // A read error (a folder, for one) sets badbit; what came before it is not used.
  const bool Read = File.is_open() && !File.bad();
  *this = FromText(Read ? Text : std::string());
  return Read;
}

void TIniFile::Save(const std::string& APath, TReplaceMode AMode) const {
  ReplaceFile(APath, ToText(), AMode);
}

std::string TIniFile::ReadString(std::string_view ASection, std::string_view AKey,
                                 std::string_view ADefault) const {
  const std::optional<std::size_t> Index = FindKey(ASection, AKey);
  if (!Index) return std::string(ADefault);
  const std::string& Line = FLines[*Index];
  return std::string(TrimBlanks(std::string_view(Line).substr(ValueStart(Line))));
}

int TIniFile::ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const {
  return ParseDecimal(ReadString(ASection, AKey, {})).value_or(ADefault);
}

bool TIniFile::ValueExists(std::string_view ASection, std::string_view AKey) const {
  return FindKey(ASection, AKey).has_value();
}

void TIniFile::WriteString(std::string_view ASection, std::string_view AKey,
                           std::string_view AValue) {
  const std::string Section = WithoutControls(ASection);
  const std::string Key = WithoutControls(AKey);
  const std::string Value = WithoutControls(AValue);
  if (const std::optional<std::size_t> Index = FindKey(Section, Key)) {
    std::string& Line = FLines[*Index];
    Line.resize(ValueStart(Line));
    Line += Value;
    return;
  }
  std::string KeyLine = Key + "=" + Value;
  if (const std::optional<std::size_t> At = InsertionPoint(Section)) {
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(*At), std::move(KeyLine));
    return;
  }
  // A blank line sets the new section apart from the text before it.
  if (!FLines.empty() && !TrimBlanks(FLines.back()).empty()) FLines.emplace_back();
  FLines.push_back("[" + Section + "]");
  FLines.push_back(std::move(KeyLine));
}

void TIniFile::DeleteKey(std::string_view ASection, std::string_view AKey) {
  if (const std::optional<std::size_t> Index = FindKey(ASection, AKey)) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(*Index));
  }
}

std::optional<std::size_t> TIniFile::FindKey(std::string_view ASection,
                                             std::string_view AKey) const {
  bool InSection = false;
  for (std::size_t I = 0; I < FLines.size(); ++I) {
    if (const std::optional<std::string_view> Name = SectionOf(FLines[I])) {
      InSection = SameTextAscii(*Name, ASection);
    } else if (InSection) {
      const std::optional<std::string_view> Key = KeyOf(FLines[I]);
      if (Key && SameTextAscii(*Key, AKey)) return I;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> TIniFile::InsertionPoint(std::string_view ASection) const {
  std::optional<std::size_t> After;
  for (std::size_t I = 0; I < FLines.size(); ++I) {
    if (const std::optional<std::string_view> Name = SectionOf(FLines[I])) {
      if (After) break;  // the end of the section's first appearance
      if (SameTextAscii(*Name, ASection)) After = I + 1;
    } else if (After && KeyOf(FLines[I])) {
      After = I + 1;
    }
  }
  return After;
}

TIniTextStore::TIniTextStore(std::string APath) : FPath(std::move(APath)) { FIni.Load(FPath); }

std::string TIniTextStore::ReadString(std::string_view ASection, std::string_view AKey,
                                      std::string_view ADefault) const {
  return FIni.ReadString(ASection, AKey, ADefault);
}

int TIniTextStore::ReadInteger(std::string_view ASection, std::string_view AKey,
                               int ADefault) const {
  return FIni.ReadInteger(ASection, AKey, ADefault);
}

bool TIniTextStore::ValueExists(std::string_view ASection, std::string_view AKey) const {
  return FIni.ValueExists(ASection, AKey);
}

void TIniTextStore::WriteString(std::string_view ASection, std::string_view AKey,
                                std::string_view AValue) {
  FIni.WriteString(ASection, AKey, AValue);
}

void TIniTextStore::DeleteKey(std::string_view ASection, std::string_view AKey) {
  FIni.DeleteKey(ASection, AKey);
}

void TIniTextStore::Commit(TReplaceMode AMode) { FIni.Save(FPath, AMode); }

}  // namespace halvora
