// The welcome window with which the program starts.
#pragma once

#include "forms/form.h"

class frmWelcome final : public forms::Form {
public:
    // The program-wide instance, created on first use.
    static frmWelcome& Instance();

    forms::Button cmdOK;
    forms::Button cmdExit;
    forms::Label lblWelcome;
    forms::Label lblRunning;
    forms::Label lblTexto2;
    forms::Image imgWelcome;

private:
    frmWelcome();
    void Form_Load() override;
    void cmdOK_Click();
    void cmdExit_Click();
};
