#include "protocol/win32/uWinHttpTransport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "base/win32/uWin32Text.h"

namespace halvora {
namespace {

// The WebSocket functions, bound at their first use rather than when the program loads, so
// that a system without them fails a connection attempt instead of the program's start.
struct TWebSocketApi {
  using TCompleteUpgrade = HINTERNET(WINAPI*)(HINTERNET, DWORD_PTR);
  using TSend = DWORD(WINAPI*)(HINTERNET, WINHTTP_WEB_SOCKET_BUFFER_TYPE, PVOID, DWORD);
  using TReceive = DWORD(WINAPI*)(HINTERNET, PVOID, DWORD, DWORD*,
                                  WINHTTP_WEB_SOCKET_BUFFER_TYPE*);
  using TShutdown = DWORD(WINAPI*)(HINTERNET, USHORT, PVOID, DWORD);

  TCompleteUpgrade CompleteUpgrade = nullptr;
  TSend Send = nullptr;
  TReceive Receive = nullptr;
  TShutdown Shutdown = nullptr;

  bool Bound() const { return CompleteUpgrade && Send && Receive && Shutdown; }
};

template <class TFunction>
TFunction Bind(HMODULE AModule, const char* AName) {
  return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(AModule, AName)));
}

const TWebSocketApi& WebSocketApi() {
  static const TWebSocketApi Api = [] {
    TWebSocketApi Result;
    const HMODULE Module = GetModuleHandleW(L"winhttp.dll");
    if (!Module) return Result;
    Result.CompleteUpgrade =
        Bind<TWebSocketApi::TCompleteUpgrade>(Module, "WinHttpWebSocketCompleteUpgrade");
    Result.Send = Bind<TWebSocketApi::TSend>(Module, "WinHttpWebSocketSend");
    Result.Receive = Bind<TWebSocketApi::TReceive>(Module, "WinHttpWebSocketReceive");
    Result.Shutdown = Bind<TWebSocketApi::TShutdown>(Module, "WinHttpWebSocketShutdown");
    return Result;
  }();
  return Api;
}

constexpr int ResolveTimeoutMs = 8000;
constexpr int ConnectTimeoutMs = 8000;
constexpr int SendTimeoutMs = 15000;
constexpr int ReceiveTimeoutMs = 60000;

}  // namespace

// One upgrade, shared by Open and the thread that runs it, which may outlive the transport.
struct TWinHttpTransport::TUpgrade {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Finished = false;   // the thread is done; Socket holds its result
  bool Abandoned = false;  // Close came: Open has returned or returns, and nothing completes
  HINTERNET Socket = nullptr;
};

TWinHttpTransport::~TWinHttpTransport() { Close(); }

bool TWinHttpTransport::Keep(THandle& AField, THandle AHandle) {
  {
    std::lock_guard Guard(FHandleLock);
    if (!FClosed) {
      AField = AHandle;
      return true;
    }
  }
  WinHttpCloseHandle(AHandle);
  return false;
}

TWinHttpTransport::THandle TWinHttpTransport::CurrentSocket() {
  std::lock_guard Guard(FHandleLock);
  return FSocket;
}

bool TWinHttpTransport::Closed() {
  std::lock_guard Guard(FHandleLock);
  return FClosed;
}

TWinHttpTransport::THandle TWinHttpTransport::Upgrade(THandle ARequest) {
  const auto State = std::make_shared<TUpgrade>();
  {
    std::lock_guard Guard(FHandleLock);
    if (FClosed) return nullptr;
    FUpgrade = State;
  }
  const auto CompleteUpgrade = WebSocketApi().CompleteUpgrade;
  try {
    std::thread([State, ARequest, CompleteUpgrade] {
      try {
        // Only 101 upgrades: Wine's WinHTTP completes an upgrade after any answer.
        DWORD Status = 0, Size = sizeof Status;
        const bool Switched =
            WinHttpSendRequest(ARequest, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
            WinHttpReceiveResponse(ARequest, nullptr) &&
            WinHttpQueryHeaders(ARequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &Status, &Size,
                                WINHTTP_NO_HEADER_INDEX) &&
            Status == HTTP_STATUS_SWITCH_PROTOCOLS;
        // Under the lock, so that Close does not close the request handle meanwhile.
        std::lock_guard Guard(State->Lock);
        if (Switched && !State->Abandoned) State->Socket = CompleteUpgrade(ARequest, 0);
        State->Finished = true;
        State->Changed.notify_all();
      } catch (...) {
      }
    }).detach();
  } catch (...) {
    return nullptr;
  }
  std::unique_lock Guard(State->Lock);
  State->Changed.wait(Guard, [&] { return State->Finished || State->Abandoned; });
  return State->Finished ? State->Socket : nullptr;
}

bool TWinHttpTransport::Open(const std::string& AHost, std::uint16_t APort,
                             const std::string& APath, bool ASecure) {
  const TWebSocketApi& Api = WebSocketApi();
  if (AHost.empty() || !Api.Bound()) return false;

  const HINTERNET Session = WinHttpOpen(L"Halvora", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!Session || !Keep(FSession, Session)) return false;
  WinHttpSetTimeouts(Session, ResolveTimeoutMs, ConnectTimeoutMs, SendTimeoutMs,
                     ReceiveTimeoutMs);

  const HINTERNET Connect = WinHttpConnect(Session, Utf8ToWide(AHost).c_str(), APort, 0);
  if (!Connect || !Keep(FConnect, Connect)) return false;

  const HINTERNET Request = WinHttpOpenRequest(
      Connect, L"GET", Utf8ToWide(APath).c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, ASecure ? WINHTTP_FLAG_SECURE : 0);
  if (!Request || !Keep(FRequest, Request)) return false;

  if (!WinHttpSetOption(Request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0)) return false;
  const HINTERNET Socket = Upgrade(Request);
  if (!Socket) return false;

  {
    std::lock_guard Guard(FHandleLock);
    if (FRequest == Request) {
      FSocket = Socket;
      FRequest = nullptr;
    } else {
      WinHttpCloseHandle(Socket);
      return false;
    }
  }
  WinHttpCloseHandle(Request);
  return true;
}

bool TWinHttpTransport::Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
                                TBufferType& AType) {
  ARead = 0;
  const HINTERNET Socket = CurrentSocket();
  if (!Socket) return false;
  DWORD Read = 0;
  WINHTTP_WEB_SOCKET_BUFFER_TYPE Type{};
  const DWORD Size = static_cast<DWORD>(std::min<std::size_t>(ASize, 0x7FFFFFFF));
  // A receive that Close ended may still report what the shutdown brought (the peer's answer
  // to it): after Close every call fails.
  if (WebSocketApi().Receive(Socket, ABuffer, Size, &Read, &Type) != NO_ERROR || Closed())
    return false;
  ARead = Read;
  switch (Type) {
    case WINHTTP_WEB_SOCKET_BINARY_MESSAGE_BUFFER_TYPE: AType = TBufferType::btBinaryMessage; break;
    case WINHTTP_WEB_SOCKET_BINARY_FRAGMENT_BUFFER_TYPE: AType = TBufferType::btBinaryFragment; break;
    case WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE: AType = TBufferType::btUtf8Message; break;
    case WINHTTP_WEB_SOCKET_UTF8_FRAGMENT_BUFFER_TYPE: AType = TBufferType::btUtf8Fragment; break;
    default: AType = TBufferType::btClose; break;
  }
  return true;
}

bool TWinHttpTransport::Send(const TIdBytes& AFrame) {
  const HINTERNET Socket = CurrentSocket();
  if (!Socket) return false;
  return WebSocketApi().Send(Socket, WINHTTP_WEB_SOCKET_BINARY_MESSAGE_BUFFER_TYPE,
                             const_cast<std::uint8_t*>(AFrame.data()),
                             static_cast<DWORD>(AFrame.size())) == NO_ERROR;
}

void TWinHttpTransport::Close() {
  HINTERNET Handles[4];
  std::shared_ptr<TUpgrade> Upgrade;
  {
    std::lock_guard Guard(FHandleLock);
    FClosed = true;
    Handles[0] = FSocket;
    Handles[1] = FRequest;
    Handles[2] = FConnect;
    Handles[3] = FSession;
    FSocket = FRequest = FConnect = FSession = nullptr;
    Upgrade = std::move(FUpgrade);
  }
  // Open returns at once; the upgrade's thread ends when its blocked call does.
  if (Upgrade) {
    std::lock_guard Guard(Upgrade->Lock);
    Upgrade->Abandoned = true;
    Upgrade->Changed.notify_all();
  }
  // Windows ends a blocked receive when its handle closes, Wine only once the peer answered
  // the close frame of the shutdown: both.
  if (Handles[0])
    WebSocketApi().Shutdown(Handles[0], WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
  for (HINTERNET Handle : Handles)
    if (Handle) WinHttpCloseHandle(Handle);
}

std::shared_ptr<IRelayTransport> TWinHttpTransportFactory::NewTransport() {
  return std::make_shared<TWinHttpTransport>();
}

}  // namespace halvora
