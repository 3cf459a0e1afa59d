"""Our .h5 and .npy files as h5py and numpy see them: layout, types,
compression without plugins, values equal to kvraw decode, ms_to_idx.

usage: python3 convert_readback.py KVRAW
Exit 0 when all holds, 1 on a mismatch, 77 (skipped) when h5py or numpy is
missing."""

import os
import subprocess
import sys
import tempfile

try:
    import h5py
    import numpy as np
except ImportError as e:
    print(f"SKIP: {e} (install python3-h5py and python3-numpy)")
    sys.exit(77)

KVRAW = sys.argv[1]
START_US = (1 << 24) + 23456  # past one loop of the 24-bit clock


def kvraw(*args):
    return subprocess.run([KVRAW, *args], check=True, capture_output=True, text=True).stdout


def main():
    with tempfile.TemporaryDirectory(prefix="velqora_convert_py_") as d:
        env_cache = os.path.join(d, "cache")
        os.environ["XDG_CACHE_HOME"] = env_cache
        src = os.path.join(d, "g.raw")
        kvraw("generate", src, "400000", "300000", "--trigger-period", "5000",
              "--start", str(START_US), "--seed", "3")
        events, triggers = [], []
        for line in kvraw("decode", src, "--triggers").splitlines():
            f = line.split(",")
            if f[0] == "T":
                triggers.append((int(f[1]), int(f[2]), int(f[3])))
            else:
                events.append(tuple(int(v) for v in f))
        ev = np.array(events, dtype=np.int64).reshape(-1, 4)  # t, x, y, p
        tr = np.array(triggers, dtype=np.int64).reshape(-1, 3)  # t, id, p
        assert len(ev) > 100000 and len(tr) > 50, (len(ev), len(tr))

        h5 = os.path.join(d, "g.h5")
        kvraw("convert", src, h5)
        with h5py.File(h5, "r") as f:
            e = f["events"]
            assert e["x"].dtype == np.uint16 and e["y"].dtype == np.uint16
            assert e["p"].dtype == np.uint8 and e["t"].dtype == np.int64
            assert e["t"].chunks is not None and e["t"].compression == "gzip"
            offset = int(f["t_offset"][()])
            assert offset % 1000 == 0 and offset <= ev[0, 0]
            t = e["t"][:]
            assert np.array_equal(t + offset, ev[:, 0])
            assert np.array_equal(e["x"][:], ev[:, 1])
            assert np.array_equal(e["y"][:], ev[:, 2])
            assert np.array_equal(e["p"][:], ev[:, 3])
            ms = f["ms_to_idx"][:]
            assert ms.dtype == np.uint64
            want = np.searchsorted(t, np.arange(t[-1] // 1000 + 1) * 1000, side="left")
            assert np.array_equal(ms, want)
            g = f["triggers"]
            assert np.array_equal(g["t"][:] + offset, tr[:, 0])
            assert np.array_equal(g["id"][:], tr[:, 1])
            assert np.array_equal(g["p"][:], tr[:, 2])
            a = f.attrs
            assert int(a["width"]) == 1280 and int(a["height"]) == 720, dict(a)
            assert a["serial_number"] == "KVSIM0001", a["serial_number"]
            assert a["source_format"] == "evt3"
            info = dict(l.split(": ", 1) for l in kvraw("info", src).splitlines())
            assert int(a["source_start_timestamp"]) == int(info["dvs_start_timestamp"]) > START_US - 1

        npy = os.path.join(d, "g.npy")
        kvraw("convert", src, npy)
        arr = np.load(npy)
        assert arr.dtype.itemsize == 16 and arr.dtype.names == ("x", "y", "p", "t")
        assert [arr.dtype[n].str for n in arr.dtype.names] == ["<u2", "<u2", "<i2", "<i8"]
        assert arr.shape == (len(ev),)
        assert np.array_equal(arr["t"], ev[:, 0]) and np.array_equal(arr["x"], ev[:, 1])
        assert np.array_equal(arr["y"], ev[:, 2]) and np.array_equal(arr["p"], ev[:, 3])
        trig = np.load(os.path.join(d, "g.triggers.npy"))
        assert [trig.dtype[n].str for n in ("t", "id", "p")] == ["<i8", "<i2", "<i2"]
        assert np.array_equal(trig["t"], tr[:, 0]) and np.array_equal(trig["id"], tr[:, 1])
        assert np.array_equal(trig["p"], tr[:, 2])

        # A file numpy itself wrote converts to RAW and back unchanged.
        mine = os.path.join(d, "numpy.npy")
        np.save(mine, arr[:1000])
        back = os.path.join(d, "back.raw")
        kvraw("convert", mine, back)
        lines = kvraw("decode", back).splitlines()
        assert lines == [",".join(map(str, r)) for r in ev[:1000]]
    print("h5py and numpy read the converted files as kvraw decodes them")
    return 0


if __name__ == "__main__":
    sys.exit(main())
