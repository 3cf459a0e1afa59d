"""Recordings made by kvraw for the velqora tests, and kvraw's own view of
them (decode, info) to compare the module against; kvcam for the cameras."""

import io
import os
import subprocess

import numpy as np
import pytest

KVRAW = os.environ.get("VELQORA_KVRAW", "")
KVCAM = os.environ.get("VELQORA_KVCAM", "")

# Crosses 2^24 us, where the EVT 3.0 time counter loops.
LOOP_START_US = 16_000_000


def kvraw(*args):
    if not KVRAW:
        pytest.fail("VELQORA_KVRAW names no kvraw (run the tests through ctest)")
    done = subprocess.run([KVRAW, *map(str, args)], capture_output=True, check=False)
    if done.returncode != 0:
        pytest.fail(f"kvraw {' '.join(map(str, args))}: {done.stderr.decode(errors='replace')}")
    return done.stdout


def kvraw_status(*args):
    """kvraw's exit status and output, whatever the status."""
    if not KVRAW:
        pytest.fail("VELQORA_KVRAW names no kvraw (run the tests through ctest)")
    done = subprocess.run([KVRAW, *map(str, args)], capture_output=True, check=False)
    return done.returncode, done.stdout.decode(errors="replace")


def kvcam(*args):
    if not KVCAM:
        pytest.fail("VELQORA_KVCAM names no kvcam (run the tests through ctest)")
    done = subprocess.run([KVCAM, *map(str, args)], capture_output=True, check=False)
    if done.returncode != 0:
        pytest.fail(f"kvcam {' '.join(map(str, args))}: {done.stderr.decode(errors='replace')}")
    return done.stdout.decode()


def generate(path, duration_us, rate, *extra):
    kvraw("generate", path, duration_us, rate, *extra)
    return path


def decoded_events(path, t0=None, t1=None):
    """kvraw decode's events as an (n, 4) int64 array of t, x, y, p."""
    args = ["decode", path]
    if t0 is not None:
        args += ["--from", t0]
    if t1 is not None:
        args += ["--to", t1]
    out = kvraw(*args)
    if not out:
        return np.zeros((0, 4), dtype=np.int64)
    return np.loadtxt(io.BytesIO(out), delimiter=",", dtype=np.int64, ndmin=2)


def decoded_triggers(path, t0=None, t1=None):
    """kvraw decode's trigger lines as an (n, 3) int64 array of t, id, value."""
    args = ["decode", path, "--triggers"]
    if t0 is not None:
        args += ["--from", t0]
    if t1 is not None:
        args += ["--to", t1]
    lines = [line[2:] for line in kvraw(*args).splitlines() if line.startswith(b"T,")]
    if not lines:
        return np.zeros((0, 3), dtype=np.int64)
    return np.loadtxt(io.BytesIO(b"\n".join(lines)), delimiter=",", dtype=np.int64, ndmin=2)


def info_fields(path):
    """kvraw info's key: value lines as a dict (numbers as int)."""
    fields = {}
    for line in kvraw("info", path).decode().splitlines():
        key, _, value = line.partition(": ")
        fields[key] = int(value) if value.isdigit() else value
    return fields


def as_rows(events):
    """A velqora event array in kvraw decode's column order."""
    return np.column_stack([events["t"], events["x"], events["y"], events["p"]]).astype(np.int64)


@pytest.fixture(scope="session", autouse=True)
def private_index_cache(tmp_path_factory):
    # Seek indexes of the test recordings stay out of the user's cache.
    os.environ["XDG_CACHE_HOME"] = str(tmp_path_factory.mktemp("cache"))


@pytest.fixture(scope="session")
def recordings(tmp_path_factory, private_index_cache):
    """EVT 3.0 and EVT 2.0 recordings of 2 s with trigger edges, starting
    below and ending above 2^24 us."""
    folder = tmp_path_factory.mktemp("recordings")
    made = {}
    for fmt in ("evt3", "evt2"):
        made[fmt] = str(
            generate(folder / f"{fmt}.raw", 2_000_000, 300_000, "--format", fmt,
                     "--trigger-period", 70_000, "--start", LOOP_START_US, "--seed", 3))
    return made


@pytest.fixture(params=["evt3", "evt2"])
def recording(request, recordings):
    return recordings[request.param]
