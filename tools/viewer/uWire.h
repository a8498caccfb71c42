#pragma once

#include "base/uBytes.h"
#include "protocol/uClipMessages.h"
#include "protocol/uFrameMessage.h"
#include "protocol/uMessages.h"

namespace halvora::viewer {

// A message payload: the bytes after the command byte. The numbers and the payloads are the
// host's (protocol/uProtocol.h and the typed messages).
using TBytes = TIdBytes;

}  // namespace halvora::viewer
