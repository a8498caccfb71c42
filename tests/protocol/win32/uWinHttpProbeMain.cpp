// Drives one WinHTTP transport by lines on standard input, so that tests on Linux can use it
// under Wine. A request is "<id> <verb> <arguments>", its answer "<id> ok ..." or "<id> fail";
// answers come in the order the calls end:
//   open <host> <port> <path> <0 or 1>  connects, with TLS when 1
//   receive <size>                      answers "ok <buffer type> <bytes in hex>"
//   send <bytes in hex>                 one binary message
//   close                               done at once, also while another call blocks
//   trust <PEM certificate in hex>      adds it to the local machine's Root store
//   distrust <PEM certificate in hex>   removes it from there
// Every other call runs on a thread of its own. The end of the input closes the transport; the
// program ends once every call has returned.
#include <windows.h>
#include <wincrypt.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <list>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "base/uText.h"
#include "protocol/win32/uWinHttpTransport.h"
#include "support/uHexBytes.h"

namespace halvora {
namespace {

constexpr std::size_t MaxReceive = 16 * 1024 * 1024;

// Adds the certificate in APem to the local machine's Root store, or removes it from there.
bool ChangeRoot(const std::string& APem, bool ATrust) {
  DWORD Size = 0;
  const auto Length = static_cast<DWORD>(APem.size());
  if (!CryptStringToBinaryA(APem.data(), Length, CRYPT_STRING_BASE64HEADER, nullptr, &Size,
                            nullptr, nullptr))
    return false;
  TIdBytes Der(Size);
  if (!CryptStringToBinaryA(APem.data(), Length, CRYPT_STRING_BASE64HEADER, Der.data(), &Size,
                            nullptr, nullptr))
    return false;
  // The store in the registry itself: Wine's system store adds the system's certificates.
  const HCERTSTORE Store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                         CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!Store) return false;
  bool Done = false;
  if (ATrust) {
    Done = CertAddEncodedCertificateToStore(Store, X509_ASN_ENCODING, Der.data(), Size,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else if (const PCCERT_CONTEXT Cert =
                 CertCreateCertificateContext(X509_ASN_ENCODING, Der.data(), Size)) {
    // Deleting frees the context found, whatever the result.
    if (const PCCERT_CONTEXT Found = CertFindCertificateInStore(
            Store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, Cert, nullptr))
      Done = CertDeleteCertificateFromStore(Found);
    CertFreeCertificateContext(Cert);
  }
  // Written now: Wine keeps a deletion until the store is closed, which a context left in
  // its cache can put off past the program's end.
  Done = Done && CertControlStore(Store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(Store, 0);
  return Done;
}

class TProbe {
 public:
  void Serve();

 private:
  struct TCall {
    std::thread Thread;
    std::atomic<bool> Ended{false};
  };

  std::string Run(const std::string& AVerb, std::istream& AArguments);
  // Runs one call on a thread of its own; false when none could be started.
  bool Start(const std::string& AId, const std::string& AVerb,
             std::istringstream AArguments) noexcept;
  // An answer that cannot be written is lost, as the output is.
  void Answer(const std::string& AId, const std::string& AText) noexcept;

  TWinHttpTransport FTransport;
  std::mutex FOutputLock;
  std::list<TCall> FCalls;  // touched by the input thread only
};

std::string TProbe::Run(const std::string& AVerb, std::istream& AArguments) {
  if (AVerb == "open") {
    std::string Host, Path;
    unsigned Port = 0;
    int Secure = 0;
    if (!(AArguments >> Host >> Port >> Path >> Secure) || Port > 0xFFFF) return "fail";
    return FTransport.Open(Host, static_cast<std::uint16_t>(Port), Path, Secure != 0) ? "ok"
                                                                                      : "fail";
  }
  if (AVerb == "receive") {
    std::size_t Size = 0;
    if (!(AArguments >> Size) || Size > MaxReceive) return "fail";
    TIdBytes Buffer(Size);
    std::size_t Read = 0;
    TBufferType Type = TBufferType::btClose;
    if (!FTransport.Receive(Buffer.data(), Buffer.size(), Read, Type)) return "fail";
    return "ok " + std::to_string(static_cast<int>(Type)) + " " + HexText(Buffer.data(), Read);
  }
  std::string Hex;
  AArguments >> Hex;
  TIdBytes Bytes;
  if (!test::ParseHex(Hex, Bytes)) return "fail";
  bool Done = false;
  if (AVerb == "send")
    Done = FTransport.Send(Bytes);
  else if (AVerb == "trust" || AVerb == "distrust")
    Done = ChangeRoot(std::string(Bytes.begin(), Bytes.end()), AVerb == "trust");
  return Done ? "ok" : "fail";
}

void TProbe::Answer(const std::string& AId, const std::string& AText) noexcept {
  try {
    const std::string Line = AId + " " + AText + "\n";
    std::lock_guard Guard(FOutputLock);
    std::fwrite(Line.data(), 1, Line.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
  }
}

bool TProbe::Start(const std::string& AId, const std::string& AVerb,
                   std::istringstream AArguments) noexcept {
  try {
    FCalls.remove_if([](TCall& ACall) {
      if (!ACall.Ended) return false;
      ACall.Thread.join();
      return true;
    });
    TCall& Call = FCalls.emplace_back();
    try {
      Call.Thread = std::thread(
          [this, &Call, Id = AId, Verb = AVerb, Arguments = std::move(AArguments)]() mutable {
            std::string Result = "fail";
            try {
              Result = Run(Verb, Arguments);
            } catch (...) {
            }
            Answer(Id, Result);
            Call.Ended = true;
          });
      return true;
    } catch (...) {
      FCalls.pop_back();
    }
  } catch (...) {
  }
  return false;
}

void TProbe::Serve() {
  std::string Line;
  while (std::getline(std::cin, Line)) {
    std::string Id, Verb;
    try {
      std::istringstream Words(std::move(Line));
      Words >> Id >> Verb;
      if (Verb == "close") {
        FTransport.Close();
        Answer(Id, "ok");
      } else if (!Start(Id, Verb, std::move(Words))) {
        Answer(Id, "fail");
      }
    } catch (...) {
      Answer(Id, "fail");
    }
  }
  FTransport.Close();
  for (TCall& Call : FCalls) Call.Thread.join();
}

}  // namespace
}  // namespace halvora

int main() {
  try {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::ios::sync_with_stdio(false);
    halvora::TProbe Probe;
    Probe.Serve();
    return 0;
  } catch (...) {
    return 1;
  }
}
