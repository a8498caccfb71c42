#include "support/uTestWsServer.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

#include "support/uTestPki.h"

namespace halvora::test {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

using TPlainClient = websocket::stream<tcp::socket>;
using TSecureClient = websocket::stream<beast::ssl_stream<tcp::socket>>;

// Guards against hangs only; a healthy run never comes close.
constexpr auto SafetyTimeout = std::chrono::seconds(30);

TIdBytes Bytes(const std::string& AText) { return TIdBytes(AText.begin(), AText.end()); }

testing::AssertionResult Succeeded(beast::error_code AError) {
  if (!AError) return testing::AssertionSuccess();
  return testing::AssertionFailure() << AError.message();
}

// Runs one asynchronous client operation on AIo until it completes and returns its result.
template <class TStart>
beast::error_code Await(net::io_context& AIo, TStart AStart) {
  auto result = std::make_shared<std::optional<beast::error_code>>();
  AStart([result](beast::error_code AError, auto&&...) { *result = AError; });
  AIo.restart();
  const auto deadline = std::chrono::steady_clock::now() + SafetyTimeout;
  while (!*result && AIo.run_one_until(deadline) > 0) {
  }
  return result->value_or(net::error::timed_out);
}

net::ssl::context ClientTls(const std::string& ACaCertPem) {
  net::ssl::context context(net::ssl::context::tls_client);
  context.add_certificate_authority(net::buffer(ACaCertPem));
  context.set_verify_mode(net::ssl::verify_peer);
  return context;
}

// Connects, runs TLS for a secure client (SNI and host name check for "localhost") and
// upgrades at "/relay?x=1".
template <class TClient>
beast::error_code Open(net::io_context& AIo, TClient& AClient, std::uint16_t APort) {
  const tcp::endpoint server(net::ip::address_v4::loopback(), APort);
  beast::error_code error = Await(AIo, [&](auto AHandler) {
    beast::get_lowest_layer(AClient).async_connect(server, std::move(AHandler));
  });
  if constexpr (std::is_same_v<TClient, TSecureClient>) {
    SSL* ssl = AClient.next_layer().native_handle();
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    if (!error) {
      error = Await(AIo, [&](auto AHandler) {
        AClient.next_layer().async_handshake(net::ssl::stream_base::client, std::move(AHandler));
      });
    }
  }
  AClient.set_option(websocket::stream_base::decorator([](websocket::request_type& ARequest) {
    ARequest.set(http::field::user_agent, "HalvoraTest/1.0");
  }));
  const std::string host = "localhost:" + std::to_string(APort);
  if (!error) {
    error = Await(AIo, [&](auto AHandler) {
      AClient.async_handshake(host, "/relay?x=1", std::move(AHandler));
    });
  }
  return error;
}

template <class TClient>
std::string ReadText(net::io_context& AIo, TClient& AClient, beast::error_code& AError) {
  beast::flat_buffer buffer;
  AError = Await(AIo, [&](auto AHandler) { AClient.async_read(buffer, std::move(AHandler)); });
  return beast::buffers_to_string(buffer.data());
}

// One scripted round: client message, binary reply, fragmented text reply, server close.
template <class TClient>
void ExerciseRound(net::io_context& AIo, TClient& AClient, TTestWsConnection& AConnection) {
  AClient.binary(true);
  const TIdBytes hello = Bytes("hello");
  ASSERT_TRUE(Succeeded(Await(AIo, [&](auto AHandler) {
    AClient.async_write(net::buffer(hello), std::move(AHandler));
  })));
  TIdBytes message;
  ASSERT_TRUE(AConnection.Read(message));
  EXPECT_EQ(message, hello);

  beast::error_code error;
  ASSERT_TRUE(AConnection.SendBinary(Bytes("binary")));
  EXPECT_EQ(ReadText(AIo, AClient, error), "binary");
  ASSERT_TRUE(Succeeded(error));
  EXPECT_TRUE(AClient.got_binary());

  ASSERT_TRUE(AConnection.SendFragmented({Bytes("frag"), Bytes("men"), Bytes("ted")}, true));
  EXPECT_EQ(ReadText(AIo, AClient, error), "fragmented");
  ASSERT_TRUE(Succeeded(error));
  EXPECT_TRUE(AClient.got_text());

  ASSERT_TRUE(AConnection.SendClose());
  ReadText(AIo, AClient, error);
  EXPECT_EQ(error, websocket::error::closed);
  EXPECT_TRUE(AConnection.WaitClosed());
  EXPECT_FALSE(AConnection.Read(message));
}

TEST(TestWsServerTest, PlainRound) {
  TTestWsServer server;
  net::io_context io;
  TPlainClient client(io);
  ASSERT_TRUE(Succeeded(Open(io, client, server.Port())));
  const auto connection = server.Accept();
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->Target(), "/relay?x=1");
  EXPECT_EQ(connection->UserAgent(), "HalvoraTest/1.0");
  EXPECT_EQ(connection->HostHeader(), "localhost:" + std::to_string(server.Port()));
  EXPECT_EQ(connection->ServerName(), "");
  ExerciseRound(io, client, *connection);
}

TEST(TestWsServerTest, SecureRoundAndUntrustedCa) {
  const TTestPki pki = MakeTestPki({"localhost"}, {"127.0.0.1"});
  TTestWsServer server({.Secure = true, .CertPem = pki.ServerCertPem, .KeyPem = pki.ServerKeyPem});
  net::io_context io;

  net::ssl::context untrusted = ClientTls(MakeTestPki({"localhost"}, {}).CaCertPem);
  {
    TSecureClient client(io, untrusted);
    EXPECT_FALSE(Succeeded(Open(io, client, server.Port())));
  }
  EXPECT_EQ(server.TcpCount(), 1);
  EXPECT_EQ(server.UpgradeCount(), 0);

  net::ssl::context trusted = ClientTls(pki.CaCertPem);
  TSecureClient client(io, trusted);
  ASSERT_TRUE(Succeeded(Open(io, client, server.Port())));
  const auto connection = server.Accept();
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->ServerName(), "localhost");
  EXPECT_EQ(connection->Target(), "/relay?x=1");
  ExerciseRound(io, client, *connection);
  EXPECT_EQ(server.TcpCount(), 2);
  EXPECT_EQ(server.UpgradeCount(), 1);
}

TEST(TestWsServerTest, EchoesMessageAboveBeastDefaultLimit) {
  TTestWsServer server({.Mode = TServerMode::smEcho});
  net::io_context io;
  TPlainClient client(io);
  ASSERT_TRUE(Succeeded(Open(io, client, server.Port())));
  client.read_message_max(0);  // no limit
  client.binary(true);
  TIdBytes big(16'777'218);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(Succeeded(Await(io, [&](auto AHandler) {
    client.async_write(net::buffer(big), std::move(AHandler));
  })));
  beast::flat_buffer buffer;
  ASSERT_TRUE(Succeeded(
      Await(io, [&](auto AHandler) { client.async_read(buffer, std::move(AHandler)); })));
  ASSERT_EQ(buffer.size(), big.size());
  EXPECT_EQ(std::memcmp(buffer.cdata().data(), big.data(), big.size()), 0);
  EXPECT_TRUE(server.WaitMessages(1));
  EXPECT_EQ(server.MessagesReceived(), 1u);
}

}  // namespace
}  // namespace halvora::test
