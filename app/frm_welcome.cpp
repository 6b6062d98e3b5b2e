#include "app/frm_welcome.h"

#include "host/host.h"
#include "installer/frm_instalador.h"
#include "resources/resource.h"
#include "runtime/resources.h"

namespace {

constexpr forms::FontSpec kProductFont{L"Arial Black", 24.0f, true};
using Sizing = forms::Label::Sizing;

}  // namespace

frmWelcome& frmWelcome::Instance() {
    static frmWelcome instance;
    return instance;
}

// Controls are declared in tab order: the two buttons first, then the labels.
frmWelcome::frmWelcome()
    : Form(forms::FormLayout{6435, 3255, IDR_WELCOME_PICTURE, IDI_PROGRAM, true}),
      cmdOK(*this, {1470, 2655, 1440, 420}, forms::kDefaultFont, [this] { cmdOK_Click(); }),
      cmdExit(*this, {3705, 2655, 1440, 420}, forms::kDefaultFont, [this] { cmdExit_Click(); }),
      lblWelcome(*this, {960, 600, 3840, 195}, forms::kDefaultFont, Sizing::kAutoSizeWrap),
      lblRunning(*this, {435, 1635, 5535, 195}, forms::kDefaultFont, Sizing::kAutoSizeWrap),
      lblTexto2(*this, {4080, 720, 2295, 615}, kProductFont, Sizing::kFixed),
      imgWelcome(*this, {240, 450, 480, 480}, IDI_PROGRAM) {
    SetDefaultButton(cmdOK);
    SetCancelButton(cmdExit);
}

void frmWelcome::Form_Load() {
    forms::CenterForm(*this);
    Instance().SetCaption(runtime::LoadResString(IDS_TITLE));
    lblWelcome.SetCaption(runtime::LoadResString(IDS_WELCOME));
    lblRunning.SetCaption(runtime::LoadResString(IDS_RUNNING));
    lblTexto2.SetCaption(runtime::LoadResString(IDS_PRODUCT));
    cmdOK.SetCaption(runtime::LoadResString(IDS_NEXT));
    cmdExit.SetCaption(runtime::LoadResString(IDS_CANCEL));
}

void frmWelcome::cmdOK_Click() {
    Unload();
    // The installation runs inside this request and ends the program.
    FrmInstalador::Instance().Show();
}

void frmWelcome::cmdExit_Click() { host::End(host::kExitCancelled); }
