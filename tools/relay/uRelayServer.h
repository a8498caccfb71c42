#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "relay/uRelayAddresses.h"
#include "relay/uRelayBudget.h"
#include "relay/uRelayHttp.h"
#include "relay/uRelayOptions.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelaySession.h"
#include "relay/uRelayStore.h"

namespace halvora::relay {

// The relay server: opens the database, listens and runs its I/O on a few threads from
// construction until Stop or destruction. Throws std::runtime_error (Portuguese text) when the
// database, the certificate or the listening address cannot be used.
class TRelayServer {
 public:
  explicit TRelayServer(const TRelayOptions& AOptions);
  ~TRelayServer();
  TRelayServer(const TRelayServer&) = delete;
  TRelayServer& operator=(const TRelayServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  bool Secure() const { return FTls.has_value(); }
  // Stops every connection and joins the I/O threads; further calls do nothing.
  void Stop();

 private:
  void Accept();
  void ScheduleNoop();
  void ScheduleTick();

  TRelayStore FStore;
  TRelayRegistry FRegistry;
  TRelayHttp FHttp;
  std::optional<boost::asio::ssl::context> FTls;
  TAddressTable FAddresses;
  TByteBudget FQueued;
  TSessionContext FContext;
  const unsigned FNoopInterval;
  boost::asio::io_context FIo;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> FWork;
  boost::asio::ip::tcp::acceptor FAcceptor;
  boost::asio::steady_timer FNoop;
  boost::asio::steady_timer FAcceptRetry;
  boost::asio::steady_timer FTick;
  std::uint16_t FPort = 0;
  std::mutex FStopLock;
  std::vector<std::thread> FThreads;  // guarded by FStopLock
};

}  // namespace halvora::relay
