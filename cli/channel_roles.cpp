#include "channel_roles.h"

#include <algorithm>

namespace qv::cli {
namespace {

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
  const auto found = std::find(names.begin(), names.end(), name);
  return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

// The layers of a file's channel names in order of first appearance, the
// unprefixed one first.
std::vector<std::string> Layers(const std::vector<std::string>& names) {
  std::vector<std::string> layers{""};
  for (const std::string& name : names) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    std::string layer = name.substr(0, dot + 1);
    if (std::find(layers.begin(), layers.end(), layer) == layers.end()) layers.push_back(std::move(layer));
  }
  return layers;
}

}  // namespace

std::optional<ChannelRoles> FindChannels(const OIIO::ImageSpec& image_spec, const std::string& format_name) {
  const std::vector<std::string>& names = image_spec.channelnames;
  ChannelRoles roles;
  for (const std::string& layer : Layers(names)) {
    const int r = IndexOf(names, layer + "R"), g = IndexOf(names, layer + "G"), b = IndexOf(names, layer + "B");
    const int y = IndexOf(names, layer + "Y"), a = IndexOf(names, layer + "A");
    if (r >= 0 && g >= 0 && b >= 0) {
      roles.rendered = {r, g, b};
    } else if (y >= 0) {
      roles.rendered = {y};
    } else {
      continue;
    }
    if (a >= 0) roles.rendered.push_back(a);
    roles.layer = layer;
    break;
  }
  if (roles.rendered.empty()) {
    if (format_name == "openexr" || names != std::vector<std::string>{"R", "G"}) return std::nullopt;
    roles.rendered = format_name == "tiff" ? std::vector<int>{0} : std::vector<int>{0, 1};
  }
  for (int c = 0; c < image_spec.nchannels; ++c) {
    if (std::find(roles.rendered.begin(), roles.rendered.end(), c) == roles.rendered.end()) roles.others.push_back(c);
  }
  return roles;
}

}  // namespace qv::cli
