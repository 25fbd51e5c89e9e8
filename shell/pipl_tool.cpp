// Writes the registration resource to a file, for resource compilers that
// embed it as a binary blob.
#include <cstdio>

#include "shell/pipl.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <out-file>\n", argc > 0 ? argv[0] : "quorvandile_pipl_tool");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const auto bytes = qv::PiplBytes();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "%s: could not write the resource\n", argv[1]);
    return 1;
  }
  return 0;
}
