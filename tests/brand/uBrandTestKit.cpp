#include "uBrandTestKit.h"

#include <png.h>

#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <filesystem>
#include <istream>
#include <stdexcept>

#include "relay/uRelayServer.h"
#include "support/uTestPki.h"

namespace halvora::test {

namespace asio = boost::asio;
using asio::ip::tcp;

TIdBytes MakePng(std::uint32_t AWidth, std::uint32_t AHeight, std::uint32_t AColor) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  Image.width = AWidth;
  Image.height = AHeight;
  Image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> Pixels;
  for (std::uint32_t I = 0; I < AWidth * AHeight; ++I)
    Pixels.insert(Pixels.end(),
                  {static_cast<png_byte>(AColor >> 16), static_cast<png_byte>(AColor >> 8),
                   static_cast<png_byte>(AColor)});
  png_alloc_size_t Size = 0;
  if (!png_image_write_to_memory(&Image, nullptr, &Size, 0, Pixels.data(), 0, nullptr))
    throw std::runtime_error("png size");
  TIdBytes Result(Size);
  if (!png_image_write_to_memory(&Image, Result.data(), &Size, 0, Pixels.data(), 0, nullptr))
    throw std::runtime_error("png write");
  Result.resize(Size);
  return Result;
}

std::string AsString(const TIdBytes& ABytes) {
  return std::string(ABytes.begin(), ABytes.end());
}

THttpReply Answer(int AStatus, const std::string& ABody, const std::string& AContentType) {
  return {THttpReply::TKind::hrAnswer, "HTTP/1.1 " + std::to_string(AStatus) +
                                           " X\r\nContent-Type: " + AContentType +
                                           "\r\nContent-Length: " + std::to_string(ABody.size()) +
                                           "\r\nConnection: close\r\n\r\n" + ABody};
}

THttpReply Stall() {
  return {THttpReply::TKind::hrStall, {}};
}

THttpReply Trickle() {
  return {THttpReply::TKind::hrTrickle,
          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000000\r\n\r\n"};
}

struct TLoopbackHttp::TConnection {
  explicit TConnection(asio::io_context& AIo) : Socket(AIo), Timer(AIo) {}
  tcp::socket Socket;
  asio::streambuf Input;
  asio::steady_timer Timer;
  std::string Output;
};

TLoopbackHttp::TLoopbackHttp(std::function<THttpReply(const std::string&)> AHandler)
    : FAcceptor(FIo, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
      FHandler(std::move(AHandler)) {
  Accept();
  FThread = std::thread([this] { FIo.run(); });
}

TLoopbackHttp::~TLoopbackHttp() {
  FIo.stop();
  FThread.join();
}

std::string TLoopbackHttp::Url() const {
  return "http://127.0.0.1:" + std::to_string(FAcceptor.local_endpoint().port());
}

std::string TLoopbackHttp::SecureUrl() const {
  return "https://127.0.0.1:" + std::to_string(FAcceptor.local_endpoint().port());
}

std::vector<std::string> TLoopbackHttp::Targets() const {
  std::lock_guard Guard(FLock);
  return FTargets;
}

std::size_t TLoopbackHttp::Connections() const {
  std::lock_guard Guard(FLock);
  return FConnections;
}

void TLoopbackHttp::Accept() {
  auto Connection = std::make_shared<TConnection>(FIo);
  FAcceptor.async_accept(Connection->Socket, [this, Connection](boost::system::error_code AError) {
    if (AError) return;
    {
      std::lock_guard Guard(FLock);
      ++FConnections;
    }
    Serve(Connection);
    Accept();
  });
}

namespace {

void TrickleOn(std::shared_ptr<TLoopbackHttp::TConnection> AConnection) {
  AConnection->Timer.expires_after(std::chrono::milliseconds(50));
  AConnection->Timer.async_wait([AConnection](boost::system::error_code AError) {
    if (AError) return;
    asio::async_write(AConnection->Socket, asio::buffer("x", 1),
                      [AConnection](boost::system::error_code AWriteError, std::size_t) {
                        if (!AWriteError) TrickleOn(AConnection);
                      });
  });
}

}  // namespace

void TLoopbackHttp::Serve(std::shared_ptr<TConnection> AConnection) {
  asio::async_read_until(
      AConnection->Socket, AConnection->Input, "\r\n\r\n",
      [this, AConnection](boost::system::error_code AError, std::size_t) {
        if (AError) return;
        std::istream Head(&AConnection->Input);
        std::string Method, Target;
        Head >> Method >> Target;
        {
          std::lock_guard Guard(FLock);
          FTargets.push_back(Target);
        }
        const THttpReply Reply = FHandler(Target);
        if (Reply.Kind == THttpReply::TKind::hrStall) {
          FHeld.push_back(AConnection);
          return;
        }
        AConnection->Output = Reply.Raw;
        const bool Trickles = Reply.Kind == THttpReply::TKind::hrTrickle;
        asio::async_write(
            AConnection->Socket, asio::buffer(AConnection->Output),
            [AConnection, Trickles](boost::system::error_code AWriteError, std::size_t) {
              if (AWriteError) return;
              if (Trickles) {
                TrickleOn(AConnection);
              } else {
                boost::system::error_code Ignored;
                AConnection->Socket.shutdown(tcp::socket::shutdown_send, Ignored);
              }
            });
      });
}

TBrandRelay::TBrandRelay(bool ASecure) : FSecure(ASecure) {
  relay::TRelayOptions Options;
  Options.Address = "127.0.0.1";
  Options.Port = 0;
  Options.Database = ":memory:";
  Options.NoopInterval = 0;
  Options.Threads = 1;
  Options.Quiet = true;
  Options.BrandsFolder = FFolder.Path("marcas");
  std::filesystem::create_directories(Options.BrandsFolder);
  if (ASecure) {
    const TTestPki Pki = MakeTestPki({"localhost"}, {"127.0.0.1"});
    WriteFile(FFolder.Path("ca.pem"), Pki.CaCertPem);
    WriteFile(FFolder.Path("cert.pem"), Pki.ServerCertPem);
    WriteFile(FFolder.Path("key.pem"), Pki.ServerKeyPem);
    Options.TlsCert = FFolder.Path("cert.pem");
    Options.TlsKey = FFolder.Path("key.pem");
  }
  FServer = std::make_unique<relay::TRelayServer>(Options);
}

TBrandRelay::~TBrandRelay() = default;

void TBrandRelay::AddBrand(const std::string& ACode, const std::string& AName,
                           const TIdBytes& ALogo) {
  WriteFile(FFolder.Path("marcas/" + ACode + "/nome.txt"), AName);
  if (!ALogo.empty()) WriteFile(FFolder.Path("marcas/" + ACode + "/logo.png"), AsString(ALogo));
}

std::string TBrandRelay::Url() const {
  return std::string(FSecure ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(FServer->Port());
}

std::string TBrandRelay::CaFile() const {
  return FFolder.Path("ca.pem");
}

}  // namespace halvora::test
