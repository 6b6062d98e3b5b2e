// The welcome window with which the program starts.
#pragma once

#include "forms/form.h"

class frmWelcome final : public runtime::Form {
public:
    // The program-wide instance, created on first use.
    static frmWelcome& Instance();

    runtime::Button cmdOK;
    runtime::Button cmdExit;
    runtime::Label lblWelcome;
    runtime::Label lblRunning;
    runtime::Label lblTexto2;
    runtime::Image imgWelcome;

private:
    frmWelcome();
    void Form_Load() override;
    void cmdOK_Click();
    void cmdExit_Click();
};
