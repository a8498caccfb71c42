#include "session/uSessionPath.h"

#include "protocol/uMessages.h"

namespace halvora {

bool TSessionPath::DirectPacket(std::uint8_t ACmd, const TIdBytes& APayload) {
  switch (ACmd) {
    case cmdAccessRequest:
    case cmdSessionEnded:
    case cmdTrustedAccess: {
      std::lock_guard Guard(FHostLock);
      WithdrawLocked();
      return false;
    }
    case cmdFrameAck:
    case cmdMouse:
    case cmdKey:
    case cmdSelectMonitor:
      break;
    default:
      return false;
  }
  std::lock_guard Guard(FHostLock);
  if (!FHosting || !FCapture) return true;
  switch (ACmd) {
    case cmdFrameAck:
      FCapture->FrameAcked();
      break;
    case cmdMouse:
      if (const auto Mouse = TMouseMessage::Decode(APayload); Mouse && FInput)
        FInput->QueueMouseInput(Mouse->Packet, Mouse->Packet.Monitor);
      break;
    case cmdKey:
      if (const auto Key = TKeyMessage::Decode(APayload); Key && FInput)
        FInput->QueueKeyInput(Key->Packet);
      break;
    case cmdSelectMonitor:
      if (const auto Select = TSelectMonitorMessage::Decode(APayload))
        FCapture->SelectMonitor(Select->Monitor);
      break;
  }
  return true;
}

void TSessionPath::LinkLost() {
  std::lock_guard Guard(FHostLock);
  WithdrawLocked();
}

void TSessionPath::WithdrawLocked() {
  ++FEndsNoted;
  FHosting = false;
  FSendOpen->store(false);
}

void TSessionPath::EndHandled() {
  HALVORA_CHECK_THREAD(FMainThread);
  std::lock_guard Guard(FHostLock);
  ++FEndsHandled;
}

bool TSessionPath::EndPending() const {
  HALVORA_CHECK_THREAD(FMainThread);
  std::lock_guard Guard(FHostLock);
  return FEndsNoted != FEndsHandled;
}

void TSessionPath::ClientReplaced() {
  HALVORA_CHECK_THREAD(FMainThread);
  std::lock_guard Guard(FHostLock);
  FEndsHandled = FEndsNoted;
}

bool TSessionPath::Open(TSendPacketFunc ASend, const TCaptureStart& AStart) {
  HALVORA_CHECK_THREAD(FMainThread);
  std::lock_guard Guard(FHostLock);
  FSend = std::move(ASend);
  const bool Current = FEndsNoted == FEndsHandled;
  FSendOpen = std::make_shared<std::atomic<bool>>(Current);
  if (!Current) return false;
  FCapture = AStart(SessionSend());
  FHosting = true;
  return true;
}

std::unique_ptr<ICaptureSession> TSessionPath::Close() {
  HALVORA_CHECK_THREAD(FMainThread);
  std::lock_guard Guard(FHostLock);
  FHosting = false;
  FSendOpen->store(false);
  return std::move(FCapture);
}

TSendPacketFunc TSessionPath::SessionSend() const {
  HALVORA_CHECK_THREAD(FMainThread);
  return [Open = FSendOpen, Send = FSend](std::uint8_t ACmd, const TIdBytes& APayload) {
    return Open->load() && Send && Send(ACmd, APayload);
  };
}

}  // namespace halvora
