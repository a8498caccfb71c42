#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "brand/uMarca.h"
#include "host/uSessionServices.h"

namespace halvora {

// The brand cache and lookups behind the controller; used on the main thread only. Each
// lookup is owned here and released once it has ended, so that destruction, at the latest,
// cancels the lookups still running and withdraws their reports: it returns without waiting
// for the network, and no report reaches a controller that is gone.
class TBrandService final : public IBrandService {
 public:
  // AOptions: time-outs and certificates of the lookups; reports run on AQueue's thread.
  explicit TBrandService(THttpOptions AOptions = {}, TMainQueue& AQueue = MainQueue());
  ~TBrandService() override;
  TBrandService(const TBrandService&) = delete;
  TBrandService& operator=(const TBrandService&) = delete;

  bool CarregarMarca(const std::string& AFolder, const std::string& ACode, std::string& AName,
                     TIdBytes& ALogoPng) override;
  // Starts a lookup when AApiUrl and ACode are both non-empty; returns at once.
  void BuscarMarca(const std::string& AApiUrl, const std::string& ACode, const std::string& AFolder,
                   TMarcaEvento AReport) override;

  // Lookups started and not yet released.
  std::size_t Running() const { return FLookups.size(); }

 private:
  void Release(std::uint64_t AId);

  const THttpOptions FOptions;
  TMainQueue& FQueue;
  std::uint64_t FLastId = 0;
  std::vector<std::pair<std::uint64_t, std::unique_ptr<TBuscaMarca>>> FLookups;
};

}  // namespace halvora
