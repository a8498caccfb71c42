#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uWire.h"

namespace halvora::viewer {

// Limits of one file transfer, the same on both sides.
inline constexpr std::uint32_t ClipMaxEntries = ClipTransferMaxEntries;
inline constexpr std::uint64_t ClipMaxBytes = ClipTransferMaxBytes;
inline constexpr std::size_t ClipChunkBytes = ClipDataChunkBytes;

// A received entry name made safe for the receive folder: the parts of a relative name
// (separated by "\" or "/") joined with "/"; empty when the name is rejected (empty, longer
// than 240 UTF-16 units, not UTF-8, absolute, with an empty, "." or ".." part, a part that
// begins or ends with a blank or control character, or one of the characters " * : < > ? |).
std::string SafeRelativeName(std::string_view AName);

// What handling one transfer message has to report; nothing when Text is empty.
struct TClipNote {
  bool Failed = false;
  std::string Text;
};

// Stores incoming file transfers (messages 112 to 115), each in a new folder
// transfer-<n> below the base folder. A transfer that fails (a rejected name, more entries or
// more data than its header announced, a file-system error) or that the sender cancels is
// deleted with its folder; a completed one stays.
class TClipReceiver {
 public:
  explicit TClipReceiver(std::filesystem::path ABase);
  ~TClipReceiver();  // an unfinished transfer is dropped
  TClipReceiver(const TClipReceiver&) = delete;
  TClipReceiver& operator=(const TClipReceiver&) = delete;

  TClipNote Handle(std::uint8_t ACmd, const TBytes& APayload);
  void Reset();  // drops the open transfer, if any

 private:
  TClipNote Begin(const TBytes& APayload);
  TClipNote Entry(const TBytes& APayload);
  TClipNote Data(const TBytes& APayload);
  TClipNote End(const TBytes& APayload);
  // Empty when AMessage belongs to the open transfer, else why it is ignored.
  template <class TMessage>
  std::string Mismatch(const std::optional<TMessage>& AMessage) const {
    if (!FActive) return "ignorada: nenhuma transferência aberta";
    if (!AMessage) return "ignorada: mensagem inválida";
    if (AMessage->Id != FId) return "ignorada: outra transferência";
    return {};
  }

  std::filesystem::path FBase;
  bool FActive = false;
  std::uint32_t FId = 0, FCount = 0, FEntries = 0;
  std::uint64_t FTotal = 0, FReceived = 0;
  std::filesystem::path FDir;
  std::ofstream FFile;
  std::vector<std::string> FTop;  // top-level items received, each once
};

// One file or folder of an outgoing transfer.
struct TClipEntry {
  std::filesystem::path FullPath;
  std::string RelName;  // top-level name, then nested names, joined with "\"
  bool IsDir = false;
  std::uint64_t Size = 0;
};

struct TClipList {
  std::vector<TClipEntry> Entries;  // folders before their content
  std::uint64_t Total = 0;          // bytes of all files
};

// Walks the given files and folders (symbolic links to folders are sent as empty folders);
// false with AError when a path does not exist or the limits are passed.
bool CollectClipEntries(const std::vector<std::string>& APaths, TClipList& AList,
                        std::string& AError);

using TSendFunc = std::function<bool(std::uint8_t ACmd, const TBytes& APayload)>;

// Sends AList as transfer AId: header, entries with their data, end. A file that cannot be
// read is left out (still counted in the header). False when a send fails.
bool SendClipTransfer(std::uint32_t AId, const TClipList& AList, const TSendFunc& ASend);

}  // namespace halvora::viewer
