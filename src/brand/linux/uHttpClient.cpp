#include "brand/uHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <optional>

namespace halvora {
namespace {

using TSteady = std::chrono::steady_clock;

// The longest single wait for socket activity; aborts and the response deadline are seen
// sooner, as Abort wakes the wait and the wait never runs past the deadline.
constexpr std::chrono::milliseconds PollSlice{1000};

void GlobalInit() {
  static const bool Done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)Done;
}

struct TTransfer {
  TIdBytes Body;
  std::size_t MaxBody = 0;
  bool TooLarge = false;
  std::optional<TSteady::time_point> RequestReady;
};

std::size_t WriteBody(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto& Transfer = *static_cast<TTransfer*>(AUser);
  const std::size_t Length = ASize * ACount;
  if (Transfer.Body.size() + Length > Transfer.MaxBody) {
    Transfer.TooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  Transfer.Body.insert(Transfer.Body.end(), AData, AData + Length);
  return Length;
}

// Called once the connection is up (or reused), right before the request goes out.
int RequestReady(void* AUser, char*, char*, int, int) {
  static_cast<TTransfer*>(AUser)->RequestReady = TSteady::now();
  return CURL_PREREQFUNC_OK;
}

struct TEasy {
  CURL* Handle = curl_easy_init();
  ~TEasy() {
    if (Handle) curl_easy_cleanup(Handle);
  }
};

}  // namespace

class THttpClient::TPlatform {
 public:
  TPlatform() {
    GlobalInit();
    Multi = curl_multi_init();
  }
  ~TPlatform() {
    if (Multi) curl_multi_cleanup(Multi);
  }
  TPlatform(const TPlatform&) = delete;
  TPlatform& operator=(const TPlatform&) = delete;

  CURLM* Multi;
};

THttpClient::THttpClient(THttpOptions AOptions)
    : FOptions(std::move(AOptions)), FPlatform(std::make_unique<TPlatform>()) {}

THttpClient::~THttpClient() = default;

void THttpClient::Abort() {
  FAborted.store(true);
  // The one multi call that is safe from another thread: it ends the running poll.
  if (FPlatform->Multi) curl_multi_wakeup(FPlatform->Multi);
}

THttpResult THttpClient::Get(const std::string& AUrl) {
  THttpResult Result;
  CURLM* Multi = FPlatform->Multi;
  TEasy Easy;
  if (!Multi || !Easy.Handle) return Result;
  if (FAborted.load()) {
    Result.Error = THttpError::heAborted;
    return Result;
  }

  TTransfer Transfer;
  Transfer.MaxBody = FOptions.MaxBody;
  CURL* H = Easy.Handle;
  curl_easy_setopt(H, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(H, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(H, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(H, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(FOptions.ConnectTimeout.count()));
  curl_easy_setopt(H, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(H, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!FOptions.CaFile.empty()) curl_easy_setopt(H, CURLOPT_CAINFO, FOptions.CaFile.c_str());
  curl_easy_setopt(H, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(H, CURLOPT_WRITEDATA, &Transfer);
  curl_easy_setopt(H, CURLOPT_PREREQFUNCTION, RequestReady);
  curl_easy_setopt(H, CURLOPT_PREREQDATA, &Transfer);
  if (curl_multi_add_handle(Multi, H) != CURLM_OK) return Result;

  std::optional<CURLcode> Done;
  for (;;) {
    if (FAborted.load()) {
      Result.Error = THttpError::heAborted;
      break;
    }
    int Running = 0;
    if (curl_multi_perform(Multi, &Running) != CURLM_OK) break;
    int Left = 0;
    while (CURLMsg* Message = curl_multi_info_read(Multi, &Left))
      if (Message->msg == CURLMSG_DONE && Message->easy_handle == H) Done = Message->data.result;
    if (Done) break;
    auto Wait = PollSlice;
    if (Transfer.RequestReady) {
      const auto Remaining = *Transfer.RequestReady + FOptions.ResponseTimeout - TSteady::now();
      if (Remaining <= TSteady::duration::zero()) {
        Result.Error = THttpError::heTimeout;
        break;
      }
      // Rounded up, so the deadline has passed when the wait ends without activity.
      Wait = std::min(Wait, std::chrono::ceil<std::chrono::milliseconds>(Remaining));
    }
    if (curl_multi_poll(Multi, nullptr, 0, static_cast<int>(Wait.count()), nullptr) != CURLM_OK)
      break;
  }

  if (Done) {
    if (*Done == CURLE_OK) {
      long Status = 0;
      curl_easy_getinfo(H, CURLINFO_RESPONSE_CODE, &Status);
      Result.Error = THttpError::heNone;
      Result.Status = Status;
      Result.Body = std::move(Transfer.Body);
    } else if (*Done == CURLE_OPERATION_TIMEDOUT) {
      Result.Error = THttpError::heTimeout;
    } else if (Transfer.TooLarge) {
      Result.Error = THttpError::heTooLarge;
    }
  }
  curl_multi_remove_handle(Multi, H);
  return Result;
}

}  // namespace halvora
