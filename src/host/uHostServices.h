#pragma once

#include <memory>

#include "brand/uBrandService.h"
#include "capture/uCaptureService.h"
#include "clipboard/uClipboardService.h"
#include "input/uInputService.h"
#include "install/uInstaller.h"
#include "install/uSecureAttention.h"

namespace halvora {

// The subsystems the controller drives; each platform's composition function builds them.
struct THostServices {
  std::shared_ptr<ICaptureFactory> Capture;
  std::shared_ptr<IInputQueue> Input;
  std::shared_ptr<IInputBlocker> Blocker;
  std::shared_ptr<IClipboardSync> Clip;
  std::shared_ptr<ISecureAttention> SecureAttention;
  std::shared_ptr<IBrandService> Brand;
  std::shared_ptr<IInstaller> Installer;
};

}  // namespace halvora
