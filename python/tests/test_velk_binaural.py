"""Tests of the Python module: results on a binaural scene, agreement with the command line,
streaming in blocks of any length, and refusal of bad arrays and parameters.

Run by ctest with PYTHONPATH at the built module, VELK_BINAURAL naming the command-line tool and
VELK_SCENES_DIR the binaural test scenes (the scene tests skip when the folder is absent).
"""
import json
import os
import subprocess
import tempfile
import threading
import unittest
import wave

import numpy as np

import velk_binaural as vb

SCENES = os.environ.get("VELK_SCENES_DIR", "")
CLI = os.environ.get("VELK_BINAURAL", "")
PAIR = os.path.join(SCENES, "pair_sep60_m20_p40_snr20")


def read_wav(path):
    """A 16-bit WAV as float32 samples of shape (n, channels), full scale +-1."""
    with wave.open(path) as w:
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return data.reshape(-1, w.getnchannels()).astype(np.float32) / 32768.0


def median_by_id(points):
    return {int(i): float(np.median(points["azimuth"][points["id"] == i])) for i in np.unique(points["id"])}


def si_sdr(estimate, reference):
    scale = np.dot(estimate, reference) / np.dot(reference, reference)
    target = scale * reference
    return 10 * np.log10(np.sum(target**2) / np.sum((estimate - target) ** 2))


def cli_points(path, *options):
    """The sources `velk-binaural localize` writes as JSON lines, as the module's structured array."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "sources.jsonl")
        subprocess.run([CLI, "localize", path, "--json", out, "--quiet", *options], check=True,
                       stdout=subprocess.DEVNULL)
        rows = []
        with open(out) as lines:
            for line in lines:
                frame = json.loads(line)
                rows += [(s["id"], s["azimuth"], frame["time"]) for s in frame["sources"]]
    return np.array(rows, dtype=[("id", "<i4"), ("azimuth", "<f8"), ("time", "<f8")])


def assert_same_points(test, got, expected, azimuth_tolerance=0.0):
    test.assertEqual(len(got), len(expected))
    np.testing.assert_array_equal(got["id"], expected["id"])
    np.testing.assert_array_equal(got["time"], expected["time"])
    np.testing.assert_allclose(got["azimuth"], expected["azimuth"], rtol=0, atol=azimuth_tolerance)


class OnTheTwoTalkerScene(unittest.TestCase):
    """The talkers at -20 and +40 degrees, 20 dB above diffuse noise, as `x`."""

    @classmethod
    def setUpClass(cls):
        cls.path = os.path.join(PAIR, "mix.wav")
        cls.x = read_wav(cls.path)


@unittest.skipUnless(os.path.isdir(PAIR), "the binaural test scenes are not at VELK_SCENES_DIR")
class OneCallOnTheTwoTalkerScene(OnTheTwoTalkerScene):

    def test_localize_finds_both_talkers_with_either_method(self):
        for method in ("epipolar", "measured"):
            with self.subTest(method=method):
                medians = median_by_id(vb.localize(self.x, method=method)).values()
                for truth in (-20, 40):
                    self.assertLess(min(abs(m - truth) for m in medians), 5, medians)
        # The measured tables fit the head that made the scene: one id per talker, nothing else.
        self.assertEqual(len(median_by_id(vb.localize(self.x, method="measured"))), 2)

    def test_localize_reports_the_frames_in_order_of_time(self):
        points = vb.localize(self.x)
        self.assertTrue(np.all(np.diff(points["time"]) >= 0))
        self.assertLessEqual(points["time"][-1], len(self.x) / 16000)

    def test_separate_gives_each_talker_more_of_itself_than_the_mixture_has(self):
        images = [read_wav(os.path.join(PAIR, f"src{i}.wav")) for i in (0, 1)]
        for separator in ("mask", "passband"):
            with self.subTest(separator=separator):
                outputs = vb.separate(self.x, [-20, 40], separator=separator, method="measured")
                self.assertEqual([len(o) for o in outputs], [len(self.x)] * 2)
                for output, image, ear in zip(outputs, images, (1, 0)):  # the ear on the talker's side
                    self.assertEqual(output.dtype, np.float32)
                    self.assertGreater(si_sdr(output, image[:, ear]), si_sdr(self.x[:, ear], image[:, ear]) + 1.0)


@unittest.skipUnless(os.path.isdir(PAIR) and CLI, "needs the test scenes and the command-line tool")
class SameResultsAsTheCommandLine(OnTheTwoTalkerScene):
    # Ids and times are the command line's exactly; its azimuths come as the single-precision
    # position of a source record, to about 1e-5 degrees.
    def test_localize(self):
        for method in ("epipolar", "measured"):
            with self.subTest(method=method):
                assert_same_points(self, vb.localize(self.x, method=method),
                                   cli_points(self.path, "--method", method), 1e-5)

    def test_localize_events_and_parameters(self):
        assert_same_points(self, vb.localize(self.x, tracks="events", noise_floor="FIRST_FRAMES"),
                           cli_points(self.path, "--tracks", "events", "--param", "NOISE_FLOOR=FIRST_FRAMES"), 1e-5)
        assert_same_points(self, vb.localize(self.x, gate_angle=15, head=vb.head_model(radius=0.09)),
                           cli_points(self.path, "--param", "GATE_ANGLE=15", "--param", "HEAD_RADIUS=0.09"), 1e-5)

    # The command line writes 16-bit files: the same samples within one step of 16 bits.
    def test_separate(self):
        for separator, method in (("mask", "epipolar"), ("mask", "measured"), ("passband", "epipolar"), ("passband", "measured")):
            with self.subTest(separator=separator, method=method), tempfile.TemporaryDirectory() as folder:
                subprocess.run([CLI, "separate", self.path, "--out-dir", folder, "--directions", "-20,40", "--quiet",
                                "--separator", separator, "--method", method], check=True, stdout=subprocess.DEVNULL)
                outputs = vb.separate(self.x, [-20, 40], separator=separator, method=method)
                for i, output in enumerate(outputs):
                    written = read_wav(os.path.join(folder, f"source_{i}.wav"))[:, 0]
                    self.assertEqual(len(written), len(output))
                    np.testing.assert_allclose(np.clip(output, -1, 1), written, rtol=0, atol=1.01 / 32768)

    def test_a_refused_parameter_gives_the_command_lines_message(self):
        with self.assertRaises(ValueError) as refused:
            vb.Localizer(head_radius=0.7)
        cli = subprocess.run([CLI, "localize", self.path, "--param", "HEAD_RADIUS=0.7", "--quiet"],
                             capture_output=True, text=True)
        self.assertNotEqual(cli.returncode, 0)
        self.assertIn("HEAD_RADIUS", str(refused.exception))
        self.assertIn(str(refused.exception), cli.stderr)


@unittest.skipUnless(os.path.isdir(PAIR), "the binaural test scenes are not at VELK_SCENES_DIR")
class StreamingInBlocks(OnTheTwoTalkerScene):
    """A stream cut into blocks of any length gives what one call gives."""

    def test_localizer(self):
        whole = vb.localize(self.x)
        for size in (1, 160, 1000, 10000):
            with self.subTest(block=size):
                localizer = vb.Localizer()
                parts = [localizer.process(self.x[i:i + size]) for i in range(0, len(self.x), size)]
                assert_same_points(self, np.concatenate(parts + [localizer.finish()]), whole)

    def test_separator(self):
        directions = [-20, 40]
        for separator in ("mask", "passband"):
            whole = vb.separate(self.x, directions, separator=separator)
            for size in (1, 160, 1000, 10000):
                with self.subTest(separator=separator, block=size):
                    stream = vb.Separator(separator=separator)
                    parts = [stream.process(self.x[i:i + size], directions) for i in range(0, len(self.x), size)]
                    parts.append(stream.finish())
                    for d in range(len(directions)):
                        np.testing.assert_array_equal(np.concatenate([p[d] for p in parts]), whole[d])

    def test_streams_in_threads_give_what_they_give_alone(self):
        alone = vb.localize(self.x)
        results = [None] * 3

        def run(i):
            results[i] = vb.localize(self.x)

        threads = [threading.Thread(target=run, args=(i,)) for i in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for result in results:
            assert_same_points(self, result, alone)

    def test_a_block_completes_frames_only_once_their_samples_are_in(self):
        localizer = vb.Localizer(tracks="events")
        self.assertEqual(len(localizer.process(self.x[:100])), 0)  # no frame has all its samples
        self.assertEqual(len(localizer.process(np.zeros((0, 2), np.float32))), 0)


class RefusedInput(unittest.TestCase):
    def setUp(self):
        self.localizer = vb.Localizer()
        self.separator = vb.Separator()
        self.good = np.zeros((1000, 2), np.float32)

    def test_blocks_of_the_wrong_type_dtype_or_shape(self):
        cases = [
            (self.good.astype(np.float64), TypeError, "float32"),
            (self.good.astype(np.int16), TypeError, "float32"),
            (self.good.tolist(), TypeError, "numpy array"),
            (np.zeros(1000, np.float32), ValueError, "shape (n, 2)"),
            (np.zeros((1000, 3), np.float32), ValueError, "got shape (1000, 3)"),
            (np.zeros((2, 1000), np.float32), ValueError, "got shape (2, 1000)"),
            (np.zeros((10, 2, 1), np.float32), ValueError, "shape (n, 2)"),
        ]
        for block, error, words in cases:
            with self.subTest(words=words):
                with self.assertRaises(error) as refused:
                    self.localizer.process(block)
                self.assertIn(words, str(refused.exception))
                with self.assertRaises(error):
                    self.separator.process(block, [0.0])
                with self.assertRaises(error):
                    vb.localize(block)

    def test_a_sample_that_is_not_a_number_is_refused_naming_where(self):
        block = self.good.copy()
        block[700, 1] = np.nan
        with self.assertRaises(ValueError) as refused:
            self.localizer.process(block)
        self.assertIn("sample 700 of the right ear", str(refused.exception))
        # Nothing of the refused block was taken: the stream goes on as if it never came.
        self.assertEqual(len(self.localizer.process(self.good)), len(vb.Localizer().process(self.good)))

    def test_a_non_contiguous_block_is_read_correctly(self):
        rng = np.random.default_rng(1)
        wide = rng.standard_normal((16000, 4)).astype(np.float32) * 0.1
        strided, copied = wide[:, ::2], np.ascontiguousarray(wide[:, ::2])
        assert_same_points(self, vb.localize(strided, tracks="events"), vb.localize(copied, tracks="events"))

    def test_parameters_are_checked_by_their_declarations(self):
        cases = [
            (dict(peak_threshold="high"), "PEAK_THRESHOLD"),
            (dict(HEAD_RADIUS=0.0), "HEAD_RADIUS"),
            (dict(no_such_parameter=1), "unknown"),
            (dict(gate_angle=120), "GATE_ANGLE"),
            (dict(tracks="everything"), "tracks"),
            (dict(method="guess"), "method"),
            (dict(bgnoise_method="EXTERNAL"), "BGNOISE_METHOD"),
            (dict(SAMPLING_RATE=8000), "fs"),
            (dict(tracks="events", gate_angle=15), "talker tracker"),
        ]
        for kwargs, words in cases:
            with self.subTest(**{k: str(v) for k, v in kwargs.items()}):
                with self.assertRaises(ValueError) as refused:
                    vb.Localizer(**kwargs)
                self.assertIn(words, str(refused.exception))
        with self.assertRaises(TypeError):
            vb.Localizer(peak_threshold=True)
        for kwargs, words in [(dict(mask_floor=2.0), "MASK_FLOOR"), (dict(separator="best"), "separator"),
                              (dict(separator="passband", range_min=-1), "RANGE_MIN")]:
            with self.subTest(**{k: str(v) for k, v in kwargs.items()}):
                with self.assertRaises(ValueError) as refused:
                    vb.Separator(**kwargs)
                self.assertIn(words, str(refused.exception))

    def test_directions_must_be_azimuths_and_keep_their_count(self):
        with self.assertRaises(ValueError):
            self.separator.process(self.good, [100.0])
        with self.assertRaises(TypeError):
            self.separator.process(self.good, "30")
        self.separator.process(self.good, [30.0, -30.0])
        with self.assertRaises(ValueError) as refused:
            self.separator.process(self.good, [30.0])
        self.assertIn("same talkers", str(refused.exception))

    def test_tables_and_head_model(self):
        with self.assertRaises(Exception) as refused:
            vb.load_tables("/no/such/table.velk")
        self.assertIn("/no/such/table.velk", str(refused.exception))
        with self.assertRaises(ValueError):
            vb.head_model(radius=0.6)
        head = vb.head_model(radius=0.08)
        self.assertAlmostEqual(head.radius, 0.08, places=6)
        with self.assertRaises(ValueError):
            vb.Localizer(method="measured", head=head)

    def test_a_finished_stream_takes_no_more_samples(self):
        self.localizer.finish()
        with self.assertRaises(RuntimeError):
            self.localizer.process(self.good)


if __name__ == "__main__":
    unittest.main()
