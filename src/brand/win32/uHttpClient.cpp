#include "brand/uHttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "base/win32/uWin32Text.h"

namespace halvora {
namespace {

using TSteady = std::chrono::steady_clock;

// A WinHTTP handle closed when it goes out of scope.
class THandle {
 public:
  explicit THandle(HINTERNET AHandle = nullptr) : FHandle(AHandle) {}
  ~THandle() {
    if (FHandle) WinHttpCloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HINTERNET Get() const { return FHandle; }

 private:
  HINTERNET FHandle;
};

DWORD Milliseconds(std::chrono::milliseconds AValue) {
  return static_cast<DWORD>(std::clamp<std::int64_t>(AValue.count(), 1, 0x7FFFFFFF));
}

}  // namespace

// One WinHTTP session for the client's life (WinHTTP keeps its connections for reuse), and
// the running request, which Abort closes from another thread.
class THttpClient::TPlatform {
 public:
  // No user agent of our own; the system's proxy settings.
  TPlatform()
      : Session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0)) {}

  // Makes ARequest the running one; false when the client was aborted meanwhile.
  bool Start(HINTERNET ARequest, const std::atomic<bool>& AAborted) {
    std::lock_guard Guard(Lock);
    if (AAborted.load()) return false;
    Request = ARequest;
    return true;
  }
  // The running request is over; its handle is closed by its owner unless Abort took it.
  bool Finish() {
    std::lock_guard Guard(Lock);
    const bool Owned = Request != nullptr;
    Request = nullptr;
    return Owned;
  }
  void Abort() {
    HINTERNET Running = nullptr;
    {
      std::lock_guard Guard(Lock);
      std::swap(Running, Request);
    }
    // Closing the handle makes a blocked call on it return with an error.
    if (Running) WinHttpCloseHandle(Running);
  }

  THandle Session;
  std::mutex Lock;
  HINTERNET Request = nullptr;
};

THttpClient::THttpClient(THttpOptions AOptions)
    : FOptions(std::move(AOptions)), FPlatform(std::make_unique<TPlatform>()) {}

THttpClient::~THttpClient() = default;

void THttpClient::Abort() {
  FAborted.store(true);
  FPlatform->Abort();
}

THttpResult THttpClient::Get(const std::string& AUrl) {
  THttpResult Result;
  if (FAborted.load()) {
    Result.Error = THttpError::heAborted;
    return Result;
  }
  const HINTERNET Session = FPlatform->Session.Get();
  if (!Session) return Result;

  const std::wstring Url = Utf8ToWide(AUrl);
  URL_COMPONENTS Parts{};
  Parts.dwStructSize = sizeof(Parts);
  Parts.dwHostNameLength = Parts.dwUrlPathLength = Parts.dwExtraInfoLength = 1;
  if (!WinHttpCrackUrl(Url.c_str(), 0, 0, &Parts)) return Result;
  if (Parts.nScheme != INTERNET_SCHEME_HTTP && Parts.nScheme != INTERNET_SCHEME_HTTPS)
    return Result;
  const std::wstring Host(Parts.lpszHostName, Parts.dwHostNameLength);
  std::wstring Path(Parts.lpszUrlPath, Parts.dwUrlPathLength);
  Path.append(Parts.lpszExtraInfo, Parts.dwExtraInfoLength);
  if (Path.empty()) Path = L"/";

  const DWORD Connect = Milliseconds(FOptions.ConnectTimeout);
  const DWORD Response = Milliseconds(FOptions.ResponseTimeout);
  WinHttpSetTimeouts(Session, static_cast<int>(Connect), static_cast<int>(Connect),
                     static_cast<int>(Response), static_cast<int>(Response));
  const THandle Connection(WinHttpConnect(Session, Host.c_str(), Parts.nPort, 0));
  if (!Connection.Get()) return Result;
  const HINTERNET Request = WinHttpOpenRequest(
      Connection.Get(), L"GET", Path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES,
      WINHTTP_FLAG_REFRESH | (Parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!Request) return Result;
  if (!FPlatform->Start(Request, FAborted)) {
    WinHttpCloseHandle(Request);
    Result.Error = THttpError::heAborted;
    return Result;
  }
  DWORD Never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(Request, WINHTTP_OPTION_REDIRECT_POLICY, &Never, sizeof(Never));
  DWORD NoCookies = WINHTTP_DISABLE_COOKIES;
  WinHttpSetOption(Request, WINHTTP_OPTION_DISABLE_FEATURE, &NoCookies, sizeof(NoCookies));

  // The whole answer must be in within the response time-out: each read may wait only for
  // what is left of it.
  TSteady::time_point Deadline{};
  const auto WaitLeft = [&]() -> bool {
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TSteady::now());
    if (Left.count() <= 0) return false;
    DWORD Wait = Milliseconds(Left);
    WinHttpSetOption(Request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &Wait, sizeof(Wait));
    return true;
  };

  bool Ok = WinHttpSendRequest(Request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                               0, 0, 0) != 0;
  Deadline = TSteady::now() + FOptions.ResponseTimeout;
  Ok = Ok && WinHttpReceiveResponse(Request, nullptr) != 0;
  DWORD Status = 0;
  DWORD StatusSize = sizeof(Status);
  Ok = Ok && WinHttpQueryHeaders(Request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &Status, &StatusSize,
                                 WINHTTP_NO_HEADER_INDEX) != 0;
  bool TimedOut = false;
  bool TooLarge = false;
  while (Ok) {
    if (!WaitLeft()) {
      TimedOut = true;
      Ok = false;
      break;
    }
    DWORD Available = 0;
    if (!WinHttpQueryDataAvailable(Request, &Available)) {
      Ok = false;
      break;
    }
    if (Available == 0) break;
    if (Result.Body.size() + Available > FOptions.MaxBody) {
      TooLarge = true;
      Ok = false;
      break;
    }
    const std::size_t Offset = Result.Body.size();
    Result.Body.resize(Offset + Available);
    DWORD Read = 0;
    if (!WinHttpReadData(Request, Result.Body.data() + Offset, Available, &Read)) {
      Ok = false;
      break;
    }
    Result.Body.resize(Offset + Read);
  }
  const DWORD Error = GetLastError();
  if (FPlatform->Finish()) WinHttpCloseHandle(Request);

  if (Ok) {
    Result.Error = THttpError::heNone;
    Result.Status = static_cast<long>(Status);
    return Result;
  }
  Result.Body.clear();
  if (FAborted.load())
    Result.Error = THttpError::heAborted;
  else if (TooLarge)
    Result.Error = THttpError::heTooLarge;
  else if (TimedOut || Error == ERROR_WINHTTP_TIMEOUT)
    Result.Error = THttpError::heTimeout;
  return Result;
}

}  // namespace halvora
