"""velqora.open and the Recording: what it reads equals what kvraw decodes,
windows are half-open, slices see every event once, errors say why."""

import errno
import gc
import os
import pathlib
import threading

import numpy as np
import pytest
import velqora
from conftest import (LOOP_START_US, as_rows, decoded_events, decoded_triggers, generate,
                      info_fields)

ALIGNED_EVENT = np.dtype([("x", "<u2"), ("y", "<u2"), ("p", "<i2"), ("t", "<i8")], align=True)


def whole(rec):
    return rec.read(rec.start_us, rec.end_us + 1)


def vector_rows(path, steps=0, start_us=1_000, times=None):
    """A bare EVT 3.0 file of `steps` microseconds (or of `times`, in file
    order), each with 16 rows of three VECT_12 words of eight events: about
    4.7 events a word. Returns the path and the events it holds, in file
    order."""
    rows, vectors, mask = 16, 3, 0x0FF
    xs = np.array([12 * v + i for v in range(vectors) for i in range(8)], dtype=np.uint16)
    per_row = [None, None] + [(0x4 << 12) | mask] * vectors
    words = []
    if times is None:
        times = np.arange(start_us, start_us + steps, dtype=np.int64)
    steps = len(times)
    for t in times.tolist():
        words += [(0x8 << 12) | (t >> 12), (0x6 << 12) | (t & 0xFFF)]
        for y in range(rows):
            per_row[0] = y
            per_row[1] = (0x3 << 12) | ((y & 1) << 11)
            words += per_row
    pathlib.Path(path).write_bytes(np.array(words, dtype="<u2").tobytes())
    n = len(xs)
    events = np.zeros(steps * rows * n, dtype=velqora.EVENT_DTYPE)
    events["x"] = np.tile(xs, steps * rows)
    events["y"] = np.tile(np.repeat(np.arange(rows, dtype=np.uint16), n), steps)
    events["p"] = events["y"] & 1
    events["t"] = np.repeat(times, rows * n)
    return str(path), events


def rewrite_words(path, change, header=lambda text: text):
    """Rewrites a kvraw recording in place: its % header lines through
    `header`, its data as 16-bit words (a numpy array) through `change`."""
    data = pathlib.Path(path).read_bytes()
    at = 0
    while data[at:at + 1] == b"%":
        at = data.index(b"\n", at) + 1
    words = np.frombuffer(data, dtype="<u2", count=(len(data) - at) // 2, offset=at).copy()
    change(words)
    pathlib.Path(path).write_bytes(header(data[:at].decode()).encode() + words.tobytes() +
                                   data[at + 2 * len(words):])


def index_entry_bounds(cache_file, bounds):
    """The stretches' event bounds of an index cache entry, rewritten by
    bounds(k, bound, most) (most: what the stretch's words could give) with
    the entry's checksum made right again; returns the old bounds."""
    data = bytearray(pathlib.Path(cache_file).read_bytes())
    at = 8 + 4 + 4 + 8 * 5 + 1 + 8 + 8
    fmt = int.from_bytes(data[12:16], "little")
    file_size = int.from_bytes(data[16:24], "little")
    at += 4 + int.from_bytes(data[at:at + 4], "little")
    count = int.from_bytes(data[at:at + 8], "little")
    at += 8
    entry = 57
    offsets = [int.from_bytes(data[at + k * entry:at + k * entry + 8], "little")
               for k in range(count)] + [file_size]
    word, per_word = (4, 1) if fmt == 1 else (2, 12)
    old = []
    for k in range(count):
        field = at + k * entry + 49
        bound = int.from_bytes(data[field:field + 8], "little")
        old.append(bound)
        most = (offsets[k + 1] - offsets[k]) // word * per_word
        data[field:field + 8] = int(bounds(k, bound, most)).to_bytes(8, "little")
    h = 1469598103934665603
    for b in bytes(data[:-8]):
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    data[-8:] = h.to_bytes(8, "little")
    pathlib.Path(cache_file).write_bytes(bytes(data))
    return old


class TestReadMatchesDecode:
    def test_whole_file(self, recording):
        expected = decoded_events(recording)
        with velqora.open(recording) as rec:
            events = whole(rec)
        assert len(expected) == 600_000
        np.testing.assert_array_equal(as_rows(events), expected)
        # The times go on past the counter's loop at 2^24 us, in order.
        assert events["t"][0] >= LOOP_START_US and events["t"][-1] > 1 << 24
        assert np.all(np.diff(events["t"]) >= 0)

    def test_windows(self, recording):
        loop = 1 << 24
        windows = [(LOOP_START_US, LOOP_START_US + 1), (LOOP_START_US + 123_457, LOOP_START_US + 456_789),
                   (loop - 5_000, loop + 5_000), (loop + 1, loop + 33_334),
                   (LOOP_START_US + 1_999_000, LOOP_START_US + 3_000_000), (0, LOOP_START_US + 500)]
        with velqora.open(recording) as rec:
            for t0, t1 in windows:
                np.testing.assert_array_equal(as_rows(rec.read(t0, t1)),
                                              decoded_events(recording, t0, t1),
                                              err_msg=f"window [{t0}, {t1})")


class TestWindowBounds:
    def test_half_open(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            events = whole(rec)
            t = int(events["t"][len(events) // 2])
            at_t = np.count_nonzero(events["t"] == t)
            assert at_t > 0
            assert len(rec.read(t, t + 1)) == at_t
            assert np.all(rec.read(t - 100, t)["t"] < t)
            assert rec.read(t, t + 100)["t"][0] == t
            assert len(rec.read(t, t)) == 0

    def test_adjacent_windows_add_up(self, recordings):
        with velqora.open(recordings["evt2"]) as rec:
            cuts = [rec.start_us, rec.start_us + 17, rec.start_us + 300_001, rec.end_us,
                    rec.end_us + 1]
            parts = [rec.read(a, b) for a, b in zip(cuts, cuts[1:])]
            np.testing.assert_array_equal(np.concatenate(parts), whole(rec))

    def test_outside_the_data_is_empty(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            for t0, t1 in [(0, rec.start_us), (rec.end_us + 1, rec.end_us + 10**9),
                           (2**62, 2**63 - 1)]:
                events = rec.read(t0, t1)
                assert len(events) == 0 and events.dtype == velqora.EVENT_DTYPE


class TestEventArrays:
    def test_layout(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            events = rec.read(rec.start_us, rec.start_us + 100_000)
        assert events.dtype == ALIGNED_EVENT and events.dtype.itemsize == 16
        assert velqora.EVENT_DTYPE == ALIGNED_EVENT
        assert velqora.TRIGGER_DTYPE == np.dtype([("t", "<i8"), ("id", "<i2"), ("p", "<i2")])
        # The reader's buffer is handed over, not copied.
        assert not events.flags.owndata
        # p is 16 bits over an 8-bit polarity: the byte after it, and the
        # padding up to t, must be zero, not stale memory.
        raw = events.view(np.uint8).reshape(-1, 16)
        assert np.all(raw[:, 5:8] == 0)
        assert set(np.unique(events["p"])) == {0, 1}

    def test_large_arrays_memory_kept_while_open_given_back_on_close(self, tmp_path):
        def held_bytes():
            # Resident memory the system cannot take back at once (pages
            # handed back lazily are counted as LazyFree until reclaimed).
            fields = {}
            with open("/proc/self/smaps_rollup") as f:
                for line in f:
                    key, _, value = line.partition(":")
                    if value.split() and value.split()[0].isdigit():
                        fields[key] = int(value.split()[0]) * 1024
            return fields["Rss"] - fields.get("LazyFree", 0)

        path = generate(tmp_path / "big.raw", 1_000_000, 4_000_000)
        with velqora.open(path) as rec:
            # More at once than are kept idle for the next reads.
            arrays = [whole(rec) for _ in range(4)]
            size = sum(a.nbytes for a in arrays)
            assert size > 4 * (48 << 20)
            before = held_bytes()
            del arrays
            gc.collect()
            # Two stay in place for the next reads; the others are gone.
            assert before - held_bytes() > size // 2 * 9 // 10
            # What is kept idle serves the next read, unchanged.
            again = whole(rec)
            assert len(again) == 4_000_000
            np.testing.assert_array_equal(again[::99_991], whole(rec)[::99_991])
            del again
            gc.collect()
        # Closed: what was kept goes back too.
        assert before - held_bytes() > size * 9 // 10
        # An array that outlives its recording gives its memory back when it dies.
        rec = velqora.open(path)
        events = whole(rec)
        one = events.nbytes
        rec.close()
        with_array = held_bytes()
        del events
        gc.collect()
        assert with_array - held_bytes() > one * 9 // 10

    # Windows of the reader's own buffer, of a pooled buffer of their own,
    # and of one decoded on every core.
    @pytest.mark.parametrize("window_us", [200_000, 300_000, 1_500_000])
    @pytest.mark.parametrize("fmt", ["evt3", "evt2"])
    def test_arrays_outlive_later_reads_and_the_recording(self, recordings, fmt, window_us):
        rec = velqora.open(recordings[fmt])
        first = rec.read(rec.start_us, rec.start_us + window_us)
        kept = first.copy()
        for k in range(1, 6):
            t0 = rec.start_us + (k * 200_000) % 1_000_000
            rec.read(t0, t0 + window_us)
        np.testing.assert_array_equal(first, kept)
        rec.close()
        del rec
        gc.collect()
        np.testing.assert_array_equal(first, kept)


class TestSlices:
    @pytest.mark.parametrize("duration_us", [997, 33_333, 250_000, 10**9])
    def test_every_event_once(self, recording, duration_us):
        with velqora.open(recording) as rec:
            everything = whole(rec)
            slices = rec.slices(duration_us)
            count = len(slices)
            parts = list(slices)
            start = rec.start_us
        span_us = int(everything["t"][-1]) + 1 - start
        assert count == len(parts) == -(-span_us // duration_us)
        np.testing.assert_array_equal(np.concatenate(parts), everything)
        for k, part in enumerate(parts):
            assert np.all(part["t"] >= start + k * duration_us)
            assert np.all(part["t"] < start + (k + 1) * duration_us)

    def test_bounds_and_length(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            t0, t1 = rec.start_us + 1_000, rec.start_us + 101_000
            slices = rec.slices(30_000, t0, t1)
            assert len(slices) == 4
            parts = [next(slices)]
            assert len(slices) == 3
            parts += list(slices)
            assert len(slices) == 0
            assert all(len(p) > 0 for p in parts)
            assert parts[-1]["t"].max() < t1
            np.testing.assert_array_equal(np.concatenate(parts), rec.read(t0, t1))
            assert list(rec.slices(10, t1, t1)) == []


class TestSlicesDecodedAhead:
    """The next window is decoded on a worker thread: however iteration ends,
    nothing is lost, nothing runs on, and a closed recording stays closed."""

    def test_dropped_early_or_left_by_an_exception(self, recordings):
        def threads():
            return len(os.listdir("/proc/self/task"))

        before = threads()
        with velqora.open(recordings["evt3"]) as rec:
            everything = whole(rec)
            start = rec.start_us
            for _ in range(20):
                slices = rec.slices(50_000)
                first = next(slices)
                del slices  # a window is being decoded ahead now
            with pytest.raises(RuntimeError, match="stop here"):
                for k, part in enumerate(rec.slices(40_000)):
                    if k == 3:
                        raise RuntimeError("stop here")
            gc.collect()
            assert threads() == before  # every worker ended with its iterator
            # The reader is untouched by the abandoned windows.
            np.testing.assert_array_equal(np.concatenate(list(rec.slices(70_000))), everything)
        np.testing.assert_array_equal(first, everything[everything["t"] < start + 50_000])
        assert threads() == before

    def test_recording_closed_while_a_window_is_decoded_ahead(self, recordings):
        rec = velqora.open(recordings["evt2"])
        slices = rec.slices(100_000)
        part = next(slices)
        kept = part.copy()
        rec.close()
        with pytest.raises(ValueError, match="closed"):
            next(slices)
        with pytest.raises(ValueError, match="closed"):
            next(slices)
        del rec
        gc.collect()
        np.testing.assert_array_equal(part, kept)
        del slices
        gc.collect()
        np.testing.assert_array_equal(part, kept)

    def test_one_iterator_shared_by_two_threads(self, recordings):
        # A thread calling next() while another one waits for its window is
        # refused (as a running generator is), never left waiting for ever.
        with velqora.open(recordings["evt3"]) as rec:
            everything = whole(rec)
            for _ in range(10):
                slices = rec.slices(2_000)
                parts = []
                refused = []

                def take():
                    while True:
                        try:
                            parts.append(next(slices))
                        except StopIteration:
                            return
                        except ValueError as error:
                            refused.append(str(error))

                threads = [threading.Thread(target=take, daemon=True) for _ in range(2)]
                for t in threads:
                    t.start()
                for t in threads:
                    t.join(timeout=120)
                assert not any(t.is_alive() for t in threads)
                assert all("already executing" in r for r in refused)
                got = np.concatenate(parts)
                np.testing.assert_array_equal(np.sort(got, order=["t", "y", "x"]),
                                              np.sort(everything, order=["t", "y", "x"]))

    def test_windows_denser_than_a_word_an_event_read_whole(self, tmp_path):
        # Rows of vector words give more events than the room a parallel read
        # reserves from the word count (a quarter more than one a word), and
        # than any buffer an earlier read left to reuse: the stretches past
        # it must still come in order and complete.
        path, expected = vector_rows(tmp_path / "rows.raw", steps=7_500)
        with velqora.open(path) as rec:
            start, end = rec.start_us, rec.end_us
            large = rec.read(start, end + 1)
            middle = rec.read(start + 1_000, end - 1_000)
            small = np.concatenate(list(rec.slices(997)))
        assert len(large) == len(expected) > 1_000_000
        np.testing.assert_array_equal(as_rows(large), as_rows(expected))
        np.testing.assert_array_equal(small, large)
        inside = (large["t"] >= start + 1_000) & (large["t"] < end - 1_000)
        np.testing.assert_array_equal(middle, large[inside])
        assert np.all(large.view(np.uint8).reshape(-1, 16)[:, 5:8] == 0)

    def test_windows_after_times_that_step_back(self, tmp_path):
        # Times stepping back below a window's start, in the stretches after
        # the one it starts in, leave several stretches ahead of those decoded
        # in place: what the earlier ones keep is gathered and then moved up
        # ahead of the last one's, which ends where the first stretch decoded
        # in place begins.
        t0 = (2 << 12) + 10  # the times stepped back share its TIME_HIGH
        times = np.arange(1_000, 21_000, dtype=np.int64)
        times[(times >= t0) & (times < t0 + 3_300) & (times % 100 == 0)] = t0 - 1
        path, expected = vector_rows(tmp_path / "back.raw", times=times)
        with velqora.open(path) as rec:
            for a, b in [(t0, 18_000), (t0 + 400, 17_777), (t0 - 1, 19_000), (t0 + 3_300, 19_000)]:
                inside = (expected["t"] >= a) & (expected["t"] < b)
                np.testing.assert_array_equal(as_rows(rec.read(a, b)), as_rows(expected[inside]),
                                              err_msg=f"[{a}, {b})")

    @pytest.mark.parametrize("kind", ["plain", "camera", "evt2", "damaged", "evt2-damaged",
                                      "vectors-past-2047", "narrow-sensor"])
    def test_windows_read_on_every_core_equal_small_ones(self, tmp_path, kind):
        # Large windows (several index stretches) are decoded in parallel,
        # most stretches straight into the array at the place the index's
        # event counts give them; small ones by the reader alone: both give
        # the same events, also where damage, vectors reaching past the
        # address range or a sensor narrower than the events leave a stretch
        # short of its count and a window starts or ends inside a stretch.
        extra = {"plain": [], "evt2": ["--format", "evt2"],
                 "evt2-damaged": ["--format", "evt2"]}.get(kind, ["--mix", "camera"])
        path = generate(tmp_path / "dense.raw", 400_000, 3_000_000, "--trigger-period", 10_000,
                        *extra)
        rng = np.random.default_rng(7)

        def damage(words):
            # Single events moved off the address range (dropped by the
            # decoder, counted by the index) and time words made wild.
            hit = rng.choice(len(words), size=len(words) // 500, replace=False)
            words[hit] = rng.integers(0, 1 << 16, size=len(hit), dtype=np.uint16)

        def far_bases(words):
            # A third of the vectors start at x 2030..2047: most of their
            # bits lie past the address range.
            base = np.nonzero((words >> 12) == 0x3)[0]
            base = base[rng.random(len(base)) < 0.3]
            words[base] = (words[base] & 0xF800) | rng.integers(2030, 2048, size=len(base),
                                                                dtype=np.uint16)

        if kind in ("damaged", "evt2-damaged"):
            rewrite_words(path, damage)
        elif kind == "vectors-past-2047":
            rewrite_words(path, far_bases)
        elif kind == "narrow-sensor":
            rewrite_words(path, lambda words: None, header=lambda text: text.replace(
                "width = 1280", "width = 640").replace("geometry 1280x", "geometry 640x"))
        with velqora.open(path) as rec:
            start_us, end_us = rec.start_us, rec.end_us
            # Every event in file order (damage sends some times back).
            large = rec.read(0, end_us + 1)
            np.testing.assert_array_equal(as_rows(large), decoded_events(path))
            if kind == "narrow-sensor":
                assert 0 < len(large) < 1_200_000 and large["x"].max() < 640
            elif kind == "vectors-past-2047":
                assert 0 < len(large) < 1_200_000
            if kind in ("plain", "camera", "evt2"):
                assert len(large) == 1_200_000
                small = np.concatenate(list(rec.slices(997, start_us, end_us + 1)))
                np.testing.assert_array_equal(large, small)
            for t0, t1 in [(start_us + 12_345, start_us + 345_678), (start_us + 1, end_us - 1)]:
                inside = (large["t"] >= t0) & (large["t"] < t1)
                np.testing.assert_array_equal(rec.read(t0, t1), large[inside],
                                              err_msg=f"[{t0}, {t1})")
            # Slices of several stretches each, decoded ahead on one thread
            # into their own regions (at most ~100: damage stretches the span).
            step = max(150_000, (end_us - start_us) // 100)
            for k, part in enumerate(rec.slices(step, start_us, end_us + 1)):
                t0 = start_us + k * step
                inside = (large["t"] >= t0) & (large["t"] < min(t0 + step, end_us + 1))
                np.testing.assert_array_equal(part, large[inside], err_msg=f"slice {k}")
            raw = large.view(np.uint8).reshape(-1, 16)
            assert np.all(raw[:, 5:8] == 0)

    @pytest.mark.parametrize("fmt", ["evt3", "evt2"])
    def test_index_cache_with_event_bounds_edited_by_hand(self, tmp_path, fmt):
        # Large reads lay stretches side by side by the bounds a cached index
        # gives. Bounds short of the events (none, one short, half) or as
        # large as the words allow are taken, and reads still equal the
        # decode; a bound beyond what the words can give is refused (the
        # index is built again).
        path = generate(tmp_path / "cached.raw", 600_000, 3_000_000, "--format", fmt,
                        *(["--mix", "camera"] if fmt == "evt3" else []))
        expected = decoded_events(path)
        folder = pathlib.Path(os.environ["XDG_CACHE_HOME"]) / "velqora" / "index"
        with velqora.open(path) as rec:
            end_us = rec.end_us
        entry = max(folder.iterdir(), key=lambda f: f.stat().st_mtime_ns)
        true_entry = entry.read_bytes()
        true_bounds = index_entry_bounds(entry, lambda k, bound, most: bound)
        windows = [(0, end_us + 1), (123_457, 498_765), (200_000, end_us + 1)]
        edits = {"zero": lambda k, bound, most: 0,
                 "one-short": lambda k, bound, most: max(0, bound - (k % 2)),
                 "half": lambda k, bound, most: bound // 2,
                 "most": lambda k, bound, most: most}
        for name, edit in edits.items():
            written = []

            def edited(k, bound, most, edit=edit):
                written.append(edit(k, bound, most))
                return written[-1]

            index_entry_bounds(entry, edited)
            with velqora.open(path) as rec:
                for t0, t1 in windows:
                    got = rec.read(t0, t1)
                    inside = (expected[:, 0] >= t0) & (expected[:, 0] < t1)
                    np.testing.assert_array_equal(as_rows(got), expected[inside],
                                                  err_msg=f"{name} [{t0}, {t1})")
                    assert np.all(got.view(np.uint8).reshape(-1, 16)[:, 5:8] == 0)
            # The edited entry was taken, not built again.
            assert index_entry_bounds(entry, lambda k, bound, most: bound) == written, name
            entry.write_bytes(true_entry)  # the true bounds for the next edit
        index_entry_bounds(entry, lambda k, bound, most: most + (k == 1))
        with velqora.open(path) as rec:
            np.testing.assert_array_equal(as_rows(rec.read(0, end_us + 1)), expected)
        assert index_entry_bounds(entry, lambda k, bound, most: bound) == true_bounds

    @pytest.mark.parametrize("fmt", ["evt3", "evt2"])
    def test_recording_that_grows_or_shrinks_while_open(self, tmp_path, fmt):
        # A recording still being written: what was there when it was opened
        # is read, as the decode of that part gives it; one cut short
        # meanwhile gives what is left, never stale or foreign events.
        source = generate(tmp_path / "whole.raw", 600_000, 3_000_000, "--format", fmt,
                          *(["--mix", "camera"] if fmt == "evt3" else []))
        data = pathlib.Path(source).read_bytes()
        cut = len(data) * 3 // 5 | 1  # a partial word at the end
        part = tmp_path / "part.raw"
        part.write_bytes(data[:cut])
        expected = decoded_events(str(part))
        path = tmp_path / "live.raw"
        path.write_bytes(data[:cut])
        with velqora.open(str(path)) as rec:
            end_us = rec.end_us
            with open(path, "ab") as f:
                f.write(data[cut:])
            for t0, t1 in [(0, 2**40), (50_000, end_us - 1_000), (123_457, end_us + 1)]:
                inside = (expected[:, 0] >= t0) & (expected[:, 0] < t1)
                np.testing.assert_array_equal(as_rows(rec.read(t0, t1)), expected[inside])
        path.write_bytes(data)
        with velqora.open(str(path)) as rec:
            with open(path, "r+b") as f:
                f.truncate(cut)
            for t0, t1 in [(0, 2**40), (50_000, end_us - 1_000)]:
                inside = (expected[:, 0] >= t0) & (expected[:, 0] < t1)
                np.testing.assert_array_equal(as_rows(rec.read(t0, t1)), expected[inside])


class TestTriggers:
    def test_match_decode(self, recording):
        expected = decoded_triggers(recording)
        with velqora.open(recording) as rec:
            triggers = rec.triggers(0, rec.end_us + 1)
            window = rec.triggers(16_135_000, 16_345_000)
        assert triggers.dtype == velqora.TRIGGER_DTYPE and triggers.dtype.itemsize == 12
        assert len(expected) > 20
        got = np.column_stack([triggers["t"], triggers["id"], triggers["p"]])
        np.testing.assert_array_equal(got, expected)
        # Edges every 35 ms of the clock: both bounds lie on one, the upper is left out.
        assert window["t"][0] == 16_135_000 and window["t"][-1] == 16_310_000
        np.testing.assert_array_equal(
            window, triggers[(triggers["t"] >= 16_135_000) & (triggers["t"] < 16_345_000)])


class TestInfo:
    def test_fields_of_kvraw_info(self, recording):
        expected = info_fields(recording)
        with velqora.open(recording) as rec:
            info = rec.info
            assert (rec.start_us, rec.end_us) == (info["start_us"], info["end_us"])
            info["width"] = 0
            assert rec.info["width"] == expected["width"]
        assert info.keys() == expected.keys()
        assert {**info, "width": expected["width"]} == expected
        assert expected["start_us"] >= LOOP_START_US

    def test_serial_that_is_no_utf8(self, tmp_path, recordings):
        data = pathlib.Path(recordings["evt3"]).read_bytes()
        assert b"% serial_number KVSIM0001\n" in data
        odd = tmp_path / "odd.raw"
        odd.write_bytes(data.replace(b"KVSIM0001\n", b"KV\xff\xfeM0001\n", 1))
        with velqora.open(odd) as rec:
            assert rec.info["serial_number"] == "KV\ufffd\ufffdM0001"

    def test_recording_without_events(self, tmp_path):
        path = generate(tmp_path / "none.raw", 1_000, 0)
        with velqora.open(path) as rec:
            assert rec.start_us is None and rec.end_us is None
            assert rec.info["start_us"] == 0 and rec.info["end_us"] == 0
            assert len(rec.read(0, 10**6)) == 0
            assert len(rec.triggers(0, 10**6)) == 0
            assert list(rec.slices(1000)) == []


class TestErrors:
    def test_missing_file_and_folder(self, tmp_path):
        missing = tmp_path / "missing.raw"
        with pytest.raises(FileNotFoundError) as caught:
            velqora.open(missing)
        assert caught.value.errno == errno.ENOENT and caught.value.filename == str(missing)
        with pytest.raises(IsADirectoryError):
            velqora.open(tmp_path)

    def test_not_a_recording(self, tmp_path):
        empty = tmp_path / "empty.raw"
        empty.write_bytes(b"")
        with pytest.raises(velqora.RecordingError, match="empty file"):
            velqora.open(empty)
        other = tmp_path / "other.raw"
        other.write_bytes(b"% evt 9.0\n% end\n" + bytes(64))
        with pytest.raises(velqora.RecordingError, match="unsupported event format") as caught:
            velqora.open(str(other).encode())
        assert isinstance(caught.value, OSError) and "other.raw" in str(caught.value)
        with pytest.raises(ValueError, match="NUL"):
            velqora.open("bad\0name.raw")
        # Converted files are named, not decoded as header-less words.
        numpy_file = tmp_path / "events.npy"
        np.save(numpy_file, np.zeros(4, dtype=velqora.EVENT_DTYPE))
        with pytest.raises(velqora.RecordingError, match="a numpy file"):
            velqora.open(numpy_file)
        hdf5_file = tmp_path / "events.raw"
        hdf5_file.write_bytes(b"\x89HDF\r\n\x1a\n" + bytes(600))
        with pytest.raises(velqora.RecordingError, match="an HDF5 file"):
            velqora.open(hdf5_file)
        # A FIFO is refused at once, not waited on.
        fifo = tmp_path / "fifo.raw"
        os.mkfifo(fifo)
        with pytest.raises(velqora.RecordingError, match="not a regular file"):
            velqora.open(fifo)

    def test_bad_windows(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            for call in (rec.read, rec.triggers):
                with pytest.raises(ValueError, match="reversed window"):
                    call(2_000, 1_000)
                with pytest.raises(ValueError, match="never negative"):
                    call(-1, 1_000)
            with pytest.raises(ValueError, match="reversed window"):
                rec.slices(10, 2_000, 1_000)
            for duration in (0, -5):
                with pytest.raises(ValueError, match="duration_us"):
                    rec.slices(duration)

    def test_closed_recording(self, recordings):
        with velqora.open(recordings["evt3"]) as rec:
            slices = rec.slices(100_000)
            next(slices)
        assert rec.closed and "closed" in repr(rec)
        for use in (lambda: rec.read(0, 10), lambda: rec.triggers(0, 10), lambda: rec.info,
                    lambda: rec.start_us, lambda: rec.slices(10), lambda: next(slices)):
            with pytest.raises(ValueError, match="closed"):
                use()
        rec.close()  # twice is fine


class TestThreads:
    def test_parallel_reads_agree(self, recordings):
        with velqora.open(recordings["evt2"]) as rec:
            windows = [(rec.start_us + k * 150_000, rec.start_us + (k + 1) * 150_000)
                       for k in range(12)]
            expected = [rec.read(a, b) for a, b in windows]
            results = {}

            def worker(k):
                results[k] = [rec.read(a, b) for a, b in windows[k::3]]

            threads = [threading.Thread(target=worker, args=(k,)) for k in range(3)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        for k in range(3):
            for got, want in zip(results[k], expected[k::3]):
                np.testing.assert_array_equal(got, want)

    def test_close_while_another_thread_reads(self, recordings):
        rec = velqora.open(recordings["evt3"])
        started = threading.Event()
        outcome = []

        def reader():
            try:
                while True:
                    started.set()
                    rec.read(rec.start_us, rec.start_us + 500_000)
            except ValueError as error:
                outcome.append(str(error))

        thread = threading.Thread(target=reader)
        thread.start()
        started.wait()
        rec.close()
        thread.join()
        assert len(outcome) == 1 and "closed" in outcome[0]
