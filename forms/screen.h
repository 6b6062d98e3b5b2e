// Screen size and the conversion between twips and pixels.
#pragma once

#include <cstdint>

namespace forms {

// The system's dots per inch, read once.
int ScreenDpi();
// Twips (1/1440 inch) to pixels at the system's DPI, rounded to nearest.
int TwipsToPixels(double twips);
// Pixels to twips at the system's DPI.
float PixelsToTwips(int pixels);

namespace Screen {
float Width();
float Height();
}  // namespace Screen

// Where a window of a given outer size starts so that it sits in the middle
// of a screen of the given size, both in twips: the difference converted to
// a whole number (halves to even), then halved toward zero.
std::int32_t CenteredOffset(float screenSize, float windowSize);

}  // namespace forms
