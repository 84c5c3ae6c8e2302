#!/usr/bin/env python3
"""End-to-end tests of the quolva-host command-line tool against the fake module,
and of the demo-loop generator.

usage: cli_test.py --host QUOLVA_HOST --plugin FAKE.clap --demo make_demo_loop.py --work DIR
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import unittest
import wave

ARGS = None
GAIN_ID = "org.quolva.test.gain"
SPARSE_ID = "org.quolva.test.sparse"


def run_host(*args):
    return subprocess.run([ARGS.host, *args], capture_output=True, text=True, timeout=120)


def read_wav(path):
    """(format code, channels, rate, bits, frames, samples as floats) from a RIFF file.

    Reads the chunks by hand: the stdlib wave module knows no float WAV files.
    """
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", "not a WAV file"
    pos = 12
    fmt = None
    payload = None
    while pos + 8 <= len(data):
        chunk_id, size = struct.unpack_from("<4sI", data, pos)
        body = data[pos + 8: pos + 8 + size]
        if chunk_id == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body, 0)
        elif chunk_id == b"data":
            payload = body
        pos += 8 + size + (size & 1)
    code, channels, rate, _, align, bits = fmt
    if code == 0xFFFE:  # WAVE_FORMAT_EXTENSIBLE: the real code starts the sub-format GUID
        code = struct.unpack_from("<H", body_of(data, b"fmt "), 24)[0]
    frames = len(payload) // align
    if code == 3 and bits == 32:
        samples = list(struct.unpack("<%df" % (frames * channels), payload))
    elif code == 1 and bits == 16:
        samples = [v / 32768.0 for v in struct.unpack("<%dh" % (frames * channels), payload)]
    elif code == 1 and bits == 24:
        samples = [int.from_bytes(payload[i:i + 3], "little", signed=True) / 8388608.0
                   for i in range(0, len(payload), 3)]
    else:
        raise AssertionError("unexpected WAV format %d/%d bits" % (code, bits))
    return code, channels, rate, bits, frames, samples


def body_of(data, wanted):
    pos = 12
    while pos + 8 <= len(data):
        chunk_id, size = struct.unpack_from("<4sI", data, pos)
        if chunk_id == wanted:
            return data[pos + 8: pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise AssertionError("no %r chunk" % wanted)


class DemoLoop(unittest.TestCase):
    def test_loop_is_eight_seconds_of_stereo_16_bit_and_repeatable(self):
        first = os.path.join(ARGS.work, "loop-a.wav")
        second = os.path.join(ARGS.work, "loop-b.wav")
        for path in (first, second):
            subprocess.run([sys.executable, ARGS.demo, path], check=True, timeout=300)
        with open(first, "rb") as a, open(second, "rb") as b:
            self.assertEqual(a.read(), b.read(), "two runs must write the same bytes")
        with wave.open(first, "rb") as w:
            self.assertEqual(w.getnchannels(), 2)
            self.assertEqual(w.getsampwidth(), 2)
            self.assertEqual(w.getframerate(), 44100)
            self.assertEqual(w.getnframes(), 8 * 44100)
            pcm = struct.unpack("<%dh" % (2 * w.getnframes()), w.readframes(w.getnframes()))
        left, right = pcm[0::2], pcm[1::2]
        peak = max(abs(v) for v in pcm)
        self.assertGreater(peak, 20000, "loud enough")
        self.assertLess(peak, 32767, "no clipping")
        self.assertNotEqual(left, right, "slightly stereo")
        # A hit on every beat: each beat's first 50 ms is louder than the 50 ms before it.
        beat = 22050
        for k in range(1, 16):
            onset = max(abs(v) for v in left[k * beat: k * beat + 2205])
            before = max(abs(v) for v in left[k * beat - 2205: k * beat - 200])
            self.assertGreater(onset, before, "beat %d" % k)


class Cli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.loop = os.path.join(ARGS.work, "input.wav")
        subprocess.run([sys.executable, ARGS.demo, cls.loop], check=True, timeout=300)
        _, _, _, _, cls.loop_frames, cls.loop_samples = read_wav(cls.loop)

    def path(self, name):
        return os.path.join(ARGS.work, self._testMethodName + "-" + name)

    def assert_fails(self, result, *fragments):
        self.assertNotEqual(result.returncode, 0, result.stdout)
        for fragment in fragments:
            self.assertIn(fragment, result.stderr)

    def test_info_json_describes_the_plugin(self):
        r = run_host("info", ARGS.plugin, "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        info = json.loads(r.stdout)
        self.assertEqual(info["id"], GAIN_ID)
        self.assertEqual(info["name"], "Fake Gain")
        self.assertEqual(info["vendor"], "Quolva Test")
        self.assertEqual(info["version"], "1.0.0")
        self.assertEqual(info["description"], "Gain for host tests")
        self.assertEqual(info["features"], ["audio-effect", "stereo"])
        self.assertEqual(info["plugins_in_module"], [GAIN_ID, SPARSE_ID])
        self.assertTrue(info["extensions"]["clap.params"])
        self.assertTrue(info["extensions"]["clap.state"])
        self.assertTrue(info["extensions"]["clap.audio-ports"])
        self.assertFalse(info["extensions"]["clap.gui"])
        self.assertFalse(info["extensions"]["clap.latency"])
        for direction, name in (("inputs", "Main In"), ("outputs", "Main Out")):
            ports = info["audio_ports"][direction]
            self.assertEqual(len(ports), 1)
            self.assertEqual(ports[0]["name"], name)
            self.assertEqual(ports[0]["channels"], 2)
            self.assertEqual(ports[0]["flags"], ["main"])
            self.assertEqual(ports[0]["port_type"], "stereo")
        params = info["params"]
        self.assertEqual([p["id"] for p in params], [10, 20])
        gain, mute = params
        self.assertEqual((gain["name"], gain["module"], gain["min"], gain["max"], gain["default"]),
                         ("Gain", "Main", 0, 2, 1))
        self.assertEqual(gain["flags"], ["automatable"])
        self.assertEqual((gain["value"], gain["text"]), (1, "1.000"))
        self.assertEqual(mute["flags"], ["stepped", "automatable"])
        self.assertEqual((mute["value"], mute["text"]), (0, "off"))
        self.assertEqual(info["problems"], [])

    def test_info_text_names_everything(self):
        r = run_host("info", ARGS.plugin)
        self.assertEqual(r.returncode, 0, r.stderr)
        for fragment in ("Fake Gain", "Quolva Test", "audio-effect, stereo", "clap.params",
                         "\"Main In\": 2 channels", "port_type stereo", "Gain", "module Main",
                         "[stepped, automatable]", "= 0 (off)"):
            self.assertIn(fragment, r.stdout)

    def test_problems_are_printed_and_strict_fails(self):
        r = run_host("info", ARGS.plugin, "--id", SPARSE_ID, "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        info = json.loads(r.stdout)
        self.assertIsNone(info["vendor"])
        self.assertIsNone(info["features"])
        self.assertIsNone(info["audio_ports"]["inputs"][0]["port_type"])
        self.assertIn('input port 0 ("Main In") has a null port_type', info["problems"])
        self.assertIn("null port_type", r.stderr)
        strict = run_host("info", ARGS.plugin, "--id", SPARSE_ID, "--strict")
        self.assertEqual(strict.returncode, 3)
        self.assertIn("--strict", strict.stderr)
        self.assertEqual(run_host("info", ARGS.plugin, "--strict").returncode, 0)

    def test_render_keeps_length_and_applies_parameters(self):
        out = self.path("out.wav")
        r = run_host("render", ARGS.plugin, self.loop, out, "--set", "Gain=0.5",
                     "--at", "4", "Mute=on", "--strict")
        self.assertEqual(r.returncode, 0, r.stderr)
        code, channels, rate, bits, frames, samples = read_wav(out)
        self.assertEqual((code, channels, rate, bits), (3, 2, 44100, 32))
        self.assertEqual(frames, self.loop_frames)
        mute_at = 4 * 44100
        # 16-bit input times 0.5 is exact in float.
        self.assertEqual(samples[:2 * mute_at], [v * 0.5 for v in self.loop_samples[:2 * mute_at]])
        self.assertTrue(all(v == 0.0 for v in samples[2 * mute_at:]))

    def test_render_options(self):
        cases = [
            (["--rate", "48000"], (3, 2, 48000, 32)),
            (["--format", "pcm24"], (1, 2, 44100, 24)),
            (["--format", "pcm16", "--block", "1000", "--in-place"], (1, 2, 44100, 16)),
            (["--block", "7", "--at-frame", "1000", "10=0.25"], (3, 2, 44100, 32)),
        ]
        for extra, expected in cases:
            with self.subTest(extra=extra):
                out = self.path("out.wav")
                r = run_host("render", ARGS.plugin, self.loop, out, *extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                code, channels, rate, bits, frames, samples = read_wav(out)
                self.assertEqual((code, channels, rate, bits), expected)
                self.assertEqual(frames, self.loop_frames)
        # The last case: unity gain up to frame 1000, a quarter from there on.
        self.assertEqual(samples[1998:2004],
                         [self.loop_samples[1998], self.loop_samples[1999]]
                         + [v * 0.25 for v in self.loop_samples[2000:2004]])

    def test_state_round_trip_through_a_file(self):
        saved = self.path("state.bin")
        r = run_host("state", ARGS.plugin, "--set", "Gain=0.25", "--set", "20=1", "--save", saved,
                     "--chunk", "3")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.getsize(saved) > 0)
        r = run_host("state", ARGS.plugin, "--load", saved, "--json", "--chunk", "5")
        self.assertEqual(r.returncode, 0, r.stderr)
        values = {p["name"]: (p["value"], p["text"]) for p in json.loads(r.stdout)["params"]}
        self.assertEqual(values, {"Gain": (0.25, "0.250"), "Mute": (1, "on")})

        # render --load-state starts from the saved values and --save-state keeps the end state.
        out = self.path("out.wav")
        after = self.path("after.bin")
        r = run_host("render", ARGS.plugin, self.loop, out, "--load-state", saved,
                     "--at", "1", "Mute=0", "--save-state", after)
        self.assertEqual(r.returncode, 0, r.stderr)
        samples = read_wav(out)[5]
        self.assertEqual(samples[0:4], [0.0] * 4)
        self.assertEqual(samples[2 * 44100:2 * 44100 + 4],
                         [v * 0.25 for v in self.loop_samples[2 * 44100:2 * 44100 + 4]])
        r = run_host("state", ARGS.plugin, "--load", after, "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        values = {p["name"]: p["value"] for p in json.loads(r.stdout)["params"]}
        self.assertEqual(values, {"Gain": 0.25, "Mute": 0})

        # The text form lists the same values.
        r = run_host("state", ARGS.plugin, "--load", after)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"10  Gain += 0\.25 \(0\.250\)")
        self.assertRegex(r.stdout, r"20  Mute += 0 \(off\)")

    def test_errors_exit_non_zero_with_a_clear_message(self):
        junk = self.path("junk.bin")
        with open(junk, "wb") as f:
            f.write(b"junk")
        out = self.path("out.wav")
        cases = [
            (["info", self.path("missing.clap")], 1, "no such file"),
            (["info", ARGS.plugin, "--id", "org.quolva.none"], 1, "no plug-in with id"),
            (["render", ARGS.plugin, self.loop, out, "--set", "Volume=1"], 1, "unknown parameter 'Volume'"),
            (["render", ARGS.plugin, self.loop, out, "--set", "Gain=3"], 1, "outside its range"),
            (["render", ARGS.plugin, self.loop, out, "--set", "Mute=maybe"], 1, "not a value of Mute"),
            (["render", ARGS.plugin, self.loop, out, "--at", "9", "Gain=1"], 1, "beyond"),
            (["render", ARGS.plugin, self.path("missing.wav"), out], 1, "cannot read"),
            (["render", ARGS.plugin, self.loop, out, "--block", "0"], 2, "--block"),
            (["render", ARGS.plugin, self.loop, out, "--rate", "44.1k"], 2, "--rate"),
            (["render", ARGS.plugin, self.loop], 2, "render takes"),
            (["state", ARGS.plugin, "--load", junk], 1, "refused the state"),
            (["state", ARGS.plugin, "--set", "Gain"], 2, "NAME=VALUE"),
            (["info", ARGS.plugin, "--in-place"], 2, "unknown option --in-place"),
            (["dance", ARGS.plugin], 2, "unknown command"),
        ]
        for args, status, fragment in cases:
            with self.subTest(args=args):
                r = run_host(*args)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(fragment, r.stderr)
        self.assertFalse(os.path.exists(out), "no output file after a failed render")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    shutil.rmtree(ARGS.work, ignore_errors=True)
    os.makedirs(ARGS.work)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
