#!/usr/bin/python3
"""Checks the editor pictures of both plug-ins.

The editors draw the value-dependent pictures (digits, lamps, switches, the
lit strip, titles, knobs) at fixed design coordinates over one painted
background, so these tests probe the pictures at exactly those coordinates.

    test_artwork.py [--root CHECKOUT]

Exits non-zero when a check fails; the last line is "N passed, M failed".
"""

import argparse
import math
import os
import struct
import sys
import traceback

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
REPEAT = os.path.join("plugins", "repeat", "artwork")
CRUSH = os.path.join("plugins", "crush", "artwork")

# --- what the editors draw where (design units = background pixels) --------

READOUTS = [((209, 192), 3), ((399, 192), 1), ((543, 192), 2)]
DIGIT_SLOTS = [(ax - 18 + 30 * i, ay - 26) for (ax, ay), n in READOUTS for i in range(n)]
DIGIT_ANCHORS = [(ax + 30 * i, ay) for (ax, ay), n in READOUTS for i in range(n)]
LAMPS = [(221, 355), (380, 355), (540, 355)]
SWITCHES = [(215, 299, 51, 56), (374, 299, 51, 56), (533, 299, 51, 56)]
RADEDA_KNOBS = [(160, 499), (321, 499), (480, 499), (639, 499)]
ZIVAZ_KNOBS = [(240, 502), (318, 350), (477, 350), (558, 502), (399, 502)]
LIT_RECT = (46, 160, 712, 37)
TITLE_RECT = (243, 43, 313, 38)

# Probe points of the seven segments inside a 36 x 52 digit picture, and the
# two counters (the holes of the 8) that no segment covers.
SEGMENT_PROBES = {"a": (20, 6), "b": (27, 16), "c": (25, 35), "d": (15, 45),
                  "e": (8, 35), "f": (10, 16), "g": (18, 26)}
COUNTER_PROBES = [(18, 17), (17, 35)]
DIGIT_SEGMENTS = ["abcdef", "bc", "abdeg", "abcdg", "bcfg",
                  "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"]

PICTURES = ([(REPEAT, "background.png", 800, 600)]
            + [(REPEAT, "digit%d.png" % k, 36, 52) for k in range(10)]
            + [(REPEAT, "lamp.png", 39, 39), (REPEAT, "switch_off.png", 51, 56),
               (REPEAT, "switch_on.png", 51, 56), (CRUSH, "background.png", 800, 600),
               (CRUSH, "lit.png", 712, 37)]
            + [(CRUSH, "title%d.png" % i, 313, 38) for i in range(6)])

# Panel labels: text, expected ink centre x, box (x0, y0, x1, y1) to look in.
RADEDA_LABELS = [("BPM", 240.5, (176, 120, 305, 142)), ("Beats", 399.5, (335, 120, 464, 142)),
                 ("Division", 559.5, (495, 120, 624, 142)),
                 ("Active", 240.5, (176, 267, 305, 289)),
                 ("Retrigger", 399.5, (335, 267, 464, 289)),
                 ("Varispeed", 559.5, (495, 267, 624, 289)),
                 ("Speed", 160.0, (95, 422, 225, 444)), ("Attack", 321.0, (256, 422, 386, 444)),
                 ("Hold", 480.0, (415, 422, 545, 444)), ("Release", 639.0, (574, 422, 704, 444))]
ZIVAZ_LABELS = [("Downsample", 400.0, (300, 128, 500, 150)),
                ("Input Noise", 318.0, (253, 272, 383, 294)),
                ("Output Noise", 477.0, (412, 272, 542, 294)),
                ("Noise Bias", 240.0, (175, 425, 305, 447)),
                ("Post Clip", 399.0, (334, 425, 464, 447)),
                ("Distort", 558.0, (493, 425, 623, 447))]

PILL_PITCH = (665.0 - 6.0) / 15.0


def pill_span(k):
    """Continuous x span of pill k (0-based) in strip coordinates."""
    x0 = 6.0 + PILL_PITCH * k
    return x0, x0 + 41.0


# --- small helpers ----------------------------------------------------------

_cache = {}


def load(folder, name):
    key = (folder, name)
    if key not in _cache:
        _cache[key] = Image.open(os.path.join(ROOT, folder, name)).convert("RGBA")
    return _cache[key]


def lum(p):
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]


def near(p, ref, tol):
    return all(abs(p[i] - ref[i]) <= tol for i in range(3))


def block_size(img):
    """Side of the square blocks img is made of: the gcd of every column and row
    index where a pixel differs from its left or upper neighbour (0 if uniform)."""
    w, h = img.size
    px = img.load()
    g = 0
    for x in range(1, w):
        if any(px[x, y] != px[x - 1, y] for y in range(h)):
            g = math.gcd(g, x)
    for y in range(1, h):
        if any(px[x, y] != px[x, y - 1] for x in range(w)):
            g = math.gcd(g, y)
    return g


def lit_segments(img, ox=0, oy=0):
    """Which segments of the digit at (ox, oy) in img show lit red."""
    on = ""
    for name, (x, y) in sorted(SEGMENT_PROBES.items()):
        p = img.getpixel((ox + x, oy + y))
        if p[3] >= 250 and p[0] >= 140 and p[1] <= 90 and p[2] <= 90:
            on += name
    return on


def unlit_segment(p):
    """A dim, reddish-black segment of the read-out window."""
    return p[0] - p[1] >= 7 and p[0] <= 80


def red_brown(p):
    return 40 <= p[0] <= 95 and p[0] - p[1] >= 10 and p[0] - p[2] >= 10


def centroid(points):
    n = float(len(points))
    return (sum(x for x, _ in points) / n + 0.5, sum(y for _, y in points) / n + 0.5)


def ink_bbox(img, box, pred):
    x0, y0, x1, y1 = box
    xs, ys = [], []
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if pred(img.getpixel((x, y))):
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def png_header(path):
    with open(path, "rb") as f:
        head = f.read(33)
    sig = head[:8]
    length, kind = struct.unpack(">I4s", head[8:16])
    w, h, depth, colour, _comp, _filt, interlace = struct.unpack(">IIBBBBB", head[16:29])
    return sig, kind, w, h, depth, colour, interlace


# --- test runner --------------------------------------------------------------

TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


class Checks:
    def __init__(self):
        self.failures = []

    def check(self, cond, msg):
        if not cond:
            self.failures.append(msg)


# --- helper fixtures: the probes must catch the faults they look for ----------

@test
def block_size_detector(t):
    def blocky(w, h, b):
        img = Image.new("RGBA", (w, h))
        img.putdata([(255, 255, 255, ((x // b) * 37 + (y // b) * 91) % 256)
                     for y in range(h) for x in range(w)])
        return img

    for b in (1, 2, 3, 4, 5, 6):
        got = block_size(blocky(31, 19, b))
        t.check(got == b, "synthetic %d-pixel blocks measured as %d" % (b, got))
    shifted = blocky(30, 18, 4).crop((1, 0, 30, 18))
    t.check(block_size(shifted) != 4, "a grid shifted by one pixel still passes as 4-blocky")


@test
def segment_reader_is_position_sensitive(t):
    eight = load(REPEAT, "digit8.png")
    t.check(lit_segments(eight) == "abcdefg", "digit 8 reads as %r" % lit_segments(eight))
    moved = Image.new("RGBA", eight.size, (0, 0, 0, 0))
    moved.alpha_composite(eight, (3, 0))
    t.check(lit_segments(moved) != "abcdefg",
            "digit 8 moved 3 pixels right still reads as a whole 8")
    dim = Image.new("RGBA", eight.size, (0, 0, 0, 0))
    dim.alpha_composite(load(REPEAT, "digit1.png"))
    t.check(lit_segments(dim) == "bc", "digit 1 reads as %r" % lit_segments(dim))


# --- formats ------------------------------------------------------------------

@test
def every_picture_is_8bit_rgba_png_of_its_size(t):
    for folder, name, w, h in PICTURES:
        path = os.path.join(ROOT, folder, name)
        if not os.path.exists(path):
            t.check(False, "%s/%s is missing" % (folder, name))
            continue
        sig, kind, pw, ph, depth, colour, interlace = png_header(path)
        t.check(sig == b"\x89PNG\r\n\x1a\n" and kind == b"IHDR", "%s: not a PNG" % name)
        t.check((pw, ph) == (w, h), "%s/%s is %dx%d, wants %dx%d" % (folder, name, pw, ph, w, h))
        t.check(depth == 8 and colour == 6, "%s/%s: bit depth %d colour type %d, wants 8/6"
                % (folder, name, depth, colour))
        t.check(interlace == 0, "%s/%s is interlaced" % (folder, name))
        t.check(Image.open(path).mode == "RGBA", "%s/%s: PIL mode is not RGBA" % (folder, name))


@test
def backgrounds_are_opaque(t):
    for folder in (REPEAT, CRUSH):
        lo, hi = load(folder, "background.png").getchannel("A").getextrema()
        t.check(lo == 255, "%s/background.png has alpha down to %d" % (folder, lo))


# --- Radeda: read-outs ----------------------------------------------------------

@test
def each_digit_lights_exactly_its_segments(t):
    for k in range(10):
        img = load(REPEAT, "digit%d.png" % k)
        want = DIGIT_SEGMENTS[k]
        got = lit_segments(img)
        t.check(got == want, "digit%d lights %r, wants %r" % (k, got, want))
        for name, (x, y) in SEGMENT_PROBES.items():
            p = img.getpixel((x, y))
            if name in want:
                t.check(near(p, (180, 42, 43), 40), "digit%d segment %s colour %s" % (k, name, p))
            else:
                t.check(p[3] >= 250 and max(p[:3]) <= 60,
                        "digit%d unlit segment %s is %s, wants near-black" % (k, name, p))
        for x, y in [(0, 0), (35, 0), (0, 51), (35, 51), (1, 26), (34, 26)] + COUNTER_PROBES:
            t.check(img.getpixel((x, y))[3] == 0, "digit%d not transparent at %d,%d" % (k, x, y))


@test
def neighbouring_digits_do_not_cover_each_other(t):
    # Digits step by 30 but are 36 wide: the right picture's first 6 columns
    # are drawn over the left picture's last 6.
    for left in range(10):
        a = load(REPEAT, "digit%d.png" % left)
        for right in range(10):
            b = load(REPEAT, "digit%d.png" % right)
            bad = [(x, y) for y in range(52) for x in range(6)
                   if a.getpixel((30 + x, y))[3] > 0 and b.getpixel((x, y))[3] > 24]
            t.check(not bad, "digit%d covers digit%d's ink at %s" % (right, left, bad[:3]))


@test
def background_shows_unlit_eights_under_every_digit_slot(t):
    bg = load(REPEAT, "background.png")
    eight = load(REPEAT, "digit8.png")
    for sx, sy in DIGIT_SLOTS:
        for name, (x, y) in SEGMENT_PROBES.items():
            p = bg.getpixel((sx + x, sy + y))
            t.check(unlit_segment(p), "slot %d,%d segment %s: %s is no unlit segment"
                    % (sx, sy, name, p))
        for x, y in COUNTER_PROBES:
            p = bg.getpixel((sx + x, sy + y))
            t.check(not unlit_segment(p) and max(p[:3]) <= 30,
                    "slot %d,%d counter %d,%d: %s is not dark glass" % (sx, sy, x, y, p))
        # the painted 8 and the digit picture's segments must coincide
        drawn = {(x, y) for y in range(52) for x in range(36)
                 if eight.getpixel((x, y))[3] >= 128}
        painted = {(x, y) for y in range(52) for x in range(36)
                   if unlit_segment(bg.getpixel((sx + x, sy + y)))}
        iou = len(drawn & painted) / float(len(drawn | painted))
        t.check(iou >= 0.9, "slot %d,%d: painted 8 overlaps the digit picture by %.2f"
                % (sx, sy, iou))


@test
def step_triangles_sit_over_and_under_each_digit(t):
    bg = load(REPEAT, "background.png")
    white = lambda p: lum(p) >= 200  # noqa: E731
    for ax, _ in DIGIT_ANCHORS:
        for rows, pointing in (((153, 161), "up"), ((223, 231), "down")):
            box = (ax - 14, rows[0], ax + 14, rows[1])
            bb = ink_bbox(bg, box, white)
            t.check(bb is not None, "no %s triangle over digit at x %d" % (pointing, ax))
            if bb is None:
                continue
            cx = (bb[0] + bb[2]) / 2.0
            t.check(abs(cx - ax) <= 6, "%s triangle at x %d centred at %.1f" % (pointing, ax, cx))
            t.check(16 <= bb[2] - bb[0] <= 24 and 4 <= bb[3] - bb[1] <= 8,
                    "%s triangle at x %d is %dx%d" % (pointing, ax, bb[2] - bb[0], bb[3] - bb[1]))
            wide = [x for x in range(bb[0], bb[2]) if white(bg.getpixel((x, bb[1])))]
            narrow_end = len(wide) <= 6
            flip = [x for x in range(bb[0], bb[2]) if white(bg.getpixel((x, bb[3] - 1)))]
            if pointing == "up":
                t.check(narrow_end and len(flip) > len(wide),
                        "triangle over x %d does not point up" % ax)
            else:
                t.check(len(flip) <= 6 and len(wide) > len(flip),
                        "triangle under x %d does not point down" % ax)


# --- Radeda: lamps and switches ---------------------------------------------------

@test
def unlit_lamps_are_centred_under_the_lit_lamp(t):
    bg = load(REPEAT, "background.png")
    lamp = load(REPEAT, "lamp.png")
    for lx, ly in LAMPS:
        cx, cy = lx + 19.5, ly + 19.5
        p = bg.getpixel((lx + 19, ly + 19))
        t.check(red_brown(p), "unlit lamp centre %d,%d is %s" % (lx + 19, ly + 19, p))
        disc = [(x, y) for y in range(ly, ly + 39) for x in range(lx, lx + 39)
                if red_brown(bg.getpixel((x, y)))]
        mx, my = centroid(disc)
        t.check(abs(mx - cx) <= 0.35 and abs(my - cy) <= 0.35,
                "unlit lamp under %d,%d centred at %.2f,%.2f, wants %.1f,%.1f"
                % (lx, ly, mx, my, cx, cy))
        diameter = 2.0 * math.sqrt(len(disc) / math.pi)
        t.check(22 <= diameter <= 32, "unlit lamp under %d,%d is %.1f wide" % (lx, ly, diameter))
        uncovered = [(x, y) for x, y in disc if lamp.getpixel((x - lx, y - ly))[3] < 255]
        t.check(not uncovered, "lit lamp leaves unlit lamp pixels showing: %s" % uncovered[:3])
    c = lamp.getpixel((19, 19))
    t.check(c[3] == 255 and c[0] >= 180 and c[0] - c[1] >= 50, "lit lamp centre is %s" % (c,))
    for x, y in ((0, 0), (38, 0), (0, 38), (38, 38)):
        t.check(lamp.getpixel((x, y))[3] == 0, "lit lamp corner %d,%d not transparent" % (x, y))
    glow = [(x, y) for y in range(39) for x in range(39) if lamp.getpixel((x, y))[3] > 0]
    gx, gy = centroid(glow)
    t.check(abs(gx - 19.5) <= 0.3 and abs(gy - 19.5) <= 0.3,
            "lit lamp picture centred at %.2f,%.2f" % (gx, gy))


@test
def switch_areas_hold_only_panel_fill(t):
    bg = load(REPEAT, "background.png")
    for x0, y0, w, h in SWITCHES:
        ls = [lum(bg.getpixel((x, y))) for y in range(y0, y0 + h) for x in range(x0, x0 + w)]
        t.check(max(ls) - min(ls) <= 12 and max(ls) <= 50,
                "switch area at %d,%d is not plain panel: luminance %.0f..%.0f"
                % (x0, y0, min(ls), max(ls)))


@test
def switch_levers_point_up_when_off_and_down_when_on(t):
    for name, top_opaque in (("switch_off.png", True), ("switch_on.png", False)):
        img = load(REPEAT, name)
        for x, y in ((0, 0), (50, 0), (0, 55), (50, 55)):
            t.check(img.getpixel((x, y))[3] == 0, "%s corner %d,%d not transparent" % (name, x, y))
        top, bottom = img.getpixel((25, 5)), img.getpixel((25, 50))
        lever, empty = (top, bottom) if top_opaque else (bottom, top)
        t.check(lever[3] >= 250 and min(lever[:3]) >= 150,
                "%s: no light lever where it should point (%s)" % (name, lever))
        t.check(empty[3] <= 40, "%s: opaque where the lever should not be (%s)" % (name, empty))
        for x in (9, 41):  # the nut's flanks, beside the lever
            p = img.getpixel((x, 28))
            t.check(p[3] == 255 and max(p[:3]) - min(p[:3]) <= 10 and 70 <= p[0] <= 210,
                    "%s: no grey nut at %d,28 (%s)" % (name, x, p))
    off, on = load(REPEAT, "switch_off.png"), load(REPEAT, "switch_on.png")
    t.check(off.tobytes() != on.tobytes(), "the two switch pictures are the same")


# --- knobs -------------------------------------------------------------------

@test
def painted_knobs_lie_under_the_drawn_knobs(t):
    cases = ([(REPEAT, c) for c in RADEDA_KNOBS] + [(CRUSH, c) for c in ZIVAZ_KNOBS])
    for folder, (cx, cy) in cases:
        bg = load(folder, "background.png")
        where = "%s knob %d,%d" % (folder, cx, cy)

        def at(r, deg):
            a = math.radians(deg)
            return bg.getpixel((int(math.floor(cx + r * math.cos(a))),
                                int(math.floor(cy + r * math.sin(a)))))

        for deg in range(0, 360, 30):
            ring = at(35.0, deg)
            t.check(lum(ring) >= 200, "%s: ring at %d deg is %s" % (where, deg, ring))
            outside = at(40.0, deg)
            t.check(lum(outside) <= 110, "%s: bright at radius 40, %d deg (%s)"
                    % (where, deg, outside))
            if deg != 180:
                inside = at(28.0, deg)
                t.check(near(inside, (45, 47, 44), 8), "%s: disc at %d deg is %s"
                        % (where, deg, inside))
        t.check(lum(bg.getpixel((cx - 20, cy))) >= 200, "%s: no pointer at 9 o'clock" % where)
        for dx, dy in ((0, -20), (20, 0), (0, 20)):
            t.check(near(bg.getpixel((cx + dx, cy + dy)), (45, 47, 44), 8),
                    "%s: stray paint at %+d,%+d" % (where, dx, dy))


# --- text placement -------------------------------------------------------------

@test
def radeda_title_is_centred_near_the_top(t):
    bg = load(REPEAT, "background.png")
    bb = ink_bbox(bg, (150, 20, 650, 100), lambda p: lum(p) >= 180)
    t.check(bb is not None, "no title")
    if bb:
        cx = (bb[0] + bb[2]) / 2.0
        t.check(abs(cx - 400.0) <= 1.5, "title centred at x %.1f" % cx)
        t.check(220 <= bb[0] <= 245 and 555 <= bb[2] <= 580 and 30 <= bb[1] <= 50
                and 70 <= bb[3] <= 90, "title ink at %s" % (bb,))


@test
def labels_are_centred_on_their_panels(t):
    cases = [(REPEAT, l) for l in RADEDA_LABELS] + [(CRUSH, l) for l in ZIVAZ_LABELS]
    for folder, (text, cx, box) in cases:
        bg = load(folder, "background.png")
        bb = ink_bbox(bg, box, lambda p: lum(p) >= 200)
        t.check(bb is not None, "%s: no label %r" % (folder, text))
        if bb:
            got = (bb[0] + bb[2]) / 2.0
            t.check(abs(got - cx) <= 1.5, "%s: label %r centred at %.1f, wants %.1f"
                    % (folder, text, got, cx))
            t.check(bb[0] > box[0] and bb[2] <= box[2] and bb[1] > box[1] and bb[3] <= box[3],
                    "%s: label %r runs out of its place (%s)" % (folder, text, bb))


@test
def pill_numbers_are_centred_under_their_pills(t):
    bg = load(CRUSH, "background.png")
    for k in range(16):
        x0, x1 = pill_span(k)
        x0, x1 = x0 + LIT_RECT[0], x1 + LIT_RECT[0]
        bb = ink_bbox(bg, (int(x0), 194, int(x1), 213), lambda p: lum(p) >= 150)
        t.check(bb is not None, "no number under pill %d" % (k + 1))
        if bb:
            got = (bb[0] + bb[2]) / 2.0
            t.check(abs(got - (x0 + x1) / 2.0) <= 1.5,
                    "number %d centred at %.1f, pill at %.1f" % (k + 1, got, (x0 + x1) / 2.0))
            t.check(195 <= bb[1] and bb[3] <= 212, "number %d at rows %d..%d"
                    % (k + 1, bb[1], bb[3]))


# --- Zivaz: buttons ---------------------------------------------------------------

@test
def lit_pills_lie_exactly_on_the_unlit_pills(t):
    bg = load(CRUSH, "background.png")
    lit = load(CRUSH, "lit.png")
    ox, oy = LIT_RECT[0], LIT_RECT[1]
    for k in range(16):
        x0, x1 = pill_span(k)
        mid = int((x0 + x1) / 2.0)
        p = bg.getpixel((ox + mid, oy + 18))
        t.check(near(p, (41, 77, 40), 14), "unlit pill %d centre is %s" % (k + 1, p))
        q = lit.getpixel((mid, 18))
        t.check(q[3] == 255 and near(q, (216, 86, 69), 40), "lit pill %d centre is %s" % (k + 1, q))
        # every green pixel of the unlit pill is under the opaque lit pill
        green = [(x, y) for y in range(2, 35) for x in range(int(x0) - 2, int(x1) + 2)
                 if bg.getpixel((ox + x, oy + y))[1] - bg.getpixel((ox + x, oy + y))[0] >= 20]
        t.check(len(green) >= 600, "unlit pill %d has only %d green pixels" % (k + 1, len(green)))
        bare = [(x, y) for x, y in green if lit.getpixel((x, y))[3] < 250]
        t.check(not bare, "lit pill %d leaves green showing at %s" % (k + 1, bare[:3]))
        # both pills have the same outer extent on their middle row: walk out
        # from the middle to the lit pill's last opaque pixels and to the
        # unlit pill's outline
        left, right = mid, mid
        while lit.getpixel((left - 1, 18))[3] >= 128:
            left -= 1
        while lit.getpixel((right + 1, 18))[3] >= 128:
            right += 1
        t.check(abs(left - x0) <= 0.6 and abs(right + 1 - x1) <= 0.6,
                "lit pill %d spans %d..%d, wants %.1f..%.1f" % (k + 1, left, right + 1, x0, x1))
        left, right = mid, mid
        bright = lambda x: lum(bg.getpixel((ox + x, oy + 18))) >= 90  # noqa: E731
        while not bright(left) and left > x0 - 4:
            left -= 1
        while bright(left - 1):
            left -= 1
        while not bright(right) and right < x1 + 4:
            right += 1
        while bright(right + 1):
            right += 1
        t.check(abs(left - x0) <= 0.6 and abs(right + 1 - x1) <= 0.6,
                "unlit pill %d outline at %d..%d, wants %.1f..%.1f"
                % (k + 1, left, right + 1, x0, x1))


@test
def lit_strip_is_clear_between_pills_and_at_every_cut(t):
    lit = load(CRUSH, "lit.png")
    for k in range(15):
        gap = (pill_span(k)[1] + pill_span(k + 1)[0]) / 2.0
        for y in range(8, 30):
            a = lit.getpixel((int(gap), y))[3]
            t.check(a <= 16, "strip alpha %d between pills %d and %d (row %d)" % (a, k + 1, k + 2, y))
    for d in range(1, 16):
        # the editor draws the strip up to 44 D + 4: its last column must not
        # end in a hard edge of colour
        last = 44 * d + 3
        worst = max(lit.getpixel((last, y))[3] for y in range(37))
        t.check(worst <= 24, "cut after button %d ends at alpha %d" % (d, worst))
    for x, y in ((0, 0), (711, 0), (0, 36), (711, 36), (356, 0), (356, 36)):
        t.check(lit.getpixel((x, y))[3] <= 8, "strip not clear at %d,%d" % (x, y))
    above = lit.getpixel((int(sum(pill_span(3)) / 2), 3))
    t.check(8 <= above[3] <= 200 and above[0] > above[1], "no soft red glow above a pill (%s)"
            % (above,))


# --- Zivaz: backdrop and titles ---------------------------------------------------------

@test
def zivaz_backdrop_darkens_to_the_corners_and_keeps_the_title_area_plain(t):
    bg = load(CRUSH, "background.png")

    def mean(x0, y0, x1, y1):
        ps = [lum(bg.getpixel((x, y))) for y in range(y0, y1) for x in range(x0, x1)]
        return sum(ps) / len(ps)

    corners = [mean(0, 0, 8, 8), mean(792, 0, 800, 8), mean(0, 592, 8, 600),
               mean(792, 592, 800, 600)]
    middle = mean(392, 240, 408, 256)
    t.check(all(10 <= c <= 24 for c in corners), "corners at %s" % corners)
    t.check(36 <= middle <= 50, "middle at %.1f" % middle)
    x0, y0, w, h = TITLE_RECT
    ls = [lum(bg.getpixel((x, y))) for y in range(y0, y0 + h) for x in range(x0, x0 + w)]
    t.check(max(ls) - min(ls) <= 22 and max(ls) <= 60,
            "title area not plain: luminance %.0f..%.0f" % (min(ls), max(ls)))


def block_cover(img, b):
    """Mean alpha (0..1) of each b x b block of img, keyed by block origin."""
    w, h = img.size
    a = img.getchannel("A").load()
    out = {}
    for by in range(0, h, b):
        for bx in range(0, w, b):
            xs, ys = range(bx, min(w, bx + b)), range(by, min(h, by + b))
            out[(bx, by)] = sum(a[x, y] for y in ys for x in xs) / (255.0 * len(xs) * len(ys))
    return out


@test
def titles_are_white_lettering_on_transparency(t):
    for i in range(6):
        img = load(CRUSH, "title%d.png" % i)
        for x, y in ((0, 0), (312, 0), (0, 37), (312, 37)):
            t.check(img.getpixel((x, y))[3] == 0, "title%d corner %d,%d not clear" % (i, x, y))
        inked = [p for p in img.getdata() if p[3] > 0]
        t.check(len(inked) > 1500, "title%d has only %d inked pixels" % (i, len(inked)))
        t.check(all(min(p[:3]) >= 240 for p in inked), "title%d has non-white ink" % i)
        clear = len(inked) / float(313 * 38)
        t.check(0.15 <= clear <= 0.6, "title%d covers %.0f%% of its picture" % (i, 100 * clear))
        # the space between the two words stays clear in every title
        cols = [x for x in range(313) if all(img.getpixel((x, y))[3] == 0 for y in range(38))]
        t.check(any(150 <= x <= 200 for x in cols), "title%d: no gap between the words" % i)
        bb = img.getchannel("A").getbbox()
        t.check(bb and bb[0] <= 8 and bb[2] >= 305 and bb[1] <= 6 and bb[3] >= 32,
                "title%d does not fill its picture (ink %s)" % (i, bb))


@test
def clean_title_is_antialiased_not_blocky(t):
    img = load(CRUSH, "title0.png")
    t.check(block_size(img) == 1, "title0 measures as %d-pixel blocks" % block_size(img))
    soft = [a for a in img.getchannel("A").getdata() if 0 < a < 255]
    t.check(len(soft) > 400, "title0 has only %d anti-aliased pixels" % len(soft))


@test
def degraded_titles_use_their_block_size(t):
    clean = load(CRUSH, "title0.png")
    for i in range(1, 6):
        img = load(CRUSH, "title%d.png" % i)
        b = i + 1
        t.check(block_size(img) == b, "title%d measures as %d-pixel blocks, wants %d"
                % (i, block_size(img), b))
        ref, got = block_cover(clean, b), block_cover(img, b)
        solid = [k for k, v in ref.items() if v >= 0.75]
        levels = {int(round(got[k] * 255)) for k in solid if got[k] > 0.6}
        t.check(len(levels) >= 4, "title%d: opacity of solid blocks hardly varies (%s)"
                % (i, sorted(levels)))
        # same lettering: blocks that are empty in the clean title stay empty,
        # and most solid ones keep their ink
        stray = [k for k, v in ref.items() if v == 0.0 and got[k] > 0.0]
        t.check(not stray, "title%d has ink where the clean title has none: %s" % (i, stray[:3]))
        kept = sum(1 for k in solid if got[k] > 0.0) / float(len(solid))
        t.check(kept >= 0.8, "title%d keeps only %.0f%% of the solid blocks" % (i, 100 * kept))
        missing = sum(1 for k in solid if got[k] == 0.0)
        half = sum(1 for k in solid if 0.3 <= got[k] <= 0.6)
        if i >= 4:
            t.check(missing >= 4 and half >= 4,
                    "title%d: %d missing and %d half-transparent blocks" % (i, missing, half))
        else:
            t.check(missing == 0 and half == 0,
                    "title%d should not lose blocks (%d missing, %d half)" % (i, missing, half))


def main():
    global ROOT
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default=ROOT, help="checkout holding plugins/")
    ROOT = os.path.abspath(ap.parse_args().root)
    passed = failed = 0
    for fn in TESTS:
        c = Checks()
        try:
            fn(c)
        except Exception:  # a crash is a failure, not an abort
            c.failures.append(traceback.format_exc().strip())
        if c.failures:
            failed += 1
            print("FAIL %s" % fn.__name__)
            for msg in c.failures[:12]:
                print("     %s" % msg)
            if len(c.failures) > 12:
                print("     ... %d more" % (len(c.failures) - 12))
        else:
            passed += 1
            print("ok   %s" % fn.__name__)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
