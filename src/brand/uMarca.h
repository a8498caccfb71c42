#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "base/uBytes.h"
#include "base/uThread.h"
#include "brand/uHttpClient.h"

namespace halvora {

// The brand code carried by a program file name ("halvora-<code>", 6 to 12 characters of
// 0-9 and a-z, any letter case), lower-cased; empty when the name carries none.
std::string CodigoMarcaDoArquivo(std::string_view AFileName);

// The brand service's base URL on the host of the relay URL AServerUrl: the scheme becomes
// http for ws and http, https otherwise, and the path is dropped. Without a scheme, https is
// put in front of the value as it is.
std::string UrlApiDoServidor(std::string_view AServerUrl);

// A looked-up brand: the code asked for, the name found and the logo as PNG bytes (empty when
// none). The logo stays the lookup's; a receiver that keeps it copies it. The same type as the
// controller's callback, so that one passes for the other.
using TMarcaEvento = std::function<void(const std::string& ACode, const std::string& AName,
                                        const TIdBytes& ALogoPng)>;

// Whether ACode may name cache files: 1 to 64 ASCII letters, digits, "-" and "_". Codes from
// the network can hold anything; others are looked up but never cached, so no path separator,
// ".." or control character can reach a file name.
bool IsSafeBrandCode(std::string_view ACode);

// APasta with a path delimiter added when it has none at its end, then "marca-", ACodigo and
// AExt (".txt" or ".png").
std::string ArquivoMarca(const std::string& APasta, const std::string& ACodigo,
                         const std::string& AExt);

// The cached name and logo of ACodigo in APasta; true when a non-empty name was read. The name
// is read as UTF-8 (a leading byte-order mark skipped), its lines joined with CR LF and blanks
// trimmed at both ends. A logo file that is not a whole PNG only loses the logo. False, with
// nothing, for an empty folder, an empty or unsafe code, or an unreadable name file.
bool CarregarMarca(const std::string& APasta, const std::string& ACodigo, std::string& ANome,
                   TIdBytes& ALogo);

// Writes the cache of ACodigo into APasta (created with its parents): the name as UTF-8 with
// a byte-order mark and CR LF, and the logo as it is, or the logo file deleted when ALogo is
// empty. Each file is replaced whole. Does nothing for an empty folder or an unsafe code;
// failures end it silently, keeping what was written.
void SalvarMarca(const std::string& APasta, const std::string& ACodigo, const std::string& ANome,
                 const TIdBytes& ALogo);

// One lookup of a brand at the brand service, on a thread of its own from construction:
// GET AUrl + "/v1/marca/" + code (the code percent-encoded), and its "/logo" when the answer
// says "tem_logo". A non-empty name is cached (safe codes only) and reported to AEvento on
// AQueue's main thread while the lookup waits. Errors, time-outs and answers other than 200
// with a JSON object end the lookup without a report; a logo that cannot be fetched or is not
// a whole PNG is reported and cached as none.
class TBuscaMarca final : public TThread {
 public:
  // AOnEnd, when given, is queued to the main thread once the lookup is done, after a report.
  TBuscaMarca(std::string AUrl, std::string ACodigo, std::string APasta, TMarcaEvento AEvento,
              THttpOptions AOptions = {}, TMainQueue& AQueue = MainQueue(),
              std::function<void()> AOnEnd = {});
  // Cancels, then waits for the thread: returns promptly, and neither the report nor AOnEnd
  // runs afterwards, even when they were already queued.
  ~TBuscaMarca() override;

  // From any thread: ends a running request at once and stops the lookup before it reports.
  void Cancel();

 protected:
  void Execute() override;

 private:
  void Fetch(THttpClient& AHttp);
  void Notificar();

  const std::string FUrl;
  const std::string FCodigo;
  std::string FNome;
  const std::string FPasta;
  TIdBytes FLogo;
  const TMarcaEvento FEvento;
  const THttpOptions FOptions;
  const std::function<void()> FOnEnd;
  std::mutex FHttpLock;
  THttpClient* FHttp = nullptr;  // the running lookup's client; guarded by FHttpLock
};

}  // namespace halvora
