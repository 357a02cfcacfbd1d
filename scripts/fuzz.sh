#!/usr/bin/env bash
# Builds the Korvel and reader fuzz targets with clang (ASan + UBSan + libFuzzer) and runs each for
# FUZZ_SECONDS seconds (default 600; FUZZ_TARGETS="ics zarr" picks targets) on a corpus seeded from the test data in tests/data.
# Exits non-zero as soon as a target reports a crash, leak, hang or sanitizer finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-600}
build=${FUZZ_BUILD:-$root/build-fuzz}
corpus=${FUZZ_CORPUS:-$root/fuzz-corpus}
testdata=${LUMORA_TESTDATA:-$root/tests/data}

CC=${CC_FUZZ:-clang} CXX=${CXX_FUZZ:-clang++} cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=${FUZZ_TARGETS:-bmp pgm tiff tiff_reader ics zarr roi roiset geojson}
cmake --build "$build" -j 2 --target $(printf 'fuzz_%s ' $targets) >/dev/null

seed() {
  local dir=$corpus/$1
  shift
  mkdir -p "$dir"
  for pattern in "$@"; do
    for f in $testdata/$pattern; do
      [ -f "$f" ] && cp -n "$f" "$dir/$(echo "${f#"$testdata"/}" | tr / _)"
    done
  done
  # Small hand-made inputs, so that every target starts with something even without test data.
  printf 'P5\n2 2\n255\n\001\002\003\004' >"$dir/tiny-p5.pgm"
  printf 'P5\n# c\n1 1\n65535\n\022\064' >"$dir/tiny-p5-16.pgm"
  printf 'P2\n2 1\n15\n7 15\n' >"$dir/tiny-p2.pgm"
  printf 'P3\n1 1\n255\n1 2 3\n' >"$dir/tiny-p3.ppm"
}
seed bmp 'bmpsuite/*/*.bmp' 'tiff/*.pgm' 'tiff/*.ppm'
seed pgm 'tiff/*.pgm'
seed tiff 'tiff/*.tiff'
seed tiff_reader 'tiff/*.tiff' 'tiff-other/*.tif' 'imagej/*.tif'
# ICS inputs: two bytes of data-file length (in 4-byte units), then a header; variants of the
# sample header cover the sample types, byte orders and compression.
mkdir -p "$corpus/ics"
ics_header=$testdata/ics/testim.ics
if [ -f "$ics_header" ]; then
  { printf '\307\107'; cat "$ics_header"; } >"$corpus/ics/testim"
  { printf '\307\107'; sed 's/byte_order\t1\t2/byte_order\t2\t1/' "$ics_header"; } >"$corpus/ics/big-endian"
  { printf '\377\377'; sed 's/sizes\t16/sizes\t32/; s/format\tinteger/format\treal/' "$ics_header"; } >"$corpus/ics/float"
  { printf '\377\377'; sed 's/sign\tunsigned/sign\tsigned/; s/sizes\t16/sizes\t64/' "$ics_header"; } >"$corpus/ics/int64"
  { printf '\001\000'; sed 's/compression\tuncompressed/compression\tgzip/' "$ics_header"; } >"$corpus/ics/gzip"
fi

# Zarr inputs: an array's .zarray, a NUL byte, then its first chunk.
mkdir -p "$corpus/zarr"
for zarray in "$testdata"/zarr/*.zarr/.zarray "$testdata"/zarr/*.zarr/*/.zarray; do
  [ -f "$zarray" ] || continue
  dir=$(dirname "$zarray")
  chunk=$(find "$dir" -maxdepth 6 -type f ! -name '.z*' | sort | head -1)
  name=$(echo "${dir#"$testdata"/zarr/}" | tr / _)
  { cat "$zarray"; printf '\000'; if [ -n "$chunk" ]; then cat "$chunk"; fi; } >"$corpus/zarr/$name"
done
if [ -f "$testdata/zarr/ome5d.zarr/.zattrs" ]; then cp "$testdata/zarr/ome5d.zarr/.zattrs" "$corpus/zarr/ome5d-attrs"; fi

# Region files: ImageJ's selection records and ROI sets, and GeoJSON features.
seed roiset 'roi/*.zip'
seed roi 'roi/*.roi'
mkdir -p "$corpus/roi"
if command -v unzip >/dev/null && [ -f "$testdata/roi/RoiSet.zip" ]; then
  unzip -o -q "$testdata/roi/RoiSet.zip" -d "$corpus/roi"
fi
mkdir -p "$corpus/geojson"
printf '%s' '{"type":"FeatureCollection","features":[{"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,0]]]},"properties":{"name":"a","kind":"ellipse","color":[1,2,3],"position":[2,"all"]}},{"type":"Feature","geometry":{"type":"MultiPoint","coordinates":[[1,2],[3,4]]}}]}' >"$corpus/geojson/collection.geojson"
printf '%s' '[{"kind":"polyline","name":"p","color":"#ff00ff00","points":[[1,2],[3,4],[5,1]],"position":["all",3]}]' >"$corpus/geojson/state.json"

mkdir -p "$corpus/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# Known leaks of third-party libraries on malformed input (see the file).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp:print_suppressions=0}
status=0
for target in $targets; do
  echo "fuzz_$target: ${seconds}s"
  log=$corpus/fuzz_$target.log
  if ! "$build/fuzz_$target" "$corpus/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="$corpus/artifacts/${target}-" >"$log" 2>&1; then
    echo "fuzz_$target found a problem; see $log and $corpus/artifacts/"
    tail -40 "$log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$log" || true
done
exit $status
