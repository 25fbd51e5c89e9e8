#include "file_parts.h"

#include <algorithm>
#include <string_view>

#include "channel_roles.h"
#include "core/errors.h"
#include "image_bands.h"
#include "image_description.h"
#include "image_open.h"

namespace qv::cli {
namespace {

// The parts of the open file. Seeking past the last one upsets some readers
// (the TIFF reader takes it for an error, the WebP reader fails to decode
// its image afterwards): `input` is a reader opened for this alone.
int PartCount(OIIO::ImageInput& input) {
  int count = 1;
  while (SeekPart(input, count)) ++count;
  input.geterror();
  return count;
}

// The part of the open file to grade: `part` (a number from 0 or a part's
// name), or else the first whose channels hold colour (the first, when none
// does: reading it says why), of `count`.
int ChoosePart(OIIO::ImageInput& input, const std::string& path, const std::string& part, int count) {
  std::vector<std::string> names;
  int chosen = -1;
  for (int i = 0; i < count && SeekPart(input, i); ++i) {
    const OIIO::ImageSpec& image_spec = DescriptionOf(input);
    names.push_back(PartName(image_spec, i));
    const bool named = part == std::to_string(i) || part == image_spec.get_string_attribute("name");
    const bool colour = !image_spec.deep && FindChannels(image_spec, input.format_name());
    if (chosen < 0 && (part.empty() ? colour : named)) chosen = i;
  }
  if (chosen < 0 && !part.empty()) {
    throw RunError(Because("cannot render", path, "no part \"" + part + "\"; its parts are " + Joined(names)));
  }
  return std::max(chosen, 0);
}

// Gives every part of an OpenEXR file the same display window, which its
// format demands of a file of several parts: the smallest that holds every
// part's own. Each part keeps its data window, so pages of different sizes
// stay as they were.
void ShareDisplayWindow(std::vector<OIIO::ImageSpec>& specs) {
  int left = specs.front().full_x, top = specs.front().full_y;
  int right = left + specs.front().full_width, bottom = top + specs.front().full_height;
  for (const OIIO::ImageSpec& image_spec : specs) {
    left = std::min(left, image_spec.full_x);
    top = std::min(top, image_spec.full_y);
    right = std::max(right, image_spec.full_x + image_spec.full_width);
    bottom = std::max(bottom, image_spec.full_y + image_spec.full_height);
  }
  for (OIIO::ImageSpec& image_spec : specs) {
    image_spec.full_x = left;
    image_spec.full_y = top;
    image_spec.full_width = right - left;
    image_spec.full_height = bottom - top;
  }
}

// The descriptions of every part of a file `output` writes: the parts
// carried, with `rendered` in its place among them, each writing through the
// same proxy.
std::vector<OIIO::ImageSpec> PartSpecs(const OIIO::ImageOutput& output, const OIIO::ImageSpec& rendered,
                                       const FileParts& parts) {
  std::vector<OIIO::ImageSpec> specs;
  for (const StoredPart& part : parts.others) specs.push_back(part.image_spec);
  specs.insert(specs.begin() + parts.graded, rendered);
  if (std::string_view(output.format_name()) == "openexr") ShareDisplayWindow(specs);
  if (const OIIO::ParamValue* proxy = rendered.find_attribute("oiio:ioproxy")) {
    for (OIIO::ImageSpec& image_spec : specs) {
      image_spec.attribute(proxy->name().string(), proxy->type(), proxy->data());
    }
  }
  return specs;
}

// Writes a part carried as it was read: in its sample type, or its types
// per channel where it has several (the writer holding them, as checked).
bool WritePart(OIIO::ImageOutput& output, const StoredPart& part) {
  const OIIO::ImageSpec& stored = part.image_spec;
  const OIIO::TypeDesc format = stored.channelformats.empty() ? stored.format : OIIO::TypeUnknown;
  const OIIO::ImageSpec& layout = DescriptionOf(output);
  if (layout.tile_width > 0) {
    return WriteWholeTiles(output, layout, layout.y, layout.height, format, part.samples.data());
  }
  return output.write_image(format, part.samples.data());
}

}  // namespace

std::string PartName(const OIIO::ImageSpec& image_spec, int index) {
  const std::string name = image_spec.get_string_attribute("name");
  return name.empty() ? "part " + std::to_string(index) : name;
}

int PartIndex(const FileParts& parts, std::size_t i) {
  return static_cast<int>(i) + (static_cast<int>(i) >= parts.graded ? 1 : 0);
}

FileParts FindParts(const std::string& path, const OIIO::ImageSpec* config, const std::string& part) {
  FileParts parts;
  const auto input = OpenImageFile(path, config);  // of its own, as PartCount needs
  parts.count = input ? PartCount(*input) : 1;
  parts.graded = input ? ChoosePart(*input, path, part, parts.count) : 0;
  parts.chosen = !part.empty();
  return parts;
}

bool ReadOtherParts(OIIO::ImageInput& input, const std::string& path, FileParts& parts) {
  if (parts.count == 1) return true;
  for (int i = 0; i < parts.count && SeekPart(input, i); ++i) {
    if (i == parts.graded) continue;
    StoredPart part{DescriptionOf(input), {}};
    if (part.image_spec.deep) {
      throw RunError(
          Because("cannot render", path, PartName(part.image_spec, i) + " is deep, which cannot be carried"));
    }
    part.samples.resize(part.image_spec.image_bytes(true));
    if (!input.read_image(i, 0, 0, part.image_spec.nchannels, OIIO::TypeUnknown, part.samples.data())) return false;
    parts.others.push_back(std::move(part));
  }
  return SeekPart(input, parts.graded);
}

void RefuseMixedTypeParts(const OIIO::ImageOutput& output, const FileParts& parts, const std::string& path) {
  if (output.supports("channelformats")) return;
  for (std::size_t i = 0; i < parts.others.size(); ++i) {
    const OIIO::ImageSpec& other = parts.others[i].image_spec;
    if (!other.channelformats.empty()) {
      throw RunError(Because("cannot write", path,
                             "the input's " + PartName(other, PartIndex(parts, i)) +
                                 " has channels of several sample types, which need a format that holds them, such as "
                                 "OpenEXR"));
    }
  }
}

bool OpenAmongParts(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                    const FileParts* parts) {
  if (!parts) return output.open(file, rendered);
  const std::vector<OIIO::ImageSpec> specs = PartSpecs(output, rendered, *parts);
  if (!output.open(file, static_cast<int>(specs.size()), specs.data())) return false;
  for (int i = 0; i < parts->graded; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (i > 0 && !output.open(file, specs[at], OIIO::ImageOutput::AppendSubimage)) return false;
    if (!WritePart(output, parts->others[at])) return false;
  }
  return parts->graded == 0 ||
         output.open(file, specs[static_cast<std::size_t>(parts->graded)], OIIO::ImageOutput::AppendSubimage);
}

bool WritePartsAfter(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                     const FileParts* parts) {
  if (!parts) return true;
  const std::vector<OIIO::ImageSpec> specs = PartSpecs(output, rendered, *parts);
  for (std::size_t i = static_cast<std::size_t>(parts->graded); i < parts->others.size(); ++i) {
    if (!output.open(file, specs[i + 1], OIIO::ImageOutput::AppendSubimage) ||
        !WritePart(output, parts->others[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace qv::cli
