#include "install/uSecureAttention.h"

#include <windows.h>

namespace halvora {

// sas.dll's SendSAS, loaded by name at each request; its argument says whether the caller is
// a user application (false: the service's agent).
bool RaiseSecureAttention() {
  const HMODULE Library = LoadLibraryW(L"sas.dll");
  if (!Library) return false;
  using TSendSas = void(WINAPI*)(BOOL);
  const auto SendSas =
      reinterpret_cast<TSendSas>(reinterpret_cast<void*>(GetProcAddress(Library, "SendSAS")));
  if (SendSas) SendSas(FALSE);
  FreeLibrary(Library);
  return SendSas != nullptr;
}

}  // namespace halvora
