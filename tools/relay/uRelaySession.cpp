#include "relay/uRelaySession.h"

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "relay/uRelayAddresses.h"
#include "relay/uRelayBudget.h"
#include "relay/uRelayHttp.h"
#include "relay/uRelayLog.h"
#include "relay/uRelayPeer.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using TPlainStream = beast::tcp_stream;
using TTlsStream = beast::ssl_stream<beast::tcp_stream>;

namespace {

using namespace std::chrono_literals;

// Past this many queued bytes a connection's senders stop reading until it drains to half.
constexpr std::size_t QueueLimit = 32 * 1024 * 1024;
constexpr std::size_t ResumeBelow = QueueLimit / 2;
constexpr std::size_t HttpBodyLimit = 1024 * 1024;

std::atomic<std::uint64_t> GNextConnection{1};

// One relay connection. Reads one message at a time and hands it to the registry; writes the
// outbound queue one message at a time. Both run on the connection's strand; Send, Close and
// WaitForRoom may come from any thread and meet the strand through FQueueLock. Queued bytes
// count against the connection's own limit, its address's budget and the server's.
template <class TStream>
class TWsSession final : public TRelayPeer,
                         public std::enable_shared_from_this<TWsSession<TStream>> {
 public:
  TWsSession(TStream&& AStream, const TSessionContext& AContext)
      : FWs(std::move(AStream)),
        FContext(AContext),
        FId(GNextConnection++),
        FSlot(AContext.Addresses.Share(beast::get_lowest_layer(FWs).socket())) {}

  void Run(const http::request<http::string_body>& AUpgrade) {
    beast::get_lowest_layer(FWs).expires_never();
    auto Timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
    Timeouts.idle_timeout = 120s;
    Timeouts.keep_alive_pings = true;
    // A peer that does not answer the closing handshake (one that broke the rules, or said
    // nothing in time) does not keep its connection for long.
    Timeouts.handshake_timeout = 5s;
    FWs.set_option(Timeouts);
    FWs.set_option(websocket::stream_base::decorator([](websocket::response_type& AResponse) {
      AResponse.set(http::field::server, "halvora-relay");
    }));
    FWs.read_message_max(MaxGreetingSize);
    FWs.auto_fragment(false);
    FWs.binary(true);
    FWs.async_accept(AUpgrade, [Self = this->shared_from_this()](beast::error_code AError) {
      if (AError) return;
      Self->FContext.Registry.Open(Self);
      Self->Read();
    });
  }

  std::uint64_t ConnectionId() const override { return FId; }
  const std::string& Address() const override { return FSlot->Key(); }
  // On the strand, where the read under way looks at the limit when the next message begins.
  void AllowLargeMessages() override {
    net::post(FWs.get_executor(),
              [Self = this->shared_from_this()] { Self->FWs.read_message_max(MaxMessageSize); });
  }

  void Send(std::string AMessage) override {
    {
      std::lock_guard Guard(FQueueLock);
      if (FDead || FClosing) return;
      FQueuedBytes += AMessage.size();
      FSlot->Queue().Add(AMessage.size());
      FContext.Queued.Add(AMessage.size());
      FQueue.push_back(std::move(AMessage));
      if (FWriting) return;
      FWriting = true;
    }
    net::post(FWs.get_executor(), [Self = this->shared_from_this()] { Self->WriteNext(); });
  }

  void Close() override {
    {
      std::lock_guard Guard(FQueueLock);
      if (FDead || FClosing) return;
      FClosing = true;
      if (FWriting) return;
      FWriting = true;
    }
    net::post(FWs.get_executor(), [Self = this->shared_from_this()] { Self->WriteNext(); });
  }

  bool WaitForRoom(std::function<void()> AResume) override {
    {
      std::lock_guard Guard(FQueueLock);
      if (FDead) return false;
      if (FQueuedBytes > QueueLimit) {
        FWaiters.push_back(std::move(AResume));
        return true;
      }
    }
    return FSlot->Queue().WaitForRoom(std::move(AResume));
  }

 private:
  void Read() {
    FReading = true;
    FWs.async_read(FBuffer, [Self = this->shared_from_this()](
                                beast::error_code AError, std::size_t) { Self->OnRead(AError); });
  }

  void OnRead(beast::error_code AError) {
    FReading = false;
    if (AError) return Finish();
    std::string Message = beast::buffers_to_string(FBuffer.data());
    FBuffer.consume(FBuffer.size());
    if (FBuffer.capacity() > 1024 * 1024) FBuffer.shrink_to_fit();
    std::shared_ptr<TRelayPeer> Target;
    try {
      Target = FContext.Registry.Handle(FId, std::move(Message));
    } catch (const std::exception& AException) {
      Log("conexão #" + std::to_string(FId) + " encerrada: " + AException.what());
      return Finish();
    }
    Next(Target);
  }

  // Reads on unless the peer that the last message went to, or this connection itself
  // (answers its peer does not read), holds too much, or all connections together hold too
  // much for a message to be carried; then waits for that queue to drain.
  void Next(const std::shared_ptr<TRelayPeer>& ATarget) {
    if (FFinished) return;
    auto Resume = [Self = this->shared_from_this()] {
      net::post(Self->FWs.get_executor(), [Self] { Self->Next(nullptr); });
    };
    if (ATarget && ATarget->WaitForRoom(Resume)) return;
    if (WaitForRoom(Resume)) return;
    if (ATarget && FContext.Queued.WaitForRoom(Resume)) return;
    Read();
  }

  void WriteNext() {
    {
      std::lock_guard Guard(FQueueLock);
      if (FQueue.empty() && !(FClosing && !FDead)) {
        FWriting = false;
        return;
      }
      if (!FQueue.empty()) {
        FCurrent = std::move(FQueue.front());
        FQueue.pop_front();
      }
    }
    auto Self = this->shared_from_this();
    if (FCurrent.empty()) {
      FWs.async_close(websocket::close_code::normal, [Self](beast::error_code) {
        if (!Self->FReading) Self->Finish();
      });
      return;
    }
    FWs.async_write(net::buffer(FCurrent),
                    [Self](beast::error_code AError, std::size_t) { Self->OnWrite(AError); });
  }

  void OnWrite(beast::error_code AError) {
    std::vector<std::function<void()>> Ready;
    {
      std::lock_guard Guard(FQueueLock);
      FQueuedBytes -= FCurrent.size();
      if (FQueuedBytes <= ResumeBelow) Ready.swap(FWaiters);
    }
    Unqueued(FCurrent.size());
    std::string().swap(FCurrent);
    for (auto& Resume : Ready) Resume();
    if (AError) return Finish();
    WriteNext();
  }

  // The connection is over: drop what is queued, release waiting senders, tell the registry.
  void Finish() {
    if (FFinished) return;
    FFinished = true;
    std::vector<std::function<void()>> Ready;
    std::size_t Dropped = 0;
    {
      std::lock_guard Guard(FQueueLock);
      FDead = true;
      for (const auto& Message : FQueue) Dropped += Message.size();
      FQueuedBytes -= Dropped;
      FQueue.clear();
      Ready.swap(FWaiters);
    }
    Unqueued(Dropped);
    for (auto& Resume : Ready) Resume();
    FContext.Registry.Leave(FId);
    beast::error_code Ignored;
    beast::get_lowest_layer(FWs).socket().close(Ignored);
  }

  // Bytes that left the queue, sent or dropped, leave the budgets too.
  void Unqueued(std::size_t ABytes) {
    FSlot->Queue().Remove(ABytes);
    FContext.Queued.Remove(ABytes);
  }

  websocket::stream<TStream> FWs;
  const TSessionContext& FContext;
  const std::uint64_t FId;
  const std::shared_ptr<TAddressSlot> FSlot;
  beast::flat_buffer FBuffer;
  // Strand only.
  std::string FCurrent;  // message being written; empty while closing
  bool FReading = false;
  bool FFinished = false;
  // Guarded by FQueueLock.
  std::mutex FQueueLock;
  std::deque<std::string> FQueue;
  std::size_t FQueuedBytes = 0;  // queued plus the one being written
  bool FWriting = false;         // a write or the close is under way on the strand
  bool FClosing = false;
  bool FDead = false;
  std::vector<std::function<void()>> FWaiters;
};

// Plain HTTP on one connection, request after request, until an upgrade to /relay.
template <class TStream>
class THttpSession final : public std::enable_shared_from_this<THttpSession<TStream>> {
 public:
  THttpSession(TStream&& AStream, beast::flat_buffer&& ABuffer, const TSessionContext& AContext,
               std::shared_ptr<TAddressSlot> ASlot)
      : FStream(std::move(AStream)),
        FBuffer(std::move(ABuffer)),
        FContext(AContext),
        FSlot(std::move(ASlot)) {
    beast::error_code Error;
    auto& Socket = beast::get_lowest_layer(FStream).socket();
    const auto Remote = Socket.remote_endpoint(Error);
    FLoopback = !Error && IsLoopback(Remote.address());
    const auto Local = Socket.local_endpoint(Error);
    FLocalPort = Error ? 0 : Local.port();
  }

  void Read() {
    FParser.emplace();
    FParser->body_limit(HttpBodyLimit);
    // A connection that says nothing is not kept long; later requests of a kept-alive one may
    // take their time.
    beast::get_lowest_layer(FStream).expires_after(
        std::exchange(FFirstRead, false) ? FContext.HelloTimeout : std::chrono::seconds(30));
    http::async_read(FStream, FBuffer, *FParser,
                     [Self = this->shared_from_this()](beast::error_code AError, std::size_t) {
                       Self->OnRead(AError);
                     });
  }

 private:
  // A request whose end one reader may find elsewhere than another (a proxy in front, say) is
  // refused rather than guessed at: the only transfer coding taken is "chunked" alone, on
  // HTTP/1.1.
  static bool AmbiguousLength(const http::request<http::string_body>& ARequest) {
    const auto [First, Last] = ARequest.equal_range(http::field::transfer_encoding);
    if (First == Last) return false;
    return ARequest.version() < 11 || std::next(First) != Last ||
           !beast::iequals(First->value(), "chunked");
  }

  void OnRead(beast::error_code AError) {
    if (AError == http::error::end_of_stream) return Shutdown();
    if (AError == http::error::body_limit)
      return Reply(TextReply(413, "Corpo do pedido grande demais."), 11, false);
    // What the parser rejects (two lengths, a broken chunk, a bad field) gets an answer too;
    // a message cut short by the peer does not.
    if (AError && AError.category() == http::make_error_code(http::error::bad_value).category() &&
        AError != http::error::partial_message)
      return Reply(TextReply(400, "Pedido HTTP malformado."), 11, false);
    if (AError) return;
    http::request<http::string_body> Request = FParser->release();
    if (AmbiguousLength(Request))
      return Reply(TextReply(400, "Transfer-Encoding não suportado."), Request.version(), false);
    const std::string_view Target(Request.target().data(), Request.target().size());
    if (websocket::is_upgrade(Request) && Target.substr(0, Target.find('?')) == "/relay") {
      std::make_shared<TWsSession<TStream>>(std::move(FStream), FContext)->Run(Request);
      return;
    }
    THttpReply Answer;
    try {
      const auto Field = [&](auto AName) {
        const auto Value = Request[AName];
        return std::string_view(Value.data(), Value.size());
      };
      const auto Method = Request.method_string();
      const THttpRequest Parsed{.Method = std::string_view(Method.data(), Method.size()),
                                .Target = Target,
                                .Body = Request.body(),
                                .Host = Field(http::field::host),
                                .Origin = Field(http::field::origin),
                                .FetchSite = Field("Sec-Fetch-Site"),
                                .Authorization = Field(http::field::authorization),
                                .Loopback = FLoopback,
                                .LocalPort = FLocalPort};
      Answer = FContext.Http.Handle(Parsed);
    } catch (const std::exception& AException) {
      Log(std::string("erro ao atender HTTP: ") + AException.what());
      Answer = TextReply(500, "Erro interno do servidor.");
    }
    Reply(std::move(Answer), Request.version(), Request.keep_alive());
  }

  void Reply(THttpReply AAnswer, unsigned AVersion, bool AKeepAlive) {
    FResponse = {};
    FResponse.result(AAnswer.Status);
    FResponse.version(AVersion);
    FResponse.set(http::field::server, "halvora-relay");
    FResponse.set(http::field::content_type, AAnswer.ContentType);
    FResponse.set("X-Content-Type-Options", "nosniff");
    for (const auto& [Name, Value] : AAnswer.Headers) FResponse.set(Name, Value);
    FResponse.body() = std::move(AAnswer.Body);
    FResponse.keep_alive(AKeepAlive);
    FResponse.prepare_payload();
    http::async_write(FStream, FResponse,
                      [Self = this->shared_from_this()](beast::error_code AError, std::size_t) {
                        if (AError) return;
                        if (Self->FResponse.keep_alive()) return Self->Read();
                        Self->Shutdown();
                      });
  }

  void Shutdown() {
    if constexpr (std::is_same_v<TStream, TTlsStream>) {
      beast::get_lowest_layer(FStream).expires_after(5s);
      FStream.async_shutdown([Self = this->shared_from_this()](beast::error_code) {});
    } else {
      beast::error_code Ignored;
      FStream.socket().shutdown(net::ip::tcp::socket::shutdown_send, Ignored);
    }
  }

  TStream FStream;
  beast::flat_buffer FBuffer;
  const TSessionContext& FContext;
  const std::shared_ptr<TAddressSlot> FSlot;
  bool FFirstRead = true;
  bool FLoopback = false;
  std::uint16_t FLocalPort = 0;
  std::optional<http::request_parser<http::string_body>> FParser;
  http::response<http::string_body> FResponse;
};

template <class TStream>
void ServeHttp(TStream&& AStream, beast::flat_buffer&& ABuffer, const TSessionContext& AContext,
               std::shared_ptr<TAddressSlot> ASlot) {
  std::make_shared<THttpSession<TStream>>(std::move(AStream), std::move(ABuffer), AContext,
                                          std::move(ASlot))
      ->Read();
}

// Peeks at the first bytes: a TLS client hello gets the handshake, anything else plain HTTP.
class TTlsDetector final : public std::enable_shared_from_this<TTlsDetector> {
 public:
  TTlsDetector(net::ip::tcp::socket&& ASocket, const TSessionContext& AContext,
               std::shared_ptr<TAddressSlot> ASlot)
      : FStream(std::move(ASocket)), FContext(AContext), FSlot(std::move(ASlot)) {}

  void Run() {
    FStream.expires_after(FContext.HelloTimeout);
    beast::async_detect_ssl(FStream, FBuffer,
                            [Self = shared_from_this()](beast::error_code AError, bool ATls) {
                              if (AError) return;
                              if (ATls) return Self->Handshake();
                              ServeHttp(std::move(Self->FStream), std::move(Self->FBuffer),
                                        Self->FContext, std::move(Self->FSlot));
                            });
  }

 private:
  void Handshake() {
    FTls.emplace(std::move(FStream), *FContext.Tls);
    FTls->async_handshake(net::ssl::stream_base::server, FBuffer.data(),
                          [Self = shared_from_this()](beast::error_code AError, std::size_t AUsed) {
                            if (AError) return;
                            Self->FBuffer.consume(AUsed);
                            ServeHttp(std::move(*Self->FTls), std::move(Self->FBuffer),
                                      Self->FContext, std::move(Self->FSlot));
                          });
  }

  TPlainStream FStream;
  beast::flat_buffer FBuffer;
  const TSessionContext& FContext;
  std::shared_ptr<TAddressSlot> FSlot;
  std::optional<TTlsStream> FTls;
};

}  // namespace

void ServeConnection(net::ip::tcp::socket ASocket, const TSessionContext& AContext) {
  auto Slot = AContext.Addresses.Enter(ASocket);
  if (!Slot) {
    beast::error_code Ignored;
    ASocket.close(Ignored);
    return;
  }
  if (AContext.Tls) {
    std::make_shared<TTlsDetector>(std::move(ASocket), AContext, std::move(Slot))->Run();
    return;
  }
  ServeHttp(TPlainStream(std::move(ASocket)), beast::flat_buffer(), AContext, std::move(Slot));
}

}  // namespace halvora::relay
