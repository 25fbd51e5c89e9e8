# libwebp, as PkgConfig::WEBP for the targets of the including directory: the
# tool reads WebP colour through it as the file stores it, and codes lossless
# WebP with it.
include_guard(DIRECTORY)

find_package(PkgConfig REQUIRED)
pkg_check_modules(WEBP IMPORTED_TARGET libwebp)
if(NOT WEBP_FOUND)
  message(FATAL_ERROR
    "libwebp was not found: the command-line tool reads WebP files' own colour with it. "
    "Install it with scripts/install-deps.sh (Debian package libwebp-dev).")
endif()
