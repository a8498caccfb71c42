#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/uBytes.h"
#include "clipboard/uClipboardAccess.h"
#include "host/uHostServices.h"

namespace halvora::test {

// Payloads of the clipboard messages, as a peer builds them.
TIdBytes BeginPayload(std::uint32_t AId, std::uint32_t ACount, std::uint64_t ATotal);
TIdBytes EntryPayload(std::uint32_t AId, std::int64_t ASize, bool AIsDir, const std::string& AName);
TIdBytes DataPayload(std::uint32_t AId, const std::string& AData);
TIdBytes EndPayload(std::uint32_t AId, std::uint8_t AOk);
std::uint32_t U32At(const TIdBytes& APayload, std::size_t AOffset);
std::uint64_t U64At(const TIdBytes& APayload, std::size_t AOffset);

// The messages a clipboard object sent, from any thread. Data messages (114) keep only their id
// and their length unless KeepData is set, so that large transfers cost no memory.
class TWire {
 public:
  struct TMessage {
    std::uint8_t Cmd = 0;
    TIdBytes Payload;      // for 114 without KeepData: the id only
    std::size_t Size = 0;  // payload length
    std::uint32_t Id() const { return U32At(Payload, 0); }
    std::string Text(std::size_t AFrom = 0) const {
      return std::string(Payload.begin() + static_cast<std::ptrdiff_t>(AFrom), Payload.end());
    }
  };

  bool KeepData = true;
  // Runs before a message is recorded, on the sending thread; false fails the send.
  std::function<bool(std::uint8_t ACmd, const TIdBytes& APayload)> BeforeSend;

  TSendPacketFunc Func();
  std::vector<TMessage> Messages();
  std::size_t Count();
  // A message 115 of transfer AId was sent.
  bool Ended(std::uint32_t AId);
  void Clear();

 private:
  bool Send(std::uint8_t ACmd, const TIdBytes& APayload);

  std::mutex FLock;
  std::vector<TMessage> FMessages;
};

// A clipboard in memory. Writes notify at once, as Qt does; a local copy is made with Copy*.
class TMemoryClipboard final : public IClipboardAccess {
 public:
  // What the clipboard tells about our own writes.
  bool ReportsOwner = true;  // OwnedBySelf is true while our write is on it
  // Own writes call the change handler during the write, as Qt does; otherwise the
  // notification waits for DeliverPending, as a posted window message would.
  bool NotifiesOwnWrites = true;

  std::optional<std::string> Text;
  std::optional<std::vector<std::string>> Files;
  int Writes = 0;

  void CopyText(const std::string& AText);
  void CopyFiles(const std::vector<std::string>& APaths,
                 std::optional<std::string> AText = std::nullopt);

  void SetOnChange(std::function<void()> AHandler) override { FOnChange = std::move(AHandler); }
  std::uint32_t SequenceNumber() override { return FSequence; }
  bool OwnedBySelf() override { return ReportsOwner && FOwn; }
  bool ReadFiles(std::vector<std::string>& APaths) override;
  bool ReadText(std::string& AText) override;
  bool WriteText(const std::string& AText) override;
  bool WriteFiles(const std::vector<std::string>& APaths) override;
  bool Listening() const { return static_cast<bool>(FOnChange); }
  void DeliverPending();

 private:
  void Changed(bool AOwn);

  std::function<void()> FOnChange;
  std::uint32_t FSequence = 100;
  bool FOwn = false;
  bool FPending = false;
};

}  // namespace halvora::test
