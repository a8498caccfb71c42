#pragma once

#include <boost/asio/ip/address.hpp>
#include <string>
#include <string_view>

#include "relay/uRelayReply.h"

namespace halvora::relay {

class TRelayRegistry;
class TRelayStore;

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback addresses.
bool IsLoopback(const boost::asio::ip::address& AAddress);

// Answers every plain HTTP request the relay takes: the admin endpoint (loopback peers only),
// the brand service and static files.
class TRelayHttp {
 public:
  TRelayHttp(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string ABrandsFolder,
             std::string AStaticFolder);

  THttpReply Handle(std::string_view AMethod, std::string_view ATarget, const std::string& ABody,
                    bool ALoopback);

 private:
  TRelayRegistry& FRegistry;
  TRelayStore& FStore;
  const std::string FBrandsFolder, FStaticFolder;
};

}  // namespace halvora::relay
