#include "uViewerConnection.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <charconv>
#include <optional>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

#include "protocol/uProtocol.h"

namespace halvora::viewer {

namespace {

namespace net = boost::asio;
namespace ssl = net::ssl;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using TError = beast::error_code;
using TPlain = websocket::stream<tcp::socket>;
using TSecure = websocket::stream<beast::ssl_stream<tcp::socket>>;

constexpr auto SendTimeout = std::chrono::seconds(30);
constexpr auto CloseTimeout = std::chrono::seconds(2);

bool IsAddress(const std::string& AHost) {
  TError Error;
  net::ip::make_address(AHost, Error);
  return !Error;
}

// The certificate must name AHost (a DNS name, also sent as SNI, or an IP address).
bool ExpectPeer(SSL* ASsl, const std::string& AHost) {
  if (IsAddress(AHost))
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ASsl), AHost.c_str()) == 1;
  return SSL_set1_host(ASsl, AHost.c_str()) == 1 &&
         SSL_set_tlsext_host_name(ASsl, AHost.c_str()) == 1;
}

template <class TWs>
void Configure(TWs& AWs) {
  AWs.set_option(websocket::stream_base::timeout{websocket::stream_base::none(),
                                                 websocket::stream_base::none(), false});
  AWs.set_option(websocket::stream_base::decorator([](websocket::request_type& ARequest) {
    ARequest.set(beast::http::field::user_agent, "halvora-viewer");
  }));
  AWs.read_message_max(MaxMessageSize);
  AWs.binary(true);
}

}  // namespace

bool ParseRelayUrl(std::string_view AUrl, TRelayUrl& AResult) {
  TRelayUrl Url;
  if (AUrl.starts_with("wss://")) {
    Url.Secure = true;
    AUrl.remove_prefix(6);
  } else if (AUrl.starts_with("ws://")) {
    AUrl.remove_prefix(5);
  } else {
    return false;
  }
  const std::size_t PathStart = AUrl.find('/');
  std::string_view Authority = AUrl.substr(0, PathStart);
  Url.Path = PathStart == std::string_view::npos ? "/relay" : std::string(AUrl.substr(PathStart));
  std::string_view PortText;
  if (Authority.starts_with("[")) {
    const std::size_t Close = Authority.find(']');
    if (Close == std::string_view::npos) return false;
    Url.Host = Authority.substr(1, Close - 1);
    const std::string_view After = Authority.substr(Close + 1);
    if (!After.empty() && !After.starts_with(":")) return false;
    if (!After.empty()) PortText = After.substr(1);
  } else {
    const std::size_t Colon = Authority.find(':');
    Url.Host = Authority.substr(0, Colon);
    if (Colon != std::string_view::npos) PortText = Authority.substr(Colon + 1);
  }
  if (Url.Host.empty()) return false;
  unsigned Port = Url.Secure ? 443 : 80;
  if (!PortText.empty()) {
    const auto [End, Error] =
        std::from_chars(PortText.data(), PortText.data() + PortText.size(), Port);
    if (Error != std::errc() || End != PortText.data() + PortText.size() || Port == 0 ||
        Port > 65535)
      return false;
  }
  Url.Port = static_cast<std::uint16_t>(Port);
  AResult = Url;
  return true;
}

class TViewerConnection::TImpl {
 public:
  ~TImpl() { Close(); }

  bool Open(const TRelayUrl& AUrl, const std::string& ACaFile, TClock::time_point ADeadline,
            std::string& AError) {
    const std::string Where = AUrl.Host + ":" + std::to_string(AUrl.Port);
    try {
      if (AUrl.Secure) {
        FTls.set_verify_mode(ssl::verify_peer);
        FTls.set_default_verify_paths();
        if (!ACaFile.empty()) FTls.load_verify_file(ACaFile);
        FSecure.emplace(FIo, FTls);
      } else {
        FPlain.emplace(FIo);
      }
      tcp::resolver Resolver(FIo);
      const auto Endpoints = Resolver.resolve(AUrl.Host, std::to_string(AUrl.Port));
      TError Error;
      if (!Await(ADeadline, Error,
                 [&](auto ADone) {
                   net::async_connect(
                       Socket(), Endpoints,
                       [ADone](TError AError, const tcp::endpoint&) { ADone(AError); });
                 }) ||
          Error)
        return Fail(AError, "não foi possível conectar a " + Where, Error);
      if (FSecure) {
        if (!ExpectPeer(FSecure->next_layer().native_handle(), AUrl.Host)) {
          AError = "TLS: nome de servidor inválido: " + AUrl.Host;
          return false;
        }
        if (!Await(ADeadline, Error,
                   [&](auto ADone) {
                     FSecure->next_layer().async_handshake(ssl::stream_base::client, ADone);
                   }) ||
            Error)
          return Fail(AError, "TLS com " + Where + " falhou", Error);
      }
      const std::string HostHeader =
          (AUrl.Host.find(':') != std::string::npos ? "[" + AUrl.Host + "]" : AUrl.Host) + ":" +
          std::to_string(AUrl.Port);
      if (!Await(ADeadline, Error,
                 [&](auto ADone) {
                   WithWs([&](auto& AWs) {
                     Configure(AWs);
                     AWs.async_handshake(HostHeader, AUrl.Path, ADone);
                   });
                 }) ||
          Error)
        return Fail(AError, "WebSocket em " + Where + AUrl.Path + " recusado", Error);
      FOpen = true;
      return true;
    } catch (const std::exception& AFault) {
      AError = "não foi possível conectar a " + Where + ": " + AFault.what();
      return false;
    }
  }

  bool Send(std::uint8_t ACmd, const TBytes& APayload) {
    if (!FOpen) return false;
    TBytes Message;
    Message.reserve(APayload.size() + 1);
    Message.push_back(ACmd);
    Message.insert(Message.end(), APayload.begin(), APayload.end());
    TError Error;
    const bool Done = Await(TClock::now() + SendTimeout, Error, [&](auto ADone) {
      WithWs([&](auto& AWs) {
        AWs.async_write(net::buffer(Message),
                        [ADone](TError AError, std::size_t) { ADone(AError); });
      });
    });
    if (!Done || Error) FOpen = false;
    return FOpen;
  }

  TReceiveStatus Receive(std::uint8_t& ACmd, TBytes& APayload, TClock::time_point ADeadline) {
    while (true) {
      if (!FReading && !FReadDone) {
        if (!FOpen) return TReceiveStatus::rsClosed;
        StartRead();
      }
      if (!RunUntil(FReadDone, ADeadline)) return TReceiveStatus::rsTimeout;
      FReadDone = false;
      if (FReadError) {
        FOpen = false;
        return TReceiveStatus::rsClosed;
      }
      const auto Data = FBuffer.cdata();
      const auto* Bytes = static_cast<const std::uint8_t*>(Data.data());
      const std::size_t Size = Data.size();
      if (Size > 0) {
        ACmd = Bytes[0];
        APayload.assign(Bytes + 1, Bytes + Size);
      }
      FBuffer.consume(Size);
      if (Size > 0) return TReceiveStatus::rsMessage;
    }
  }

  void Close() {
    if (FOpen) {
      FOpen = false;
      TError Ignored;
      Await(TClock::now() + CloseTimeout, Ignored, [&](auto ADone) {
        WithWs([&](auto& AWs) { AWs.async_close(websocket::close_code::normal, ADone); });
      });
    }
    if (FPlain || FSecure) {
      TError Ignored;
      Socket().close(Ignored);
      FIo.restart();
      FIo.run_for(CloseTimeout);  // lets aborted operations finish
    }
  }

 private:
  template <class F>
  void WithWs(F&& AAction) {
    if (FSecure)
      AAction(*FSecure);
    else
      AAction(*FPlain);
  }

  tcp::socket& Socket() {
    if (FSecure) return beast::get_lowest_layer(*FSecure);
    return beast::get_lowest_layer(*FPlain);
  }

  // Runs the I/O until ADone is set; false when ADeadline comes first.
  bool RunUntil(const bool& ADone, TClock::time_point ADeadline) {
    while (!ADone) {
      if (FIo.stopped()) FIo.restart();
      if (FIo.run_one_until(ADeadline) == 0 && !ADone) return false;
    }
    return true;
  }

  // Starts one operation with a completion that records its error, and runs it to its end.
  // At ADeadline the socket is closed, so the operation ends at once, aborted; false then.
  template <class TStart>
  bool Await(TClock::time_point ADeadline, TError& AError, TStart AStart) {
    auto Done = std::make_shared<bool>(false);
    auto Error = std::make_shared<TError>();
    AStart([Done, Error](TError AResult) {
      *Error = AResult;
      *Done = true;
    });
    const bool InTime = RunUntil(*Done, ADeadline);
    if (!InTime) {
      FOpen = false;
      TError Ignored;
      Socket().close(Ignored);
      RunUntil(*Done, TClock::now() + CloseTimeout);
    }
    AError = *Error;
    return InTime;
  }

  void StartRead() {
    FReading = true;
    WithWs([this](auto& AWs) {
      AWs.async_read(FBuffer, [this](TError AError, std::size_t) {
        FReadError = AError;
        FReading = false;
        FReadDone = true;
      });
    });
  }

  static bool Fail(std::string& AText, const std::string& AWhat, const TError& AError) {
    AText = AWhat + (AError ? ": " + AError.message() : std::string(": tempo esgotado"));
    return false;
  }

  net::io_context FIo{1};
  ssl::context FTls{ssl::context::tls_client};
  std::optional<TPlain> FPlain;
  std::optional<TSecure> FSecure;
  beast::flat_buffer FBuffer;
  bool FOpen = false, FReading = false, FReadDone = false;
  TError FReadError;
};

TViewerConnection::TViewerConnection() : FImpl(std::make_unique<TImpl>()) {}
TViewerConnection::~TViewerConnection() = default;

bool TViewerConnection::Open(const TRelayUrl& AUrl, const std::string& ACaFile,
                             TClock::time_point ADeadline, std::string& AError) {
  return FImpl->Open(AUrl, ACaFile, ADeadline, AError);
}

bool TViewerConnection::Send(std::uint8_t ACmd, const TBytes& APayload) {
  return FImpl->Send(ACmd, APayload);
}

TReceiveStatus TViewerConnection::Receive(std::uint8_t& ACmd, TBytes& APayload,
                                          TClock::time_point ADeadline) {
  return FImpl->Receive(ACmd, APayload, ADeadline);
}

void TViewerConnection::Close() {
  FImpl->Close();
}

}  // namespace halvora::viewer
