"""Speed of the Python module against the command line on the same recording.

    PYTHONPATH=build/python python3 bench/python_speed.py [--repeat 10] [--runs 3]

Makes a long recording by repeating the two-talker test scene, then times, best of --runs:
`velk-binaural localize` (and `separate --directions`) on the file, whole process, against
`velk_binaural.localize` (and `separate`) on the array read from it, without the reading. Prints
seconds, the real-time factor and the ratio Python / command line.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

import velk_binaural as vb

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def best_of(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scene", default=os.path.join(ROOT, "..", "shared", "scenes", "pair_sep60_m20_p40_snr20", "mix.wav"))
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "velk-binaural"))
    parser.add_argument("--repeat", type=int, default=10, help="times the scene is repeated")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    with wave.open(args.scene) as w:
        pcm = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").reshape(-1, 2)
    pcm = np.tile(pcm, (args.repeat, 1))
    x = pcm.astype(np.float32) / 32768.0
    seconds = len(x) / 16000
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "long.wav")
        with wave.open(path, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(16000)
            w.writeframes(pcm.tobytes())
        out = os.path.join(folder, "out")
        cases = [
            ("localize", lambda: subprocess.run([args.cli, "localize", path, "--quiet"], check=True, stdout=subprocess.DEVNULL),
             lambda: vb.localize(x)),
            ("localize measured",
             lambda: subprocess.run([args.cli, "localize", path, "--quiet", "--method", "measured"], check=True,
                                    stdout=subprocess.DEVNULL),
             lambda: vb.localize(x, method="measured")),
        ]
        for separator in ("mask", "passband"):
            cases.append((f"separate {separator}",
                          lambda s=separator: subprocess.run([args.cli, "separate", path, "--quiet", "--out-dir", out,
                                                              "--directions", "-20,40", "--separator", s],
                                                             check=True, stdout=subprocess.DEVNULL),
                          lambda s=separator: vb.separate(x, [-20, 40], separator=s)))
        print(f"recording: {seconds:.1f} s ({args.repeat} x {os.path.basename(os.path.dirname(args.scene))}), "
              f"best of {args.runs}")
        print(f"{'case':<20} {'cli s':>8} {'python s':>9} {'x real time':>12} {'python/cli':>11}")
        for name, cli, python in cases:
            cli_s, py_s = best_of(args.runs, cli), best_of(args.runs, python)
            print(f"{name:<20} {cli_s:8.3f} {py_s:9.3f} {seconds / py_s:12.0f} {py_s / cli_s:11.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
