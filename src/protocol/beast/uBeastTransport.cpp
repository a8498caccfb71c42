#include "protocol/beast/uBeastTransport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

namespace halvora {

namespace {

namespace net = boost::asio;
namespace ssl = net::ssl;
namespace websocket = boost::beast::websocket;
using tcp = net::ip::tcp;
using TError = boost::system::error_code;
using TClock = std::chrono::steady_clock;

constexpr auto ResolveTimeout = std::chrono::seconds(8);
constexpr auto ConnectTimeout = std::chrono::seconds(8);
constexpr auto TlsTimeout = std::chrono::seconds(15);
constexpr auto UpgradeTimeout = std::chrono::seconds(60);
constexpr auto SendTimeout = std::chrono::seconds(15);
// A client masks what it sends into this buffer: a 1 MiB message leaves in 16 writes.
constexpr std::size_t MaskBufferBytes = 64 * 1024;

// The outcome of one operation run on the I/O thread, awaited by the calling thread.
class TCompletion {
 public:
  // The first outcome counts; a later one (a late handler after an abort) is dropped.
  void Finish(const TError& AError) {
    std::lock_guard Lock(FLock);
    if (FDone) return;
    FDone = true;
    FError = AError;
    FCond.notify_one();
  }

  TError Wait() {
    std::unique_lock Lock(FLock);
    FCond.wait(Lock, [this] { return FDone; });
    return FError;
  }

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FDone = false;
  TError FError;
};

// A name lookup on a thread of its own. getaddrinfo cannot be interrupted, so Close or the
// time-out answers the caller at once and leaves the lookup to end by itself, detached: a
// transport never waits for a slow name server when it is closed or destroyed.
class TLookup {
 public:
  static std::shared_ptr<TLookup> Start(const std::string& AHost, std::uint16_t APort) {
    auto Lookup = std::make_shared<TLookup>();
    std::thread([Lookup, AHost, Port = std::to_string(APort)] {
      try {
        net::io_context Io;
        tcp::resolver Resolver(Io);
        TError Error;
        auto Results = Resolver.resolve(AHost, Port, Error);
        Lookup->Finish(Error, std::move(Results));
      } catch (...) {
        Lookup->Finish(net::error::no_memory);
      }
    }).detach();
    return Lookup;
  }

  // The first outcome counts: the lookup's, an abort or the time-out.
  void Finish(const TError& AError, tcp::resolver::results_type AResults = {}) {
    std::lock_guard Lock(FLock);
    if (FDone) return;
    FDone = true;
    FError = AError;
    FResults = std::move(AResults);
    FCond.notify_all();
  }

  TError Wait(TClock::duration ATimeout, tcp::resolver::results_type& AResults) {
    std::unique_lock Lock(FLock);
    if (!FCond.wait_for(Lock, ATimeout, [this] { return FDone; })) {
      FDone = true;
      return boost::beast::error::timeout;
    }
    AResults = FResults;
    return FError;
  }

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FDone = false;
  TError FError;
  tcp::resolver::results_type FResults;
};

bool IsAddress(const std::string& AHost) {
  TError Error;
  net::ip::make_address(AHost, Error);
  return !Error;
}

std::string HostHeader(const std::string& AHost, std::uint16_t APort, bool ASecure) {
  TError Error;
  const auto Address = net::ip::make_address(AHost, Error);
  std::string Host = !Error && Address.is_v6() ? "[" + AHost + "]" : AHost;
  if (APort != (ASecure ? 443 : 80)) Host += ":" + std::to_string(APort);
  return Host;
}

// Makes the handshake check the certificate against AHost; a name also goes out as SNI.
bool ExpectPeer(SSL* ASsl, const std::string& AHost) {
  if (IsAddress(AHost))
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ASsl), AHost.c_str()) == 1;
  return SSL_set1_host(ASsl, AHost.c_str()) == 1 &&
         SSL_set_tlsext_host_name(ASsl, AHost.c_str()) == 1;
}

template <class TWs>
void Configure(TWs& AWs) {
  // Beast's own timers stay off: ours bound the upgrade, and an idle connection stays open.
  AWs.set_option(websocket::stream_base::timeout{websocket::stream_base::none(),
                                                 websocket::stream_base::none(), false});
  AWs.set_option(websocket::stream_base::decorator([](websocket::request_type& ARequest) {
    ARequest.set(boost::beast::http::field::user_agent, "Halvora");
  }));
  AWs.set_option(websocket::permessage_deflate{});
  AWs.read_message_max(0);  // the relay client enforces its own limit
  AWs.auto_fragment(false);
  AWs.binary(true);
  AWs.write_buffer_bytes(MaskBufferBytes);
}

}  // namespace

// The connection and the thread that runs all of its I/O. The streams and FUpgraded are
// touched on that thread only; callers reach them through Run.
class TBeastTransport::TConnection {
 public:
  explicit TConnection(std::shared_ptr<ssl::context> ATls)
      : FTls(std::move(ATls)), FThread([this] { Serve(); }) {}

  ~TConnection() {
    Close();
    FWork.reset();
    FThread.join();
  }

  bool Open(const std::string& AHost, std::uint16_t APort, const std::string& APath, bool ASecure) {
    if (APort == 0 || FOpenCalled.exchange(true)) return false;
    tcp::resolver::results_type Endpoints;
    try {
      auto Lookup = TLookup::Start(AHost, APort);
      {
        std::lock_guard Lock(FLookupLock);
        FLookup = Lookup;
      }
      // Close finishes the lookup it finds; one that ran before FLookup was set shows here.
      if (FClosed.load() || Lookup->Wait(ResolveTimeout, Endpoints).failed()) return false;
    } catch (...) {
      return false;  // no thread for the lookup
    }

    const auto Connect = [this, ASecure, &Endpoints](auto ADone) {
      if (ASecure)
        FSecure.emplace(FIo, *FTls);
      else
        FPlain.emplace(FIo);
      net::async_connect(*Socket(), Endpoints,
                         [this, ADone](const TError& AError, const tcp::endpoint&) {
                           TError Ignored;
                           if (!AError) Socket()->set_option(tcp::no_delay(true), Ignored);
                           ADone(AError);
                         });
    };
    if (Run(Connect, ConnectTimeout).failed()) return false;

    const auto Handshake = [this, &AHost](auto ADone) {
      auto& Tls = FSecure->next_layer();
      if (!ExpectPeer(Tls.native_handle(), AHost)) return ADone(net::error::invalid_argument);
      Tls.async_handshake(ssl::stream_base::client, ADone);
    };
    if (ASecure && Run(Handshake, TlsTimeout).failed()) return false;

    const std::string Host = HostHeader(AHost, APort, ASecure);
    const auto Upgrade = [this, &Host, &APath](auto ADone) {
      WithStream([&](auto& AWs) {
        Configure(AWs);
        AWs.async_handshake(Host, APath, [this, ADone](const TError& AError) {
          FUpgraded = !AError;
          ADone(AError);
        });
      });
    };
    return !Run(Upgrade, UpgradeTimeout).failed();
  }

  bool Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead, TBufferType& AType) {
    std::size_t Read = 0;
    bool Text = false;
    bool Last = true;
    const auto ReadSome = [&](auto ADone) {
      if (!FUpgraded) return ADone(net::error::not_connected);
      WithStream([&](auto& AWs) {
        const auto Report = [&Read, &Text, &Last, Ws = &AWs, ADone](const TError& AError,
                                                                    std::size_t ABytes) {
          Read = ABytes;
          Text = Ws->got_text();
          Last = Ws->is_message_done();
          ADone(AError);
        };
        AWs.async_read_some(net::buffer(ABuffer, ASize), Report);
      });
    };
    const TError Error = Run(ReadSome);
    if (Error == websocket::error::closed) {
      ARead = 0;
      AType = TBufferType::btClose;
      return true;
    }
    if (Error.failed()) return false;
    ARead = Read;
    if (Text)
      AType = Last ? TBufferType::btUtf8Message : TBufferType::btUtf8Fragment;
    else
      AType = Last ? TBufferType::btBinaryMessage : TBufferType::btBinaryFragment;
    return true;
  }

  bool Send(const TIdBytes& AFrame) {
    // The write reads AFrame in place: the caller waits until it is done.
    const auto Write = [this, &AFrame](auto ADone) {
      if (!FUpgraded) return ADone(net::error::not_connected);
      WithStream([&](auto& AWs) {
        AWs.async_write(net::buffer(AFrame),
                        [ADone](const TError& AError, std::size_t) { ADone(AError); });
      });
    };
    return !Run(Write, SendTimeout).failed();
  }

  void Close() {
    if (FClosed.exchange(true)) return;
    {
      std::lock_guard Lock(FLookupLock);
      if (FLookup) FLookup->Finish(net::error::operation_aborted);
    }
    net::post(FIo, [this] {
      FTimer.cancel();
      Abort();
    });
  }

 private:
  using TPlainStream = websocket::stream<tcp::socket>;
  using TSecureStream = websocket::stream<boost::beast::ssl_stream<tcp::socket>>;

  void Serve() {
    for (;;) {
      try {
        FIo.run();
        return;
      } catch (...) {
        // A handler threw; the thread keeps serving so that no caller waits forever.
      }
    }
  }

  // Starts AStart(ADone) on the I/O thread and waits until ADone(error) reports the outcome.
  // With ATimeout the socket is closed when the operation outlasts it. AStart and its
  // handler may use the caller's locals: the caller waits for the handler.
  template <class TStart>
  TError Run(TStart AStart, TClock::duration ATimeout = {}) {
    if (FClosed.load()) return net::error::operation_aborted;
    auto Completion = std::make_shared<TCompletion>();
    net::post(FIo, [this, Start = std::move(AStart), ATimeout, Completion] {
      // Close posts its closure after setting the flag: whatever was posted later ends here.
      if (FClosed.load()) return Completion->Finish(net::error::operation_aborted);
      const bool Timed = ATimeout != TClock::duration::zero();
      const auto Done = [this, Timed, Completion](const TError& AError) {
        if (Timed) Disarm();
        Completion->Finish(AError);
      };
      if (Timed) Arm(ATimeout);
      try {
        Start(Done);
      } catch (...) {
        Done(net::error::no_memory);
      }
    });
    return Completion->Wait();
  }

  void Arm(TClock::duration ATimeout) {
    FTimer.expires_after(ATimeout);
    FTimer.async_wait([this](const TError& AError) {
      // A wake-up that was already queued when the timer was disarmed or re-armed finds
      // the expiry in the future.
      if (!AError && FTimer.expiry() <= TClock::now()) Abort();
    });
  }

  void Disarm() { FTimer.expires_at(TClock::time_point::max()); }

  // Ends what is in progress: closing the socket makes the pending operation fail.
  void Abort() {
    TError Ignored;
    if (tcp::socket* Lowest = Socket()) Lowest->close(Ignored);
  }

  tcp::socket* Socket() {
    if (FSecure) return &boost::beast::get_lowest_layer(*FSecure);
    if (FPlain) return &boost::beast::get_lowest_layer(*FPlain);
    return nullptr;
  }

  template <class TFn>
  void WithStream(TFn&& AFn) {
    if (FSecure)
      AFn(*FSecure);
    else
      AFn(*FPlain);
  }

  const std::shared_ptr<ssl::context> FTls;
  net::io_context FIo{1};
  net::executor_work_guard<net::io_context::executor_type> FWork{FIo.get_executor()};
  // Bounds the one timed operation in flight: an Open step or a Send, never both.
  net::steady_timer FTimer{FIo};
  std::optional<TPlainStream> FPlain;
  std::optional<TSecureStream> FSecure;
  bool FUpgraded = false;
  std::mutex FLookupLock;
  std::shared_ptr<TLookup> FLookup;  // the name lookup of Open, finished early by Close
  std::atomic<bool> FOpenCalled{false};
  std::atomic<bool> FClosed{false};
  std::thread FThread;  // last, so that it starts once everything it uses exists
};

TBeastTransport::TBeastTransport(std::shared_ptr<ssl::context> ATls)
    : FConnection(std::make_unique<TConnection>(std::move(ATls))) {}

TBeastTransport::~TBeastTransport() = default;

bool TBeastTransport::Open(const std::string& AHost, std::uint16_t APort, const std::string& APath,
                           bool ASecure) {
  return FConnection->Open(AHost, APort, APath, ASecure);
}

bool TBeastTransport::Receive(std::uint8_t* ABuffer, std::size_t ASize, std::size_t& ARead,
                              TBufferType& AType) {
  return FConnection->Receive(ABuffer, ASize, ARead, AType);
}

bool TBeastTransport::Send(const TIdBytes& AFrame) {
  return FConnection->Send(AFrame);
}

void TBeastTransport::Close() {
  FConnection->Close();
}

TBeastTransportFactory::TBeastTransportFactory(const TBeastOptions& AOptions)
    : FTls(std::make_shared<ssl::context>(ssl::context::tls_client)) {
  // A store that fails to load leaves its certificates untrusted, so Open fails later.
  TError Ignored;
  if (AOptions.UseSystemStore) FTls->set_default_verify_paths(Ignored);
  if (!AOptions.ExtraCaPem.empty())
    FTls->add_certificate_authority(net::buffer(AOptions.ExtraCaPem), Ignored);
  FTls->set_verify_mode(ssl::verify_peer);
}

std::shared_ptr<IRelayTransport> TBeastTransportFactory::NewTransport() {
  return std::make_shared<TBeastTransport>(FTls);
}

}  // namespace halvora
