#include "ui/win32/uWin32MainLoop.h"

namespace halvora {
namespace {

constexpr UINT DrainMessage = WM_APP + 1;
constexpr UINT QuitMessage = WM_APP + 2;
constexpr UINT_PTR TickTimer = 1;
constexpr UINT TickMs = 1000;
constexpr wchar_t ClassName[] = L"HalvoraMainLoop";

void RegisterClassOnce(WNDPROC AProc) {
  static const bool Registered = [AProc] {
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof(Class);
    Class.lpfnWndProc = AProc;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.lpszClassName = ClassName;
    return RegisterClassExW(&Class) != 0;
  }();
  (void)Registered;
}

}  // namespace

TWin32MainLoop::TWin32MainLoop(TMainQueue& AQueue) : FQueue(AQueue) {
  RegisterClassOnce(&WindowProc);
  FWindow = CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FQueue.BindToCurrentThread();
  // The flag drops before the drain starts, so a post made during the drain sends the next.
  FQueue.SetWakeUp([Window = FWindow, Scheduled = FScheduled] {
    if (!Scheduled->exchange(true)) PostMessageW(Window, DrainMessage, 0, 0);
  });
}

TWin32MainLoop::~TWin32MainLoop() {
  FQueue.SetWakeUp(nullptr);
  DestroyWindow(FWindow);
}

int TWin32MainLoop::Run(std::function<void()> ATick) {
  FTick = std::move(ATick);
  const HWND Window = FWindow;
  SetTimer(Window, TickTimer, TickMs, nullptr);
  MSG Message;
  while (GetMessageW(&Message, nullptr, 0, 0) > 0) {
    if (Message.hwnd == Window && Message.message == QuitMessage) {
      FExitCode = static_cast<int>(Message.wParam);
      break;
    }
    TranslateMessage(&Message);
    DispatchMessageW(&Message);
  }
  KillTimer(Window, TickTimer);
  FTick = nullptr;
  return FExitCode;
}

void TWin32MainLoop::Quit(int AExitCode) {
  PostMessageW(FWindow, QuitMessage, static_cast<WPARAM>(AExitCode), 0);
}

LRESULT CALLBACK TWin32MainLoop::WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                            LPARAM ALParam) {
  auto* Self = reinterpret_cast<TWin32MainLoop*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (Self && AMessage == DrainMessage) {
    Self->FScheduled->store(false);
    Self->FQueue.ProcessPending();
    return 0;
  }
  // A quit that another loop of this thread took, a dialog's: the thread's quit message ends
  // that loop, which posts it again, and with it Run's.
  if (Self && AMessage == QuitMessage) {
    Self->FExitCode = static_cast<int>(AWParam);
    PostQuitMessage(Self->FExitCode);
    return 0;
  }
  if (Self && AMessage == WM_TIMER && AWParam == TickTimer) {
    if (Self->FTick) Self->FTick();
    return 0;
  }
  return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

}  // namespace halvora
