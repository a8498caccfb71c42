#include "uClipTestSupport.h"

#include "protocol/uProtocol.h"

namespace halvora::test {
namespace {

void Put(TIdBytes& ABytes, std::uint64_t AValue, int ASize) {
  for (int I = 0; I < ASize; ++I) ABytes.push_back(static_cast<std::uint8_t>(AValue >> (8 * I)));
}

}  // namespace

TIdBytes BeginPayload(std::uint32_t AId, std::uint32_t ACount, std::uint64_t ATotal) {
  TIdBytes Bytes;
  Put(Bytes, AId, 4);
  Put(Bytes, ACount, 4);
  Put(Bytes, ATotal, 8);
  return Bytes;
}

TIdBytes EntryPayload(std::uint32_t AId, std::int64_t ASize, bool AIsDir,
                      const std::string& AName) {
  TIdBytes Bytes;
  Put(Bytes, AId, 4);
  Put(Bytes, static_cast<std::uint64_t>(ASize), 8);
  Bytes.push_back(AIsDir ? 1 : 0);
  Bytes.insert(Bytes.end(), AName.begin(), AName.end());
  return Bytes;
}

TIdBytes DataPayload(std::uint32_t AId, const std::string& AData) {
  TIdBytes Bytes;
  Put(Bytes, AId, 4);
  Bytes.insert(Bytes.end(), AData.begin(), AData.end());
  return Bytes;
}

TIdBytes EndPayload(std::uint32_t AId, std::uint8_t AOk) {
  TIdBytes Bytes;
  Put(Bytes, AId, 4);
  Bytes.push_back(AOk);
  return Bytes;
}

std::uint32_t U32At(const TIdBytes& APayload, std::size_t AOffset) {
  std::uint32_t Value = 0;
  for (int I = 3; I >= 0; --I) Value = (Value << 8) | APayload.at(AOffset + I);
  return Value;
}

std::uint64_t U64At(const TIdBytes& APayload, std::size_t AOffset) {
  std::uint64_t Value = 0;
  for (int I = 7; I >= 0; --I) Value = (Value << 8) | APayload.at(AOffset + I);
  return Value;
}

TSendPacketFunc TWire::Func() {
  return [this](std::uint8_t ACmd, const TIdBytes& APayload) { return Send(ACmd, APayload); };
}

bool TWire::Send(std::uint8_t ACmd, const TIdBytes& APayload) {
  if (BeforeSend && !BeforeSend(ACmd, APayload)) return false;
  TMessage Message{ACmd, APayload, APayload.size()};
  if (ACmd == cmdClipFileData && !KeepData) Message.Payload.resize(4);
  std::lock_guard Guard(FLock);
  FMessages.push_back(std::move(Message));
  return true;
}

std::vector<TWire::TMessage> TWire::Messages() {
  std::lock_guard Guard(FLock);
  return FMessages;
}

std::size_t TWire::Count() {
  std::lock_guard Guard(FLock);
  return FMessages.size();
}

bool TWire::Ended(std::uint32_t AId) {
  std::lock_guard Guard(FLock);
  for (const TMessage& Message : FMessages)
    if (Message.Cmd == cmdClipFilesEnd && Message.Id() == AId) return true;
  return false;
}

void TWire::Clear() {
  std::lock_guard Guard(FLock);
  FMessages.clear();
}

void TMemoryClipboard::Changed(bool AOwn) {
  ++FSequence;
  FOwn = AOwn;
  if (AOwn && !NotifiesOwnWrites) {
    FPending = true;
    return;
  }
  if (FOnChange) FOnChange();
}

void TMemoryClipboard::DeliverPending() {
  if (!FPending) return;
  FPending = false;
  if (FOnChange) FOnChange();
}

void TMemoryClipboard::CopyText(const std::string& AText) {
  Text = AText;
  Files.reset();
  Changed(false);
}

void TMemoryClipboard::CopyFiles(const std::vector<std::string>& APaths,
                                 std::optional<std::string> AText) {
  Files = APaths;
  Text = std::move(AText);
  Changed(false);
}

bool TMemoryClipboard::ReadFiles(std::vector<std::string>& APaths) {
  if (!Files) return false;
  APaths = *Files;
  return true;
}

bool TMemoryClipboard::ReadText(std::string& AText) {
  if (!Text) return false;
  AText = *Text;
  return true;
}

bool TMemoryClipboard::WriteText(const std::string& AText) {
  ++Writes;
  Text = AText;
  Files.reset();
  Changed(true);
  return true;
}

bool TMemoryClipboard::WriteFiles(const std::vector<std::string>& APaths) {
  ++Writes;
  Files = APaths;
  Text.reset();
  Changed(true);
  return true;
}

}  // namespace halvora::test
