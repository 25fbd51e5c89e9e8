// quorvandile lut: the effect's colour result as a 3D LUT (.cube), for
// applications that take a LUT and not the plug-in.

#include <OpenImageIO/strutil.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "core/errors.h"
#include "core/layer.h"
#include "safe_file.h"
#include "settings_file.h"

namespace qv::cli {
namespace {

// The lattice as a float picture, alpha 1: point (r, g, b) at x = r + g * size,
// y = b, so that reading it row by row gives the order a .cube file lists
// its points in (red fastest, then green, then blue).
Image<float> Lattice(int size) {
  Image<float> lattice(size * size, size, 4);
  const auto at = [size](int i) { return static_cast<float>(i) / static_cast<float>(size - 1); };
  for (int b = 0; b < size; ++b) {
    for (int g = 0; g < size; ++g) {
      for (int r = 0; r < size; ++r) {
        float* p = lattice.Pixel(r + g * size, b);
        p[0] = at(r), p[1] = at(g), p[2] = at(b), p[3] = 1.0f;
      }
    }
  }
  return lattice;
}

std::string CubeText(const PluginSession& session, const std::vector<ParamSetting>& look, const LutOptions& options,
                     const Image<float>& result) {
  std::string text = "# Quorvandile: the effect's colour result for opaque input, sampled through the plug-in.\n";
  text += "# Opacity (Shadows Opacity, Highlights Opacity) is not a colour transform and is not in it:\n";
  text += "# the table gives colour only, as if the output were opaque.\n";
  text += "# Settings (every other control at its default), at frame " + std::to_string(options.frame) + ":\n";
  if (look.empty()) text += "#   none\n";
  for (const ParamSetting& setting : look) {
    const ParamEntry* param = session.params().Find(setting.name);
    text += "#   " + setting.name + "=" + FormatKeys(*param, setting.keys) + "\n";
  }
  text += "TITLE \"Quorvandile look\"\n";
  text += "LUT_3D_SIZE " + std::to_string(options.size) + "\n";
  text += "DOMAIN_MIN 0.0 0.0 0.0\nDOMAIN_MAX 1.0 1.0 1.0\n";
  char line[96];
  for (std::size_t i = 0; i < result.samples.size(); i += 4) {
    std::snprintf(line, sizeof line, "%.7f %.7f %.7f\n", result.samples[i], result.samples[i + 1],
                  result.samples[i + 2]);
    text += line;
  }
  return text;
}

// Refuses, before anything is rendered, an output whose name says another
// format (the text would be a .cube file under that format's name), or no
// format without --format to name one (standard output, /dev/null).
void CheckLutOutput(const LutOptions& options) {
  const std::string extension = options.output == "-" ? "" : std::filesystem::path(options.output).extension().string();
  if (extension.empty()) {
    if (!options.format.empty()) return;  // the option admits only the formats lut writes
    throw UsageError(Because("cannot write", options.output,
                             "its name has no extension to say the LUT's format; give --format " +
                                 Joined(kLutFormats)));
  }
  std::vector<std::string> written;
  for (const std::string& format : kLutFormats) {
    if (OIIO::Strutil::iequals(extension, "." + format)) return;
    written.push_back("." + format);
  }
  throw UsageError(
      Because("cannot write", options.output, "lut writes " + Joined(written) + " files, not " + extension));
}

// Whether `output` is a place that takes bytes rather than a file to replace:
// standard output, or something there already that is not a regular file (a
// device such as /dev/null, a named pipe). Replacing one with a file, as a
// regular output is replaced, would break it for everyone.
bool IsSink(const std::string& output) { return output == "-" || IsSpecialFile(output); }

// Writes `text` straight into a sink: no partial file, no rename.
void WriteToSink(const std::string& output, const std::string& text) {
  if (output == "-") {
    WriteAll(STDOUT_FILENO, text, "standard output");
    return;
  }
  const int fd = open(output.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw RunError(Because("cannot write", output, SystemMessage(errno)));
  try {
    WriteAll(fd, text, output);
  } catch (...) {
    close(fd);
    throw;
  }
  if (close(fd) != 0) throw RunError(Because("cannot write", output, SystemMessage(errno)));
}

}  // namespace

int RunLut(const SessionOptions& session_options, const LutOptions& options) {
  CheckLutOutput(options);
  const bool sink = IsSink(options.output);
  PluginSession session(session_options);
  const std::vector<ParamSetting> look = ApplyLook(session, options.settings_file, options.sets);
  if (!sink) CheckTargetWritable(options.output);
  const simhost::World rendered = session.Render(options.frame, ToWorld(Raster(Lattice(options.size))));
  const Raster result = FromWorld(rendered, 4);
  const std::string text = CubeText(session, look, options, std::get<Image<float>>(result));
  session.Close();

  if (sink) {
    WriteToSink(options.output, text);
  } else {
    WriteWholeFile(options.output, text);
  }
  return 0;
}

}  // namespace qv::cli
