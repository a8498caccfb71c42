#include "relay/uRelayAdmin.h"

#include <nlohmann/json.hpp>

#include "relay/uRelayLog.h"
#include "relay/uRelayRegistry.h"
#include "relay/uRelayStore.h"
#include "relay/uRelayWire.h"

namespace halvora::relay {

namespace {

std::string Json(const nlohmann::json& AValue) {
  return AValue.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

THttpReply Status(TRelayRegistry& ARegistry) {
  nlohmann::json Hosts = nlohmann::json::array();
  for (const auto& Host : ARegistry.Status())
    Hosts.push_back({{"id", Host.Id}, {"online", Host.Online}, {"in_session", Host.InSession}});
  return JsonReply(Json({{"hosts", Hosts}}));
}

THttpReply Sent(bool AOnline) {
  if (!AOnline) return TextReply(409, "O computador está desconectado.");
  return JsonReply(Json({{"enviado", true}}));
}

// Body "first|second" with both parts present after trimming.
bool TwoFields(const std::string& ABody, std::string& AFirst, std::string& ASecond) {
  const std::string Text = Trim(ABody);
  const auto Bar = Text.find('|');
  if (Bar == std::string::npos) return false;
  AFirst = Trim(Text.substr(0, Bar));
  ASecond = Trim(Text.substr(Bar + 1));
  return !AFirst.empty() && !ASecond.empty();
}

THttpReply HostAction(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      const std::string& AId, std::string_view AAction, const std::string& ABody) {
  const bool Post = AMethod == "POST";
  if (AAction != "offer" && AAction != "brand" && AAction != "permanent")
    return TextReply(404, "Recurso desconhecido.");
  if (!Post && !(AAction == "permanent" && AMethod == "DELETE"))
    return TextReply(405, "Método não permitido.");
  if (!AStore.Known(AId)) return TextReply(404, "Computador desconhecido.");

  if (AAction == "offer") {
    const std::string Text = Trim(ABody);
    if (Text.empty()) return TextReply(400, "Informe o texto da oferta no corpo.");
    return Sent(ARegistry.SendToHost(AId, cmdInstallOffer, Text));
  }
  std::string First, Second;
  if (AAction == "brand") {
    if (!TwoFields(ABody, First, Second)) return TextReply(400, "Use o formato código|nome.");
    return Sent(ARegistry.SendToHost(AId, cmdBrand, First + "|" + Second));
  }
  int Count = 0;
  if (Post) {
    if (!TwoFields(ABody, First, Second)) return TextReply(400, "Use o formato token|empresa.");
    Count = AStore.AddPermanent(AId, First, Second);
    Log("acesso permanente de " + Second + " a " + AId + " gravado");
  } else {
    AStore.RevokePermanent(AId);
    Log("acessos permanentes de " + AId + " revogados");
  }
  const bool Online = ARegistry.SendToHost(AId, cmdPermanentCount, std::to_string(Count));
  return JsonReply(Json({{"permanentes", Count}, {"avisado", Online}}));
}

}  // namespace

THttpReply AdminReply(TRelayRegistry& ARegistry, TRelayStore& AStore, std::string_view AMethod,
                      std::string_view APath, const std::string& ABody) {
  if (APath == "/admin/status")
    return AMethod == "GET" ? Status(ARegistry) : TextReply(405, "Método não permitido.");
  constexpr std::string_view Prefix = "/admin/hosts/";
  if (APath.substr(0, Prefix.size()) == Prefix) {
    const auto Rest = APath.substr(Prefix.size());
    const auto Slash = Rest.find('/');
    if (Slash != std::string_view::npos && Slash > 0)
      return HostAction(ARegistry, AStore, AMethod, std::string(Rest.substr(0, Slash)),
                        Rest.substr(Slash + 1), ABody);
  }
  return TextReply(404, "Recurso desconhecido.");
}

}  // namespace halvora::relay
