#include "brand/uBrandService.h"

#include <algorithm>

namespace halvora {

TBrandService::TBrandService(THttpOptions AOptions, TMainQueue& AQueue)
    : FOptions(std::move(AOptions)), FQueue(AQueue) {}

TBrandService::~TBrandService() {
  // All at once first, so that the joins below do not wait for one another's requests.
  for (auto& Entry : FLookups) Entry.second->Cancel();
  FLookups.clear();
}

bool TBrandService::CarregarMarca(const std::string& AFolder, const std::string& ACode,
                                  std::string& AName, TIdBytes& ALogoPng) {
  return halvora::CarregarMarca(AFolder, ACode, AName, ALogoPng);
}

void TBrandService::BuscarMarca(const std::string& AApiUrl, const std::string& ACode,
                                const std::string& AFolder, TMarcaEvento AReport) {
  if (AApiUrl.empty() || ACode.empty()) return;
  // The end of a lookup is queued to this (main) thread, so it cannot come before the lookup
  // is in the list.
  const std::uint64_t Id = ++FLastId;
  FLookups.emplace_back(
      Id, std::make_unique<TBuscaMarca>(AApiUrl, ACode, AFolder, std::move(AReport), FOptions,
                                        FQueue, [this, Id] { Release(Id); }));
}

void TBrandService::Release(std::uint64_t AId) {
  // Taken out of the list before it is destroyed.
  std::unique_ptr<TBuscaMarca> Ended;
  const auto It = std::find_if(FLookups.begin(), FLookups.end(),
                               [AId](const auto& AEntry) { return AEntry.first == AId; });
  if (It == FLookups.end()) return;
  Ended = std::move(It->second);
  FLookups.erase(It);
}

}  // namespace halvora
