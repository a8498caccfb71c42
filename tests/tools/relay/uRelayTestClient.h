#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace halvora::relay::test {

using namespace std::chrono_literals;

struct TMessage {
  std::uint8_t Cmd = 0;
  std::string Payload;
};

// A WebSocket client of the relay (ws or wss to 127.0.0.1:<port>/relay) with its own
// io_context, so every call runs to completion or to its time limit on the calling thread.
// Not thread-safe; one client per thread.
class TRelayTestClient {
 public:
  // Connects from ASource (another loopback address such as 127.0.0.2 stands for another
  // computer) or, when empty, from wherever the system picks. Throws std::runtime_error when
  // the connection is not up within 10 s.
  explicit TRelayTestClient(std::uint16_t APort, bool ASecure = false,
                            const std::string& ASource = {});
  ~TRelayTestClient();

  void Send(std::uint8_t ACmd, std::string_view APayload = {});
  void SendRaw(std::string AMessage);
  // Like Send, but gives up waiting after ATimeout and returns false; the write then stays
  // under way and the next send or receive lets it finish.
  bool TrySend(std::uint8_t ACmd, std::string_view APayload, std::chrono::milliseconds ATimeout);
  // The next message, or nothing when none came within ATimeout or the connection ended.
  // A read that times out stays pending and delivers to the next call.
  std::optional<TMessage> Receive(std::chrono::milliseconds ATimeout = 10s);
  // True once the server has ended the connection (messages before the end are dropped).
  bool WaitClosed(std::chrono::milliseconds ATimeout = 10s);
  bool Closed() const { return FClosed; }

 private:
  using TPlain = boost::beast::websocket::stream<boost::beast::tcp_stream>;
  using TTls = boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;
  void StartRead();
  bool Write(std::string AMessage, std::chrono::steady_clock::time_point ADeadline);
  bool FinishWrite(std::chrono::steady_clock::time_point ADeadline);

  boost::asio::io_context FIo;
  boost::asio::ssl::context FTlsContext{boost::asio::ssl::context::tls_client};
  std::unique_ptr<TPlain> FPlain;
  std::unique_ptr<TTls> FTls;
  boost::beast::flat_buffer FBuffer;
  bool FReadPending = false, FReadDone = false, FClosed = false;
  boost::beast::error_code FReadError;
  std::shared_ptr<bool> FWriteDone = std::make_shared<bool>(true);
};

using THeaders = std::vector<std::pair<std::string, std::string>>;

struct THttpResult {
  unsigned Status = 0;  // 0: no answer
  std::string ContentType;
  std::string Body;
  THeaders Headers;  // every field of the answer, names in lower case
  std::string Header(std::string_view AName) const;  // "" when absent
};

// One request to 127.0.0.1:<port> over http or https, answered within 10 s. It names the host
// "127.0.0.1" unless AHeaders set "Host"; AHeaders are added or replace fields of that name.
THttpResult HttpRequest(std::uint16_t APort, std::string_view AMethod, std::string_view ATarget,
                        std::string ABody = {}, bool ASecure = false,
                        const THeaders& AHeaders = {});

// Sends ARequest as it is and returns everything the relay sends back until it closes the
// connection (10 s at most).
std::string RawHttp(std::uint16_t APort, const std::string& ARequest);

}  // namespace halvora::relay::test
