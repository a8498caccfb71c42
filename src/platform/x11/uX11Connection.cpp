#include "platform/x11/uX11Connection.h"

#include "platform/uPlatformError.h"
// Last: it defines min and max as macros, which the standard headers cannot bear.
#include <X11/Xlibint.h>

namespace halvora {

namespace {

// Errors of the connections this thread uses; a connection is used by one thread only, so
// its errors are handled on that thread.
thread_local bool GFailed = false;

// Xlib asks every extension hook of a display before its global error handler; a hook that
// returns non-zero keeps the error from going further.
int RecordError(Display*, xError*, XExtCodes*, int* AReturn) {
  GFailed = true;
  *AReturn = 0;
  return 1;
}

}  // namespace

TX11Connection::TX11Connection(const std::string& ADisplayName)
    : FDisplay(XOpenDisplay(ADisplayName.empty() ? nullptr : ADisplayName.c_str())) {
  if (!FDisplay) throw EPlatformError("Falha ao conectar ao servidor X");
  XExtCodes* Codes = XAddExtension(FDisplay);
  if (!Codes) {
    XCloseDisplay(FDisplay);
    throw EPlatformError("Falha ao conectar ao servidor X");
  }
  XESetError(FDisplay, Codes->extension, RecordError);
}

TX11Connection::~TX11Connection() {
  XCloseDisplay(FDisplay);
}

bool TX11Connection::Sync() {
  XSync(FDisplay, False);
  const bool Ok = !GFailed;
  GFailed = false;
  return Ok;
}

}  // namespace halvora
