#!/usr/bin/env python3
"""End-to-end test of `quolva-host gui`: opens each editor, clicks it with
xdotool, and checks what the tool prints and the screenshot it writes.

usage: gui_cli_test.py --host QUOLVA_HOST --radeda Radeda.clap --zivaz Zivaz.clap --work DIR

Runs under an X display (xvfb-run); needs xdotool.
"""

import argparse
import os
import signal
import struct
import subprocess
import sys
import threading
import time
import unittest
import zlib

ARGS = None


def read_png(path, last_row=None):
    """Width, height and RGBA rows (up to last_row) of an 8-bit RGBA, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc, "bad CRC in chunk %r" % kind
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 6, 0), "not 8-bit RGBA without interlace"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev = [], bytearray(stride)
    for y in range(height if last_row is None else min(height, last_row + 1)):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + pred) & 255
        rows.append(line)
        prev = line
    return width, height, rows


def pixel(rows, x, y):
    return tuple(rows[y][x * 4:x * 4 + 4])


class GuiSession:
    """quolva-host gui running in the background, its output collected as it comes."""

    def __init__(self, args):
        self.proc = subprocess.Popen([ARGS.host, "gui"] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def wait_for(self, line, timeout=30):
        end = time.monotonic() + timeout
        while line not in self.lines and time.monotonic() < end and self.proc.poll() is None:
            time.sleep(0.02)
        return line in self.lines

    def window(self, title):
        out = subprocess.run(["xdotool", "search", "--sync", "--name", "^%s$" % title],
                             capture_output=True, text=True, timeout=30)
        ids = out.stdout.split()
        assert ids, "no window named %r" % title
        return ids[0]

    def finish(self, stop=False):
        """Exit status, standard output lines and standard error, after the tool ends
        (asked to with SIGTERM when `stop`)."""
        if stop:
            self.proc.send_signal(signal.SIGTERM)
        err = self.proc.stderr.read()
        self.proc.wait(timeout=60)
        self.reader.join(timeout=10)
        return self.proc.returncode, self.lines, err


class GuiCommand(unittest.TestCase):
    def test_clicks_are_printed_and_drawn_in_the_screenshot(self):
        shot = os.path.join(ARGS.work, "radeda.png")
        s = GuiSession([ARGS.radeda, "--set", "BPM=123", "--set", "Attack=0.5", "--screenshot", shot])
        self.assertTrue(s.wait_for("editor 800x600 at scale 1"), s.lines)
        w = s.window("quolva-host: Quolvan Radeda")
        # Active's switch, then the upper third of BPM's left digit.
        subprocess.run(["xdotool", "mousemove", "--window", w, "240", "327", "click", "1"], check=True)
        subprocess.run(["xdotool", "mousemove", "--window", w, "209", "164", "click", "1"], check=True)
        self.assertTrue(s.wait_for("param 1 BPM = 223"), s.lines)
        code, lines, err = s.finish(stop=True)
        self.assertEqual(code, 0, err)
        params = [l for l in lines if l.startswith("param ")]
        self.assertEqual(params, ["param 0 Active = 1", "param 1 BPM = 223"])
        self.assertIn("screenshot %s (800x600)" % shot, lines)

        width, height, rows = read_png(shot, 480)
        self.assertEqual((width, height), (800, 600))
        r, g, b, a = pixel(rows, 240, 374)  # Active's lamp, lit by the click
        self.assertTrue(r >= 150 and r >= g + 60 and a == 255, (r, g, b, a))
        r, g, b, _ = pixel(rows, 321, 474)  # Attack at 0.5 points straight up
        self.assertTrue(min(r, g, b) >= 150, (r, g, b))

    def test_scale_two_opens_a_window_twice_the_size(self):
        shot = os.path.join(ARGS.work, "zivaz.png")
        s = GuiSession([ARGS.zivaz, "--scale", "2", "--seconds", "1", "--set", "Downsample=16",
                        "--screenshot", shot])
        code, lines, err = s.finish()
        self.assertEqual(code, 0, err)
        self.assertIn("editor 1600x1200 at scale 2", lines)
        width, height, rows = read_png(shot, 2 * 178)
        self.assertEqual((width, height), (1600, 1200))
        r, g, b, _ = pixel(rows, 2 * 731, 2 * 178)  # pill 16, lit
        self.assertTrue(r >= 150 and r >= g + 60, (r, g, b))

    def test_without_a_display_it_fails_cleanly(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        out = subprocess.run([ARGS.host, "gui", ARGS.radeda, "--seconds", "1"], env=env,
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 1, out.stderr)
        self.assertIn("cannot open the X display", out.stderr)

    def test_bad_options_are_usage_errors(self):
        for args in (["--scale", "0"], ["--scale", "x"], ["--seconds", "-1"], ["--json"]):
            out = subprocess.run([ARGS.host, "gui", ARGS.radeda] + args, capture_output=True, text=True,
                                 timeout=60)
            self.assertEqual(out.returncode, 2, (args, out.stderr))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--radeda", required=True)
    parser.add_argument("--zivaz", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
