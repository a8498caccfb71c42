#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/uBytes.h"
#include "base/uMainQueue.h"
#include "base/uThread.h"
#include "base/uThreadCheck.h"
#include "clipboard/uClipFiles.h"
#include "clipboard/uClipboardAccess.h"
#include "clipboard/uClipboardService.h"
#include "protocol/uClipMessages.h"

namespace halvora {

// Limits of clipboard sharing; the sending and the receiving side enforce the same.
inline constexpr std::size_t ClipMaxTextUnits = 2097152;  // UTF-16 code units of a text
inline constexpr std::uint32_t ClipMaxEntries = ClipTransferMaxEntries;  // files and folders
inline constexpr std::uint64_t ClipMaxBytes = ClipTransferMaxBytes;      // file bytes
inline constexpr std::size_t ClipChunkBytes = ClipDataChunkBytes;        // data per message 114
inline constexpr std::size_t ClipMaxNameUnits = 240;  // UTF-16 units of a relative name

// Receives each text to be shown to the local user.
using TClipNotifyEvent = std::function<void(const std::string& AText)>;

// A received entry name made safe for the receive folder: its parts (separated by "\" or
// "/") joined with "/"; empty when the name is rejected: empty or longer than 240 UTF-16
// units, with an empty, "." or ".." part, a part that begins or ends with a character at or
// below U+0020, that contains a control character or one of " * : < > ? |, that ends with
// ".", or that Windows reads as a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0–COM9,
// LPT0–LPT9 and COM or LPT with a superscript 1, 2 or 3; with any extension, in any case). A
// valid name always stays inside the folder it is joined to.
std::string SafeRelativeName(std::string_view AName);

// "clip-yyyymmdd-hhnnsszzz" for ATime.
std::string ReceiveFolderName(const TLocalTime& ATime);

// One item of an outgoing transfer.
struct TFileEntry {
  std::string FullPath;
  std::string RelName;  // the copied item's name, then nested names, joined with "\"
  bool IsDir = false;
  std::int64_t Size = 0;  // file size when the list was made; 0 for a folder
};

class TClipboardSync;

// Sends copied files and folders as one transfer (messages 112 to 115) on a thread of its own:
// walks the paths (folders before their content), checks the limits, then sends every entry,
// file data in pieces of at most 64 KiB read as they go out. Destroying it stops it; a transfer
// that had begun then ends with message 115 carrying 0.
class TClipFileSender final : public TThread {
 public:
  // Starts at once. AFiles must outlive the sender; AOwner's Notify shows the results.
  TClipFileSender(TClipboardSync& AOwner, TSendPacketFunc ASend, std::vector<std::string> APaths,
                  std::uint32_t AId, IClipFileSystem& AFiles, TMainQueue& AQueue);
  ~TClipFileSender() override;

  std::uint32_t Id() const { return FId; }

 protected:
  void Execute() override;

 private:
  // Queues the text to the owner's Notify on the main thread, without waiting.
  void QueueNotify(const std::string& AText);
  // Appends APath and, for a folder, its content; false stops the whole transfer.
  bool CollectEntries(const std::string& APath, const std::string& ARelName);
  // False only when a send failed.
  bool SendEntry(const TFileEntry& AEntry);
  void SendEnd(std::uint8_t AOk);

  TClipboardSync& FOwner;
  const TSendPacketFunc FSend;
  const std::uint32_t FId;
  const std::vector<std::string> FPaths;
  IClipFileSystem& FFiles;
  std::vector<TFileEntry> FEntries;
  std::int64_t FTotal = 0;
};

// Clipboard sharing with the technician while a session runs: clipboard changes on this
// computer go out as text (message 111) or as a file transfer; text that arrives is put on the
// clipboard at once, and files that arrive are stored below the base folder and put on the
// clipboard as a file list when their transfer is complete. Everything but the sender's
// thread runs on the main thread.
class TClipboardSync final : public IClipboardSync {
 public:
  // Deletes ABaseFolder with everything in it (files received by earlier runs) and listens to
  // AClipboard. AClipboard and AFiles must outlive this object; ANow gives the local time.
  TClipboardSync(IClipboardAccess& AClipboard, IClipFileSystem& AFiles, std::string ABaseFolder,
                 TLocalTimeFunc ANow, TMainQueue& AQueue = MainQueue());
  ~TClipboardSync() override;
  TClipboardSync(const TClipboardSync&) = delete;
  TClipboardSync& operator=(const TClipboardSync&) = delete;

  // Where status texts go (the main window's status line).
  void SetOnNotify(TClipNotifyEvent AOnNotify) { FOnNotify = std::move(AOnNotify); }

  // Starts sharing through ASend (thread-safe; the sender thread calls it too). What is on the
  // clipboard now is not sent, only later changes.
  void Activate(TSendPacketFunc ASend) override;
  // Stops the sender, drops an unfinished incoming transfer and stops sharing.
  void Deactivate() override;
  // Messages 111 to 115 from the technician; ignored while inactive. A text over 2,097,152
  // UTF-16 units, like any receive failure, drops an unfinished incoming transfer and is
  // reported through Notify; nothing goes onto the clipboard.
  void HandlePacket(std::uint8_t ACmd, const TIdBytes& APayload) override;

  bool Active() const { return FActive; }
  // Sends a text unless it is longer than 2,097,152 UTF-16 units; stops a running sender first.
  void SendText(const std::string& AText);
  // Stops a running sender and starts a new one with the next transfer id.
  void SendFiles(const std::vector<std::string>& APaths);
  void Notify(const std::string& AText);
  // The last sender started, running or ended; null when none.
  const TClipFileSender* Sender() const { return FSender.get(); }

 private:
  TThreadCheck FMainThread;  // the one that made it
  void ClipboardChanged();
  // Puts a received text on the clipboard; one over the limit fails the receive instead.
  void ReceiveText(const TIdBytes& APayload);
  void SetClipboardText(const std::string& AText);
  void SetClipboardFiles(const std::vector<std::string>& APaths);
  void StopSender();

  void ResetIncoming();
  void BeginIncoming(const TIdBytes& APayload);
  void IncomingEntry(const TIdBytes& APayload);
  void IncomingData(const TIdBytes& APayload);
  void IncomingEnd(const TIdBytes& APayload);
  void CloseIncomingFile();
  // AFolder joined with a relative name whose parts are separated by "/".
  std::string JoinPath(const std::string& AFolder, const std::string& ARelative) const;

  IClipboardAccess& FClipboard;
  IClipFileSystem& FFiles;
  const std::string FBaseFolder;
  const TLocalTimeFunc FNow;
  TMainQueue& FQueue;

  TSendPacketFunc FSend;
  bool FActive = false;
  std::uint32_t FOwnSequence = 0;
  TClipNotifyEvent FOnNotify;
  std::unique_ptr<TClipFileSender> FSender;
  std::uint32_t FNextId = 0;

  bool FInActive = false;
  std::uint32_t FInId = 0;
  std::uint32_t FInCount = 0;    // entries announced by message 112
  std::uint32_t FInEntries = 0;  // entries received
  std::uint64_t FInTotal = 0;
  std::uint64_t FInReceived = 0;
  std::string FInDir;
  std::unique_ptr<IFileWriter> FInStream;
  std::vector<std::string> FInTop;
};

}  // namespace halvora
