#include "clipboard/uClipboardSync.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

#include "base/uAscii.h"
#include "base/uText.h"
#include "protocol/uMessages.h"

namespace halvora {
namespace {

const char* const ReceiveFailedText = "Falha ao receber a área de transferência: ";

// Windows opens a device instead of a file for these names, whatever the extension.
bool IsDeviceName(std::string_view APart) {
  std::string_view Base = APart.substr(0, APart.find('.'));
  while (!Base.empty() && Base.back() == ' ') Base.remove_suffix(1);
  const std::string Lower = AsciiLower(Base);
  static const std::array<std::string_view, 6> Fixed{"con", "prn",    "aux",
                                                     "nul", "conin$", "conout$"};
  if (std::find(Fixed.begin(), Fixed.end(), Lower) != Fixed.end()) return true;
  if (Lower.size() < 4 || (Lower.compare(0, 3, "com") != 0 && Lower.compare(0, 3, "lpt") != 0))
    return false;
  const std::string_view Number = std::string_view(Lower).substr(3);
  // A digit, or a superscript one, two or three (also reserved by Windows).
  return (Number.size() == 1 && Number[0] >= '0' && Number[0] <= '9') || Number == "\xC2\xB9" ||
         Number == "\xC2\xB2" || Number == "\xC2\xB3";
}

bool SafePart(std::string_view APart) {
  if (APart.empty() || APart == "." || APart == "..") return false;
  if (static_cast<unsigned char>(APart.front()) <= 0x20 ||
      static_cast<unsigned char>(APart.back()) <= 0x20 || APart.back() == '.')
    return false;
  for (const char C : APart)
    if (static_cast<unsigned char>(C) < 0x20 ||
        std::string_view("\"*:<>?|").find(C) != std::string_view::npos)
      return false;
  return !IsDeviceName(APart);
}

// A name that the receiving side stores as it is: valid UTF-8, one part (no separator of
// either kind) and, within ARelName, acceptable to SafeRelativeName. Other names would change
// on the way or make the receiver drop the whole transfer, so the walk leaves them out.
bool SendableName(const std::string& AName, const std::string& ARelName) {
  return AName.find_first_of("\\/") == std::string::npos && SanitizeUtf8(AName) == AName &&
         !SafeRelativeName(ARelName).empty();
}

std::string LimitText() {
  char Text[160];
  std::snprintf(Text, sizeof Text,
                "Arquivos copiados não foram enviados: passam do limite de %d MB ou de %d itens.",
                static_cast<int>(ClipMaxBytes / 1048576), static_cast<int>(ClipMaxEntries));
  return Text;
}

}  // namespace

std::string SafeRelativeName(std::string_view AName) {
  if (AName.empty() || Utf16Length(AName) > ClipMaxNameUnits) return {};
  std::string Result;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t Stop = AName.find_first_of("\\/", Start);
    const std::string_view Part = AName.substr(Start, Stop - Start);
    if (!SafePart(Part)) return {};
    if (Start > 0) Result += '/';
    Result += Part;
    if (Stop == std::string_view::npos) return Result;
    Start = Stop + 1;
  }
}

std::string ReceiveFolderName(const TLocalTime& ATime) {
  char Name[64];
  std::snprintf(Name, sizeof Name, "clip-%04d%02d%02d-%02d%02d%02d%03d", ATime.Year, ATime.Month,
                ATime.Day, ATime.Hour, ATime.Minute, ATime.Second, ATime.Millisecond);
  return Name;
}

// --- TClipFileSender ---

TClipFileSender::TClipFileSender(TClipboardSync& AOwner, TSendPacketFunc ASend,
                                 std::vector<std::string> APaths, std::uint32_t AId,
                                 IClipFileSystem& AFiles, TMainQueue& AQueue)
    : TThread(AQueue),
      FOwner(AOwner),
      FSend(std::move(ASend)),
      FId(AId),
      FPaths(std::move(APaths)),
      FFiles(AFiles) {
  Start();
}

TClipFileSender::~TClipFileSender() {
  StopThread();
}

void TClipFileSender::QueueNotify(const std::string& AText) {
  Queue([this, AText] { FOwner.Notify(AText); });
}

bool TClipFileSender::CollectEntries(const std::string& APath, const std::string& ARelName) {
  if (Terminated() || FEntries.size() >= ClipMaxEntries) return false;
  TFileInfo Info;
  if (!FFiles.Lookup(APath, Info)) return true;
  const std::int64_t Size = Info.IsDir ? 0 : std::max<std::int64_t>(Info.Size, 0);
  FEntries.push_back(TFileEntry{APath, ARelName, Info.IsDir, Size});
  FTotal += Size;
  if (static_cast<std::uint64_t>(FTotal) > ClipMaxBytes) return false;
  if (!Info.IsDir || Info.IsLink) return true;
  const bool EndsWithDelimiter = !APath.empty() && FFiles.IsDelimiter(APath.back());
  const std::string Prefix = EndsWithDelimiter ? APath : APath + FFiles.Delimiter();
  return FFiles.EnumFolder(APath, [&](const std::string& AName) {
    const std::string RelName = ARelName + "\\" + AName;
    if (!SendableName(AName, RelName)) return !Terminated();
    return CollectEntries(Prefix + AName, RelName);
  });
}

bool TClipFileSender::SendEntry(const TFileEntry& AEntry) {
  const TIdBytes Header =
      TClipFileEntryMessage{FId, AEntry.Size, AEntry.IsDir, AEntry.RelName}.Encode();
  if (AEntry.IsDir) return FSend(cmdClipFileEntry, Header);

  const std::unique_ptr<IFileReader> Reader = FFiles.OpenRead(AEntry.FullPath);
  if (!Reader) return true;  // left out; it stays counted in message 112
  if (!FSend(cmdClipFileEntry, Header)) return false;

  TIdBytes Buffer(ClipChunkBytes);
  std::uint64_t Remaining = static_cast<std::uint64_t>(AEntry.Size);
  while (Remaining > 0 && !Terminated()) {
    const std::size_t Want =
        static_cast<std::size_t>(std::min<std::uint64_t>(Remaining, ClipChunkBytes));
    const std::size_t Got = Reader->Read(Buffer.data(), Want);
    if (Got == 0) break;  // the file became shorter
    if (!FSend(cmdClipFileData, TClipFileDataMessage{FId, {Buffer.data(), Got}}.Encode()))
      return false;
    Remaining -= Got;
  }
  return true;
}

void TClipFileSender::SendEnd(std::uint8_t AOk) {
  FSend(cmdClipFilesEnd, TClipFilesEndMessage{FId, AOk != 0}.Encode());
}

void TClipFileSender::Execute() {
  try {
    for (std::string Path : FPaths) {
      while (Path.size() > 1 && FFiles.IsDelimiter(Path.back())) Path.pop_back();
      std::size_t NameStart = Path.size();
      while (NameStart > 0 && !FFiles.IsDelimiter(Path[NameStart - 1])) --NameStart;
      const std::string Name = Path.substr(NameStart);
      if (!SendableName(Name, Name)) continue;
      if (!CollectEntries(Path, Name)) {
        if (!Terminated()) QueueNotify(LimitText());
        return;
      }
    }
  } catch (...) {
    return;  // nothing was sent
  }
  if (FEntries.empty()) return;

  const TClipFilesBeginMessage Begin{FId, static_cast<std::uint32_t>(FEntries.size()),
                                     static_cast<std::uint64_t>(FTotal)};
  if (!FSend(cmdClipFilesBegin, Begin.Encode())) return;

  bool Stopped = false;
  try {
    for (const TFileEntry& Entry : FEntries) {
      if (Terminated()) break;
      if (!SendEntry(Entry)) return;  // the connection is gone: no message 115
    }
    Stopped = Terminated();
    SendEnd(Stopped ? 0 : 1);
  } catch (...) {
    SendEnd(0);
    return;
  }
  if (!Stopped)
    QueueNotify(std::to_string(FEntries.size()) +
                " item(ns) copiado(s) para a área de transferência do outro computador.");
}

// --- TClipboardSync ---

TClipboardSync::TClipboardSync(IClipboardAccess& AClipboard, IClipFileSystem& AFiles,
                               std::string ABaseFolder, TLocalTimeFunc ANow, TMainQueue& AQueue)
    : FClipboard(AClipboard),
      FFiles(AFiles),
      FBaseFolder(std::move(ABaseFolder)),
      FNow(std::move(ANow)),
      FQueue(AQueue) {
  // Files received by earlier runs are no longer on any clipboard.
  if (!FBaseFolder.empty()) FFiles.DeleteTree(FBaseFolder);
  FClipboard.SetOnChange([this] { ClipboardChanged(); });
}

TClipboardSync::~TClipboardSync() {
  Deactivate();
  FClipboard.SetOnChange({});
}

void TClipboardSync::Activate(TSendPacketFunc ASend) {
  HALVORA_CHECK_THREAD(FMainThread);
  Deactivate();
  FSend = std::move(ASend);
  FActive = true;
}

void TClipboardSync::Deactivate() {
  HALVORA_CHECK_THREAD(FMainThread);
  FActive = false;
  StopSender();
  ResetIncoming();
  FSend = nullptr;
}

void TClipboardSync::SendText(const std::string& AText) {
  if (!FActive || Utf16Length(AText) > ClipMaxTextUnits) return;
  StopSender();
  FSend(cmdClipText, TClipTextMessage{AText}.Encode());
}

void TClipboardSync::SendFiles(const std::vector<std::string>& APaths) {
  if (!FActive) return;
  StopSender();
  ++FNextId;
  FSender = std::make_unique<TClipFileSender>(*this, FSend, APaths, FNextId, FFiles, FQueue);
}

void TClipboardSync::Notify(const std::string& AText) {
  if (FOnNotify) FOnNotify(AText);
}

void TClipboardSync::StopSender() {
  // The destructor terminates the thread, joins it and withdraws what it queued.
  FSender.reset();
}

void TClipboardSync::ClipboardChanged() {
  try {
    if (!FActive) return;
    // Our own write: received text or files must not go back.
    if (FClipboard.SequenceNumber() == FOwnSequence || FClipboard.OwnedBySelf()) return;
    std::vector<std::string> Paths;
    if (FClipboard.ReadFiles(Paths)) {
      if (!Paths.empty()) SendFiles(Paths);
      return;  // a file list wins over text copied along with it
    }
    std::string Text;
    if (FClipboard.ReadText(Text) && !Text.empty()) SendText(Text);
  } catch (...) {
    // A change that cannot be handled is not shared.
  }
}

void TClipboardSync::SetClipboardText(const std::string& AText) {
  if (FClipboard.WriteText(AText)) FOwnSequence = FClipboard.SequenceNumber();
}

void TClipboardSync::SetClipboardFiles(const std::vector<std::string>& APaths) {
  if (FClipboard.WriteFiles(APaths)) FOwnSequence = FClipboard.SequenceNumber();
}

void TClipboardSync::HandlePacket(std::uint8_t ACmd, const TIdBytes& APayload) {
  HALVORA_CHECK_THREAD(FMainThread);
  if (!FActive) return;
  try {
    switch (ACmd) {
      case cmdClipText:
        ReceiveText(APayload);
        break;
      case cmdClipFilesBegin:
        BeginIncoming(APayload);
        break;
      case cmdClipFileEntry:
        IncomingEntry(APayload);
        break;
      case cmdClipFileData:
        IncomingData(APayload);
        break;
      case cmdClipFilesEnd:
        IncomingEnd(APayload);
        break;
      default:
        break;
    }
  } catch (const std::exception& AFailure) {
    ResetIncoming();
    Notify(ReceiveFailedText + std::string(AFailure.what()));
  } catch (...) {
    ResetIncoming();
    Notify(ReceiveFailedText + std::string("erro desconhecido"));
  }
}

void TClipboardSync::ReceiveText(const TIdBytes& APayload) {
  // Counted on the payload itself: a text far over the limit is never copied.
  const std::string_view Utf8(reinterpret_cast<const char*>(APayload.data()), APayload.size());
  if (Utf16Length(Utf8) > ClipMaxTextUnits)
    throw EClipFailure("texto além do limite de 2.097.152 caracteres");
  ResetIncoming();
  SetClipboardText(TClipTextMessage::Decode(APayload)->Text);
}

// --- incoming file transfer ---

std::string TClipboardSync::JoinPath(const std::string& AFolder,
                                     const std::string& ARelative) const {
  std::string Result = AFolder;
  if (Result.empty() || !FFiles.IsDelimiter(Result.back())) Result += FFiles.Delimiter();
  for (const char C : ARelative) Result += C == '/' ? FFiles.Delimiter() : C;
  return Result;
}

void TClipboardSync::CloseIncomingFile() {
  if (!FInStream) return;
  std::unique_ptr<IFileWriter> Stream = std::move(FInStream);
  Stream->Close();
}

void TClipboardSync::ResetIncoming() {
  FInStream.reset();  // closes, ignoring failures
  if (FInActive && !FInDir.empty()) FFiles.DeleteTree(FInDir);
  FInActive = false;
  FInDir.clear();
  FInTop.clear();
}

void TClipboardSync::BeginIncoming(const TIdBytes& APayload) {
  ResetIncoming();
  // Another length or a transfer over the limits: ignored with what follows.
  const auto Begin = TClipFilesBeginMessage::Decode(APayload);
  if (!Begin) return;
  if (FBaseFolder.empty()) throw EClipFailure("pasta temporária indisponível");
  FFiles.EnsurePrivateFolder(FBaseFolder);
  // Named after the local time; two transfers within one millisecond get folders of their own.
  const std::string Name = ReceiveFolderName(FNow());
  std::string Dir = JoinPath(FBaseFolder, Name);
  for (int Suffix = 2; !FFiles.CreateNewFolder(Dir); ++Suffix) {
    if (Suffix > 100) throw EClipFailure("não foi possível criar a pasta de recebimento");
    Dir = JoinPath(FBaseFolder, Name + "-" + std::to_string(Suffix));
  }
  FInId = Begin->Id;
  FInCount = Begin->Count;
  FInEntries = 0;
  FInTotal = Begin->Total;
  FInReceived = 0;
  FInDir = Dir;
  FInActive = true;
}

void TClipboardSync::IncomingEntry(const TIdBytes& APayload) {
  const auto Entry = TClipFileEntryMessage::Decode(APayload);
  if (!FInActive || !Entry || Entry->Id != FInId) return;
  CloseIncomingFile();
  // Without this count a peer could create folders without end under one message 112.
  if (FInEntries >= FInCount) throw EClipFailure("mais itens que os anunciados");
  ++FInEntries;
  const std::string Name = SafeRelativeName(Entry->RelName);
  if (Name.empty()) throw EClipFailure("nome de arquivo inválido");
  const std::string FullPath = JoinPath(FInDir, Name);
  const std::size_t LastSlash = Name.rfind('/');
  if (Entry->IsDir) {
    FFiles.CreateFolders(FullPath);
  } else {
    if (LastSlash != std::string::npos)
      FFiles.CreateFolders(JoinPath(FInDir, Name.substr(0, LastSlash)));
    FInStream = FFiles.CreateFile(FullPath);
  }
  const std::string Top = JoinPath(FInDir, Name.substr(0, Name.find('/')));
  const bool Known = std::any_of(FInTop.begin(), FInTop.end(), [&](const std::string& APath) {
    return FFiles.SameName(APath, Top);
  });
  if (!Known) FInTop.push_back(Top);
}

void TClipboardSync::IncomingData(const TIdBytes& APayload) {
  const auto Data = TClipFileDataMessage::Decode(APayload);
  if (!FInActive || !Data || Data->Id != FInId || !FInStream) return;
  FInReceived += Data->Data.size();
  if (FInReceived > FInTotal) throw EClipFailure("dados além do tamanho anunciado");
  FInStream->Write(Data->Data.data(), Data->Data.size());
}

void TClipboardSync::IncomingEnd(const TIdBytes& APayload) {
  const auto End = TClipFilesEndMessage::Decode(APayload);
  if (!FInActive || !End || End->Id != FInId) return;
  CloseIncomingFile();
  if (!End->Ok || FInTop.empty()) {
    ResetIncoming();
    return;
  }
  // The folder stays: the clipboard refers to it until the next program start.
  const std::vector<std::string> Top = std::move(FInTop);
  FInActive = false;
  FInDir.clear();
  FInTop.clear();
  SetClipboardFiles(Top);
  Notify(std::to_string(Top.size()) +
         " item(ns) recebido(s) na área de transferência. Use Colar para salvar.");
}

}  // namespace halvora
