#include "forms/screen.h"

#include <windows.h>

#include <cmath>

#include "runtime/checked.h"

namespace forms {

int ScreenDpi() {
    static const int dpi = [] {
        const HDC screen = GetDC(nullptr);
        const int value = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen != nullptr) ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int TwipsToPixels(double twips) { return static_cast<int>(std::lround(twips * ScreenDpi() / 1440.0)); }

float PixelsToTwips(int pixels) { return static_cast<float>(pixels * 1440.0 / ScreenDpi()); }

float Screen::Width() { return PixelsToTwips(GetSystemMetrics(SM_CXSCREEN)); }
float Screen::Height() { return PixelsToTwips(GetSystemMetrics(SM_CYSCREEN)); }

std::int32_t CenteredOffset(float screenSize, float windowSize) {
    const float difference = runtime::CheckedFloat(static_cast<double>(screenSize) - static_cast<double>(windowSize));
    return runtime::ToLong(difference) / 2;
}

}  // namespace forms
