#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace halvora::relay {

// What the relay reads of an HTTP request. Header fields are empty when absent.
struct THttpRequest {
  std::string_view Method, Target, Body;
  std::string_view Host, Origin, FetchSite, Authorization;
  bool Loopback = false;        // the peer is on a loopback address
  std::uint16_t LocalPort = 0;  // the relay's port that the request came in on
};

// An HTTP answer before it is put on the wire.
struct THttpReply {
  unsigned Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;  // further fields, name and value
};

inline THttpReply TextReply(unsigned AStatus, std::string AText) {
  return {AStatus, "text/plain; charset=utf-8", std::move(AText) + "\n", {}};
}

inline THttpReply JsonReply(std::string AJson) {
  return {200, "application/json; charset=utf-8", std::move(AJson), {}};
}

}  // namespace halvora::relay
