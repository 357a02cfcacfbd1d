#!/usr/bin/python3
"""Writes the Zarr test images under tests/data/zarr (run once; the output is committed).

    /usr/bin/python3 scripts/make-zarr-testdata.py tests/data/zarr

Every sample is a formula of its coordinates, so that the tests check against the formula.
With d0 = x, d1 = y, d2, d3, d4 the coordinates in the viewer's order (the array's axes
reversed):

    base = d0 + 50*d1 + 2000*d2 + 9000*d3 + 30000*d4
    uint8:   base % 251
    uint16:  base % 65536          (also ">u2")
    int16:   base % 60000 - 30000
    float32: base * 0.25 - 100

Pyramid level k of the OME image holds level 0's samples at (x * 2^k, y * 2^k).
Chunks the tests expect as fill_value or as missing planes are removed or damaged below.
"""
import json
import os
import shutil
import sys

import numpy as np
import zarr
import numcodecs
import dask.array as da

out = sys.argv[1] if len(sys.argv) > 1 else "tests/data/zarr"
WEIGHTS = [1, 50, 2000, 9000, 30000]


def base(shape):
    """Base values for a C-order array of `shape` (last axis = x)."""
    n = len(shape)
    idx = np.indices(shape, dtype=np.int64)
    v = np.zeros(shape, dtype=np.int64)
    for axis in range(n):
        v += idx[axis] * WEIGHTS[n - 1 - axis]
    return v


def values(shape, dtype):
    v = base(shape)
    kind = np.dtype(dtype).newbyteorder("=")
    if kind == np.uint8:
        return (v % 251).astype(dtype)
    if kind == np.uint16:
        return (v % 65536).astype(dtype)
    if kind == np.int16:
        return (v % 60000 - 30000).astype(dtype)
    if kind == np.float32:
        return (v * 0.25 - 100).astype(dtype)
    raise ValueError(dtype)


def array(path, shape, chunks, dtype, compressor, sep=".", fill=0):
    z = zarr.open_array(os.path.join(out, path), mode="w", shape=shape, chunks=chunks, dtype=dtype,
                        compressor=compressor, fill_value=fill, dimension_separator=sep,
                        write_empty_chunks=True)
    z[...] = values(shape, dtype)
    return z


# Starts afresh, keeping the folder's README.
os.makedirs(out, exist_ok=True)
for entry in os.listdir(out):
    if entry != "README.md":
        shutil.rmtree(os.path.join(out, entry))

# OME-Zarr, 5 dimensions (t, c, z, y, x), 3 levels, blosc/lz4, "/" separator, fill_value 7.
ome = os.path.join(out, "ome5d.zarr")
root = zarr.open_group(ome, mode="w")
shape0 = (2, 3, 4, 40, 50)
full = values(shape0, "uint16")
lz4 = numcodecs.Blosc(cname="lz4", clevel=5, shuffle=numcodecs.Blosc.SHUFFLE)
datasets = []
for k in range(3):
    level = full[..., :: 2**k, :: 2**k]
    z = root.create_dataset(str(k), shape=level.shape, chunks=(1, 1, 2, 16, 16), dtype="uint16", compressor=lz4,
                            fill_value=7, dimension_separator="/", write_empty_chunks=True)
    z[...] = level
    datasets.append({"path": str(k), "coordinateTransformations": [
        {"type": "scale", "scale": [2.0, 1.0, 0.5, 0.25 * 2**k, 0.125 * 2**k]}]})
root.attrs["multiscales"] = [{
    "version": "0.4", "name": "ome5d",
    "axes": [{"name": "t", "type": "time", "unit": "second"},
             {"name": "c", "type": "channel"},
             {"name": "z", "type": "space", "unit": "micrometer"},
             {"name": "y", "type": "space", "unit": "micrometer"},
             {"name": "x", "type": "space", "unit": "nanometer"}],
    "datasets": datasets,
}]
root.attrs["omero"] = {"channels": [
    {"label": "DAPI", "color": "0000FF", "window": {"start": 10, "end": 2000, "min": 0, "max": 65535}},
    {"label": "GFP", "color": "00FF00", "window": {"start": 0, "end": 30000, "min": 0, "max": 65535}},
    {"label": "mCherry", "color": "FF0000", "window": {"start": 5, "end": 500, "min": 0, "max": 65535}},
]}
# Missing chunk: level 0, t=1, c=2, z 2..3, y 16..31, x 0..15 reads as fill_value 7.
os.remove(os.path.join(ome, "0", "1", "2", "1", "1", "0"))
# Corrupt chunk: level 0, t=0, c=1, z 0..1, y 0..15, x 16..31 -> planes (t0, c1, z0) and (t0, c1, z1) missing.
with open(os.path.join(ome, "0", "0", "1", "0", "0", "1"), "r+b") as f:
    f.seek(16)
    f.write(b"\xff" * 40)

# Plain Zarr v2 arrays: each dtype, compressor and separator.
array("u8_none.zarr", (30, 40), (16, 16), "uint8", None)
array("i16_zlib.zarr", (3, 30, 40), (2, 16, 16), "int16", numcodecs.Zlib(level=6))
array("f32_gzip.zarr", (3, 30, 40), (1, 16, 32), "float32", numcodecs.GZip(level=6), sep="/")
array("be_u2_zstd.zarr", (2, 3, 30, 40), (1, 2, 16, 16), ">u2", numcodecs.Zstd(level=3), sep="/")
array("u16_blosc_zstd.zarr", (2, 30, 40), (1, 30, 40), "uint16",
      numcodecs.Blosc(cname="zstd", clevel=3, shuffle=numcodecs.Blosc.BITSHUFFLE))
# Fortran-order arrays are refused.
zarr.open_array(os.path.join(out, "bad_order_f.zarr"), mode="w", shape=(4, 4), chunks=(4, 4), dtype="uint8",
                order="F", compressor=None)[...] = 1

# Written by Dask, as a cluster job would.
d = da.from_array(values((4, 30, 40), "uint16"), chunks=(1, 15, 20))
d.to_zarr(os.path.join(out, "dask_u16.zarr"), overwrite=True, compressor=numcodecs.Blosc(cname="lz4"))

# Bad metadata: each folder must be refused with a reason.
def bad(name, zarray, zattrs=None):
    p = os.path.join(out, name)
    os.makedirs(p)
    with open(os.path.join(p, ".zarray"), "w") as f:
        f.write(zarray if isinstance(zarray, str) else json.dumps(zarray))
    if zattrs is not None:
        with open(os.path.join(p, ".zattrs"), "w") as f:
            f.write(json.dumps(zattrs))


good = {"zarr_format": 2, "shape": [4, 4], "chunks": [4, 4], "dtype": "<u2", "compressor": None,
        "fill_value": 0, "order": "C", "filters": None}
bad("bad_json.zarr", '{"zarr_format": 2, "shape": [4, 4')
bad("bad_dtype.zarr", dict(good, dtype="<c8"))
bad("bad_shape.zarr", dict(good, shape=[4, -4]))
bad("bad_chunks.zarr", dict(good, chunks=[0, 4]))
bad("bad_rank.zarr", dict(good, chunks=[4]))
bad("bad_huge.zarr", dict(good, shape=[200000, 200000]))
bad("bad_tiny_chunks.zarr", dict(good, shape=[4096, 4096], chunks=[8, 8]))
bad("bad_extent.zarr", dict(good, shape=[4000000000, 4]))
bad("bad_compressor.zarr", dict(good, compressor={"id": "lzma"}))
bad("bad_format.zarr", dict(good, zarr_format=3))
bad("bad_1d.zarr", dict(good, shape=[4], chunks=[4]))
os.makedirs(os.path.join(out, "bad_axes.zarr", "0"))
with open(os.path.join(out, "bad_axes.zarr", ".zgroup"), "w") as f:
    json.dump({"zarr_format": 2}, f)
with open(os.path.join(out, "bad_axes.zarr", ".zattrs"), "w") as f:
    json.dump({"multiscales": [{"version": "0.4", "axes": [{"name": "x"}],
                                "datasets": [{"path": "0"}]}]}, f)
with open(os.path.join(out, "bad_axes.zarr", "0", ".zarray"), "w") as f:
    json.dump(good, f)
