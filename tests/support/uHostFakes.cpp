#include "support/uHostFakes.h"

namespace halvora::test {
namespace {

class TFakeCaptureSession final : public ICaptureSession {
 public:
  explicit TFakeCaptureSession(TCallLog& ALog) : FLog(ALog) { FLog.Add("capture.start"); }
  ~TFakeCaptureSession() override { FLog.Add("capture.stop"); }
  void FrameAcked() override { FLog.Add("capture.ack"); }
  void SelectMonitor(std::uint8_t AIndex) override {
    FLog.Add("capture.monitor " + std::to_string(AIndex));
  }

 private:
  TCallLog& FLog;
};

}  // namespace

std::unique_ptr<ICaptureSession> TFakeCapture::Create(TSendPacketFunc ASend) {
  FSend = std::move(ASend);
  return std::make_unique<TFakeCaptureSession>(FLog);
}

void TFakeInput::QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) {
  FLog.Add("input.mouse " + std::to_string(AMonitor) + " " + std::to_string(APacket.X) + " " +
           std::to_string(APacket.Y) + " " + std::to_string(APacket.Action));
}

void TFakeInput::QueueKeyInput(const TKeyPacket& APacket) {
  FLog.Add("input.key " + std::to_string(APacket.VKey) + " " + std::to_string(APacket.Down));
}

void TFakeBlocker::SetActive(bool AActive) {
  FLog.Add(std::string("blocker ") + (AActive ? "on" : "off"));
  FActive = AActive && FCanBlock;
}

bool TFakeBrand::CarregarMarca(const std::string&, const std::string& ACode, std::string& AName,
                               TIdBytes&) {
  FLog.Add("brand.cache " + ACode);
  AName = FCachedName;
  return !AName.empty();
}

bool TFakeView::Input(const std::string& ATitle, const std::string& APrompt, std::string& AValue) {
  FLog.Add("input " + ATitle + ": " + APrompt + " [" + AValue + "]");
  if (FInputOk) AValue = FInputValue;
  return FInputOk;
}

}  // namespace halvora::test
