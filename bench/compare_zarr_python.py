#!/usr/bin/python3
"""lumora-render against zarr-python (v2) on an OME-Zarr pyramid read from a folder, each in a
fresh process: the three views at one level of the pyramid (the coarsest by default, what a
fitted window shows), and the full-resolution XZ and YZ views.

The pyramid is written here with zarr-python (unless it exists): 2048 x 2048 x Z uint16,
levels 2048, 1024 and 512 in x and y (z kept), blosc lz4 with byte shuffle, chunks of
1 x 512 x 512 under "/"-nested keys, NGFF 0.4 multiscales metadata; smooth structure plus
noise, so that it compresses about as real data does. Runs alternate which side goes first;
timing runs are left alone, the peak private memory (Private_Dirty) comes from separate runs
whose /proc/PID/smaps_rollup is read every 5 ms.

    /usr/bin/python3 bench/compare_zarr_python.py build/tools/lumora-render --depth 64 --runs 5

Prints, per case, each side's median time, the median of its per-run ratios to
zarr-python's time, and its median peak private memory. --baseline times a second
lumora-render (an older build) in the same runs.

--server serves the pyramid's folder from a loopback `python3 -m http.server` and times
lumora-render on its URL against plain GETs, four at a time, of the same keys (the metadata
and every chunk the case's views hold; nothing decoded) in a fresh process:

    /usr/bin/python3 bench/compare_zarr_python.py build/tools/lumora-render --depth 64 --server
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import time

import numpy as np

sys.dont_write_bytecode = True  # no cache files beside the scripts
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_ics_numpy import compare, report  # noqa: E402

SIZE, CHUNK, LEVELS = 2048, 512, 3

PEER_CHILD = r"""
import sys
import zarr
path, level, case = sys.argv[1], sys.argv[2], sys.argv[3]
a = zarr.open(path, mode='r')[level]
Z, H, W = a.shape
if case == 'views':
    xy = a[Z // 2]
    xz = a[:, H // 2, :]
    yz = a[:, :, W // 2]
elif case == 'xz':
    xz = a[:, H // 2, :]
else:
    yz = a[:, :, W // 2]
"""


# The keys a case's views need, fetched as they are stored: the hierarchy's metadata, then
# the chunks holding the XY plane through the middle, the middle row and the middle column of
# every plane (each once), four requests in flight.
GETS_CHILD = r"""
import sys
import urllib.request
from concurrent.futures import ThreadPoolExecutor
base, level, case, depth, size, chunk = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
n = size >> int(level)
tiles = (n + chunk - 1) // chunk
keys = set()
if case == 'views':
    keys |= {(depth // 2, y, x) for y in range(tiles) for x in range(tiles)}
if case in ('views', 'xz'):
    keys |= {(z, (n // 2) // chunk, x) for z in range(depth) for x in range(tiles)}
if case in ('views', 'yz'):
    keys |= {(z, y, (n // 2) // chunk) for z in range(depth) for y in range(tiles)}
urls = [base + k for k in ('.zgroup', '.zattrs', level + '/.zarray')]
urls += [base + '%s/%d/%d/%d' % ((level,) + k) for k in sorted(keys)]
def get(url):
    with urllib.request.urlopen(url) as r:
        return len(r.read())
with ThreadPoolExecutor(4) as pool:
    total = sum(pool.map(get, urls))
assert total > 0
"""


def serve(folder):
    """A loopback `python3 -m http.server` of `folder`, and its port, once it answers."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
                               "--directory", folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return server, port
        except OSError:
            time.sleep(0.05)
    server.kill()
    sys.exit("the http.server did not start")


def write_pyramid(path, depth):
    import zarr
    from numcodecs import Blosc
    if os.path.exists(os.path.join(path, ".zattrs")):
        return
    root = zarr.open_group(zarr.DirectoryStore(path, dimension_separator="/"), mode="w")
    compressor = Blosc(cname="lz4", clevel=5, shuffle=Blosc.SHUFFLE)
    datasets = []
    rng = np.random.default_rng(7)
    for level in range(LEVELS):
        n = SIZE >> level
        a = root.create_dataset(str(level), shape=(depth, n, n), chunks=(1, CHUNK, CHUNK), dtype="<u2",
                                compressor=compressor, dimension_separator="/")
        yy, xx = np.meshgrid(np.arange(n) << level, np.arange(n) << level, indexing="ij")
        base = (1000 + (xx ^ yy) // 4).astype(np.uint16)
        for z in range(depth):
            a[z] = base + np.uint16(z * 10) + rng.integers(0, 64, size=(n, n), dtype=np.uint16)
        datasets.append({"path": str(level), "coordinateTransformations": [
            {"type": "scale", "scale": [1.0, float(1 << level), float(1 << level)]}]})
    root.attrs["multiscales"] = [{"version": "0.4", "name": "pyramid", "datasets": datasets,
                                  "axes": [{"name": "z", "type": "space"}, {"name": "y", "type": "space"},
                                           {"name": "x", "type": "space"}]}]


def warm(path):
    for folder, _, files in os.walk(path):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                f.read()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("render", help="path of lumora-render")
    ap.add_argument("--baseline", help="another lumora-render to time in the same runs (an older build)")
    ap.add_argument("--depth", type=int, default=64)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--memory-runs", type=int, default=3)
    ap.add_argument("--level", type=int, default=LEVELS - 1, help="the level of the three views")
    ap.add_argument("--dir", default="/tmp/lumora-bench-peers/pyramid.zarr")
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--server", action="store_true", help="read from a loopback http.server against plain GETs")
    args = ap.parse_args()

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = os.path.join(os.path.dirname(args.dir), "views.bmp")
    server = None
    try:
        write_pyramid(args.dir, args.depth)
        warm(args.dir)
        source, peer, peer_name = args.dir, [sys.executable, "-c", PEER_CHILD, args.dir], "zarr-python"
        if args.server:
            server, port = serve(os.path.dirname(os.path.abspath(args.dir)))
            source = "http://127.0.0.1:%d/%s/" % (port, os.path.basename(os.path.abspath(args.dir)))
            peer, peer_name = [sys.executable, "-c", GETS_CHILD, source], "GETs"
        cases = [("views level %d" % args.level, ["--view", "all", "--level", str(args.level)], [str(args.level), "views"]),
                 ("XZ level 0", ["--view", "xz", "--level", "0"], ["0", "xz"]),
                 ("YZ level 0", ["--view", "yz", "--level", "0"], ["0", "yz"])]
        for name, ours_args, peer_args in cases:
            renders = [args.render] + ([args.baseline] if args.baseline else [])
            commands = [[r, source, "-o", out, "--size", "1200", "900"] + ours_args for r in renders]
            extra = [str(args.depth), str(SIZE), str(CHUNK)] if args.server else []
            commands.append(peer + peer_args + extra)
            names = ["lumora"] + (["baseline"] if args.baseline else []) + [peer_name]
            report("%-14s" % name, names, compare(commands, env, args.runs, args.memory_runs))
    finally:
        if server:
            server.kill()
            server.wait()
        if not args.keep:
            shutil.rmtree(args.dir, ignore_errors=True)


if __name__ == "__main__":
    main()
