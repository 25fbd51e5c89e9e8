#pragma once

// The end of `quorvandile render --help`: how its values are written and
// what the command does with files, beyond each option's own line.

namespace qv::cli {

inline constexpr const char* kRenderFooter = R"(Parameters (--set "NAME=VALUE", repeatable; names and popup items as the
plug-in registers them, in any case; 'quorvandile params' lists them):
  popups by item or number         "Tones=Pentone"  "Base On=Luminance"
  colours as #RRGGBB or R,G,B      "Midtones=#806446"  "Shadows=20,30,60"
  sliders as numbers               "Gamma=1.4"
  percentages from 0 to 100        "Blend with Original=25"
  keyframes VALUE@FRAME,...        "Gamma=1@1,2.2@240" (linear between keys;
                                   popups hold; frames from 0)
  A parameter not set keeps its registered default.

Depth: 8-bit files render at 8 bits, 16-bit files at 16 bits (file 0..65535
  <-> host 0..32768, rounded to nearest both ways), half and float at float;
  --depth overrides. The output keeps the input's sample type unless --type,
  packed bits too where its format holds them (10-bit DPX stays 10-bit); a
  --type the output format cannot hold is refused, naming those it can.

Alpha: the effect works on straight (unassociated) colour: it replaces colour
  and multiplies alpha. Each file is read in its own convention.
  OpenEXR holds associated (premultiplied) colour, and so does a TIFF marked
  so (ExtraSamples 1): it is divided by alpha after reading (where alpha > 0)
  and multiplied by alpha before writing. PNG, WebP, other TIFFs and other
  formats are read and written as stored, never premultiplied. A TIFF output
  keeps the input's convention. --alpha straight|associated overrides every
  file's convention.

Channels: colour is R, G, B or Y and alpha is A, found by name (in one layer,
  such as beauty.R; alpha 1 where missing); every other channel passes through
  where the output holds it (OpenEXR; TIFF, of one sample type, without names).
  --channels auto (default) keeps the input's layout and adds colour or alpha
  only when the result has them (toned grey comes out RGB, transparency adds
  alpha); keep writes the input's layout exactly (colour as grey luma, alpha
  dropped); grey, grey+alpha, rgb, rgba choose one. A format without alpha
  (JPEG) gets the colour alone.

Sequences: the frame number in IN and OUT as pipelines write it: shot.####.exr
  (padded to the run; a lone # pads to 4), shot.@@@@.exr (one digit per @),
  shot.%04d.exr (printf), shot.$F4.exr (Houdini). --frames FIRST-LAST chooses
  the frames; without it, IN's pattern takes the files on disk. Each frame
  renders at its own time (frame f at f/24 s), so keyframed parameters
  animate. An IN without a pattern is used for every frame. --jobs frames are
  in flight at once, put in place in frame order: a failing frame stops the
  run and leaves exactly the frames before it.

Limits: an input is refused, before any of its pixels are read, when its
  header declares more than --max-pixels pixels (default 268435456, that is
  16384x16384) or a frame that needs more than --max-memory at its render
  depth (default: half the memory the process may use); 0 lifts a limit.
  Rows wider than the host's 32-bit row stride holds are refused whatever the
  limits. The frames in flight take --max-memory together: each waits,
  before its pixels are read, until the memory its own header declares is
  free.

Output files are written to a hidden partial file, checked, synced and read
back, and only then renamed over the target; a damaged input fails.
Exit status: 0 done, 1 a file or the plug-in failed, 2 bad arguments.)";

}  // namespace qv::cli
