#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "base/uBytes.h"

namespace halvora {

struct THttpOptions {
  // Name resolution, the TCP connection and the TLS handshake together.
  std::chrono::milliseconds ConnectTimeout{6000};
  // From the moment the request can be sent until the whole answer is in: a server that
  // stalls, or trickles its answer, is given up after this long.
  std::chrono::milliseconds ResponseTimeout{10000};
  // PEM file of the certificate authorities to trust; empty: the system's store.
  std::string CaFile;
  // Larger bodies are refused rather than held in memory.
  std::size_t MaxBody = 8 * 1024 * 1024;
};

enum class THttpError { heNone, heTimeout, heAborted, heTooLarge, heFailed };

struct THttpResult {
  THttpError Error = THttpError::heFailed;
  long Status = 0;  // the HTTP status when Error is heNone
  TIdBytes Body;
};

// GET requests over http and https, one at a time, on the calling thread. Certificates are
// verified; no headers of its own, no redirects, no cookies. A connection is kept for the next
// request to the same server while the client lives. Linux: libcurl; Windows: WinHTTP, with
// the system's proxy settings and certificate store.
class THttpClient {
 public:
  explicit THttpClient(THttpOptions AOptions = {});
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  THttpResult Get(const std::string& AUrl);
  // From any thread: the running request and every later one end at once with heAborted.
  void Abort();

 private:
  class TPlatform;  // the platform library's handles

  const THttpOptions FOptions;
  std::unique_ptr<TPlatform> FPlatform;
  std::atomic<bool> FAborted{false};
};

}  // namespace halvora
