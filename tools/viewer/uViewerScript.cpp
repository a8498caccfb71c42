#include "uViewerScript.h"

#include <charconv>
#include <stdexcept>

namespace halvora::viewer {

namespace {

class EScriptLine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool IsBlank(char AChar) {
  return AChar == ' ' || AChar == '\t' || AChar == '\r';
}

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return AText;
}

// Words separated by blanks; "double quotes" hold a word with blanks.
std::vector<std::string> SplitWords(std::string_view ALine) {
  std::vector<std::string> Words;
  std::size_t Pos = 0;
  while (Pos < ALine.size()) {
    if (IsBlank(ALine[Pos])) {
      ++Pos;
      continue;
    }
    std::string Word;
    if (ALine[Pos] == '"') {
      const std::size_t Close = ALine.find('"', Pos + 1);
      if (Close == std::string_view::npos) throw EScriptLine("aspas sem fechamento");
      Word = ALine.substr(Pos + 1, Close - Pos - 1);
      Pos = Close + 1;
    } else {
      while (Pos < ALine.size() && !IsBlank(ALine[Pos])) Word += ALine[Pos++];
    }
    Words.push_back(std::move(Word));
  }
  return Words;
}

// A decimal number (or hexadecimal with 0x) within [AMin, AMax].
int Number(const std::string& AWord, long AMin, long AMax, const std::string& AWhat) {
  std::string_view Digits = AWord;
  int Base = 10;
  if (Digits.starts_with("0x") || Digits.starts_with("0X")) {
    Digits.remove_prefix(2);
    Base = 16;
  }
  long Value = 0;
  const auto [End, Error] =
      std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value, Base);
  if (Digits.empty() || Error != std::errc() || End != Digits.data() + Digits.size() ||
      Value < AMin || Value > AMax)
    throw EScriptLine(AWhat + " inválido: \"" + AWord + "\" (de " + std::to_string(AMin) + " a " +
                      std::to_string(AMax) + ")");
  return static_cast<int>(Value);
}

void ExpectWords(const std::vector<std::string>& AWords, std::size_t AMin, std::size_t AMax,
                 const char* AUsage) {
  if (AWords.size() < AMin || AWords.size() > AMax)
    throw EScriptLine(std::string("uso: ") + AUsage);
}

std::uint16_t TypedKey(char AChar) {
  if (AChar >= 'a' && AChar <= 'z') return static_cast<std::uint16_t>(AChar - 'a' + 'A');
  if ((AChar >= 'A' && AChar <= 'Z') || (AChar >= '0' && AChar <= '9') || AChar == ' ')
    return static_cast<std::uint16_t>(AChar);
  throw EScriptLine(std::string("type aceita só letras, dígitos e espaço, não \"") + AChar + "\"");
}

// Monitor, X and Y of the mouse commands; X and Y up to AMaxXY.
void ParsePosition(TScriptCommand& ACommand, const std::vector<std::string>& AWords, long AMaxXY) {
  ACommand.Monitor = Number(AWords[1], 0, 255, "monitor");
  ACommand.X = Number(AWords[2], 0, AMaxXY, "X");
  ACommand.Y = Number(AWords[3], 0, AMaxXY, "Y");
}

// ALine is trimmed and not empty. The texts of type and clip-text are taken as written.
TScriptCommand ParseLine(std::string_view ALine) {
  std::size_t NameEnd = 0;
  while (NameEnd < ALine.size() && !IsBlank(ALine[NameEnd])) ++NameEnd;
  const std::string Name(ALine.substr(0, NameEnd));
  const std::string Rest(Trim(ALine.substr(NameEnd)));
  TScriptCommand Command;
  if (Name == "type") {
    Command.Op = TScriptOp::soType;
    for (char Char : Rest) Command.Keys.push_back(TypedKey(Char));
    if (Command.Keys.empty()) throw EScriptLine("uso: type TEXTO");
    return Command;
  }
  if (Name == "clip-text") {
    Command.Op = TScriptOp::soClipText;
    Command.Text = Rest;
    return Command;
  }
  const auto Words = SplitWords(ALine);
  if (Name == "wait") {
    ExpectWords(Words, 2, 2, "wait MS");
    Command.Op = TScriptOp::soWait;
    Command.Ms = Number(Words[1], 0, 86400000, "tempo");
  } else if (Name == "wait-frames" || Name == "wait-for") {
    const bool Frames = Name == "wait-frames";
    ExpectWords(Words, 2, 3, Frames ? "wait-frames N [TIMEOUT_MS]" : "wait-for CMD [TIMEOUT_MS]");
    Command.Op = Frames ? TScriptOp::soWaitFrames : TScriptOp::soWaitFor;
    Command.Count = Frames ? Number(Words[1], 1, 1000000, "número de frames")
                           : Number(Words[1], 1, 255, "número de mensagem");
    Command.Ms = Words.size() == 3 ? Number(Words[2], 0, 86400000, "tempo") : DefaultWaitMs;
  } else if (Name == "mouse") {
    ExpectWords(Words, 5, 6, "mouse MONITOR X Y AÇÃO [RODA]");
    Command.Op = TScriptOp::soMouse;
    ParsePosition(Command, Words, 65535);
    Command.Action = Number(Words[4], 0, 255, "ação");
    if (Words.size() == 6) Command.Wheel = Number(Words[5], -32768, 32767, "roda");
  } else if (Name == "move") {
    ExpectWords(Words, 4, 4, "move MONITOR X Y");
    Command.Op = TScriptOp::soMove;
    ParsePosition(Command, Words, 65534);
  } else if (Name == "click") {
    ExpectWords(Words, 4, 5, "click MONITOR X Y [left|right|middle]");
    Command.Op = TScriptOp::soClick;
    ParsePosition(Command, Words, 65534);
    const std::string Button = Words.size() == 5 ? Words[4] : "left";
    if (Button == "left")
      Command.Action = 1;
    else if (Button == "right")
      Command.Action = 3;
    else if (Button == "middle")
      Command.Action = 5;
    else
      throw EScriptLine("botão inválido: \"" + Button + "\" (left, right ou middle)");
  } else if (Name == "wheel") {
    ExpectWords(Words, 5, 5, "wheel MONITOR X Y DELTA");
    Command.Op = TScriptOp::soWheel;
    ParsePosition(Command, Words, 65534);
    Command.Wheel = Number(Words[4], -32768, 32767, "delta");
  } else if (Name == "key") {
    ExpectWords(Words, 3, 3, "key VK down|up");
    Command.Op = TScriptOp::soKey;
    Command.Keys = {static_cast<std::uint16_t>(Number(Words[1], 0, 65535, "código de tecla"))};
    if (Words[2] != "down" && Words[2] != "up")
      throw EScriptLine("esperado down ou up, não \"" + Words[2] + "\"");
    Command.Down = Words[2] == "down";
  } else if (Name == "monitor") {
    ExpectWords(Words, 2, 2, "monitor I");
    Command.Op = TScriptOp::soMonitor;
    Command.Count = Number(Words[1], 0, 255, "monitor");
  } else if (Name == "block") {
    ExpectWords(Words, 2, 2, "block 0|1");
    Command.Op = TScriptOp::soBlock;
    Command.Count = Number(Words[1], 0, 1, "estado de bloqueio");
  } else if (Name == "clip-files") {
    ExpectWords(Words, 2, SIZE_MAX, "clip-files CAMINHO...");
    Command.Op = TScriptOp::soClipFiles;
    Command.Paths.assign(Words.begin() + 1, Words.end());
  } else {
    static const std::pair<const char*, TScriptOp> Simple[] = {{"sas", TScriptOp::soSas},
                                                               {"snapshot", TScriptOp::soSnapshot},
                                                               {"end", TScriptOp::soEnd},
                                                               {"quit", TScriptOp::soQuit}};
    for (const auto& [Word, Op] : Simple) {
      if (Name != Word) continue;
      ExpectWords(Words, 1, 1, Word);
      Command.Op = Op;
      return Command;
    }
    throw EScriptLine("comando desconhecido: \"" + Name + "\"");
  }
  return Command;
}

}  // namespace

bool ParseScript(std::string_view AText, std::vector<TScriptCommand>& ACommands,
                 std::string& AError) {
  ACommands.clear();
  int LineNo = 0;
  while (!AText.empty()) {
    const std::size_t End = AText.find('\n');
    const std::string_view Line = Trim(AText.substr(0, End));
    AText.remove_prefix(End == std::string_view::npos ? AText.size() : End + 1);
    ++LineNo;
    if (Line.empty() || Line.front() == '#') continue;
    try {
      TScriptCommand Command = ParseLine(Line);
      Command.Line = LineNo;
      Command.Source = Line;
      ACommands.push_back(std::move(Command));
    } catch (const EScriptLine& AFault) {
      AError = "linha " + std::to_string(LineNo) + ": " + AFault.what();
      return false;
    }
  }
  return true;
}

}  // namespace halvora::viewer
