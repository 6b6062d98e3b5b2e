// The installer window: a status line and a progress bar over a picture, in
// which the whole installation runs.
#pragma once

#include <cstdint>

#include "forms/form.h"
#include "forms/progress_bar.h"

class FrmInstalador final : public runtime::Form {
public:
    // The program-wide instance, created on first use.
    static FrmInstalador& Instance();

    void IncrementarProgressBar(runtime::ProgressBarProperties& barra, std::int16_t i);
    void FinalizarProgressBar(runtime::ProgressBarProperties& barra);
    void IniciarProgressBar(runtime::ProgressBarProperties& barra, std::int32_t lngMin, std::int32_t lngMax,
                            std::int32_t lngVal);

    runtime::Label Label1;
    runtime::ProgressBar ProgressBar1;

private:
    FrmInstalador();
    void Form_Load() override;
    void Instalar();
};
