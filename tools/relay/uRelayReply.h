#pragma once

#include <string>

namespace halvora::relay {

// An HTTP answer before it is put on the wire.
struct THttpReply {
  unsigned Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
};

inline THttpReply TextReply(unsigned AStatus, std::string AText) {
  return {AStatus, "text/plain; charset=utf-8", std::move(AText) + "\n"};
}

inline THttpReply JsonReply(std::string AJson) {
  return {200, "application/json; charset=utf-8", std::move(AJson)};
}

}  // namespace halvora::relay
