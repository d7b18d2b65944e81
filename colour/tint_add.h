// Colour tint addition: each channel bent through its own power curve, the tint given as three
// signed percentages or as a hue and a saturation.
#ifndef MARLO_COLOUR_TINT_ADD_H
#define MARLO_COLOUR_TINT_ADD_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// Curve exponents in hundredths, indexed by the magnitude 0..100 of a positive (Up) or negative
// (Down) percentage.
extern const uint8_t TintGammaUp[101];
extern const uint8_t TintGammaDown[101];

// Channel values of a hue (degrees, 0..360) and a saturation on the scale `scale` (128 for 8-bit
// images, 32768 for 16-bit ones): channel[0] red, [1] green, [2] blue, each 0..2 * scale - 1.
// False, with nothing written, for a hue outside 0..360 or a saturation that is not finite.
bool HueSaturationToChannels(int32_t hue, float saturation, int32_t scale, int32_t channel[3]);

// The tint percentages (-100..100) of a hue and a saturation; 1, or 0 with nothing written
// when HueSaturationToChannels refuses the values.
int HueSaturationToTint8(int32_t hue, float saturation, int32_t* red, int32_t* green,
                         int32_t* blue);
int HueSaturationToTint16(int32_t hue, float saturation, int32_t* red, int32_t* green,
                          int32_t* blue);

// Fills table[0..D::kMax] with the curve of one percentage (-100..100): the identity, then every
// entry v other than 0 and the maximum F becomes F * x^(1 / gamma) + 0.5 with x = v * (1 / F),
// truncated and clamped, evaluated as exp(ln x / gamma).
template <class D>
void BuildTintCurve(int32_t percent, typename D::Sample* table);

// The workers: Ok when every row was written; Refused (nothing written, no progress report)
// for a null image, a source of the wrong type, a destination that is empty or differs from
// the source in type, width or height, or a percentage outside -100..100; Aborted when the
// callback stopped them.
Status AddColorTint8(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                     ProgressCallback cb, int32_t start, int32_t end);
Status AddColorTint16(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                      ProgressCallback cb, int32_t start, int32_t end);

}  // namespace marlo

#endif  // MARLO_COLOUR_TINT_ADD_H
