#include "relay/uRelayHttp.h"

#include "relay/uRelayAdmin.h"
#include "relay/uRelayFiles.h"

namespace halvora::relay {

bool IsLoopback(const boost::asio::ip::address& AAddress) {
  if (AAddress.is_v6() && AAddress.to_v6().is_v4_mapped())
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, AAddress.to_v6())
        .is_loopback();
  return AAddress.is_loopback();
}

TRelayHttp::TRelayHttp(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string ABrandsFolder,
                       std::string AStaticFolder)
    : FRegistry(ARegistry),
      FStore(AStore),
      FBrandsFolder(std::move(ABrandsFolder)),
      FStaticFolder(std::move(AStaticFolder)) {}

THttpReply TRelayHttp::Handle(std::string_view AMethod, std::string_view ATarget,
                              const std::string& ABody, bool ALoopback) {
  const std::string_view Path = ATarget.substr(0, ATarget.find('?'));
  if (Path == "/admin" || Path.substr(0, 7) == "/admin/") {
    if (!ALoopback) return TextReply(403, "Acesso restrito à própria máquina.");
    return AdminReply(FRegistry, FStore, AMethod, Path, ABody);
  }
  if (AMethod != "GET") return TextReply(405, "Método não permitido.");
  if (Path == "/relay") return TextReply(426, "Esta rota aceita apenas WebSocket.");
  constexpr std::string_view BrandPrefix = "/v1/marca/";
  if (Path.substr(0, BrandPrefix.size()) == BrandPrefix) {
    std::string_view Code = Path.substr(BrandPrefix.size());
    constexpr std::string_view LogoSuffix = "/logo";
    const bool Logo = Code.size() > LogoSuffix.size() &&
                      Code.substr(Code.size() - LogoSuffix.size()) == LogoSuffix;
    if (Logo) Code.remove_suffix(LogoSuffix.size());
    return BrandReply(FBrandsFolder, Code, Logo);
  }
  return StaticReply(FStaticFolder, Path);
}

}  // namespace halvora::relay
