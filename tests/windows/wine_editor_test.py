#!/usr/bin/env python3
"""The Windows editor under Wine, seen and clicked from the X side.

Runs inside xvfb-run. Starts the cross-built wine_editor on a Windows module,
waits until the editor is up, takes a screenshot of its window and checks
pixel probes against the editor's artwork (painted background, knob pointers
at the defaults, the control the click will change); then clicks that control
with a real X pointer event and checks that the host received the parameter
change and that the editor shows it. Optionally saves the first screenshot.

Wine draws an OpenGL child window into an X window of its own, kept inside a
1x1 parent at -1,-1 (so its top row and left column lie off screen), while
the toplevel X window stays black under Xvfb. The screenshot therefore grabs
that GL window, moved to 1,1 inside its parent (absolute 0,0) first so the
whole editor is on screen; pointer input goes to the toplevel as usual.
"""
import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import time

from PIL import Image

# Per editor: the artwork folder, background points (design = pixel at scale 1)
# that no control covers, knob pointers at the defaults (centre, degrees
# clockwise from up), and the click: where, the parameter event the host must
# receive, and the point whose picture changes from `before` to `after`
# (artwork file and the point in it).
EDITORS = {
    "Radeda": {
        "art": "repeat/artwork",
        "background": [(20, 20), (400, 60), (100, 300), (780, 580), (240, 374)],
        "knobs": [(160, 499, -54.0, "Speed 1"), (321, 499, -90.0, "Attack 0"),
                  (480, 499, 90.0, "Hold 1"), (639, 499, 90.0, "Release 1")],
        # The Active switch: on, and its lamp lights.
        "click": (240, 327),
        "event": (0, 1.0),
        "changes": [((240, 374), ("background.png", (240, 374)), ("lamp.png", (19, 19))),
                    ((240, 309), ("switch_off.png", (25, 10)), ("switch_on.png", (25, 10)))],
    },
    "Zivaz": {
        "art": "crush/artwork",
        "background": [(20, 20), (100, 300), (700, 300), (780, 580), (380, 178)],
        "knobs": [(240, 502, 0.0, "Noise Bias 0.5"), (318, 350, -90.0, "Input Noise 0"),
                  (477, 350, -90.0, "Output Noise 0"), (399, 502, -90.0, "Post Clip 0"),
                  (558, 502, -90.0, "Distort 0")],
        # The eighth Downsample button: the lit strip grows to it.
        "click": (380, 178),
        "event": (0, 8.0),
        "changes": [((380, 178), ("background.png", (380, 178)), ("lit.png", (334, 18)))],
    },
}
TOLERANCE = 8  # per channel, for artwork drawn through NanoVG's image pattern


def luminance(p):
    return (p[0] * 299 + p[1] * 587 + p[2] * 114) // 1000


def is_white(p):
    return p[0] >= 150 and p[1] >= 150 and p[2] >= 150


def close(a, b):
    return all(abs(int(x) - int(y)) <= TOLERANCE for x, y in zip(a[:3], b[:3]))


def check_pointer(shot, cx, cy, degrees, what):
    """The pixel 25 units out along `degrees` is the white pointer, those 30 degrees
    to either side the dark body (the same probe as the Linux editor tests)."""
    wrong = []
    for offset in (0.0, -30.0, 30.0):
        a = math.radians(degrees + offset)
        x, y = cx + 25.0 * math.sin(a), cy - 25.0 * math.cos(a)
        p = shot.getpixel((int(math.floor(x)), int(math.floor(y))))
        ok = is_white(p) if offset == 0.0 else luminance(p) < 90
        if not ok:
            wanted = "the white pointer" if offset == 0.0 else "the dark body"
            wrong.append(f"{what}: at {degrees + offset:+.0f} degrees ({x:.1f}, {y:.1f}) the pixel is {p[:3]}, "
                         f"wanted {wanted}")
    return wrong


class Session:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.proc = None
        self.log = None

    def tool(self, *cmd):
        return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout

    def start(self):
        # A wineserver left by an earlier test would tie this run to its display.
        subprocess.run([self.args.wineserver, "-k"], capture_output=True)
        win = lambda p: "Z:" + os.path.abspath(p).replace("/", "\\")
        self.log = open(os.path.join(self.work, "wine_editor.log"), "w")
        self.proc = subprocess.Popen([self.args.wine, self.args.editor, win(self.args.module), win(self.work)],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        ready = os.path.join(self.work, "ready")
        deadline = time.monotonic() + 90
        while not os.path.exists(ready):
            if self.proc.poll() is not None:
                raise SystemExit(f"wine_editor ended early with {self.proc.returncode}:\n{self.output()}")
            if time.monotonic() > deadline:
                raise SystemExit("the editor did not come up within 90 s")
            time.sleep(0.2)
        width, height, title = open(ready).read().strip().split(" ", 2)
        self.size = (int(width), int(height))
        self.toplevel = self.tool("xdotool", "search", "--name", "^" + re.escape(title) + "$").split()[0]
        self.gl = self.find_gl_window()
        print(f"editor up: {title}, {width}x{height}, toplevel {self.toplevel}, GL window {self.gl}")

    def find_gl_window(self):
        # The only X window of the editor's size that is not the toplevel.
        tree = self.tool("xwininfo", "-root", "-tree")
        w, h = self.size
        found = [m.group(1) for m in re.finditer(r"^\s*(0x[0-9a-f]+) .*\s%dx%d[+-]" % (w, h), tree, re.M)
                 if int(m.group(1), 16) != int(self.toplevel, 0)]
        if len(found) != 1:
            raise SystemExit(f"expected one GL window of {w}x{h}, found {found}:\n{tree}")
        return found[0]

    def screenshot(self, name):
        self.tool("xdotool", "windowmove", self.gl, "1", "1")
        path = os.path.join(self.work, name)
        self.tool("import", "-window", self.gl, path)
        shot = Image.open(path).convert("RGB")
        if shot.size != self.size:
            raise SystemExit(f"screenshot is {shot.size}, the editor {self.size}")
        return shot, path

    def wait_for_picture(self, name, check, seconds=20):
        deadline = time.monotonic() + seconds
        while True:
            shot, path = self.screenshot(name)
            wrong = check(shot)
            if not wrong or time.monotonic() > deadline:
                return shot, path, wrong
            time.sleep(0.3)

    def events(self):
        path = os.path.join(self.work, "events.txt")
        if not os.path.exists(path):
            return []
        out = []
        for line in open(path).read().splitlines():
            pid, value = line.split()
            out.append((int(pid), float(value)))
        return out

    def click(self, x, y):
        ox, oy = self.origin()
        self.tool("xdotool", "mousemove", "--sync", str(ox + x), str(oy + y), "click", "1")

    def origin(self):
        info = self.tool("xwininfo", "-id", self.toplevel)
        ax = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        ay = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        return ax, ay

    def stop(self):
        open(os.path.join(self.work, "quit"), "w").close()
        if self.proc is None:
            return "never started"
        try:
            code = self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = "killed after 60 s"
        subprocess.run([self.args.wineserver, "-k"], capture_output=True)
        return code

    def output(self):
        if self.log is None:
            return ""
        self.log.flush()
        return open(os.path.join(self.work, "wine_editor.log"), errors="replace").read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", required=True)
    ap.add_argument("--wineserver", required=True)
    ap.add_argument("--editor", required=True, help="the cross-built wine_editor .exe")
    ap.add_argument("--module", required=True)
    ap.add_argument("--name", required=True, choices=sorted(EDITORS))
    ap.add_argument("--plugins", required=True, help="the plugins/ folder (artwork)")
    ap.add_argument("--work", required=True)
    ap.add_argument("--save-screenshot", help="copy the first screenshot here")
    args = ap.parse_args()
    ed = EDITORS[args.name]
    art = lambda f: Image.open(os.path.join(args.plugins, ed["art"], f)).convert("RGB")
    background = art("background.png")

    faults = []
    s = Session(args)
    try:
        s.start()

        def first_check(shot):
            wrong = []
            for x, y in ed["background"]:
                if not close(shot.getpixel((x, y)), background.getpixel((x, y))):
                    wrong.append(f"background at ({x}, {y}) is {shot.getpixel((x, y))}, "
                                 f"painted {background.getpixel((x, y))}")
            for cx, cy, deg, what in ed["knobs"]:
                wrong += check_pointer(shot, cx, cy, deg, what)
            for (x, y), (file, at), _ in ed["changes"]:
                want = art(file).getpixel(at)
                if not close(shot.getpixel((x, y)), want):
                    wrong.append(f"before the click ({x}, {y}) is {shot.getpixel((x, y))}, {file} has {want}")
            return wrong

        shot, path, wrong = s.wait_for_picture("editor.png", first_check)
        faults += wrong
        print(f"first screenshot: {len(wrong)} wrong probes")
        if args.save_screenshot:
            shutil.copyfile(path, args.save_screenshot)

        before = s.events()
        x, y = ed["click"]
        s.click(x, y)
        deadline = time.monotonic() + 10
        while ed["event"] not in s.events()[len(before):] and time.monotonic() < deadline:
            time.sleep(0.1)
        got = s.events()[len(before):]
        print(f"events after the click at ({x}, {y}): {got}")
        if ed["event"] not in got:
            faults.append(f"the host did not receive parameter {ed['event'][0]} = {ed['event'][1]} "
                          f"after the click; it got {got}")
        others = sorted({pid for pid, _ in got} - {ed["event"][0]})
        if others:
            faults.append(f"the click also changed parameters {others}")

        def after_check(shot):
            wrong = []
            for (x, y), _, (file, at) in ed["changes"]:
                want = art(file).getpixel(at)
                if not close(shot.getpixel((x, y)), want):
                    wrong.append(f"after the click ({x}, {y}) is {shot.getpixel((x, y))}, {file} has {want}")
            return wrong

        _, _, wrong = s.wait_for_picture("after-click.png", after_check, seconds=10)
        faults += wrong
    finally:
        code = s.stop()
    if code != 0:
        faults.append(f"wine_editor exited with {code}")
    sys.stdout.write(s.output())
    for f in faults:
        print(f"FAULT: {f}")
    print(f"{args.name} editor under Wine: {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
