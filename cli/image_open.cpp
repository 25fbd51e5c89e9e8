#include "image_open.h"

#include <algorithm>
#include <mutex>

namespace qv::cli {
namespace {

// Held while a header is decoded, by whichever thread decodes one.
std::mutex& HeaderLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

// A band of kFileBandRows rows holds at most four chunks of OpenEXR's usual
// compression (zip, 16 rows a chunk), and the tool reads and writes a band
// at a time: more threads in its pool than that decode nothing sooner, while
// every OpenEXR file open keeps buffers for each.
constexpr int kMaxExrThreads = 4;

void UseImageThreads(int threads) {
  OIIO::attribute("threads", threads);
  OIIO::attribute("exr_threads", std::min(threads, kMaxExrThreads));
}

std::unique_ptr<OIIO::ImageInput> OpenImageFile(const std::string& path, const OIIO::ImageSpec* config) {
  const std::lock_guard<std::mutex> hold(HeaderLock());
  return OIIO::ImageInput::open(path, config);
}

bool SeekPart(OIIO::ImageInput& input, int part) {
  const std::lock_guard<std::mutex> hold(HeaderLock());
  return input.seek_subimage(part, 0);
}

std::unique_ptr<OIIO::ImageOutput> CreateImageWriter(const std::string& path) {
  // Finding a writer decodes no header (the library guards its catalogue of
  // formats itself), so it takes no lock: it is here so that every file has
  // one way in.
  return OIIO::ImageOutput::create(path);
}

}  // namespace qv::cli
