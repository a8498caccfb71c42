#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/uThreadCheck.h"
#include "brand/uMarca.h"

namespace halvora {

// A brand's name and PNG logo (empty when none) as the brand service or its cache gave them.
using TMarcaEvento = std::function<void(const std::string& ACode, const std::string& AName,
                                        const TIdBytes& ALogoPng)>;

// What a brand lookup is for: the host's own brand, or the brand announced for a session.
enum class TBrandLookup { blHost, blSession };

// Brand lookup and cache.
class IBrandService {
 public:
  virtual ~IBrandService() = default;
  // The cached name and logo of ACode; false when nothing is cached.
  virtual bool CarregarMarca(const std::string& AFolder, const std::string& ACode,
                             std::string& AName, TIdBytes& ALogoPng) = 0;
  // Looks ACode up in the background; AReport runs on the main thread when it is found. A
  // lookup of AKind that still runs is cancelled first and reports nothing.
  virtual void BuscarMarca(TBrandLookup AKind, const std::string& AApiUrl,
                           const std::string& ACode, const std::string& AFolder,
                           TMarcaEvento AReport) = 0;
};

// The brand cache and lookups behind the controller; used on the main thread only. Each
// lookup is owned here and released once it has ended. At most one lookup of each kind runs:
// a new one cancels the one before, as destruction cancels all that still run. Cancelling
// aborts the lookup's transfer and withdraws its report, so it returns without waiting for the
// network, and no report of a cancelled lookup reaches the controller.
class TBrandService final : public IBrandService {
 public:
  // AOptions: time-outs and certificates of the lookups; reports run on AQueue's thread.
  explicit TBrandService(THttpOptions AOptions = {}, TMainQueue& AQueue = MainQueue());
  ~TBrandService() override;
  TBrandService(const TBrandService&) = delete;
  TBrandService& operator=(const TBrandService&) = delete;

  bool CarregarMarca(const std::string& AFolder, const std::string& ACode, std::string& AName,
                     TIdBytes& ALogoPng) override;
  // Cancels the running lookup of AKind, then starts one when AApiUrl and ACode are both
  // non-empty; returns at once. Not to be called from a report of a lookup of AKind.
  void BuscarMarca(TBrandLookup AKind, const std::string& AApiUrl, const std::string& ACode,
                   const std::string& AFolder, TMarcaEvento AReport) override;

  // Lookups started and not yet released.
  std::size_t Running() const { return FLookups.size(); }

 private:
  TThreadCheck FMainThread;  // the one that made it
  struct TEntry {
    std::uint64_t Id;
    TBrandLookup Kind;
    std::unique_ptr<TBuscaMarca> Lookup;
  };
  using TEntries = std::vector<TEntry>;

  void Release(std::uint64_t AId);

  const THttpOptions FOptions;
  TMainQueue& FQueue;
  std::uint64_t FLastId = 0;
  TEntries FLookups;
};

}  // namespace halvora
