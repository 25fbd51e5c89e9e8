#!/usr/bin/env bash
# Sequences through the tool: frames per second with every core's frames in
# flight (the default) against one frame at a time (--jobs 1), and against
# oiiotool copying the same sequence, in the same run; peak resident memory
# of each. Not a test: run it on a quiet machine and read the table.
#
#   bench/sequence/bench_sequences.sh [TOOL]   (default build/release/cli/quorvandile)
#   FRAMES=60 SIZES="1920x1080 3840x2160" FORMATS="png tif exr" RUNS=3
set -euo pipefail
cd "$(dirname "$0")/../.."

tool=$(realpath "${1:-build/release/cli/quorvandile}")
frames=${FRAMES:-60}
runs=${RUNS:-3}
read -r -a sizes <<< "${SIZES:-1920x1080 3840x2160}"
read -r -a formats <<< "${FORMATS:-png tif exr}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The sample type each format is benchmarked in.
declare -A types=([png]=uint8 [tif]=uint16 [exr]=half)

# "SECONDS PEAK_KIB" of one run of the command, as /usr/bin/time counts them.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  cat "$work/time"
}

# The median seconds and the largest peak over $runs runs.
median_of_runs() {
  local times=() peak=0 t m
  for ((r = 0; r < runs; ++r)); do
    read -r t m < <(measure "$@")
    times+=("$t")
    (( m > peak )) && peak=$m
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p")" "$peak"
}

echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores"
printf '%-10s %-4s %6s | %8s %8s %8s | %7s %7s | %9s %9s %9s\n' size format frames \
  "default" "jobs 1" "oiiotool" "x jobs1" "x oiio" "MiB dflt" "MiB job1" "MiB oiio"
for size in "${sizes[@]}"; do
  for format in "${formats[@]}"; do
    dir="$work/$size-$format"
    mkdir -p "$dir"
    # A picture-like sequence: soft gradients under a little grain, new grain each frame.
    for ((f = 1; f <= frames; ++f)); do
      oiiotool --pattern fill:topleft=0.9,0.6,0.3,1:topright=0.2,0.5,0.8,1:bottomleft=0.1,0.1,0.2,1:bottomright=0.8,0.8,0.7,1 \
        "$size" 4 --pattern "noise:type=gaussian:mean=0:stddev=0.02:seed=$f" "$size" 4 --add \
        -d "${types[$format]}" -o "$(printf '%s/in.%04d.%s' "$dir" "$f" "$format")"
    done
    read -r t_default m_default < <(median_of_runs "$tool" render "$dir/in.####.$format" -o "$dir/out.####.$format" \
      --frames "1-$frames" -q --set "Shadows Opacity=100")
    read -r t_one m_one < <(median_of_runs "$tool" render "$dir/in.####.$format" -o "$dir/out.####.$format" \
      --frames "1-$frames" -q --set "Shadows Opacity=100" --jobs 1)
    read -r t_oiio m_oiio < <(median_of_runs oiiotool --frames "1-$frames" "$dir/in.#.$format" -o "$dir/copy.#.$format")
    awk -v size="$size" -v format="$format" -v n="$frames" -v td="$t_default" -v t1="$t_one" -v to="$t_oiio" \
      -v md="$m_default" -v m1="$m_one" -v mo="$m_oiio" 'BEGIN {
        printf "%-10s %-4s %6d | %8.2f %8.2f %8.2f | %7.2f %7.2f | %9.0f %9.0f %9.0f\n", size, format, n,
          n / td, n / t1, n / to, t1 / td, to / td, md / 1024, m1 / 1024, mo / 1024 }'
    rm -rf "$dir"
  done
done
echo "(frames per second, medians of $runs runs; x: speed against; MiB: largest peak resident size)"
