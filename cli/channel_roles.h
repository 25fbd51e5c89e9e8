#pragma once

// Which of a file's channels are the colour and alpha the effect renders,
// found by their names, not their places: a depth channel fourth is no alpha,
// a lone matte is no colour.

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>
#include <vector>

namespace qv::cli {

struct ChannelRoles {
  std::string layer;          // the prefix the colour's names share: "" or "beauty."
  std::vector<int> rendered;  // the colour channels (R, G, B or Y), then alpha (A) if there is one
  std::vector<int> others;    // every other channel, in the file's order
};

// The colour is R, G and B, or else Y, of the unprefixed layer or else of the
// first layer that has them; alpha is the A of the same layer. Readers of
// formats that record no names name two samples R and G by their place: a
// TIFF's are grey and an unspecified sample (its reader names an alpha
// sample A), another format's grey and alpha. Nothing when no channel is
// colour.
std::optional<ChannelRoles> FindChannels(const OIIO::ImageSpec& image_spec, const std::string& format_name);

}  // namespace qv::cli
