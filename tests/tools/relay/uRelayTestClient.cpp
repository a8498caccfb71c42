#include "uRelayTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <functional>
#include <stdexcept>

namespace halvora::relay::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using net::ip::tcp;

namespace {

tcp::endpoint Loopback(std::uint16_t APort) {
  return {net::ip::make_address("127.0.0.1"), APort};
}

// Runs AIo until ADone or the deadline; false on time-out.
bool RunUntil(net::io_context& AIo, const bool& ADone,
              std::chrono::steady_clock::time_point ADeadline) {
  AIo.restart();
  while (!ADone && std::chrono::steady_clock::now() < ADeadline)
    if (AIo.run_one_until(ADeadline) == 0 && AIo.stopped()) AIo.restart();
  return ADone;
}

}  // namespace

TRelayTestClient::TRelayTestClient(std::uint16_t APort, bool ASecure, const std::string& ASource) {
  FTlsContext.set_verify_mode(net::ssl::verify_none);
  const auto Deadline = std::chrono::steady_clock::now() + 10s;
  bool Done = false;
  beast::error_code Error;
  const auto Handshake = [&](auto& AWs) {
    AWs.read_message_max(64 * 1024 * 1024);
    AWs.binary(true);
    AWs.async_handshake("127.0.0.1", "/relay", [&](beast::error_code AError) {
      Error = AError;
      Done = true;
    });
  };
  const auto Bind = [&](tcp::socket& ASocket) {
    if (ASource.empty()) return;
    ASocket.open(tcp::v4());
    ASocket.bind(tcp::endpoint(net::ip::make_address(ASource), 0));
  };
  if (ASecure) {
    FTls = std::make_unique<TTls>(FIo, FTlsContext);
    Bind(beast::get_lowest_layer(*FTls).socket());
    beast::get_lowest_layer(*FTls).async_connect(Loopback(APort), [&](beast::error_code AError) {
      if (AError) {
        Error = AError;
        Done = true;
        return;
      }
      FTls->next_layer().async_handshake(net::ssl::stream_base::client,
                                         [&](beast::error_code ATlsError) {
                                           if (ATlsError) {
                                             Error = ATlsError;
                                             Done = true;
                                             return;
                                           }
                                           Handshake(*FTls);
                                         });
    });
  } else {
    FPlain = std::make_unique<TPlain>(FIo);
    Bind(beast::get_lowest_layer(*FPlain).socket());
    beast::get_lowest_layer(*FPlain).async_connect(Loopback(APort), [&](beast::error_code AError) {
      if (AError) {
        Error = AError;
        Done = true;
        return;
      }
      Handshake(*FPlain);
    });
  }
  if (!RunUntil(FIo, Done, Deadline) || Error)
    throw std::runtime_error("relay test client: connect failed: " + Error.message());
}

TRelayTestClient::~TRelayTestClient() {
  beast::error_code Ignored;
  if (FPlain) beast::get_lowest_layer(*FPlain).socket().close(Ignored);
  if (FTls) beast::get_lowest_layer(*FTls).socket().close(Ignored);
  // Completes the pending handlers, which refer to this object, before it goes away.
  FIo.restart();
  FIo.run_for(1s);
}

void TRelayTestClient::Send(std::uint8_t ACmd, std::string_view APayload) {
  std::string Message(1, static_cast<char>(ACmd));
  Message.append(APayload);
  SendRaw(std::move(Message));
}

void TRelayTestClient::SendRaw(std::string AMessage) {
  // A write may wait for a reader on the other side; the limit is generous for sanitizers.
  if (!Write(std::move(AMessage), std::chrono::steady_clock::now() + 60s) && !FClosed)
    throw std::runtime_error("relay test client: send timed out");
}

bool TRelayTestClient::TrySend(std::uint8_t ACmd, std::string_view APayload,
                               std::chrono::milliseconds ATimeout) {
  std::string Message(1, static_cast<char>(ACmd));
  Message.append(APayload);
  return Write(std::move(Message), std::chrono::steady_clock::now() + ATimeout);
}

bool TRelayTestClient::Write(std::string AMessage,
                             std::chrono::steady_clock::time_point ADeadline) {
  if (FClosed || !FinishWrite(ADeadline)) return false;
  // Shared with the handler, which may outlive this call.
  auto Message = std::make_shared<std::string>(std::move(AMessage));
  FWriteDone = std::make_shared<bool>(false);
  const auto Start = [&](auto& AWs) {
    AWs.async_write(net::buffer(*Message),
                    [Message, Done = FWriteDone](beast::error_code, std::size_t) { *Done = true; });
  };
  FPlain ? Start(*FPlain) : Start(*FTls);
  return FinishWrite(ADeadline);
}

bool TRelayTestClient::FinishWrite(std::chrono::steady_clock::time_point ADeadline) {
  const auto Done = FWriteDone;  // the write's own flag, even if another one starts meanwhile
  return RunUntil(FIo, *Done, ADeadline);
}

void TRelayTestClient::StartRead() {
  FReadPending = true;
  FReadDone = false;
  const auto Read = [&](auto& AWs) {
    AWs.async_read(FBuffer, [this](beast::error_code AError, std::size_t) {
      FReadError = AError;
      FReadDone = true;
    });
  };
  FPlain ? Read(*FPlain) : Read(*FTls);
}

std::optional<TMessage> TRelayTestClient::Receive(std::chrono::milliseconds ATimeout) {
  if (FClosed) return std::nullopt;
  if (!FReadPending) StartRead();
  if (!RunUntil(FIo, FReadDone, std::chrono::steady_clock::now() + ATimeout)) return std::nullopt;
  FReadPending = false;
  if (FReadError) {
    FClosed = true;
    return std::nullopt;
  }
  std::string Data = beast::buffers_to_string(FBuffer.data());
  FBuffer.consume(FBuffer.size());
  if (Data.empty()) return TMessage{};
  return TMessage{static_cast<std::uint8_t>(Data[0]), Data.substr(1)};
}

bool TRelayTestClient::WaitClosed(std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!FClosed && std::chrono::steady_clock::now() < Deadline)
    Receive(std::chrono::duration_cast<std::chrono::milliseconds>(
        Deadline - std::chrono::steady_clock::now()));
  return FClosed;
}

std::string THttpResult::Header(std::string_view AName) const {
  for (const auto& [Name, Value] : Headers)
    if (Name == AName) return Value;
  return {};
}

THttpResult HttpRequest(std::uint16_t APort, std::string_view AMethod, std::string_view ATarget,
                        std::string ABody, bool ASecure, const THeaders& AHeaders) {
  net::io_context Io;
  net::ssl::context Tls(net::ssl::context::tls_client);
  Tls.set_verify_mode(net::ssl::verify_none);
  beast::ssl_stream<beast::tcp_stream> Stream(Io, Tls);
  http::request<http::string_body> Request;
  Request.method_string(beast::string_view(AMethod.data(), AMethod.size()));
  Request.target(beast::string_view(ATarget.data(), ATarget.size()));
  Request.version(11);
  Request.set(http::field::host, "127.0.0.1");
  for (const auto& [Name, Value] : AHeaders) Request.set(Name, Value);
  Request.body() = std::move(ABody);
  Request.prepare_payload();
  http::response<http::string_body> Response;
  beast::flat_buffer Buffer;
  THttpResult Result;
  bool Done = false;

  const auto Exchange = [&](auto& AStream) {
    http::async_write(AStream, Request, [&](beast::error_code AError, std::size_t) {
      if (AError) {
        Done = true;
        return;
      }
      http::async_read(AStream, Buffer, Response, [&](beast::error_code AReadError, std::size_t) {
        if (!AReadError) {
          Result.Status = Response.result_int();
          Result.ContentType = std::string(Response[http::field::content_type]);
          Result.Body = Response.body();
          for (const auto& Field : Response) {
            std::string Name(Field.name_string());
            for (char& C : Name) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
            Result.Headers.emplace_back(std::move(Name), std::string(Field.value()));
          }
        }
        Done = true;
      });
    });
  };
  auto& Tcp = beast::get_lowest_layer(Stream);
  Tcp.expires_after(10s);
  Tcp.async_connect(Loopback(APort), [&](beast::error_code AError) {
    if (AError) {
      Done = true;
    } else if (!ASecure) {
      Exchange(Tcp);
    } else {
      Stream.async_handshake(net::ssl::stream_base::client, [&](beast::error_code ATlsError) {
        if (ATlsError)
          Done = true;
        else
          Exchange(Stream);
      });
    }
  });
  Io.run_for(15s);
  return Result;
}

std::string RawHttp(std::uint16_t APort, const std::string& ARequest) {
  net::io_context Io;
  beast::tcp_stream Stream(Io);
  std::string Received;
  char Chunk[4096];
  std::function<void()> ReadSome = [&] {
    Stream.async_read_some(net::buffer(Chunk), [&](beast::error_code AError, std::size_t ASize) {
      Received.append(Chunk, ASize);
      if (!AError) ReadSome();
    });
  };
  Stream.expires_after(10s);
  Stream.async_connect(Loopback(APort), [&](beast::error_code AError) {
    if (AError) return;
    net::async_write(Stream, net::buffer(ARequest), [](beast::error_code, std::size_t) {});
    ReadSome();
  });
  Io.run_for(15s);
  return Received;
}

}  // namespace halvora::relay::test
