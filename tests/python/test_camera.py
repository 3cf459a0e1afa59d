"""velqora's cameras against kvcam and kvraw: the same cameras and tools,
settings that reach the stream, recordings that read back as kvraw decodes
them, refusals with their reasons, Ctrl+C, and the README's bias sweep."""

import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
import velqora
from conftest import as_rows, decoded_events, decoded_triggers, kvcam, kvraw_status

EVK4 = "KVSIM-EVK4-0001"
PIREL = "KVSIM-PIREL-0002"
QUENTA = "KVSIM-QUENTA-0003"


@pytest.fixture
def cam():
    with velqora.open_camera(EVK4) as camera:
        velqora.simulate(camera, events_per_s=300_000)
        yield camera


def read_all(path):
    with velqora.open(path) as rec:
        if rec.start_us is None:
            return rec.read(0, 0)
        return rec.read(rec.start_us, rec.end_us + 1)


def wait_for(predicate, timeout_s=60, what="condition"):
    end = time.monotonic() + timeout_s
    while not predicate():
        if time.monotonic() > end:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(0.02)


class TestDiscovery:
    def test_cameras_are_kvcams(self):
        listed = [tuple(line.split("\t")) for line in kvcam("list").splitlines()]
        found = velqora.cameras()
        assert [tuple(c) for c in found] == listed
        assert found[0].serial == EVK4 and found[0].product == "EVK4"

    def test_unknown_serial_and_fusion_camera_say_why(self):
        with pytest.raises(LookupError, match=f"no camera with serial NOPE .*{EVK4}"):
            velqora.open_camera("NOPE")
        with pytest.raises(velqora.CameraError, match="fusion"):
            velqora.open_camera(QUENTA)

    def test_tools_are_kvcams(self, cam):
        lines = kvcam("tools", EVK4).splitlines()
        # Stable shape: five tab-separated fields, tools in the table's order.
        rows = [line.split("\t") for line in lines]
        assert all(len(r) == 5 for r in rows), lines
        order = ["biases", "trigger_in", "anti_flicker", "event_trail_filter",
                 "event_rate_control", "roi"]
        assert list(dict.fromkeys(r[0] for r in rows)) == order
        assert ["biases", "contrast_on", "int", "-50..50", "0"] in rows
        assert ["anti_flicker", "mode", "enum", "band_stop|band_pass", "band_stop"] in rows
        assert ["roi", "enable", "bool", "true|false", "false"] in rows
        tools = cam.tools()
        assert list(tools) == order
        for tool, name, kind, span, value in rows:
            p = tools[tool][name]
            assert p["type"] == kind
            if kind == "int":
                assert "%d..%d" % p["range"] == span and str(p["value"]) == value
            elif kind == "bool":
                assert p["options"] is None and str(p["value"]).lower() == value
            else:
                assert "|".join(p["options"]) == span and p["value"] == value
        assert sum(len(params) for params in tools.values()) == len(rows)

    def test_every_listed_value_is_taken_by_kvcam_set(self):
        rows = [line.split("\t") for line in kvcam("tools", PIREL).splitlines()]
        sets = [a for t, n, _, _, v in rows for a in ("--set", f"{t}.{n}={v}")]
        assert "total events" in kvcam("stream", PIREL, "--seconds", 0, *sets)


class TestSettings:
    def test_get_and_set_round_trip(self, cam):
        cam.set("biases", "contrast_on", -7)
        cam.set("anti_flicker", "mode", "band_pass")
        cam.set("roi", "enable", True)
        cam.set("roi", "width", 640.0)  # a whole float is a whole number
        cam.set("roi", "height", np.int32(100))
        assert cam.get("biases", "contrast_on") == -7
        assert cam.get("anti_flicker", "mode") == "band_pass"
        assert cam.get("roi", "enable") is True
        assert (cam.get("roi", "width"), cam.get("roi", "height")) == (640, 100)
        assert cam.tools()["biases"]["contrast_on"]["value"] == -7

    @pytest.mark.parametrize("tool, name, value, error, reason", [
        ("biases", "contrast_on", 99, ValueError, r"contrast_on must be -50\.\.50, not 99"),
        ("biases", "contrast_on", 2**70, ValueError, "out of range"),
        ("anti_flicker", "mode", "notch", ValueError, "one of band_stop, band_pass"),
        # In range, but not with the values in force: the tool's own check.
        ("roi", "x", 1000, ValueError, r"refused roi.x=1000: x=1000 does not go with the values in force \(.*width=1280"),
        ("anti_flicker", "low_frequency", 900, ValueError, "high_frequency=520"),
        ("roi", "enable", "yes", TypeError, "true or false"),
        ("biases", "contrast_on", 1.5, TypeError, "whole number"),
        ("biases", "contrast_on", [1], TypeError, "not list"),
        ("bias", "contrast_on", 1, LookupError, "unknown tool 'bias' .*biases, trigger_in"),
        ("aps", "analog_gain", 1, LookupError, "no tool aps"),
        ("biases", "contrast", 1, LookupError, "no parameter contrast .*contrast_on"),
    ])
    def test_refusals_say_why_and_change_nothing(self, cam, tool, name, value, error, reason):
        before = cam.tools()
        with pytest.raises(error, match=reason):
            cam.set(tool, name, value)
        assert cam.tools() == before

    def test_unknown_get(self, cam):
        with pytest.raises(LookupError, match="no parameter nope"):
            cam.get("roi", "nope")
        with pytest.raises(LookupError, match="unknown tool"):
            cam.get("nope", "x")


class TestStream:
    def test_roi_reaches_the_stream_and_batches_tile_time(self, cam):
        for name, value in [("width", 200), ("height", 100), ("x", 100), ("y", 50),
                            ("enable", True)]:
            cam.set("roi", name, value)
        cam.set("trigger_in", "channel_0", True)
        velqora.simulate(cam, trigger_period_us=100_000)
        batches = list(cam.stream(20_000, seconds=1))
        events = np.concatenate([b.events for b in batches])
        assert all(b.events.dtype == velqora.EVENT_DTYPE for b in batches)
        assert len(events) > 1000
        assert events["x"].min() >= 100 and events["x"].max() < 300
        assert events["y"].min() >= 50 and events["y"].max() < 150
        # Consecutive batches cover the camera's time without gap, each event
        # and edge inside its batch.
        assert batches[-1].t1_us - batches[0].t0_us >= 1_000_000
        for a, b in zip(batches, batches[1:]):
            assert b.t0_us == a.t1_us
        for b in batches:
            assert b.dropped == 0
            assert b.triggers.dtype == velqora.TRIGGER_DTYPE
            if len(b.events):
                assert b.t0_us <= b.events["t"].min() and b.events["t"].max() < b.t1_us
            assert np.all(b.triggers["t"] < b.t1_us)
        edges = np.concatenate([b.triggers for b in batches])
        span = (batches[0].t0_us, batches[-1].t1_us)
        # Both edges of channel 0 every 100 ms, in order, none twice.
        expected = [t for t in range(0, span[1], 50_000) if t >= span[0]]
        assert list(edges["t"]) == expected
        assert set(edges["id"]) == {0} and set(edges["p"]) == {0, 1}

    def test_drops_are_counted_not_hidden(self, cam):
        with cam.stream(1_000) as stream:
            next(stream)
            # Nobody fetches for a while: the camera's queue overflows.
            wait_for(lambda: velqora.simulate(cam)["batches_dropped"] > 0, what="a drop")
            total = 0
            for batch in stream:
                total += batch.dropped
                if total:
                    break
            assert total > 0 and stream.dropped >= total

    def test_statistics_while_streaming(self, cam):
        assert cam.statistics() is None
        stream = cam.stream(50_000)
        for _ in stream:
            if cam.statistics():
                break
        stream.close()
        stats = cam.statistics()
        assert stats["reports"] >= 1 and 200_000 < stats["event_rate"] < 400_000
        assert stats["bandwidth"] > 0

    def test_with_closes_stream_and_camera(self):
        with velqora.open_camera(PIREL) as camera:
            with camera.stream(10_000) as stream:
                next(stream)
            assert not stream.active
            with pytest.raises(StopIteration):
                next(stream)
            # Stopped: the camera's time stands still.
            t = velqora.simulate(camera)["stream_time_us"]
            assert velqora.simulate(camera)["stream_time_us"] == t
            # A closed stream frees the camera for the next one.
            assert len(list(camera.stream(10_000, seconds=0.05))) >= 5
        assert camera.closed
        for call in (lambda: camera.tools(), lambda: camera.stream(1000),
                     lambda: camera.record("x.raw", 1), lambda: camera.statistics()):
            with pytest.raises(ValueError, match="camera is closed"):
                call()

    def test_close_ends_a_recording_on_another_thread(self, cam, tmp_path):
        import threading
        path = tmp_path / "r.raw"
        done = {}
        worker = threading.Thread(target=lambda: done.update(cam.record(path, 600)))
        worker.start()
        wait_for(lambda: path.exists() and path.stat().st_size > 0, what="the recording")
        cam.close()
        worker.join(timeout=60)
        assert not worker.is_alive() and cam.closed
        assert done["events_written"] == len(read_all(path)) > 0
        assert kvraw_status("check", path)[0] == 0

    def test_close_ends_a_stream_on_another_thread(self, cam):
        import threading
        stream = cam.stream(200_000)
        got = []
        worker = threading.Thread(target=lambda: got.extend(len(b) for b in stream))
        worker.start()
        wait_for(lambda: got, what="a batch")
        cam.close()
        worker.join(timeout=60)
        assert not worker.is_alive() and not stream.active and cam.closed

    def test_one_consumer_at_a_time(self, cam, tmp_path):
        with cam.stream(10_000):
            with pytest.raises(velqora.CameraError, match="busy with a stream"):
                cam.record(tmp_path / "r.raw", 1)
            with pytest.raises(velqora.CameraError, match="busy"):
                cam.stream(10_000)
        assert not (tmp_path / "r.raw").exists()

    def test_bad_arguments(self, cam):
        for bad in (0, -1, 1_000_001):
            with pytest.raises(ValueError, match="batch_us"):
                cam.stream(bad)
        with pytest.raises(ValueError, match="seconds"):
            cam.stream(1000, seconds=-1)


class TestRecord:
    def test_recording_reads_back_as_kvraw_decodes(self, cam, tmp_path):
        cam.set("roi", "width", 640)
        cam.set("roi", "enable", True)
        path = tmp_path / "rec.raw"
        done = cam.record(path, 1)
        assert done["path"] == str(path)
        events = read_all(path)
        assert len(events) == done["events_written"] > 100_000
        assert events["x"].max() < 640
        np.testing.assert_array_equal(as_rows(events), decoded_events(path))
        assert kvraw_status("check", path)[0] == 0
        # One second of camera time (the stream ends on a slice boundary).
        assert 0.99e6 <= events["t"][-1] - events["t"][0] < 1.05e6

    def test_refusals_say_why(self, cam, tmp_path):
        victim = tmp_path / "victim"
        victim.write_bytes(b"v")
        (tmp_path / "link.raw").symlink_to(victim)
        with pytest.raises(velqora.RecordingError, match="link"):
            cam.record(tmp_path / "link.raw", 1)
        assert victim.read_bytes() == b"v"
        os.mkfifo(tmp_path / "fifo.raw")
        with pytest.raises(velqora.RecordingError, match="fifo.raw"):
            cam.record(tmp_path / "fifo.raw", 1)
        with pytest.raises(velqora.RecordingError):
            cam.record(tmp_path / "missing" / "r.raw", 1)
        with pytest.raises(ValueError, match="seconds"):
            cam.record(tmp_path / "r.raw", -1)

    def test_around_edges(self, cam, tmp_path):
        velqora.simulate(cam, trigger_period_us=400_000)
        files = cam.record_around_edges(tmp_path, before_s=1, after_s=0.2, count=2,
                                        timeout_s=60)
        assert len(files) == 2
        for f in files:
            t = f["edge_us"]
            assert f["path"] == str(tmp_path / f"{EVK4}_edge_{t}.raw")
            events = read_all(f["path"])
            assert len(events) == f["events_written"]
            assert events["t"][0] <= t - 900_000 and events["t"][-1] >= t + 150_000
            assert t in decoded_triggers(f["path"])[:, 0]
            assert kvraw_status("check", f["path"])[0] == 0
        # The second edge came after the first file's seconds.
        assert files[1]["edge_us"] >= files[0]["edge_us"] + 200_000
        # Trigger input 0 is left as it was, the cache's files are gone.
        assert cam.get("trigger_in", "channel_0") is False
        assert sorted(os.listdir(tmp_path)) == sorted(pathlib.Path(f["path"]).name for f in files)

    def test_around_edges_refusals(self, cam, tmp_path):
        with pytest.raises(FileNotFoundError):
            cam.record_around_edges(tmp_path / "missing", 1, 1)
        (tmp_path / "file").write_bytes(b"")
        with pytest.raises(NotADirectoryError):
            cam.record_around_edges(tmp_path / "file", 1, 1)
        for kwargs, reason in [({"edge": "both"}, "rising"), ({"before_s": 0}, "before_s"),
                               ({"count": 0}, "count"), ({"after_s": -1}, "after_s")]:
            args = {"folder": tmp_path, "before_s": 1, "after_s": 1, **kwargs}
            with pytest.raises(ValueError, match=reason):
                cam.record_around_edges(**args)
        # No edge in time: fewer files, none half made.
        velqora.simulate(cam, trigger_period_us=0)
        assert cam.record_around_edges(tmp_path, 1, 0.1, timeout_s=0.5) == []
        assert sorted(os.listdir(tmp_path)) == ["file"]


CHILD = r"""
import sys, velqora
kind, path = sys.argv[1], sys.argv[2]
cam = velqora.open_camera("KVSIM-EVK4-0001")
velqora.simulate(cam, events_per_s=300_000)
try:
    if kind == "stream":
        # Long batches: Ctrl+C mostly comes while the iterator waits.
        with cam.stream(1_000_000) as stream:
            with open(path, "w") as marker:
                marker.write("streaming")
            for batch in stream:
                pass
    else:
        cam.record(path, 600)
    print("ran out")
except KeyboardInterrupt:
    print("interrupted", stream.active if kind == "stream" else "")
cam.close()
"""


class TestInterrupt:
    @pytest.mark.parametrize("kind", ["stream", "record"])
    def test_ctrl_c_stops_and_leaves_a_readable_file(self, tmp_path, kind):
        path = tmp_path / "out.raw"
        child = subprocess.Popen([sys.executable, "-c", CHILD, kind, str(path)],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            # Writing has begun (a recording flushes within 200 ms).
            wait_for(lambda: path.exists() and path.stat().st_size > 0 or child.poll() is not None,
                     what="the child to start")
            assert child.poll() is None, child.communicate()
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=60)
        finally:
            if child.poll() is None:
                child.kill()
        assert child.returncode == 0, err.decode()
        assert out.decode().split() == ["interrupted"] + (["False"] if kind == "stream" else [])
        if kind == "record":
            assert len(read_all(path)) > 0
            assert kvraw_status("check", path)[0] == 0


def readme_sweep():
    text = pathlib.Path(os.environ["VELQORA_README"]).read_text()
    found = re.search(r"<!-- python_readme_sweep -->\n```python\n(.*?)```", text, re.S)
    assert found, "the README's bias sweep block"
    return found.group(1)


def test_readme_bias_sweep(tmp_path):
    # Its recordings go to a temporary folder: this test's own.
    done = subprocess.run([sys.executable, "-c", readme_sweep()], capture_output=True,
                          check=False, timeout=120, cwd=tmp_path,
                          env={**os.environ, "TMPDIR": str(tmp_path)})
    assert done.returncode == 0, done.stderr.decode()
    lines = done.stdout.decode().splitlines()
    pattern = re.compile(r"contrast_on +([+-]\d+): (\d+\.\d\d) Mev/s, ON (\d+\.\d\d) Mev/s")
    rows = [pattern.fullmatch(line) for line in lines]
    assert len(rows) == 5 and all(rows), lines
    on = [float(r.group(3)) for r in rows]
    # A higher ON threshold gives fewer ON events.
    assert on == sorted(on, reverse=True) and on[0] > on[-1] * 1.5, lines
