#include "engine/levels.h"

#include <cmath>
#include <limits>

namespace qv {
namespace {

// The IEEE quotient, without evaluating a division by zero (which C++ leaves
// undefined): x / 0 is a signed infinity, 0 / 0 and NaN / 0 are NaN.
double Quotient(double numerator, double divisor) {
  if (divisor != 0.0 || std::isnan(divisor)) return numerator / divisor;
  if (numerator == 0.0 || std::isnan(numerator)) return std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  return std::signbit(numerator) == std::signbit(divisor) ? inf : -inf;
}

}  // namespace

void SeparateInputPoints(ToneParams& params) {
  if (params.inputWhite == params.inputBlack) params.inputWhite += 0.000001;
}

LevelsCoefficients ComputeLevels(const ToneParams& params) {
  LevelsCoefficients c{};
  c.exponent = Quotient(1.0, params.gamma);
  const double black = std::pow(params.inputBlack, c.exponent);
  const double white = std::pow(params.inputWhite, c.exponent);
  c.singleExponent = static_cast<float>(c.exponent);
  const double span = white - black;
  c.scale = Quotient(params.outputWhite - params.outputBlack, span);
  c.offset = Quotient(params.outputBlack * white - params.outputWhite * black, span);
  c.singleScale = static_cast<float>(c.scale);
  c.singleOffset = static_cast<float>(c.offset);
  c.singlePower = detail::MakePowExponent(c.singleExponent);
  c.opacityRange = params.highlightsOpacity - params.shadowsOpacity;
  return c;
}

bool FloatLevelsAreFinite(const LevelsCoefficients& c) {
  return std::isfinite(c.singleExponent) && std::isfinite(c.singleScale) && std::isfinite(c.singleOffset);
}

}  // namespace qv
