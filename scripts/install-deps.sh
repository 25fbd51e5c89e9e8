#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing,
# so running it again costs nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools
  # libwebp, to read WebP colour as stored (OpenImageIO's reader premultiplies it).
  libwebp-dev
  libcli11-dev libfmt-dev nlohmann-json3-dev
  # zlib, for the tests that make malformed PNG files.
  zlib1g-dev
  # libwebp, for the tool to write lossless WebP files exactly (OpenImageIO's
  # writer passes every picture through YUV, lossless ones too).
  libwebp-dev
  clang-14 libclang-rt-14-dev llvm-14
  # The Windows build: MinGW-w64 cross compilers, Wine to run its tests, and
  # pefile (for /usr/bin/python3) to inspect the finished .aex.
  g++-mingw-w64-x86-64 binutils-mingw-w64 wine64 wine python3-pefile
  # The plug-in's Windows installer (makensis).
  nsis
  # The power function's table generator and verification program (MPFR).
  libmpfr-dev
  # The Debian package: its runtime dependencies found by dpkg-shlibdeps (with
  # file, which CPack runs to find the binaries); groff to check the manual page.
  dpkg-dev file groff-base
  # render --slurm's tests: a one-node Slurm cluster (tests/cli/slurm-cluster.sh)
  # and the clients the tool calls (sbatch, sinfo, squeue); ss finds it free ports.
  munge slurmctld slurmd slurm-client iproute2
  # The tool's tests that watch its system calls (the directory synced after a rename).
  strace
  # Photographs with embedded ICC profiles and camera metadata, as users bring
  # them, for the tool's tests of frames in flight (its data folder).
  python3-skimage
  # The tool's tests that read files as users make them (ImageMagick's convert).
  imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
