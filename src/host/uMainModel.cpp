#include "host/uMainModel.h"

namespace halvora {
namespace {

TComponentState Label(std::string AText, TColor AColor, int AHeight = 12, bool ABold = false) {
  TComponentState State;
  State.Text = std::move(AText);
  State.Color = AColor;
  State.FontHeight = AHeight;
  State.Bold = ABold;
  return State;
}

TComponentState Panel(TColor AColor) { return Label({}, AColor); }

}  // namespace

TMainWindowModel::TMainWindowModel()
    : pnlHeader(Panel(0x2C7389)),
      lblTitle(Label("Halvora", 0xFFFFFF, 24, true)),
      lblSubtitle(Label("Quenmir Softwares", 0xD6E8F0)),
      pnlAccent(Panel(0x94C2CF)),
      pnlLocal(Panel(0xFFFFFF)),
      lblLocalTitle(Label("ESTE COMPUTADOR", 0x4094AC, 11, true)),
      lblIdCaption(Label("Seu ID", 0x6B7F87)),
      lblId(Label("--- --- ---", 0x2C7389, 27, true)),
      lblPassCaption(Label("Senha", 0x6B7F87)),
      lblPassword(Label("------", 0x1F3A44, 27)),
      btnNewPassword(Label("Nova senha", 0x1F3A44)),
      lblHint(Label("Informe o ID e a senha ao atendente para ele acessar este computador. "
                    "A senha muda cada vez que o programa é aberto.",
                    0x6B7F87)),
      lblFixed(Label({}, 0x1F3A44)),
      btnRevoke(Label("Revogar", 0x1F3A44)),
      lblInstall(Label("Instalar neste computador", 0x4094AC)),
      lblStatus(Label({}, 0x1F3A44)),
      btnDisconnect(Label("Encerrar sessão", 0x1F3A44)),
      btnServer(Label("Servidor...", 0x1F3A44)) {
  lblFixed.Visible = false;
  btnRevoke.Visible = false;
  btnDisconnect.Enabled = false;
}

}  // namespace halvora
