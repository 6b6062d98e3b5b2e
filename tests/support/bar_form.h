// A window with the installer's picture and a progress bar where the
// installer has its own, for tests and benchmarks of the bar.
#pragma once

#include "forms/form.h"
#include "forms/progress_bar.h"
#include "resources/resource.h"

namespace testing_support {

class BarForm final : public forms::Form {
public:
    BarForm()
        : Form(forms::FormLayout{4935, 1290, IDR_INSTALLER_PICTURE, IDI_PROGRAM, true}),
          bar(*this, {240, 480, 4455, 495}) {}
    forms::ProgressBar bar;

private:
    void Form_Load() override {}
};

}  // namespace testing_support
