#pragma once

// The settings the demo tones with: the effect's parameter defaults. Those
// belong to the plug-in's parameter table; until the demo can read them from
// there, this is the only copy in demo/.

#include "engine/tone_params.h"

namespace qv::demo {

inline ToneParams DefaultParams(ToneCount tones) {
  ToneParams p{};
  p.baseOn = kBaseLightness;
  p.tones = tones;
  p.highlights = FromPixel8({255, 255, 255, 255});
  p.brights = FromPixel8({255, 192, 170, 120});
  p.midtones = FromPixel8({255, 128, 100, 70});
  p.darktones = FromPixel8({255, 64, 50, 10});
  p.shadows = FromPixel8({255, 0, 0, 0});
  p.inputBlack = 0;
  p.inputWhite = 1;
  p.gamma = 1;
  p.outputBlack = 0;
  p.outputWhite = 1;
  p.highlightsOpacity = 1.0;  // 100 %
  p.shadowsOpacity = 0.0;     // 0 %
  p.blend = 0.0;              // 0 %
  return p;
}

}  // namespace qv::demo
