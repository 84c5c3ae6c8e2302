#!/usr/bin/python3
"""Paints the editor artwork of both plug-ins from code.

Radeda (plugins/repeat/artwork): background.png, digit0..9.png, lamp.png,
switch_off.png, switch_on.png.  Zivaz (plugins/crush/artwork): background.png,
lit.png, title0..5.png.  Every picture is 8-bit RGBA.

The editors draw the value-dependent pictures at fixed design coordinates, so
every position that the editor code uses is a constant below and the painted
background is laid out around exactly those constants.  All randomness comes
from seeded generators, so repeated runs write byte-identical files.

    paint_artwork.py                  write all pictures into the checkout
    paint_artwork.py --contact-sheet  also write docs/artwork.png
    paint_artwork.py --check          repaint into a temp dir, compare, exit 1 on difference
"""

import argparse
import math
import os
import random
import shutil
import sys
import tempfile

try:
    import cairo
    from PIL import Image, ImageChops, ImageFilter
except ImportError as exc:  # pragma: no cover - environment problem
    sys.exit("paint_artwork.py needs python3-cairo and python3-pil (%s)" % exc)

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONT_SANS = "DejaVu Sans"

# ---------------------------------------------------------------------------
# Geometry the editors rely on (design units = background pixels).
# ---------------------------------------------------------------------------

# Radeda read-outs: centre of the leftmost digit and digit count.  Digit i is
# drawn at (ax - 18 + 30 i, ay - 26, 36, 52).
RADEDA_READOUTS = [((209, 192), 3), ((399, 192), 1), ((543, 192), 2)]
DIGIT_W, DIGIT_H, DIGIT_STEP = 36, 52, 30
# Switch pictures and the lit lamp drawn under each switch.
RADEDA_SWITCHES = [(215, 299), (374, 299), (533, 299)]
SWITCH_W, SWITCH_H = 51, 56
RADEDA_LAMPS = [(221, 355), (380, 355), (540, 355)]
LAMP_SIZE = 39
RADEDA_KNOBS = [(160, 499), (321, 499), (480, 499), (639, 499)]
KNOB_RADIUS = 35.0
KNOB_FILL = (45, 47, 44)
KNOB_STROKE = 2.5

# Zivaz: lit strip, title and knob centres.
ZIVAZ_LIT_RECT = (46, 160, 712, 37)
ZIVAZ_TITLE_RECT = (243, 43, 313, 38)
ZIVAZ_KNOBS = [(240, 502), (318, 350), (477, 350), (558, 502), (399, 502)]
# Pills in strip coordinates: pill k (0-based) spans x PILL_X0 + k*PILL_PITCH
# to that + PILL_W, and y PILL_Y0 to PILL_Y0 + PILL_H.
PILL_COUNT = 16
PILL_X0, PILL_W = 6.0, 41.0
PILL_PITCH = (665.0 - 6.0) / 15.0
PILL_Y0, PILL_H = 6.0, 25.0

# ---------------------------------------------------------------------------
# Art direction.
# ---------------------------------------------------------------------------

PANEL_RADIUS = 16.0
PANEL_OUTLINE = 2.0
LABEL_SIZE = 15.0

# Seven-segment digit, drawn in an unslanted box of SEG_W x SEG_H with bars
# SEG_T thick, then slanted by SEG_SLANT (dx per unit of height).
SEG_W, SEG_H, SEG_T, SEG_GAP, SEG_SLANT = 22.0, 44.0, 5.0, 0.9, 0.11
SEG_LIT = (180, 42, 43)
SEG_UNLIT = (37, 24, 24)
WINDOW_FILL = (11, 11, 12)
DIGIT_SEGMENTS = ["abcdef", "bc", "abdeg", "abcdg", "bcfg",
                  "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"]

LAMP_LENS_R, LAMP_RIM_R = 13.0, 15.5
LAMP_LIT = (216, 86, 69)
LAMP_RIM_LIT = (195, 141, 134)
LAMP_UNLIT = (61, 44, 44)

PILL_UNLIT = (41, 77, 40)
PILL_LIT = (216, 86, 69)


def rgb(c, a=1.0):
    return (c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, a)


# ---------------------------------------------------------------------------
# Cairo / PIL plumbing.
# ---------------------------------------------------------------------------

def new_context(w, h):
    surf = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    ctx = cairo.Context(surf)
    ctx.set_antialias(cairo.ANTIALIAS_BEST)
    opts = cairo.FontOptions()
    opts.set_antialias(cairo.ANTIALIAS_GRAY)
    opts.set_hint_style(cairo.HINT_STYLE_NONE)
    opts.set_hint_metrics(cairo.HINT_METRICS_OFF)
    ctx.set_font_options(opts)
    return surf, ctx


def to_pil(surf):
    surf.flush()
    w, h = surf.get_width(), surf.get_height()
    return Image.frombuffer("RGBA", (w, h), bytes(surf.get_data()), "raw",
                            "BGRa", surf.get_stride(), 1).copy()


def layer(w, h, draw):
    """Runs draw(ctx) on a transparent w x h surface and returns it as RGBA."""
    surf, ctx = new_context(w, h)
    draw(ctx)
    return to_pil(surf)


def over(base, top):
    return Image.alpha_composite(base, top)


def shadow_of(img, dx, dy, blur, opacity):
    """A black blurred copy of img's alpha, shifted by (dx, dy)."""
    alpha = img.getchannel("A")
    alpha = ImageChops.offset(alpha, dx, dy)
    if dx > 0:
        alpha.paste(0, (0, 0, dx, alpha.height))
    if dy > 0:
        alpha.paste(0, (0, 0, alpha.width, dy))
    alpha = alpha.filter(ImageFilter.GaussianBlur(blur))
    alpha = alpha.point(lambda v: int(v * opacity + 0.5))
    black = Image.new("RGBA", img.size, (0, 0, 0, 0))
    black.putalpha(alpha)
    return black


def bleed_transparent(img):
    """Gives fully transparent pixels the colour of the nearest ink.

    NanoVG samples straight-alpha textures with linear filtering, so at scale
    factors other than 1 the colour of transparent neighbours leaks into the
    edges; black there would draw dark fringes.  Visible pixels are unchanged.
    """
    w, h = img.size
    r, g, b, a = img.split()
    pr, pg, pb = (ImageChops.multiply(ch, a) for ch in (r, g, b))
    data = list(img.getdata())
    opaque = [p for p in data if p[3] > 0]
    if not opaque:
        return img
    tot = sum(p[3] for p in opaque)
    fallback = tuple(int(round(sum(p[i] * p[3] for p in opaque) / tot))
                     for i in range(3))
    known = [p[:3] if p[3] > 0 else None for p in data]
    for radius in (1, 2, 4, 8):
        sa = list(a.filter(ImageFilter.BoxBlur(radius)).getdata())
        sr = list(pr.filter(ImageFilter.BoxBlur(radius)).getdata())
        sg = list(pg.filter(ImageFilter.BoxBlur(radius)).getdata())
        sb = list(pb.filter(ImageFilter.BoxBlur(radius)).getdata())
        for i in range(w * h):
            if known[i] is None and sa[i] > 0:
                known[i] = (min(255, sr[i] * 255 // sa[i]),
                            min(255, sg[i] * 255 // sa[i]),
                            min(255, sb[i] * 255 // sa[i]))
    out = [(known[i] or fallback) + (data[i][3],) if data[i][3] == 0 else data[i]
           for i in range(w * h)]
    res = Image.new("RGBA", (w, h))
    res.putdata(out)
    return res


def round_rect(ctx, x, y, w, h, r):
    ctx.new_sub_path()
    ctx.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    ctx.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    ctx.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    ctx.arc(x + r, y + r, r, math.pi, 1.5 * math.pi)
    ctx.close_path()


def set_font(ctx, size, bold=True, family=FONT_SANS):
    ctx.select_font_face(family, cairo.FONT_SLANT_NORMAL,
                         cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)


def text_centred(ctx, text, cx, baseline):
    """Adds the path of text with its ink centred on cx, sitting on baseline."""
    ext = ctx.text_extents(text)
    ctx.move_to(cx - (ext.x_bearing + ext.width / 2.0), baseline)
    ctx.text_path(text)


def fit_text(w, h, text, box, family=FONT_SANS):
    """Returns (size, x, baseline) placing text's ink centred in box=(x0,y0,x1,y1)."""
    surf, ctx = new_context(w, h)
    set_font(ctx, 100.0, True, family)
    ext = ctx.text_extents(text)
    x0, y0, x1, y1 = box
    size = 100.0 * min((x1 - x0) / ext.width, (y1 - y0) / ext.height)
    set_font(ctx, size, True, family)
    ext = ctx.text_extents(text)
    x = (x0 + x1) / 2.0 - (ext.x_bearing + ext.width / 2.0)
    base = (y0 + y1) / 2.0 - (ext.y_bearing + ext.height / 2.0)
    return size, x, base


# ---------------------------------------------------------------------------
# Textures.
# ---------------------------------------------------------------------------

def noise(rng, w, h, amp, blur=0.0):
    """Grain as an L image centred on 128 with roughly +-amp levels."""
    img = Image.frombytes("L", (w, h), rng.randbytes(w * h))
    gain = 1.0
    if blur:
        img = img.filter(ImageFilter.GaussianBlur(blur))
        gain = 1.0 + 2.2 * blur  # blurring narrows the spread
    return img.point(lambda v: max(0, min(255, int(round(128 + (v - 127.5) / 127.5 * amp * gain)))))


def mottle(rng, w, h, cell, amp):
    small = noise(rng, max(2, w // cell + 2), max(2, h // cell + 2), amp)
    small = small.filter(ImageFilter.GaussianBlur(0.8))
    return small.resize((w + 2 * cell, h + 2 * cell), Image.BICUBIC).crop(
        (cell, cell, cell + w, cell + h))


def radial_field(w, h, centre_level, corner_level, light=(0.0, 0.0), power=1.6):
    """Smooth L field: centre_level in the middle falling to corner_level at the corners."""
    sw, sh = w // 4, h // 4
    img = Image.new("L", (sw, sh))
    px = []
    for y in range(sh):
        for x in range(sw):
            nx = (x + 0.5) / sw * 2.0 - 1.0 - light[0]
            ny = (y + 0.5) / sh * 2.0 - 1.0 - light[1]
            d = min(1.0, math.sqrt((nx * nx + ny * ny) / 2.0))
            t = d ** power
            px.append(int(round(centre_level + (corner_level - centre_level) * t)))
    img.putdata(px)
    return img.resize((w, h), Image.BICUBIC)


def add_offsets(base, *offsets):
    out = base
    for off in offsets:
        out = ImageChops.add(out, off, 1.0, -128)
    return out


def backdrop(seed, w, h, centre, corner, fine_amp, mottle_amp, tint=(0, 0, 0),
             light=(0.0, 0.0)):
    rng = random.Random(seed)
    field = radial_field(w, h, centre, corner, light=light)
    grain = noise(rng, w, h, fine_amp, blur=0.45)
    blotch = mottle(rng, w, h, 24, mottle_amp)
    lum = add_offsets(field, grain, blotch)
    chans = [lum.point(lambda v, t=t: max(0, min(255, v + t))) for t in tint]
    return Image.merge("RGB", chans).convert("RGBA")


# ---------------------------------------------------------------------------
# Shared elements: panels, labels, knobs.
# ---------------------------------------------------------------------------

def panel_layers(size, rects, radius=PANEL_RADIUS):
    """Drop shadow, body and outline of rounded panels given as inclusive pixel boxes."""
    w, h = size

    def body(ctx):
        for (x0, y0, x1, y1) in rects:
            pw, ph = x1 + 1 - x0, y1 + 1 - y0
            round_rect(ctx, x0, y0, pw, ph, radius)
            grad = cairo.LinearGradient(x0, y0, x0 + pw * 0.35, y0 + ph)
            grad.add_color_stop_rgba(0.0, *rgb((37, 38, 41)))
            grad.add_color_stop_rgba(1.0, *rgb((29, 30, 33)))
            ctx.set_source(grad)
            ctx.fill()
            # faint sheen along the lit top edge
            round_rect(ctx, x0 + 2.5, y0 + 2.5, pw - 5, ph - 5, radius - 2.5)
            ctx.set_line_width(1.0)
            sheen = cairo.LinearGradient(0, y0, 0, y0 + 24)
            sheen.add_color_stop_rgba(0.0, 1, 1, 1, 0.07)
            sheen.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
            ctx.set_source(sheen)
            ctx.stroke()

    def outline(ctx):
        for (x0, y0, x1, y1) in rects:
            pw, ph = x1 + 1 - x0, y1 + 1 - y0
            half = PANEL_OUTLINE / 2.0
            round_rect(ctx, x0 + half, y0 + half, pw - PANEL_OUTLINE, ph - PANEL_OUTLINE,
                       radius - half)
            grad = cairo.LinearGradient(x0, y0, x0 + pw * 0.3, y0 + ph)
            grad.add_color_stop_rgba(0.0, *rgb((182, 182, 184)))
            grad.add_color_stop_rgba(1.0, *rgb((144, 144, 146)))
            ctx.set_source(grad)
            ctx.set_line_width(PANEL_OUTLINE)
            ctx.stroke()

    b = layer(w, h, body)
    return [shadow_of(b, 2, 3, 3.5, 0.55), b, layer(w, h, outline)]


def labels_layers(size, items, font_size=LABEL_SIZE, colour=(1.0, 1.0, 1.0)):
    """White labels (text, centre x, baseline) with a soft dark shadow."""
    w, h = size

    def draw(ctx):
        set_font(ctx, font_size)
        for text, cx, base in items:
            text_centred(ctx, text, cx, base)
        ctx.set_source_rgba(colour[0], colour[1], colour[2], 1.0)
        ctx.fill()

    text = layer(w, h, draw)
    return [shadow_of(text, 0, 1, 0.8, 0.8), text]


def knob_path_body(ctx, cx, cy, angle_value=0.0):
    """The knob exactly as the editors draw it: disc, white ring, white pointer."""
    ctx.new_path()
    ctx.arc(cx, cy, KNOB_RADIUS, 0, 2 * math.pi)
    ctx.set_source_rgba(*rgb(KNOB_FILL))
    ctx.fill_preserve()
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.set_line_width(KNOB_STROKE)
    ctx.stroke()
    theta = (angle_value - 0.5) * 3.141590118408203
    ctx.move_to(cx, cy)
    ctx.line_to(cx + KNOB_RADIUS * math.sin(theta), cy - KNOB_RADIUS * math.cos(theta))
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    ctx.set_line_width(KNOB_STROKE)
    ctx.stroke()


def knob_layers(size, centres):
    """Painted knobs with their scale and a drop shadow, pointer at the minimum."""
    w, h = size

    def scale(ctx):
        for cx, cy in centres:
            for i in range(11):
                a = math.pi * (-0.5 + i / 10.0)
                major = i in (0, 5, 10)
                r0, r1 = (41.0, 47.0) if major else (41.5, 45.0)
                ctx.move_to(cx + r0 * math.sin(a), cy - r0 * math.cos(a))
                ctx.line_to(cx + r1 * math.sin(a), cy - r1 * math.cos(a))
                ctx.set_line_cap(cairo.LINE_CAP_ROUND)
                ctx.set_line_width(1.6 if major else 1.2)
                level = 0.72 if major else 0.5
                ctx.set_source_rgba(level, level, level, 1.0)
                ctx.stroke()

    def disc(ctx):
        for cx, cy in centres:
            ctx.arc(cx, cy, KNOB_RADIUS + 1.5, 0, 2 * math.pi)
            ctx.set_source_rgba(0, 0, 0, 1)
            ctx.fill()

    def body(ctx):
        for cx, cy in centres:
            knob_path_body(ctx, cx, cy, 0.0)

    d = layer(w, h, disc)
    return [layer(w, h, scale), shadow_of(d, 2, 4, 4.0, 0.7), layer(w, h, body)]


def screw_layers(size, seed, inset=17.0, radius=5.5):
    """Four cross-head screws holding the faceplate, one near each corner."""
    w, h = size
    rng = random.Random(seed)
    spots = [(inset, inset), (w - inset, inset), (inset, h - inset), (w - inset, h - inset)]
    turns = [rng.uniform(0.0, math.pi / 2.0) for _ in spots]

    def heads(ctx):
        for (x, y), turn in zip(spots, turns):
            ctx.arc(x, y, radius + 0.8, 0, 2 * math.pi)
            ctx.set_source_rgba(0.05, 0.05, 0.06, 0.9)
            ctx.fill()
            ctx.arc(x, y, radius, 0, 2 * math.pi)
            g = cairo.LinearGradient(x - radius, y - radius, x + radius, y + radius)
            g.add_color_stop_rgba(0.0, *rgb((150, 151, 154)))
            g.add_color_stop_rgba(1.0, *rgb((62, 63, 66)))
            ctx.set_source(g)
            ctx.fill()
            ctx.arc(x, y, radius - 1.2, 0, 2 * math.pi)
            g = cairo.LinearGradient(x - radius, y - radius, x + radius, y + radius)
            g.add_color_stop_rgba(0.0, *rgb((118, 119, 122)))
            g.add_color_stop_rgba(1.0, *rgb((84, 85, 88)))
            ctx.set_source(g)
            ctx.fill()
            ctx.save()
            ctx.translate(x, y)
            ctx.rotate(turn)
            for _ in range(2):
                ctx.rectangle(-radius + 1.6, -0.8, 2 * radius - 3.2, 1.6)
                ctx.rotate(math.pi / 2.0)
            ctx.restore()
            ctx.set_source_rgba(*rgb((28, 28, 30)))
            ctx.fill()

    img = layer(w, h, heads)
    return [shadow_of(img, 1, 1, 1.0, 0.5), img]


# ---------------------------------------------------------------------------
# Radeda pictures.
# ---------------------------------------------------------------------------

def seg_point(x, y):
    """Maps a point of the upright digit box to digit-picture coordinates."""
    return (DIGIT_W / 2.0 + (x - SEG_W / 2.0) + (SEG_H / 2.0 - y) * SEG_SLANT,
            DIGIT_H / 2.0 + (y - SEG_H / 2.0))


def segment_polygons():
    t, g = SEG_T, SEG_GAP
    xl, xr = t / 2.0, SEG_W - t / 2.0
    yt, ym, yb = t / 2.0, SEG_H / 2.0, SEG_H - t / 2.0
    h2 = t / 2.0

    def horiz(y):
        return [(xl + g, y), (xl + g + h2, y - h2), (xr - g - h2, y - h2),
                (xr - g, y), (xr - g - h2, y + h2), (xl + g + h2, y + h2)]

    def vert(x, y0, y1):
        return [(x, y0 + g), (x + h2, y0 + g + h2), (x + h2, y1 - g - h2),
                (x, y1 - g), (x - h2, y1 - g - h2), (x - h2, y0 + g + h2)]

    polys = {"a": horiz(yt), "b": vert(xr, yt, ym), "c": vert(xr, ym, yb),
             "d": horiz(yb), "e": vert(xl, ym, yb), "f": vert(xl, yt, ym),
             "g": horiz(ym)}
    return {k: [seg_point(x, y) for x, y in v] for k, v in polys.items()}


def path_segments(ctx, names, ox=0.0, oy=0.0):
    polys = segment_polygons()
    for n in names:
        pts = polys[n]
        ctx.move_to(ox + pts[0][0], oy + pts[0][1])
        for x, y in pts[1:]:
            ctx.line_to(ox + x, oy + y)
        ctx.close_path()


def paint_digit(k):
    lit = DIGIT_SEGMENTS[k]
    unlit = "".join(s for s in "abcdefg" if s not in lit)

    def unlit_draw(ctx):
        path_segments(ctx, unlit)
        ctx.set_source_rgba(*rgb(SEG_UNLIT))
        ctx.fill()

    def lit_draw(ctx):
        path_segments(ctx, lit)
        grad = cairo.LinearGradient(0, 4, 0, 48)
        grad.add_color_stop_rgba(0.0, *rgb((196, 52, 50)))
        grad.add_color_stop_rgba(0.5, *rgb(SEG_LIT))
        grad.add_color_stop_rgba(1.0, *rgb((164, 36, 38)))
        ctx.set_source(grad)
        ctx.fill()

    def core_draw(ctx):
        # a faint warm lift over the lit bars, as a lit LED bar looks
        path_segments(ctx, lit)
        ctx.set_source_rgba(1.0, 0.55, 0.5, 0.10)
        ctx.fill()

    lit_img = layer(DIGIT_W, DIGIT_H, lit_draw)
    glow = lit_img.filter(ImageFilter.GaussianBlur(1.6))
    glow_a = glow.getchannel("A").point(lambda v: int(v * 0.45))
    glow_img = Image.new("RGBA", (DIGIT_W, DIGIT_H), (200, 40, 36, 0))
    glow_img.putalpha(glow_a)
    img = Image.new("RGBA", (DIGIT_W, DIGIT_H), (0, 0, 0, 0))
    img = over(img, layer(DIGIT_W, DIGIT_H, unlit_draw))
    img = over(img, glow_img)
    img = over(img, lit_img)
    img = over(img, layer(DIGIT_W, DIGIT_H, core_draw))
    return bleed_transparent(img)


def paint_lamp():
    c = LAMP_SIZE / 2.0

    def glow(ctx):
        g = cairo.RadialGradient(c, c, LAMP_RIM_R - 1.0, c, c, c)
        g.add_color_stop_rgba(0.0, 0.93, 0.36, 0.24, 0.55)
        g.add_color_stop_rgba(0.45, 0.90, 0.32, 0.22, 0.22)
        g.add_color_stop_rgba(1.0, 0.85, 0.30, 0.20, 0.0)
        ctx.arc(c, c, c, 0, 2 * math.pi)
        ctx.set_source(g)
        ctx.fill()

    def lamp(ctx):
        # pale rim
        ctx.arc(c, c, LAMP_RIM_R, 0, 2 * math.pi)
        rim = cairo.LinearGradient(c - LAMP_RIM_R, c - LAMP_RIM_R, c + LAMP_RIM_R, c + LAMP_RIM_R)
        rim.add_color_stop_rgba(0.0, *rgb((222, 178, 170)))
        rim.add_color_stop_rgba(0.5, *rgb(LAMP_RIM_LIT))
        rim.add_color_stop_rgba(1.0, *rgb((160, 108, 102)))
        ctx.set_source(rim)
        ctx.fill()
        # lens, hottest a little up and left of the middle
        ctx.arc(c, c, LAMP_LENS_R, 0, 2 * math.pi)
        lens = cairo.RadialGradient(c - 3, c - 3, 0.5, c, c, LAMP_LENS_R)
        lens.add_color_stop_rgba(0.0, *rgb((255, 196, 160)))
        lens.add_color_stop_rgba(0.35, *rgb((236, 116, 88)))
        lens.add_color_stop_rgba(0.75, *rgb(LAMP_LIT))
        lens.add_color_stop_rgba(1.0, *rgb((176, 60, 48)))
        ctx.set_source(lens)
        ctx.fill()
        # specular highlight
        ctx.save()
        ctx.translate(c - 4.5, c - 6.0)
        ctx.scale(5.0, 3.0)
        ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
        ctx.restore()
        hl = cairo.RadialGradient(c - 4.5, c - 6.0, 0.0, c - 4.5, c - 6.0, 5.0)
        hl.add_color_stop_rgba(0.0, 1, 1, 1, 0.55)
        hl.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
        ctx.set_source(hl)
        ctx.fill()

    img = layer(LAMP_SIZE, LAMP_SIZE, glow)
    img = over(img, layer(LAMP_SIZE, LAMP_SIZE, lamp))
    return bleed_transparent(img)


def hexagon(ctx, cx, cy, r):
    for i in range(6):
        a = math.pi / 3.0 * i
        x, y = cx + r * math.cos(a), cy + r * math.sin(a)
        if i == 0:
            ctx.move_to(x, y)
        else:
            ctx.line_to(x, y)
    ctx.close_path()


SWITCH_CX, SWITCH_CY = SWITCH_W / 2.0, SWITCH_H / 2.0


def paint_switch(lever_down):
    w, h = SWITCH_W, SWITCH_H
    cx, cy = SWITCH_CX, SWITCH_CY

    def nut(ctx):
        hexagon(ctx, cx, cy, 20.5)
        g = cairo.LinearGradient(cx - 18, cy - 18, cx + 18, cy + 18)
        g.add_color_stop_rgba(0.0, *rgb((196, 198, 200)))
        g.add_color_stop_rgba(1.0, *rgb((98, 100, 103)))
        ctx.set_source(g)
        ctx.fill_preserve()
        ctx.set_line_width(1.0)
        ctx.set_source_rgba(*rgb((52, 53, 55)))
        ctx.stroke()
        # the light catches the nut's upper left edges
        hexagon(ctx, cx, cy, 19.3)
        g = cairo.LinearGradient(cx - 14, cy - 14, cx + 8, cy + 8)
        g.add_color_stop_rgba(0.0, 1, 1, 1, 0.45)
        g.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
        ctx.set_source(g)
        ctx.set_line_width(1.0)
        ctx.stroke()
        # chamfer circle on the nut face
        ctx.arc(cx, cy, 16.0, 0, 2 * math.pi)
        g = cairo.LinearGradient(cx - 16, cy - 16, cx + 16, cy + 16)
        g.add_color_stop_rgba(0.0, *rgb((120, 122, 125)))
        g.add_color_stop_rgba(1.0, *rgb((176, 178, 181)))
        ctx.set_source(g)
        ctx.fill()
        ctx.arc(cx, cy, 15.0, 0, 2 * math.pi)
        g = cairo.LinearGradient(cx - 15, cy - 15, cx + 15, cy + 15)
        g.add_color_stop_rgba(0.0, *rgb((184, 186, 189)))
        g.add_color_stop_rgba(1.0, *rgb((112, 114, 117)))
        ctx.set_source(g)
        ctx.fill()
        # threaded bushing: concentric rings
        for r, lo, hi in ((11.0, (86, 88, 91), (150, 152, 155)),
                          (9.5, (162, 164, 167), (92, 94, 97)),
                          (8.0, (96, 98, 101), (140, 142, 145))):
            ctx.arc(cx, cy, r, 0, 2 * math.pi)
            g = cairo.LinearGradient(cx - r, cy - r, cx + r, cy + r)
            g.add_color_stop_rgba(0.0, *rgb(lo))
            g.add_color_stop_rgba(1.0, *rgb(hi))
            ctx.set_source(g)
            ctx.fill()
        # the hole
        ctx.arc(cx, cy, 5.5, 0, 2 * math.pi)
        g = cairo.RadialGradient(cx + 1, cy + 1, 0.5, cx, cy, 5.5)
        g.add_color_stop_rgba(0.0, *rgb((4, 4, 5)))
        g.add_color_stop_rgba(1.0, *rgb((26, 26, 28)))
        ctx.set_source(g)
        ctx.fill()

    tip_y = 4.5 if not lever_down else h - 4.5
    direction = -1.0 if not lever_down else 1.0

    def lever_shape(ctx):
        base_half, tip_half = 3.4, 4.6
        y_tip_start = tip_y - direction * 3.0
        ctx.move_to(cx - base_half, cy)
        ctx.line_to(cx - tip_half, y_tip_start)
        ctx.line_to(cx + tip_half, y_tip_start)
        ctx.line_to(cx + base_half, cy)
        ctx.close_path()
        ctx.new_sub_path()
        ctx.save()
        ctx.translate(cx, y_tip_start)
        ctx.scale(tip_half + 1.0, 3.2)
        ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
        ctx.restore()
        ctx.new_sub_path()
        ctx.arc(cx, cy, base_half, 0, 2 * math.pi)

    def lever(ctx):
        lever_shape(ctx)
        ctx.set_fill_rule(cairo.FILL_RULE_WINDING)
        g = cairo.LinearGradient(cx - 6, 0, cx + 6, 0)
        g.add_color_stop_rgba(0.0, *rgb((120, 122, 126)))
        g.add_color_stop_rgba(0.3, *rgb((236, 237, 239)))
        g.add_color_stop_rgba(0.55, *rgb((206, 208, 211)))
        g.add_color_stop_rgba(1.0, *rgb((112, 114, 118)))
        ctx.set_source(g)
        ctx.fill()
        # rounded end cap catches the light on its upper side
        y_tip_start = tip_y - direction * 3.0
        ctx.save()
        ctx.translate(cx, y_tip_start)
        ctx.scale(5.6, 3.2)
        ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
        ctx.restore()
        g = cairo.RadialGradient(cx - 1.5, y_tip_start - 1.2, 0.3, cx, y_tip_start, 6.0)
        g.add_color_stop_rgba(0.0, *rgb((252, 252, 253)))
        g.add_color_stop_rgba(0.6, *rgb((200, 202, 205)))
        g.add_color_stop_rgba(1.0, *rgb((138, 140, 144)))
        ctx.set_source(g)
        ctx.fill()

    nut_img = layer(w, h, nut)
    lever_img = layer(w, h, lever)
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    img = over(img, shadow_of(nut_img, 1, 2, 1.6, 0.65))
    img = over(img, nut_img)
    img = over(img, shadow_of(lever_img, 2, 2, 1.2, 0.5))
    img = over(img, lever_img)
    return bleed_transparent(img)


RADEDA_PANELS_ROW1 = [(170, 115, 310, 244), (329, 115, 469, 244), (489, 115, 629, 244)]
RADEDA_PANELS_ROW2 = [(x0, 262, x1, 398) for (x0, _, x1, _) in RADEDA_PANELS_ROW1]
RADEDA_PANELS_ROW3 = [(89, 417, 230, 553), (250, 417, 391, 553),
                      (409, 417, 550, 553), (568, 417, 709, 553)]
RADEDA_WINDOWS = [(190, 151, 291, 233), (378, 151, 421, 233), (522, 151, 595, 233)]


def panel_centre(p):
    return (p[0] + p[2] + 1) / 2.0


def paint_radeda_background():
    w, h = 800, 600
    img = backdrop(1101, w, h, centre=31, corner=21, fine_amp=3.0, mottle_amp=2.0,
                   tint=(0, 0, 1), light=(-0.2, -0.3))

    # title
    size, tx, tbase = fit_text(w, h, "Quolvan Radeda", (231, 37, 569, 84))

    def title(ctx):
        set_font(ctx, size)
        ctx.move_to(tx, tbase)
        ctx.text_path("Quolvan Radeda")
        g = cairo.LinearGradient(0, 37, 0, 84)
        g.add_color_stop_rgba(0.0, 1, 1, 1, 1)
        g.add_color_stop_rgba(1.0, 0.86, 0.86, 0.87, 1)
        ctx.set_source(g)
        ctx.fill()

    t = layer(w, h, title)
    img = over(img, shadow_of(t, 1, 3, 2.5, 0.75))
    img = over(img, t)

    panels = RADEDA_PANELS_ROW1 + RADEDA_PANELS_ROW2 + RADEDA_PANELS_ROW3
    for lyr in panel_layers((w, h), panels):
        img = over(img, lyr)

    names = [("BPM", RADEDA_PANELS_ROW1[0]), ("Beats", RADEDA_PANELS_ROW1[1]),
             ("Division", RADEDA_PANELS_ROW1[2]), ("Active", RADEDA_PANELS_ROW2[0]),
             ("Retrigger", RADEDA_PANELS_ROW2[1]), ("Varispeed", RADEDA_PANELS_ROW2[2]),
             ("Speed", RADEDA_PANELS_ROW3[0]), ("Attack", RADEDA_PANELS_ROW3[1]),
             ("Hold", RADEDA_PANELS_ROW3[2]), ("Release", RADEDA_PANELS_ROW3[3])]
    items = [(n, panel_centre(p), p[1] + 22) for n, p in names]
    for lyr in labels_layers((w, h), items):
        img = over(img, lyr)

    # read-out windows: grey frame, black glass, dim 8s, step triangles
    def windows(ctx):
        for (x0, y0, x1, y1) in RADEDA_WINDOWS:
            ww, wh = x1 + 1 - x0, y1 + 1 - y0
            round_rect(ctx, x0, y0, ww, wh, 5.0)
            g = cairo.LinearGradient(x0, y0, x0 + ww * 0.3, y1 + 1)
            g.add_color_stop_rgba(0.0, *rgb((70, 71, 74)))
            g.add_color_stop_rgba(1.0, *rgb((146, 147, 150)))
            ctx.set_source(g)
            ctx.fill()
            round_rect(ctx, x0 + 2, y0 + 2, ww - 4, wh - 4, 3.5)
            ctx.set_source_rgba(*rgb(WINDOW_FILL))
            ctx.fill()
            # inner shadow along the top edge of the glass
            round_rect(ctx, x0 + 2, y0 + 2, ww - 4, wh - 4, 3.5)
            g = cairo.LinearGradient(0, y0 + 2, 0, y0 + 9)
            g.add_color_stop_rgba(0.0, 0, 0, 0, 0.6)
            g.add_color_stop_rgba(1.0, 0, 0, 0, 0.0)
            ctx.set_source(g)
            ctx.fill()

    def eights(ctx):
        for (ax, ay), n in RADEDA_READOUTS:
            for i in range(n):
                path_segments(ctx, "abcdefg", ax - 18 + DIGIT_STEP * i, ay - 26)
        ctx.set_source_rgba(*rgb(SEG_UNLIT))
        ctx.fill()

    def triangles(ctx):
        for (ax, ay), n in RADEDA_READOUTS:
            for i in range(n):
                cx = ax + DIGIT_STEP * i
                # follow the slant of the digits
                up = cx + (ay - 157.0) * SEG_SLANT
                dn = cx + (ay - 227.0) * SEG_SLANT
                ctx.move_to(up, 154.0)
                ctx.line_to(up + 10.0, 160.0)
                ctx.line_to(up - 10.0, 160.0)
                ctx.close_path()
                ctx.move_to(dn - 10.0, 224.0)
                ctx.line_to(dn + 10.0, 224.0)
                ctx.line_to(dn, 230.0)
                ctx.close_path()
        ctx.set_source_rgba(0.94, 0.94, 0.95, 1.0)
        ctx.fill()

    img = over(img, layer(w, h, windows))
    img = over(img, layer(w, h, eights))
    img = over(img, layer(w, h, triangles))

    # unlit lamps, centred under the lit lamp pictures
    def lamps(ctx):
        for lx, ly in RADEDA_LAMPS:
            c_x, c_y = lx + LAMP_SIZE / 2.0, ly + LAMP_SIZE / 2.0
            ctx.arc(c_x, c_y, LAMP_RIM_R + 0.5, 0, 2 * math.pi)
            g = cairo.LinearGradient(c_x - 16, c_y - 16, c_x + 16, c_y + 16)
            g.add_color_stop_rgba(0.0, *rgb((176, 177, 180)))
            g.add_color_stop_rgba(1.0, *rgb((92, 93, 96)))
            ctx.set_source(g)
            ctx.fill()
            ctx.arc(c_x, c_y, LAMP_LENS_R + 0.5, 0, 2 * math.pi)
            ctx.set_source_rgba(*rgb((34, 30, 30)))
            ctx.fill()
            ctx.arc(c_x, c_y, LAMP_LENS_R, 0, 2 * math.pi)
            g = cairo.RadialGradient(c_x - 3, c_y - 3, 0.5, c_x, c_y, LAMP_LENS_R)
            g.add_color_stop_rgba(0.0, *rgb((84, 60, 59)))
            g.add_color_stop_rgba(0.6, *rgb(LAMP_UNLIT))
            g.add_color_stop_rgba(1.0, *rgb((44, 31, 31)))
            ctx.set_source(g)
            ctx.fill()
            ctx.save()
            ctx.translate(c_x - 4.5, c_y - 6.0)
            ctx.scale(5.0, 3.0)
            ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
            ctx.restore()
            hl = cairo.RadialGradient(c_x - 4.5, c_y - 6.0, 0.0, c_x - 4.5, c_y - 6.0, 5.0)
            hl.add_color_stop_rgba(0.0, 1, 0.9, 0.9, 0.16)
            hl.add_color_stop_rgba(1.0, 1, 0.9, 0.9, 0.0)
            ctx.set_source(hl)
            ctx.fill()

    lamp_img = layer(w, h, lamps)
    img = over(img, shadow_of(lamp_img, 1, 2, 1.5, 0.6))
    img = over(img, lamp_img)

    for lyr in knob_layers((w, h), RADEDA_KNOBS) + screw_layers((w, h), 1102):
        img = over(img, lyr)
    return img


# ---------------------------------------------------------------------------
# Zivaz pictures.
# ---------------------------------------------------------------------------

ZIVAZ_DOWNSAMPLE_PANEL = (37, 123, 762, 229)
ZIVAZ_KNOB_PANELS = [("Input Noise", (247, 267, 388, 404)),
                     ("Output Noise", (406, 267, 547, 404)),
                     ("Noise Bias", (169, 420, 310, 556)),
                     ("Post Clip", (328, 420, 469, 556)),
                     ("Distort", (487, 420, 628, 556))]


def pill_path(ctx, k, ox, oy, inset=0.0):
    x = ox + PILL_X0 + PILL_PITCH * k + inset
    y = oy + PILL_Y0 + inset
    pw, ph = PILL_W - 2 * inset, PILL_H - 2 * inset
    round_rect(ctx, x, y, pw, ph, ph / 2.0)


def paint_zivaz_background():
    w, h = 800, 600
    img = backdrop(2202, w, h, centre=43, corner=16, fine_amp=3.0, mottle_amp=1.5)

    panels = [ZIVAZ_DOWNSAMPLE_PANEL] + [p for _, p in ZIVAZ_KNOB_PANELS]
    for lyr in panel_layers((w, h), panels):
        img = over(img, lyr)

    items = [("Downsample", 400.0, 146.0)]
    items += [(n, panel_centre(p), p[1] + 22) for n, p in ZIVAZ_KNOB_PANELS]
    for lyr in labels_layers((w, h), items):
        img = over(img, lyr)

    ox, oy = ZIVAZ_LIT_RECT[0], ZIVAZ_LIT_RECT[1]

    def pills(ctx):
        for k in range(PILL_COUNT):
            pill_path(ctx, k, ox, oy)
            g = cairo.LinearGradient(0, oy + PILL_Y0, 0, oy + PILL_Y0 + PILL_H)
            g.add_color_stop_rgba(0.0, *rgb((52, 94, 50)))
            g.add_color_stop_rgba(0.5, *rgb(PILL_UNLIT))
            g.add_color_stop_rgba(1.0, *rgb((33, 64, 32)))
            ctx.set_source(g)
            ctx.fill()
            pill_path(ctx, k, ox, oy, inset=0.6)
            ctx.set_line_width(1.2)
            ctx.set_source_rgba(*rgb((176, 178, 176)))
            ctx.stroke()
            # soft sheen across the upper half of the cap
            pill_path(ctx, k, ox, oy, inset=2.5)
            g = cairo.LinearGradient(0, oy + PILL_Y0 + 2.5, 0, oy + PILL_Y0 + PILL_H / 2.0)
            g.add_color_stop_rgba(0.0, 1, 1, 1, 0.10)
            g.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
            ctx.set_source(g)
            ctx.fill()

    pill_img = layer(w, h, pills)
    img = over(img, shadow_of(pill_img, 1, 2, 1.5, 0.6))
    img = over(img, pill_img)

    def numbers(ctx):
        set_font(ctx, 15.0)
        for k in range(PILL_COUNT):
            cx = ox + PILL_X0 + PILL_PITCH * k + PILL_W / 2.0
            text_centred(ctx, str(k + 1), cx, 210.0)
        ctx.set_source_rgba(*rgb((196, 197, 200)))
        ctx.fill()

    num = layer(w, h, numbers)
    img = over(img, shadow_of(num, 0, 1, 0.8, 0.8))
    img = over(img, num)

    for lyr in knob_layers((w, h), ZIVAZ_KNOBS) + screw_layers((w, h), 2203):
        img = over(img, lyr)
    return img


def paint_zivaz_lit():
    w, h = ZIVAZ_LIT_RECT[2], ZIVAZ_LIT_RECT[3]

    def pills(ctx):
        for k in range(PILL_COUNT):
            pill_path(ctx, k, 0, 0)
            ctx.set_source_rgba(*rgb(LAMP_RIM_LIT))
            ctx.fill()
            pill_path(ctx, k, 0, 0, inset=1.2)
            g = cairo.LinearGradient(0, PILL_Y0, 0, PILL_Y0 + PILL_H)
            g.add_color_stop_rgba(0.0, *rgb((240, 128, 104)))
            g.add_color_stop_rgba(0.45, *rgb(PILL_LIT))
            g.add_color_stop_rgba(1.0, *rgb((190, 66, 52)))
            ctx.set_source(g)
            ctx.fill()
            # hot spot in the middle of the cap and a sheen on top
            cxp = PILL_X0 + PILL_PITCH * k + PILL_W / 2.0
            cyp = PILL_Y0 + PILL_H / 2.0
            ctx.save()
            ctx.translate(cxp, cyp)
            ctx.scale(PILL_W / 2.0 - 3.0, PILL_H / 2.0 - 3.0)
            ctx.arc(0, 0, 1.0, 0, 2 * math.pi)
            ctx.restore()
            g = cairo.RadialGradient(cxp, cyp, 0.0, cxp, cyp, PILL_W / 2.0 - 3.0)
            g.add_color_stop_rgba(0.0, 1.0, 0.72, 0.58, 0.35)
            g.add_color_stop_rgba(1.0, 1.0, 0.72, 0.58, 0.0)
            ctx.set_source(g)
            ctx.fill()
            pill_path(ctx, k, 0, 0, inset=2.5)
            g = cairo.LinearGradient(0, PILL_Y0 + 2.5, 0, PILL_Y0 + PILL_H / 2.0)
            g.add_color_stop_rgba(0.0, 1, 1, 1, 0.22)
            g.add_color_stop_rgba(1.0, 1, 1, 1, 0.0)
            ctx.set_source(g)
            ctx.fill()

    body = layer(w, h, pills)

    # Glow: a blurred copy of the pills, kept to each pill's own columns so
    # the strip stays clear between pills and the editor's cut never shows.
    def solid(ctx):
        for k in range(PILL_COUNT):
            pill_path(ctx, k, 0, 0)
        ctx.set_source_rgba(1, 1, 1, 1)
        ctx.fill()

    spread = layer(w, h, solid).getchannel("A").filter(ImageFilter.GaussianBlur(2.6))
    columns = []
    for x in range(w):
        cover = 0.0
        for k in range(PILL_COUNT):
            x0 = PILL_X0 + PILL_PITCH * k
            x1 = x0 + PILL_W
            cover += max(0.0, min(x + 1.0, x1) - max(float(x), x0))
        if x < PILL_X0:
            cover = max(0.0, 1.0 - (PILL_X0 - (x + 0.5)) / 6.0)
        if x + 1 > PILL_X0 + PILL_PITCH * 15 + PILL_W:
            cover = max(cover, 1.0 - ((x + 0.5) - (PILL_X0 + PILL_PITCH * 15 + PILL_W)) / 6.0)
        columns.append(max(0.0, min(1.0, cover)))
    mask = Image.new("L", (w, h))
    mask.putdata([int(round(255 * columns[x])) for y in range(h) for x in range(w)])
    glow_a = ImageChops.multiply(spread.point(lambda v: int(v * 0.85)), mask)
    glow = Image.new("RGBA", (w, h), (232, 84, 60, 0))
    glow.putalpha(glow_a)
    img = over(glow, body)
    return bleed_transparent(img)


TITLE_TEXT = "Quolvan Zivaz"


def paint_zivaz_title_clean():
    w, h = ZIVAZ_TITLE_RECT[2], ZIVAZ_TITLE_RECT[3]
    size, tx, tbase = fit_text(w, h, TITLE_TEXT, (2, 1, w - 2, h - 1))

    def draw(ctx):
        set_font(ctx, size)
        ctx.move_to(tx, tbase)
        ctx.text_path(TITLE_TEXT)
        ctx.set_source_rgba(1, 1, 1, 1)
        ctx.fill()

    alpha = layer(w, h, draw).getchannel("A")
    img = Image.new("RGBA", (w, h), (255, 255, 255, 0))
    img.putalpha(alpha)
    return img


# Per title index 1..5: block size, opacity spread, share of half-transparent
# blocks, share of missing blocks.
TITLE_DEGRADE = {1: (2, 0.10, 0.0, 0.0), 2: (3, 0.16, 0.0, 0.0), 3: (4, 0.22, 0.0, 0.0),
                 4: (5, 0.26, 0.12, 0.07), 5: (6, 0.30, 0.18, 0.13)}


def paint_zivaz_title_blocky(clean, index):
    block, spread, half_share, gone_share = TITLE_DEGRADE[index]
    rng = random.Random(3300 + index)
    w, h = clean.size
    src = list(clean.getchannel("A").getdata())
    out = [0] * (w * h)
    for by in range(0, h, block):
        for bx in range(0, w, block):
            xs = range(bx, min(w, bx + block))
            ys = range(by, min(h, by + block))
            cover = sum(src[y * w + x] for y in ys for x in xs) / (255.0 * len(xs) * len(ys))
            # firm up the edge blocks so the letters read as pixel art, not blur
            a = max(0.0, min(1.0, (cover - 0.18) / 0.55))
            roll = rng.random()
            jitter = 1.0 - spread * rng.random()
            if a > 0.0:
                if roll < gone_share:
                    a = 0.0
                elif roll < gone_share + half_share:
                    a *= 0.5
                else:
                    a *= jitter
            v = int(round(255 * a))
            for y in ys:
                for x in xs:
                    out[y * w + x] = v
    alpha = Image.new("L", (w, h))
    alpha.putdata(out)
    img = Image.new("RGBA", (w, h), (255, 255, 255, 0))
    img.putalpha(alpha)
    return img


# ---------------------------------------------------------------------------
# Output.
# ---------------------------------------------------------------------------

REPEAT_DIR = os.path.join("plugins", "repeat", "artwork")
CRUSH_DIR = os.path.join("plugins", "crush", "artwork")
SHEET_PATH = os.path.join("docs", "artwork.png")


def paint_all():
    """Returns a list of (relative path, image) for all 22 pictures."""
    pics = [(os.path.join(REPEAT_DIR, "background.png"), paint_radeda_background())]
    for k in range(10):
        pics.append((os.path.join(REPEAT_DIR, "digit%d.png" % k), paint_digit(k)))
    pics.append((os.path.join(REPEAT_DIR, "lamp.png"), paint_lamp()))
    pics.append((os.path.join(REPEAT_DIR, "switch_off.png"), paint_switch(False)))
    pics.append((os.path.join(REPEAT_DIR, "switch_on.png"), paint_switch(True)))
    pics.append((os.path.join(CRUSH_DIR, "background.png"), paint_zivaz_background()))
    pics.append((os.path.join(CRUSH_DIR, "lit.png"), paint_zivaz_lit()))
    clean = paint_zivaz_title_clean()
    pics.append((os.path.join(CRUSH_DIR, "title0.png"), clean))
    for i in range(1, 6):
        pics.append((os.path.join(CRUSH_DIR, "title%d.png" % i),
                     paint_zivaz_title_blocky(clean, i)))
    return pics


def save_png(img, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    assert img.mode == "RGBA"
    img.save(path, format="PNG", optimize=False, compress_level=9)


# --- previews and contact sheet --------------------------------------------

def editor_preview_radeda(pics, digits=(1, 0, 0, 2, 0, 4), lamps_on=(True, False, True),
                          knobs=(0.2, 0.0, 0.5, 1.0)):
    """The Radeda panel as the editor would draw it at scale 1."""
    get = dict((os.path.basename(p), im) for p, im in pics if p.startswith(REPEAT_DIR))
    img = get["background.png"].copy()
    i = 0
    for (ax, ay), n in RADEDA_READOUTS:
        for j in range(n):
            img.alpha_composite(get["digit%d.png" % digits[i]], (ax - 18 + 30 * j, ay - 26))
            i += 1
    for (sx, sy), (lx, ly), on in zip(RADEDA_SWITCHES, RADEDA_LAMPS, lamps_on):
        if on:
            img.alpha_composite(get["lamp.png"], (lx, ly))
            img.alpha_composite(get["switch_on.png"], (sx, sy))
        else:
            img.alpha_composite(get["switch_off.png"], (sx, sy))

    def draw(ctx):
        for (cx, cy), v in zip(RADEDA_KNOBS, knobs):
            knob_path_body(ctx, cx, cy, v)

    return over(img, layer(800, 600, draw))


def editor_preview_zivaz(pics, downsample=9, knobs=(0.5, 0.0, 0.3, 0.7, 1.0)):
    get = dict((os.path.basename(p), im) for p, im in pics if p.startswith(CRUSH_DIR))
    img = get["background.png"].copy()
    ti = max(0, min(5, int(math.floor(downsample * 0.5 + 0.5)) - 3))
    img.alpha_composite(get["title%d.png" % ti], ZIVAZ_TITLE_RECT[:2])
    lit_w = 44 * downsample + 4
    img.alpha_composite(get["lit.png"].crop((0, 0, lit_w, 37)), ZIVAZ_LIT_RECT[:2])

    def draw(ctx):
        for (cx, cy), v in zip(ZIVAZ_KNOBS, knobs):
            knob_path_body(ctx, cx, cy, v)

    return over(img, layer(800, 600, draw))


def checker(w, h, cell=8):
    img = Image.new("RGBA", (w, h), (58, 58, 62, 255))
    dark = Image.new("RGBA", (cell, cell), (44, 44, 48, 255))
    for y in range(0, h, cell):
        for x in range((y // cell) % 2 * cell, w, 2 * cell):
            img.paste(dark, (x, y))
    return img


def contact_sheet(pics):
    """All 22 pictures with their file names, small ones enlarged 2x on a checkerboard,
    plus both panels as the editors draw them."""
    margin, gap, label_h = 24, 20, 22
    sheet_w = margin * 2 + 800 * 2 + gap
    items = []  # (label, image, x, y)
    y = margin
    get = dict(pics)
    items.append(("repeat/background.png", get[os.path.join(REPEAT_DIR, "background.png")],
                  margin, y + label_h))
    items.append(("crush/background.png", get[os.path.join(CRUSH_DIR, "background.png")],
                  margin + 800 + gap, y + label_h))
    y += label_h + 600 + gap
    items.append(("repeat: editor preview (100, 2, 04; Active and Varispeed on)",
                  editor_preview_radeda(pics), margin, y + label_h))
    items.append(("crush: editor preview (Downsample 9)", editor_preview_zivaz(pics),
                  margin + 800 + gap, y + label_h))
    y += label_h + 600 + gap

    def enlarged(im, f=2):
        big = im.resize((im.width * f, im.height * f), Image.NEAREST)
        bg = checker(big.width, big.height)
        return over(bg, big)

    x = margin
    for k in range(10):
        im = enlarged(get[os.path.join(REPEAT_DIR, "digit%d.png" % k)])
        items.append(("digit%d" % k, im, x, y + label_h))
        x += im.width + 14
    for name in ("lamp.png", "switch_off.png", "switch_on.png"):
        im = enlarged(get[os.path.join(REPEAT_DIR, name)])
        items.append((name[:-4], im, x, y + label_h))
        x += im.width + 24
    y += label_h + 112 + gap
    lit = enlarged(get[os.path.join(CRUSH_DIR, "lit.png")])
    items.append(("crush/lit.png (2x)", lit, margin, y + label_h))
    y += label_h + lit.height + gap
    x = margin
    for i in range(6):
        im = enlarged(get[os.path.join(CRUSH_DIR, "title%d.png" % i)])
        col, row = i % 2, i // 2
        items.append(("title%d" % i, im, margin + col * (im.width + 40),
                      y + row * (label_h + im.height + 12) + label_h))
    y += 3 * (label_h + 76 + 12) + margin
    sheet = Image.new("RGBA", (sheet_w, y), (20, 20, 22, 255))

    def labels(ctx):
        set_font(ctx, 13.0, bold=False)
        ctx.set_source_rgba(0.85, 0.85, 0.87, 1)
        for text, _, ix, iy in items:
            ctx.move_to(ix, iy - 7)
            ctx.show_text(text)
        set_font(ctx, 13.0, bold=True)
        ctx.move_to(margin, y - 8)
        ctx.show_text("tools/paint_artwork.py  (small pictures enlarged 2x over a checkerboard)")

    for _, im, ix, iy in items:
        sheet.alpha_composite(im, (ix, iy))
    sheet = over(sheet, layer(sheet.width, sheet.height, labels))
    return sheet.convert("RGB").convert("RGBA")


def write_all(root, with_sheet):
    pics = paint_all()
    for rel, img in pics:
        save_png(img, os.path.join(root, rel))
    if with_sheet:
        save_png(contact_sheet(pics), os.path.join(root, SHEET_PATH))
    return [rel for rel, _ in pics] + ([SHEET_PATH] if with_sheet else [])


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default=os.path.dirname(here),
                    help="checkout to write into (default: the one holding this script)")
    ap.add_argument("--contact-sheet", action="store_true",
                    help="also write docs/artwork.png")
    ap.add_argument("--check", action="store_true",
                    help="repaint into a temp dir and fail if a committed picture differs")
    args = ap.parse_args(argv)

    for face in ("DejaVuSans.ttf", "DejaVuSans-Bold.ttf"):
        if not os.path.exists(os.path.join(FONT_DIR, face)):
            sys.exit("missing font %s (Debian package fonts-dejavu-core)" % face)

    if not args.check:
        written = write_all(args.root, args.contact_sheet)
        print("wrote %d pictures under %s" % (len(written), args.root))
        return 0

    tmp = tempfile.mkdtemp(prefix="paint_artwork_")
    try:
        sheet_committed = os.path.exists(os.path.join(args.root, SHEET_PATH))
        written = write_all(tmp, args.contact_sheet or sheet_committed)
        bad = []
        for rel in written:
            a, b = os.path.join(args.root, rel), os.path.join(tmp, rel)
            if not os.path.exists(a):
                bad.append(rel + " (missing)")
                continue
            with open(a, "rb") as fa, open(b, "rb") as fb:
                if fa.read() != fb.read():
                    bad.append(rel)
        for rel in bad:
            print("differs: %s" % rel)
        print("%d of %d pictures match the painter" % (len(written) - len(bad), len(written)))
        return 1 if bad else 0
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    sys.exit(main())
