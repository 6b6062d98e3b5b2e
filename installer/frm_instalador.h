// The installer window: a status line and a progress bar over a picture, in
// which the whole installation runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "forms/form.h"
#include "forms/progress_bar.h"

// The files beside the updater that the update reads: the new pair and its
// list. A log must never be written into them.
std::vector<std::wstring> FicheirosNovos();

class FrmInstalador final : public forms::Form {
public:
    // The program-wide instance, created on first use.
    static FrmInstalador& Instance();

    void IncrementarProgressBar(forms::ProgressBarProperties& barra, std::int16_t i);
    void FinalizarProgressBar(forms::ProgressBarProperties& barra);
    void IniciarProgressBar(forms::ProgressBarProperties& barra, std::int32_t lngMin, std::int32_t lngMax,
                            std::int32_t lngVal);

    forms::Label Label1;
    forms::ProgressBar ProgressBar1;

private:
    FrmInstalador();
    void Form_Load() override;
    void Instalar();
};
