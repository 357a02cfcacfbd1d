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
targets=${FUZZ_TARGETS:-bmp pgm tiff tiff_reader tiff_description ics zarr zarr_v3 roi roiset geojson}
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
# Description inputs: a selector byte (0 OME-XML, 1 ImageJ, 2 series names), then the text.
mkdir -p "$corpus/tiff_description"
printf '\000<OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06"><Image><Pixels DimensionOrder="XYZCT" SizeX="4" SizeY="4" SizeZ="3" SizeC="2" SizeT="67108864" PhysicalSizeX="0.5" PhysicalSizeXUnit="µm"><Channel Name="a"/><TiffData IFD="0" PlaneCount="6"/></Pixels></Image></OME>' >"$corpus/tiff_description/ome"
printf '\001ImageJ=1.54f\nimages=24\nchannels=2\nslices=3\nframes=4\nhyperstack=true\nunit=micron\nspacing=0.3\n' >"$corpus/tiff_description/imagej"
# Tiny OME and ImageJ files whose extents multiply past 64 bits (one 2 x 2 page each).
python3 - "$corpus/tiff_reader" <<'PY' || true
import struct, sys
def tiff(path, description):
    text = description.encode() + b"\0"
    tags = [(256, 3, 1, 2), (257, 3, 1, 2), (258, 3, 1, 16), (259, 3, 1, 1), (262, 3, 1, 1), (270, 2, len(text), 142),
            (273, 4, 1, 134), (277, 3, 1, 1), (278, 3, 1, 2), (279, 4, 1, 8)]
    out = b"II" + struct.pack("<HI", 42, 8) + struct.pack("<H", len(tags))
    out += b"".join(struct.pack("<HHII", *t) for t in tags) + struct.pack("<I", 0)
    open(path, "wb").write(out + struct.pack("<4H", 1, 2, 3, 4) + text)
big = 1 << 26
tiff(sys.argv[1] + "/ome-overflow.tif",
     '<OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06"><Image ID="Image:0"><Pixels ID="Pixels:0" '
     'DimensionOrder="XYZCT" Type="uint16" SizeX="2" SizeY="2" SizeZ="%d" SizeC="%d" SizeT="%d"/></Image></OME>' % (big, big, big))
huge = 1 << 30
tiff(sys.argv[1] + "/imagej-overflow.tif", "ImageJ=1.54f\nimages=2\nchannels=%d\nslices=%d\nframes=%d\n" % (huge, huge, huge))
PY
printf '\002cell_z012_t3.tif\000cell_z104_t12.TIFF' >"$corpus/tiff_description/series"
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
# Zarr v3 inputs: an array's zarr.json, a NUL byte, then its first chunk (or shard), made here:
# plain, transposed big-endian with a checksum, gzip, zstd and sharded with the index at either end.
mkdir -p "$corpus/zarr_v3"
python3 - "$corpus/zarr_v3" <<'PY'
import gzip, json, os, struct, sys
out = sys.argv[1]
def crc32c(b):
    c = 0xFFFFFFFF
    for x in b:
        c ^= x
        for _ in range(8):
            c = (c >> 1) ^ (0x82F63B78 & -(c & 1))
    return c ^ 0xFFFFFFFF
def meta(shape, chunk, codecs, dtype="uint16", fill=0, keys=None):
    m = {"zarr_format": 3, "node_type": "array", "shape": shape, "data_type": dtype,
         "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": chunk}}, "fill_value": fill, "codecs": codecs}
    if keys:
        m["chunk_key_encoding"] = keys
    return json.dumps(m).encode()
raw = struct.pack("<12H", *range(12))
le = {"name": "bytes", "configuration": {"endian": "little"}}
seeds = {
    "plain": meta([2, 3], [2, 3], [le]) + b"\0" + raw,
    "big-transposed-crc": meta([2, 3], [2, 3], [{"name": "transpose", "configuration": {"order": [1, 0]}},
        {"name": "bytes", "configuration": {"endian": "big"}}, {"name": "crc32c"}], "int16", "NaN",
        {"name": "v2", "configuration": {"separator": "."}}) + b"\0" + struct.pack(">6h", *range(6)) + struct.pack("<I", crc32c(struct.pack(">6h", *range(6)))),
    "gzip-float": meta([2, 3], [2, 3], [le, {"name": "gzip", "configuration": {"level": 1}}], "float32", "Infinity") + b"\0" + gzip.compress(struct.pack("<6f", *range(6))),
}
try:
    import zstandard
    seeds["zstd"] = meta([2, 3], [2, 3], [le, {"name": "zstd", "configuration": {"level": 0, "checksum": False}}]) + b"\0" + zstandard.compress(raw[:12])
except ImportError:
    pass
for start in (False, True):
    inner = [struct.pack("<4H", *range(4 * k, 4 * k + 4)) for k in range(4)]
    index_size = 4 * 16 + 4
    offset = index_size if start else 0
    index = b""
    for k, c in enumerate(inner):
        if k == 2:
            index += struct.pack("<QQ", 2**64 - 1, 2**64 - 1)
            continue
        index += struct.pack("<QQ", offset, len(c))
        offset += len(c)
    index += struct.pack("<I", crc32c(index))
    body = b"".join(c for k, c in enumerate(inner) if k != 2)
    shard = index + body if start else body + index
    codecs = [{"name": "sharding_indexed", "configuration": {"chunk_shape": [2, 2], "codecs": [le],
               "index_codecs": [le, {"name": "crc32c"}], "index_location": "start" if start else "end"}}]
    seeds["sharded-" + ("start" if start else "end")] = meta([4, 4], [4, 4], codecs) + b"\0" + shard
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
PY

mkdir -p "$corpus/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# Known leaks of third-party libraries on malformed input (see the file).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp:print_suppressions=0}
status=0
for target in $targets; do
  echo "fuzz_$target: ${seconds}s"
  log=$corpus/fuzz_$target.log
  # Whole files (TIFF page tables, ICS headers with their data, Zarr chunks) up to 1 MiB.
  case $target in tiff_reader|ics|zarr|tiff_description) max_len=-max_len=1048576 ;; *) max_len= ;; esac
  if ! "$build/fuzz_$target" "$corpus/$target" $max_len -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="$corpus/artifacts/${target}-" >"$log" 2>&1; then
    echo "fuzz_$target found a problem; see $log and $corpus/artifacts/"
    tail -40 "$log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$log" || true
done
exit $status
