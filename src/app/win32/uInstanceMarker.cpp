#include "app/win32/uInstanceMarker.h"

#include <windows.h>

namespace halvora {

bool TInstanceMarker::Acquire() {
  // Any outcome but "it existed already", a failure included, counts as the first copy.
  CreateMutexW(nullptr, FALSE, L"Local\\HalvoraCliente");
  return GetLastError() != ERROR_ALREADY_EXISTS;
}

bool TInstanceMarker::AskHolderToComeForward() {
  const HWND Window = FindWindowW(L"TfrmMain", L"Halvora");
  if (!Window) return false;
  ShowWindow(Window, SW_RESTORE);
  SetForegroundWindow(Window);
  return true;
}

}  // namespace halvora
