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
                       std::string AStaticFolder, std::string_view AAdminToken)
    : FRegistry(ARegistry),
      FStore(AStore),
      FBrandsFolder(std::move(ABrandsFolder)),
      FStaticFolder(std::move(AStaticFolder)),
      FAdmin(AAdminToken) {}

THttpReply TRelayHttp::Handle(const THttpRequest& ARequest) {
  const std::string_view Method = ARequest.Method;
  const std::string_view Path = ARequest.Target.substr(0, ARequest.Target.find('?'));
  if (Path == "/admin" || Path.substr(0, 7) == "/admin/") {
    if (auto Refusal = FAdmin.Refusal(ARequest)) return std::move(*Refusal);
    return AdminReply(FRegistry, FStore, Method, Path, ARequest.Body);
  }
  if (Method != "GET") return TextReply(405, "Método não permitido.");
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
  auto Answer = StaticReply(FStaticFolder, Path);
  Answer.Headers.emplace_back("Content-Security-Policy", StaticContentPolicy);
  return Answer;
}

}  // namespace halvora::relay
