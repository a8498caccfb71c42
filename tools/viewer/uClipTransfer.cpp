#include "uClipTransfer.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace halvora::viewer {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxNameUnits = 240;

// UTF-16 units of a UTF-8 text; -1 when it is not well-formed UTF-8.
long Utf16Units(std::string_view AText) {
  long Units = 0;
  for (std::size_t I = 0; I < AText.size();) {
    const auto Lead = static_cast<unsigned char>(AText[I]);
    const std::size_t Length = Lead < 0x80                   ? 1
                               : Lead >= 0xC2 && Lead < 0xE0 ? 2
                               : Lead >= 0xE0 && Lead < 0xF0 ? 3
                               : Lead >= 0xF0 && Lead < 0xF5 ? 4
                                                             : 0;
    if (Length == 0 || I + Length > AText.size()) return -1;
    std::uint32_t Point = Length == 1 ? Lead : Lead & (0x7F >> Length);
    for (std::size_t K = 1; K < Length; ++K) {
      const auto Next = static_cast<unsigned char>(AText[I + K]);
      if ((Next & 0xC0) != 0x80) return -1;
      Point = (Point << 6) | (Next & 0x3F);
    }
    const std::uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (Point < Least[Length] || Point > 0x10FFFF || (Point >= 0xD800 && Point < 0xE000)) return -1;
    Units += Point >= 0x10000 ? 2 : 1;
    I += Length;
  }
  return Units;
}

bool SafePart(std::string_view APart) {
  if (APart.empty() || APart == "." || APart == "..") return false;
  if (static_cast<unsigned char>(APart.front()) <= 0x20 ||
      static_cast<unsigned char>(APart.back()) <= 0x20)
    return false;
  return std::none_of(APart.begin(), APart.end(), [](char AChar) {
    return static_cast<unsigned char>(AChar) < 0x20 ||
           std::string_view("\"*:<>?|").find(AChar) != std::string_view::npos;
  });
}

class EClipFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

std::string SafeRelativeName(std::string_view AName) {
  const long Units = Utf16Units(AName);
  if (Units <= 0 || Units > static_cast<long>(MaxNameUnits)) return {};
  std::string Result;
  std::size_t Start = 0;
  while (true) {
    const std::size_t Stop = AName.find_first_of("\\/", Start);
    const std::string_view Part = AName.substr(Start, Stop - Start);
    if (!SafePart(Part)) return {};
    if (!Result.empty()) Result += '/';
    Result += Part;
    if (Stop == std::string_view::npos) return Result;
    Start = Stop + 1;
  }
}

TClipReceiver::TClipReceiver(fs::path ABase) : FBase(std::move(ABase)) {}

TClipReceiver::~TClipReceiver() {
  Reset();
}

TClipNote TClipReceiver::Handle(std::uint8_t ACmd, const TBytes& APayload) {
  try {
    switch (ACmd) {
      case cmdClipFilesBegin:
        return Begin(APayload);
      case cmdClipFileEntry:
        return Entry(APayload);
      case cmdClipFileData:
        return Data(APayload);
      case cmdClipFilesEnd:
        return End(APayload);
      default:
        return {};
    }
  } catch (const std::exception& AFault) {
    Reset();
    return {true, std::string("transferência descartada: ") + AFault.what()};
  }
}

void TClipReceiver::Reset() {
  if (FFile.is_open()) FFile.close();
  if (FActive && !FDir.empty()) {
    std::error_code Ignored;
    fs::remove_all(FDir, Ignored);
  }
  FActive = false;
  FDir.clear();
  FTop.clear();
}

TClipNote TClipReceiver::Begin(const TBytes& APayload) {
  Reset();
  std::string Fault;
  const auto Message = TClipFilesBeginMessage::Decode(APayload, &Fault);
  if (!Message) return {true, Fault};
  int Sequence = 1;
  while (fs::exists(FBase / ("transfer-" + std::to_string(Sequence)))) ++Sequence;
  FDir = FBase / ("transfer-" + std::to_string(Sequence));
  fs::create_directories(FDir);
  FActive = true;
  FId = Message->Id;
  FCount = Message->Count;
  FEntries = 0;
  FTotal = Message->Total;
  FReceived = 0;
  return {};
}

TClipNote TClipReceiver::Entry(const TBytes& APayload) {
  const auto Message = TClipFileEntryMessage::Decode(APayload);
  if (auto Why = Mismatch(Message); !Why.empty()) return {true, Why};
  if (FFile.is_open()) FFile.close();
  if (FEntries == FCount)
    throw EClipFailure("mais entradas que as " + std::to_string(FCount) + " anunciadas");
  const std::string Name = SafeRelativeName(Message->RelName);
  if (Name.empty()) throw EClipFailure("nome de arquivo inválido");
  ++FEntries;
  const fs::path Full = FDir / fs::path(Name);
  if (Message->IsDir) {
    fs::create_directories(Full);
  } else {
    fs::create_directories(Full.parent_path());
    FFile.open(Full, std::ios::binary | std::ios::trunc);
    if (!FFile) throw EClipFailure("não foi possível criar " + Name);
  }
  const std::string Top = Name.substr(0, Name.find('/'));
  if (std::find(FTop.begin(), FTop.end(), Top) == FTop.end()) FTop.push_back(Top);
  return {};
}

TClipNote TClipReceiver::Data(const TBytes& APayload) {
  const auto Message = TClipFileDataMessage::Decode(APayload);
  if (auto Why = Mismatch(Message); !Why.empty()) return {true, Why};
  if (!FFile.is_open()) return {true, "ignorada: dados sem arquivo aberto"};
  FReceived += Message->Data.size();
  if (FReceived > FTotal) throw EClipFailure("dados além do tamanho anunciado");
  FFile.write(reinterpret_cast<const char*>(Message->Data.data()),
              static_cast<std::streamsize>(Message->Data.size()));
  if (!FFile) throw EClipFailure("falha ao gravar");
  return {};
}

TClipNote TClipReceiver::End(const TBytes& APayload) {
  const auto Message = TClipFilesEndMessage::Decode(APayload);
  if (auto Why = Mismatch(Message); !Why.empty()) return {true, Why};
  if (FFile.is_open()) FFile.close();
  if (!Message->Ok || FTop.empty()) {
    Reset();
    return {false, "transferência cancelada pelo remetente"};
  }
  TClipNote Note{
      false, std::to_string(FTop.size()) + " item(ns) recebido(s) em " + FDir.filename().string()};
  FActive = false;  // the folder stays
  FDir.clear();
  FTop.clear();
  return Note;
}

namespace {

bool Collect(const fs::path& APath, const std::string& ARelName, TClipList& AList,
             std::string& AError) {
  if (AList.Entries.size() >= ClipMaxEntries) {
    AError = "mais de " + std::to_string(ClipMaxEntries) + " itens";
    return false;
  }
  std::error_code Error;
  const auto Status = fs::status(APath, Error);
  TClipEntry Entry{APath, ARelName, fs::is_directory(Status), 0};
  if (!Entry.IsDir) Entry.Size = fs::file_size(APath, Error);
  if (Error) {
    AError = "não foi possível ler " + APath.string() + ": " + Error.message();
    return false;
  }
  AList.Total += Entry.Size;
  AList.Entries.push_back(Entry);
  if (AList.Total > ClipMaxBytes) {
    AError = "mais de " + std::to_string(ClipMaxBytes / (1024 * 1024)) + " MB";
    return false;
  }
  if (!Entry.IsDir || fs::is_symlink(APath)) return true;
  std::vector<fs::path> Children;
  for (const auto& Child : fs::directory_iterator(APath, Error)) Children.push_back(Child.path());
  std::sort(Children.begin(), Children.end());
  for (const auto& Child : Children)
    if (!Collect(Child, ARelName + "\\" + Child.filename().string(), AList, AError)) return false;
  return true;
}

bool SendEntry(std::uint32_t AId, const TClipEntry& AEntry, const TSendFunc& ASend) {
  const TBytes Header = TClipFileEntryMessage{AId, static_cast<std::int64_t>(AEntry.Size),
                                              AEntry.IsDir, AEntry.RelName}
                            .Encode();
  if (AEntry.IsDir) return ASend(cmdClipFileEntry, Header);
  std::ifstream File(AEntry.FullPath, std::ios::binary);
  if (!File) return true;
  if (!ASend(cmdClipFileEntry, Header)) return false;
  std::uint64_t Remaining = AEntry.Size;
  std::vector<std::uint8_t> Buffer(ClipChunkBytes);
  while (Remaining > 0) {
    File.read(reinterpret_cast<char*>(Buffer.data()),
              static_cast<std::streamsize>(std::min<std::uint64_t>(Remaining, ClipChunkBytes)));
    const auto Count = static_cast<std::size_t>(File.gcount());
    if (Count == 0) break;  // the file became shorter
    const TBytes Chunk = TClipFileDataMessage{AId, {Buffer.data(), Count}}.Encode();
    if (!ASend(cmdClipFileData, Chunk)) return false;
    Remaining -= Count;
  }
  return true;
}

}  // namespace

bool CollectClipEntries(const std::vector<std::string>& APaths, TClipList& AList,
                        std::string& AError) {
  AList = {};
  for (const auto& Text : APaths) {
    fs::path Path(Text);
    if (!Path.has_filename()) Path = Path.parent_path();  // a trailing separator
    std::error_code Error;
    if (!fs::exists(Path, Error)) {
      AError = "não encontrado: " + Text;
      return false;
    }
    if (!Collect(Path, Path.filename().string(), AList, AError)) return false;
  }
  return true;
}

bool SendClipTransfer(std::uint32_t AId, const TClipList& AList, const TSendFunc& ASend) {
  const TClipFilesBeginMessage Begin{AId, static_cast<std::uint32_t>(AList.Entries.size()),
                                     AList.Total};
  if (!ASend(cmdClipFilesBegin, Begin.Encode())) return false;
  for (const auto& Entry : AList.Entries)
    if (!SendEntry(AId, Entry, ASend)) return false;
  return ASend(cmdClipFilesEnd, TClipFilesEndMessage{AId, true}.Encode());
}

}  // namespace halvora::viewer
