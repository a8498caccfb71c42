#include "support/uTestWsServer.h"

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

namespace halvora::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t MaxMessage = std::size_t{64} << 20;
// Guards the test thread against a hung I/O thread only; a healthy run never comes close.
constexpr auto IoSafetyTimeout = std::chrono::seconds(60);

using TReply = std::shared_ptr<std::promise<bool>>;

void Resolve(const TReply& AReply, bool AOk) { AReply->set_value(AOk); }

std::string Text(beast::string_view AText) { return std::string(AText.data(), AText.size()); }

}  // namespace

// The I/O side of one connection. Every call runs on the server's I/O thread and resolves
// AReply exactly once, when its work is done.
class IWsSession {
 public:
  virtual ~IWsSession() = default;
  virtual void Send(std::shared_ptr<const TIdBytes> AMessage, bool AText, TReply AReply) = 0;
  virtual void SendFragments(std::shared_ptr<const std::vector<TIdBytes>> AParts, bool AText,
                             TReply AReply) = 0;
  virtual void Close(TReply AReply) = 0;
  virtual void Drop(TReply AReply) = 0;
};

struct TUpgradeInfo {
  std::string Target, UserAgent, Host, ServerName;
};

// What the test thread and the I/O thread share about one upgraded connection.
class TWsConnectionState {
 public:
  TWsConnectionState(TUpgradeInfo AInfo, net::any_io_executor AExecutor,
                     std::weak_ptr<IWsSession> ASession)
      : FInfo(std::move(AInfo)), FExecutor(std::move(AExecutor)), FSession(std::move(ASession)) {}

  const TUpgradeInfo FInfo;
  const net::any_io_executor FExecutor;
  const std::weak_ptr<IWsSession> FSession;  // expires once the I/O side is gone

  void Deliver(TIdBytes&& AMessage) {
    {
      std::lock_guard lock(FLock);
      FMessages.push_back(std::move(AMessage));
    }
    FChanged.notify_all();
  }

  void MarkClosed() {
    {
      std::lock_guard lock(FLock);
      FClosed = true;
    }
    FChanged.notify_all();
  }

  bool Read(TIdBytes& AMessage, std::chrono::milliseconds ATimeout) {
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, ATimeout, [this] { return !FMessages.empty() || FClosed; });
    if (FMessages.empty()) return false;
    AMessage = std::move(FMessages.front());
    FMessages.pop_front();
    return true;
  }

  bool WaitClosed(std::chrono::milliseconds ATimeout) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [this] { return FClosed; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TIdBytes> FMessages;
  bool FClosed = false;
};

// Counters and the queue of upgraded connections, shared by the I/O thread and the test thread.
class TServerState {
 public:
  explicit TServerState(TServerMode AMode) : FMode(AMode) {}

  TServerMode Mode() const { return FMode; }
  void CountTcp() { ++FTcpCount; }
  int TcpCount() const { return FTcpCount.load(); }
  int UpgradeCount() const { return FUpgradeCount.load(); }

  void AddConnection(std::shared_ptr<TTestWsConnection> AConnection) {
    {
      std::lock_guard lock(FLock);
      ++FUpgradeCount;
      FAccepted.push_back(std::move(AConnection));
    }
    FChanged.notify_all();
  }

  std::shared_ptr<TTestWsConnection> TakeConnection(std::chrono::milliseconds ATimeout) {
    std::unique_lock lock(FLock);
    if (!FChanged.wait_for(lock, ATimeout, [this] { return !FAccepted.empty(); })) return nullptr;
    auto connection = std::move(FAccepted.front());
    FAccepted.pop_front();
    return connection;
  }

  void CountMessage() {
    {
      std::lock_guard lock(FLock);
      ++FMessages;
    }
    FChanged.notify_all();
  }

  std::uint64_t Messages() const {
    std::lock_guard lock(FLock);
    return FMessages;
  }

  bool WaitMessages(std::uint64_t ACount, std::chrono::milliseconds ATimeout) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [&] { return FMessages >= ACount; });
  }

 private:
  const TServerMode FMode;
  std::atomic<int> FTcpCount{0};
  std::atomic<int> FUpgradeCount{0};
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::shared_ptr<TTestWsConnection>> FAccepted;
  std::uint64_t FMessages = 0;
};

namespace {

using TPlainWs = websocket::stream<tcp::socket>;
using TSecureWs = websocket::stream<beast::ssl_stream<tcp::socket>>;

// One connection from the TCP accept on: TLS handshake (wss), upgrade, then a read loop that
// hands messages to the test, echoes or discards them. Writes are queued so that one runs at a
// time. Handlers hold the session; it ends when the last of them is gone.
template <class TWs>
class TWsSession final : public IWsSession, public std::enable_shared_from_this<TWsSession<TWs>> {
 public:
  template <class... TArgs>
  explicit TWsSession(TServerState& AServer, TArgs&&... AArgs)
      : FServer(AServer), FWs(std::forward<TArgs>(AArgs)...) {}

  ~TWsSession() override {
    if (FConnection) FConnection->MarkClosed();
  }

  void Start() {
    if constexpr (IsSecure) {
      FWs.next_layer().async_handshake(net::ssl::stream_base::server,
                                       [self = Self()](beast::error_code AError) {
                                         if (!AError) self->ReadRequest();
                                       });
    } else {
      ReadRequest();
    }
  }

  void Send(std::shared_ptr<const TIdBytes> AMessage, bool AText, TReply AReply) override {
    if (!Writable()) return Resolve(AReply, false);
    QueueWrite([self = Self(), AMessage, AText, AReply] {
      self->FWs.text(AText);
      self->FWs.async_write(net::buffer(*AMessage),
                            [self, AMessage, AReply](beast::error_code AError, std::size_t) {
                              Resolve(AReply, !AError);
                              self->WriteDone();
                            });
    });
  }

  void SendFragments(std::shared_ptr<const std::vector<TIdBytes>> AParts, bool AText,
                     TReply AReply) override {
    if (!Writable() || AParts->empty()) return Resolve(AReply, false);
    QueueWrite([self = Self(), AParts, AText, AReply] {
      self->FWs.text(AText);
      self->WriteFragment(AParts, 0, AReply);
    });
  }

  void Close(TReply AReply) override {
    if (!Writable()) return Resolve(AReply, false);
    FCloseSent = true;
    QueueWrite([self = Self(), AReply] {
      // The client may have started closing meanwhile; its close frame has been answered then.
      const bool open = self->FWs.is_open();
      Resolve(AReply, open);
      if (open) {
        self->FWs.async_close(websocket::close_code::normal,
                              [self](beast::error_code) { self->WriteDone(); });
      } else {
        self->WriteDone();
      }
    });
  }

  void Drop(TReply AReply) override {
    End();
    Resolve(AReply, true);
  }

 private:
  static constexpr bool IsSecure = std::is_same_v<TWs, TSecureWs>;

  std::shared_ptr<TWsSession> Self() { return this->shared_from_this(); }
  bool Writable() const { return !FEnded && !FCloseSent; }

  void ReadRequest() {
    http::async_read(FWs.next_layer(), FHttpBuffer, FRequest,
                     [self = Self()](beast::error_code AError, std::size_t) {
                       if (!AError) self->Upgrade();
                     });
  }

  void Upgrade() {
    FWs.read_message_max(MaxMessage);
    FWs.auto_fragment(false);
    FWs.async_accept(FRequest, [self = Self()](beast::error_code AError) {
      if (!AError) self->Opened();
    });
  }

  void Opened() {
    FConnection = std::make_shared<TWsConnectionState>(UpgradeInfo(), FWs.get_executor(),
                                                       this->weak_from_this());
    FServer.AddConnection(std::make_shared<TTestWsConnection>(FConnection));
    ReadNext();
  }

  TUpgradeInfo UpgradeInfo() {
    TUpgradeInfo info{Text(FRequest.target()), Text(FRequest[http::field::user_agent]),
                      Text(FRequest[http::field::host]), {}};
    if constexpr (IsSecure) {
      if (const char* name = SSL_get_servername(FWs.next_layer().native_handle(),
                                                TLSEXT_NAMETYPE_host_name)) {
        info.ServerName = name;
      }
    }
    return info;
  }

  void ReadNext() {
    FWs.async_read(FBuffer, [self = Self()](beast::error_code AError, std::size_t) {
      self->OnRead(AError);
    });
  }

  void OnRead(beast::error_code AError) {
    if (AError) return End();
    FServer.CountMessage();
    switch (FServer.Mode()) {
      case TServerMode::smScripted: {
        const auto* data = static_cast<const std::uint8_t*>(FBuffer.cdata().data());
        FConnection->Deliver(TIdBytes(data, data + FBuffer.size()));
        FBuffer.consume(FBuffer.size());
        ReadNext();
        break;
      }
      case TServerMode::smEcho:
        Echo();
        break;
      case TServerMode::smSink:
        FBuffer.consume(FBuffer.size());
        ReadNext();
        break;
    }
  }

  // Sends the message just read back from the read buffer; reading resumes once it is out.
  void Echo() {
    QueueWrite([self = Self()] {
      self->FWs.binary(true);
      self->FWs.async_write(self->FBuffer.data(), [self](beast::error_code AError, std::size_t) {
        self->FBuffer.consume(self->FBuffer.size());
        self->WriteDone();
        if (AError) {
          self->End();
        } else {
          self->ReadNext();
        }
      });
    });
  }

  void WriteFragment(std::shared_ptr<const std::vector<TIdBytes>> AParts, std::size_t AIndex,
                     TReply AReply) {
    const bool last = AIndex + 1 == AParts->size();
    FWs.async_write_some(
        last, net::buffer((*AParts)[AIndex]),
        [self = Self(), AParts, AIndex, AReply, last](beast::error_code AError, std::size_t) {
          if (AError || last) {
            Resolve(AReply, !AError);
            self->WriteDone();
          } else {
            self->WriteFragment(AParts, AIndex + 1, AReply);
          }
        });
  }

  // AStart begins one write operation whose completion calls WriteDone.
  void QueueWrite(std::function<void()> AStart) {
    FWrites.push_back(std::move(AStart));
    if (!FWriting) StartNextWrite();
  }

  void WriteDone() {
    FWriting = false;
    StartNextWrite();
  }

  void StartNextWrite() {
    if (FWrites.empty()) return;
    FWriting = true;
    const std::function<void()> start = std::move(FWrites.front());
    FWrites.pop_front();
    start();
  }

  // The connection is over: close the socket (pending operations fail) and tell the test.
  void End() {
    if (FEnded) return;
    FEnded = true;
    beast::error_code ignored;
    beast::get_lowest_layer(FWs).close(ignored);
    if (FConnection) FConnection->MarkClosed();
  }

  TServerState& FServer;
  TWs FWs;
  beast::flat_buffer FHttpBuffer;
  http::request<http::string_body> FRequest;
  beast::flat_buffer FBuffer;  // the message being read; reused, so it keeps its capacity
  std::shared_ptr<TWsConnectionState> FConnection;  // set once upgraded
  std::deque<std::function<void()>> FWrites;
  bool FWriting = false;
  bool FCloseSent = false;
  bool FEnded = false;
};

// Runs AOperation with the connection's session on the I/O thread and waits for its reply;
// false when the session is gone or the server stopped before it ran.
bool CallSession(const TWsConnectionState& AState,
                 std::function<void(IWsSession&, const TReply&)> AOperation) {
  std::shared_ptr<IWsSession> session = AState.FSession.lock();
  if (!session) return false;
  auto reply = std::make_shared<std::promise<bool>>();
  std::future<bool> result = reply->get_future();
  net::post(AState.FExecutor,
            [session = std::move(session), reply, AOperation = std::move(AOperation)] {
              AOperation(*session, reply);
            });
  if (result.wait_for(IoSafetyTimeout) != std::future_status::ready) return false;
  try {
    return result.get();
  } catch (const std::future_error&) {  // the operation was discarded unrun
    return false;
  }
}

std::unique_ptr<net::ssl::context> MakeTlsContext(const TServerOptions& AOptions) {
  auto context = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
  context->use_certificate_chain(net::buffer(AOptions.CertPem));
  context->use_private_key(net::buffer(AOptions.KeyPem), net::ssl::context::pem);
  return context;
}

}  // namespace

TTestWsConnection::TTestWsConnection(std::shared_ptr<TWsConnectionState> AState)
    : FState(std::move(AState)) {}

bool TTestWsConnection::Read(TIdBytes& AMessage, std::chrono::milliseconds ATimeout) {
  return FState->Read(AMessage, ATimeout);
}

bool TTestWsConnection::SendBinary(const TIdBytes& AMessage) {
  auto message = std::make_shared<const TIdBytes>(AMessage);
  return CallSession(*FState, [message](IWsSession& ASession, const TReply& AReply) {
    ASession.Send(message, false, AReply);
  });
}

bool TTestWsConnection::SendText(const std::string& AText) {
  auto message = std::make_shared<const TIdBytes>(AText.begin(), AText.end());
  return CallSession(*FState, [message](IWsSession& ASession, const TReply& AReply) {
    ASession.Send(message, true, AReply);
  });
}

bool TTestWsConnection::SendFragmented(const std::vector<TIdBytes>& AParts, bool AText) {
  auto parts = std::make_shared<const std::vector<TIdBytes>>(AParts);
  return CallSession(*FState, [parts, AText](IWsSession& ASession, const TReply& AReply) {
    ASession.SendFragments(parts, AText, AReply);
  });
}

bool TTestWsConnection::SendClose() {
  return CallSession(*FState,
                     [](IWsSession& ASession, const TReply& AReply) { ASession.Close(AReply); });
}

void TTestWsConnection::Drop() {
  CallSession(*FState, [](IWsSession& ASession, const TReply& AReply) { ASession.Drop(AReply); });
}

bool TTestWsConnection::WaitClosed(std::chrono::milliseconds ATimeout) {
  return FState->WaitClosed(ATimeout);
}

std::string TTestWsConnection::Target() const { return FState->FInfo.Target; }
std::string TTestWsConnection::UserAgent() const { return FState->FInfo.UserAgent; }
std::string TTestWsConnection::HostHeader() const { return FState->FInfo.Host; }
std::string TTestWsConnection::ServerName() const { return FState->FInfo.ServerName; }

// The listening socket and the I/O thread. The destructor stops the context and joins the
// thread; destroying the context then discards the pending handlers and with them every
// session, which closes its socket.
class TTestWsServer::TImpl {
 public:
  explicit TImpl(const TServerOptions& AOptions)
      : FState(AOptions.Mode),
        FTls(AOptions.Secure ? MakeTlsContext(AOptions) : nullptr),
        FWork(net::make_work_guard(FIo)),
        FAcceptor(FIo) {
    const tcp::endpoint endpoint(net::ip::address_v4::loopback(), 0);
    FAcceptor.open(endpoint.protocol());
    FAcceptor.set_option(net::socket_base::reuse_address(true));
    FAcceptor.bind(endpoint);
    FAcceptor.listen();
    FPort = FAcceptor.local_endpoint().port();
    AcceptNext();
    FThread = std::thread([this] { Run(); });
  }

  ~TImpl() {
    FIo.stop();
    FThread.join();
  }

  TServerState& State() { return FState; }
  std::uint16_t Port() const { return FPort; }

 private:
  void Run() {
    for (;;) {
      try {
        FIo.run();
        return;
      } catch (const std::exception& AError) {  // ends that handler's connection only
        std::fprintf(stderr, "TTestWsServer: %s\n", AError.what());
      } catch (...) {
        std::fprintf(stderr, "TTestWsServer: unknown exception\n");
      }
    }
  }

  void AcceptNext() {
    FAcceptor.async_accept([this](beast::error_code AError, tcp::socket ASocket) {
      if (!AError) {
        FState.CountTcp();
        StartSession(std::move(ASocket));
      }
      if (FAcceptor.is_open()) AcceptNext();
    });
  }

  void StartSession(tcp::socket ASocket) {
    beast::error_code ignored;
    ASocket.set_option(tcp::no_delay(true), ignored);  // round trips must not wait for Nagle
    if (FTls) {
      std::make_shared<TWsSession<TSecureWs>>(FState, std::move(ASocket), *FTls)->Start();
    } else {
      std::make_shared<TWsSession<TPlainWs>>(FState, std::move(ASocket))->Start();
    }
  }

  // Destroyed bottom-up: thread, acceptor and context go before what their handlers use.
  TServerState FState;
  std::unique_ptr<net::ssl::context> FTls;  // wss only
  net::io_context FIo;
  net::executor_work_guard<net::io_context::executor_type> FWork;
  tcp::acceptor FAcceptor;
  std::uint16_t FPort = 0;
  std::thread FThread;
};

TTestWsServer::TTestWsServer(TServerOptions AOptions)
    : FImpl(std::make_unique<TImpl>(AOptions)) {}

TTestWsServer::~TTestWsServer() = default;

std::uint16_t TTestWsServer::Port() const { return FImpl->Port(); }

std::shared_ptr<TTestWsConnection> TTestWsServer::Accept(std::chrono::milliseconds ATimeout) {
  return FImpl->State().TakeConnection(ATimeout);
}

int TTestWsServer::UpgradeCount() const { return FImpl->State().UpgradeCount(); }
int TTestWsServer::TcpCount() const { return FImpl->State().TcpCount(); }

std::uint64_t TTestWsServer::MessagesReceived() const { return FImpl->State().Messages(); }

bool TTestWsServer::WaitMessages(std::uint64_t ACount, std::chrono::milliseconds ATimeout) {
  return FImpl->State().WaitMessages(ACount, ATimeout);
}

}  // namespace halvora::test
