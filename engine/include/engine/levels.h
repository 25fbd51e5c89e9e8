#pragma once

// The levels curve and the opacity line: coefficients worked out once per
// frame, before any pixel is touched.

#include "engine/pow.h"
#include "engine/tone_params.h"

namespace qv {

// level(x) = pow(x, exponent) * scale + offset, where with p = 1 / gamma
//   scale  = (outputWhite - outputBlack) / (inputWhite^p - inputBlack^p)
//   offset = (outputBlack * inputWhite^p - outputWhite * inputBlack^p)
//            / (inputWhite^p - inputBlack^p)
// opacity(x) = x * opacityRange + shadowsOpacity, from the tone before levels.
//
// The double coefficients serve the lookup tables; the single-precision copies
// serve the float ramp, which colours in single precision. Settings with no
// real curve (equal powers of the black and white points, a negative point
// raised to a fractional exponent) give non-finite coefficients here, so every
// levelled tone is NaN; the tables then store it as 0, and the float ramp
// gives it the Shadows colour (see ramp_kernels.h).
struct LevelsCoefficients {
  double opacityRange;
  double scale;
  float singleScale;
  double exponent;
  float singleExponent;
  double offset;
  float singleOffset;
  detail::PowExponent singlePower;  // the single exponent's facts, for the float ramp's PowF
};

// Input White equal to Input Black is raised by 0.000001 so that the curve has
// a non-zero span for ordinary settings. The raised value is kept.
void SeparateInputPoints(ToneParams& params);

LevelsCoefficients ComputeLevels(const ToneParams& params);

// The float ramp's coefficients (single exponent, scale and offset) are all
// finite: the float levels curve is a real curve.
bool FloatLevelsAreFinite(const LevelsCoefficients& c);

}  // namespace qv
