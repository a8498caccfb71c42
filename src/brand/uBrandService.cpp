#include "brand/uBrandService.h"

#include <algorithm>
#include <iterator>

namespace halvora {
namespace {

// Takes the entries that APicked chooses out of AEntries, then destroys them: each is out of
// the list before its destructor cancels and joins it.
template <typename TEntries, typename TPicked>
void TakeOutAndDestroy(TEntries& AEntries, TPicked APicked) {
  TEntries Ended;
  const auto Kept = std::stable_partition(AEntries.begin(), AEntries.end(),
                                          [&](const auto& AEntry) { return !APicked(AEntry); });
  std::move(Kept, AEntries.end(), std::back_inserter(Ended));
  AEntries.erase(Kept, AEntries.end());
}

}  // namespace

TBrandService::TBrandService(THttpOptions AOptions, TMainQueue& AQueue)
    : FOptions(std::move(AOptions)), FQueue(AQueue) {}

TBrandService::~TBrandService() {
  // All at once first, so that the joins below do not wait for one another's requests.
  for (TEntry& Entry : FLookups) Entry.Lookup->Cancel();
  FLookups.clear();
}

bool TBrandService::CarregarMarca(const std::string& AFolder, const std::string& ACode,
                                  std::string& AName, TIdBytes& ALogoPng) {
  HALVORA_CHECK_THREAD(FMainThread);
  return halvora::CarregarMarca(AFolder, ACode, AName, ALogoPng);
}

void TBrandService::BuscarMarca(TBrandLookup AKind, const std::string& AApiUrl,
                                const std::string& ACode, const std::string& AFolder,
                                TMarcaEvento AReport) {
  HALVORA_CHECK_THREAD(FMainThread);
  TakeOutAndDestroy(FLookups, [AKind](const TEntry& AEntry) { return AEntry.Kind == AKind; });
  if (AApiUrl.empty() || ACode.empty()) return;
  // The end of a lookup is queued to this (main) thread, so it cannot come before the lookup
  // is in the list.
  const std::uint64_t Id = ++FLastId;
  auto Lookup = std::make_unique<TBuscaMarca>(AApiUrl, ACode, AFolder, std::move(AReport),
                                              FOptions, FQueue, [this, Id] { Release(Id); });
  FLookups.push_back(TEntry{Id, AKind, std::move(Lookup)});
}

void TBrandService::Release(std::uint64_t AId) {
  TakeOutAndDestroy(FLookups, [AId](const TEntry& AEntry) { return AEntry.Id == AId; });
}

}  // namespace halvora
