"""velqora.convert: every output format read back by its own reader (numpy,
h5py, the module itself) gives the recording's events and trigger edges;
failures raise and leave nothing behind."""

import os

import numpy as np
import pytest
import velqora
from conftest import LOOP_START_US, kvraw

WINDOW = (LOOP_START_US + 250_000, LOOP_START_US + 1_250_000)


def content(path, t0=0, t1=2**62):
    with velqora.open(path) as rec:
        return rec.read(t0, t1), rec.triggers(t0, t1)


def assert_same(got, want):
    np.testing.assert_array_equal(got[0], want[0])
    np.testing.assert_array_equal(got[1], want[1])


class TestRoundTrips:
    @pytest.mark.parametrize("fmt", ["evt3", "evt2"])
    def test_raw(self, recording, tmp_path, fmt):
        out = tmp_path / f"out-{fmt}.raw"
        counts = velqora.convert(recording, out, format=fmt)
        events, triggers = content(recording)
        assert counts["events"] == len(events) and counts["triggers"] == len(triggers)
        assert counts["output_bytes"] == os.path.getsize(out)
        with velqora.open(out) as rec:
            assert rec.info["format"] == fmt.upper()
        assert_same(content(out), (events, triggers))

    @pytest.mark.parametrize("middle", ["mid.h5", "mid.npy"])
    def test_back_to_raw(self, recording, tmp_path, middle):
        velqora.convert(recording, tmp_path / middle)
        velqora.convert(tmp_path / middle, tmp_path / "back.raw")
        assert_same(content(tmp_path / "back.raw"), content(recording))

    def test_window(self, recording, tmp_path):
        velqora.convert(recording, tmp_path / "part.raw", from_us=WINDOW[0], to_us=WINDOW[1])
        assert_same(content(tmp_path / "part.raw"), content(recording, *WINDOW))


class TestReadByOtherTools:
    def test_npy(self, recording, tmp_path):
        out = tmp_path / "events.npy"
        velqora.convert(recording, out, from_us=WINDOW[0], to_us=WINDOW[1])
        events, triggers = content(recording, *WINDOW)
        loaded = np.load(out)
        assert loaded.dtype == velqora.EVENT_DTYPE
        np.testing.assert_array_equal(loaded, events)
        loaded_triggers = np.load(tmp_path / "events.triggers.npy")
        assert len(triggers) > 0
        np.testing.assert_array_equal(loaded_triggers, triggers)

    def test_h5(self, recording, tmp_path):
        import h5py  # Debian's python3-h5py
        out = tmp_path / "events.h5"
        velqora.convert(recording, out)
        events, triggers = content(recording)
        with h5py.File(out, "r") as f:
            # Times are stored counted from t_offset, as analysis tools expect.
            t_offset = int(f["t_offset"][()])
            for name in ["x", "y", "p"]:
                np.testing.assert_array_equal(f["events"][name][:], events[name])
            np.testing.assert_array_equal(f["events"]["t"][:] + t_offset, events["t"])
            np.testing.assert_array_equal(f["triggers"]["t"][:] + t_offset, triggers["t"])
            np.testing.assert_array_equal(f["triggers"]["id"][:], triggers["id"])
            np.testing.assert_array_equal(f["triggers"]["p"][:], triggers["p"])
            ms_to_idx = f["ms_to_idx"][:]
        t = events["t"]
        assert len(ms_to_idx) > 0
        for ms in range(0, len(ms_to_idx), 97):
            assert ms_to_idx[ms] == np.searchsorted(t, t_offset + ms * 1000, side="left")

    def test_csv(self, recording, tmp_path):
        out = tmp_path / "events.csv"
        velqora.convert(recording, out, from_us=WINDOW[0], to_us=WINDOW[1])
        expected = kvraw("decode", recording, "--from", WINDOW[0], "--to", WINDOW[1])
        lines = out.read_bytes().splitlines()
        body = lines[1:] if lines and lines[0].startswith(b"t,") else lines
        assert body == expected.splitlines()


class TestFailures:
    def test_bad_arguments(self, recordings, tmp_path):
        out = tmp_path / "out.raw"
        with pytest.raises(ValueError, match="unknown format"):
            velqora.convert(recordings["evt3"], out, format="evt4")
        with pytest.raises(ValueError, match="reversed range"):
            velqora.convert(recordings["evt3"], out, from_us=2_000, to_us=1_000)
        with pytest.raises(ValueError, match="never negative"):
            velqora.convert(recordings["evt3"], out, from_us=-1)
        assert not out.exists()

    def test_unreadable_source_leaves_nothing(self, tmp_path):
        out = tmp_path / "out.npy"
        with pytest.raises(OSError):
            velqora.convert(tmp_path / "missing.raw", out)
        bad = tmp_path / "bad.raw"
        bad.write_bytes(b"% evt 9.0\n% end\n" + bytes(64))
        with pytest.raises(velqora.RecordingError):
            velqora.convert(bad, out)
        assert os.listdir(tmp_path) == ["bad.raw"]

    def test_silence_refused_and_long_fill_interruptible(self, tmp_path):
        import signal
        import threading
        events = np.zeros(2, dtype=velqora.EVENT_DTYPE)
        day_us = 86_400_000_000
        for name, last in [("far.npy", 4 * 10**18), ("under.npy", day_us - 1)]:
            events["t"] = [0, last]
            np.save(tmp_path / name, events)
        for out in ["far.h5", "far.raw"]:
            with pytest.raises(velqora.RecordingError, match="more than a day"):
                velqora.convert(tmp_path / "far.npy", tmp_path / out)
        # A day of milliseconds to index: Ctrl+C is heard during it. The
        # fill takes about 0.2 s on a quiet machine, so the key is pressed
        # well before its end; pressed before the call began, it ends the
        # test's block as well.
        timer = threading.Timer(0.02, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        try:
            with pytest.raises(KeyboardInterrupt):
                velqora.convert(tmp_path / "under.npy", tmp_path / "under.h5")
        finally:
            timer.join()
        assert sorted(os.listdir(tmp_path)) == ["far.npy", "under.npy"]
