#!/usr/bin/python3
"""Draws every picture of KikuMail's Data folder.

Usage: /usr/bin/python3 make_pictures.py [output folder]

Everything is drawn from shapes and text in one soft "Kiku Lanternway" style:
pastel faces, plum outlines, rounded corners, cherry blossoms and paper lanterns.
Shapes are drawn four times larger and averaged down, so edges are smooth.
Pictures that sit on the main window board are anti-aliased against the board's
own colour and keep a transparent surround, so they blend in whatever is behind
them. The output is byte-for-byte the same on every run (no randomness that is
not seeded, no timestamps).

Needs only Pillow (Debian's python3-pil).
"""

import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFont

SS = 4  # supersampling factor

FONT_FILE = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"

# --- colours -------------------------------------------------------------

INK = (116, 78, 94)  # plum outline used everywhere
INK_SOFT = (170, 130, 146)
WHITE = (255, 255, 255)
CREAM = (255, 250, 242)
BOARD_TOP = (255, 248, 241)
BOARD_BOTTOM = (253, 239, 233)
BOARD = (254, 244, 237)  # the board's calm colour; matte of every board picture
STAGE = (255, 233, 236)  # the pale pink stage under the hearts
BAR_MATTE = (240, 240, 240)  # ordinary window colour behind the bar buttons

SAKURA = (250, 205, 218)
SAKURA_DEEP = (236, 142, 170)
PEACH = (255, 214, 186)
LANTERN = (246, 150, 118)
LANTERN_DEEP = (222, 98, 90)
GOLD = (248, 210, 118)
GOLD_DEEP = (214, 160, 70)
LEMON = (255, 238, 170)
MINT = (196, 236, 210)
GREEN = (112, 196, 132)
GREEN_DEEP = (56, 148, 92)
SKY = (200, 226, 248)
BLUE = (112, 162, 218)
BLUE_DEEP = (70, 118, 186)
AQUA = (190, 236, 236)
LAVENDER = (222, 208, 244)
PURPLE = (160, 128, 210)
HEART = (236, 84, 112)
HEART_LIGHT = (252, 160, 176)
HEART_DEEP = (190, 50, 84)
WOOD = (204, 146, 98)
WOOD_DEEP = (152, 98, 64)
GREY = (200, 196, 204)


def mix(a, b, t):
    """Colour between a (t=0) and b (t=1)."""
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def with_alpha(c, a):
    return (c[0], c[1], c[2], a)


# --- fonts ---------------------------------------------------------------

_font_cache = {}


def has_cjk_font():
    return isinstance(font(12), ImageFont.FreeTypeFont)


def font(px):
    """The CJK font at px picture pixels (drawn SS times larger), or Pillow's default."""
    if px not in _font_cache:
        try:
            _font_cache[px] = ImageFont.truetype(FONT_FILE, round(px * SS), index=0)
        except OSError:
            _font_cache[px] = ImageFont.load_default()
    return _font_cache[px]


# --- paints --------------------------------------------------------------


class Vertical:
    """A top-to-bottom gradient between two colours over picture rows y0..y1."""

    def __init__(self, top, bottom, y0, y1):
        self.top, self.bottom, self.y0, self.y1 = top, bottom, y0, y1

    def image(self, size):
        w, h = size
        column = Image.new("RGB", (1, h))
        y0, y1 = self.y0 * SS, self.y1 * SS
        span = max(1.0, y1 - y0)
        column.putdata(
            [mix(self.top, self.bottom, min(1.0, max(0.0, (y - y0) / span))) for y in range(h)]
        )
        return column.resize((w, h), Image.Resampling.NEAREST)


class Radial:
    """A round gradient: inner colour at (cx, cy) fading to outer colour at radius r."""

    def __init__(self, inner, outer, cx, cy, r):
        self.inner, self.outer, self.cx, self.cy, self.r = inner, outer, cx, cy, r

    def image(self, size):
        d = max(2, round(2 * self.r * SS))
        ramp = Image.radial_gradient("L").resize((d, d), Image.Resampling.BILINEAR)
        ramp = ramp.point(lambda v: min(255, round(v * 255 / 128)))  # 128 is the rim
        out = Image.new("RGB", size, self.outer)
        disc = Image.composite(Image.new("RGB", (d, d), self.outer), Image.new("RGB", (d, d), self.inner), ramp)
        out.paste(disc, (round((self.cx - self.r) * SS), round((self.cy - self.r) * SS)))
        return out


# --- the drawing surface ---------------------------------------------------


class Sketch:
    """A picture of w x h pixels drawn SS times larger.

    Coordinates are in picture pixels (floats welcome). `rgb` holds the colours over
    the matte colour; `mask` records what belongs to the picture, which becomes the
    transparent surround of GIFs and the alpha of PNGs."""

    def __init__(self, w, h, matte):
        self.w, self.h, self.matte = w, h, matte
        self.rgb = Image.new("RGB", (w * SS, h * SS), matte)
        self.mask = Image.new("L", (w * SS, h * SS), 0)

    # coordinates
    @staticmethod
    def s(points):
        return [(x * SS, y * SS) for x, y in points]

    @staticmethod
    def b(box):
        return [v * SS for v in box]

    # core: draw a shape into a fresh mask, then lay the paint through it
    def _lay(self, draw_shape, paint, solid=None):
        m = Image.new("L", self.rgb.size, 0)
        draw_shape(ImageDraw.Draw(m))
        self._lay_mask(m, paint, solid)

    def _lay_mask(self, m, paint, solid=None):
        alpha = 255
        if isinstance(paint, tuple):
            if len(paint) == 4:
                alpha = paint[3]
                m = m.point(lambda v: v * alpha // 255)
            source = Image.new("RGB", self.rgb.size, paint[:3])
        else:
            source = paint.image(self.rgb.size)
        self.rgb.paste(source, (0, 0), m)
        if solid is None:
            solid = alpha == 255
        if solid:
            self.mask = ImageChops.lighter(self.mask, m if alpha == 255 else m.point(lambda v: 255 if v else 0))

    def _both(self, fill_fn, outline_fn, fill, outline, solid):
        if fill is not None:
            self._lay(fill_fn, fill, solid)
        if outline is not None:
            self._lay(outline_fn, outline, solid)

    def ellipse(self, box, fill=None, outline=None, width=1.0, solid=None):
        bb = self.b(box)
        self._both(
            lambda d: d.ellipse(bb, fill=255),
            lambda d: d.ellipse(bb, outline=255, width=round(width * SS)),
            fill, outline, solid)

    def circle(self, cx, cy, r, fill=None, outline=None, width=1.0, solid=None):
        self.ellipse((cx - r, cy - r, cx + r, cy + r), fill, outline, width, solid)

    def rrect(self, box, radius, fill=None, outline=None, width=1.0, solid=None):
        bb = self.b(box)
        rr = round(radius * SS)
        self._both(
            lambda d: d.rounded_rectangle(bb, rr, fill=255),
            lambda d: d.rounded_rectangle(bb, rr, outline=255, width=round(width * SS)),
            fill, outline, solid)

    def polygon(self, points, fill=None, outline=None, width=1.0, solid=None):
        pts = self.s(points)
        w = round(width * SS)

        def outline_fn(d):
            d.line(pts + [pts[0]], fill=255, width=w, joint="curve")
            for p in pts:  # round the corners
                d.ellipse((p[0] - w / 2, p[1] - w / 2, p[0] + w / 2, p[1] + w / 2), fill=255)

        self._both(lambda d: d.polygon(pts, fill=255), outline_fn, fill, outline, solid)

    def line(self, points, fill, width=1.0, round_ends=True, solid=None):
        pts = self.s(points)
        w = round(width * SS)

        def fn(d):
            d.line(pts, fill=255, width=w, joint="curve")
            if round_ends:
                for p in (pts[0], pts[-1]):
                    d.ellipse((p[0] - w / 2, p[1] - w / 2, p[0] + w / 2, p[1] + w / 2), fill=255)

        self._lay(fn, fill, solid)

    def chord(self, box, start, end, fill=None, outline=None, width=1.0, solid=None):
        bb = self.b(box)
        self._both(
            lambda d: d.chord(bb, start, end, fill=255),
            lambda d: d.chord(bb, start, end, outline=255, width=round(width * SS)),
            fill, outline, solid)

    def arc(self, box, start, end, fill, width=1.0, solid=None):
        bb = self.b(box)
        self._lay(lambda d: d.arc(bb, start, end, fill=255, width=round(width * SS)), fill, solid)

    def text(self, xy, s, px, fill, anchor="mm", stroke=0.0, stroke_fill=None, solid=None):
        """Text centred on xy (anchor "mm"), px pixels high, with an optional halo."""
        f = font(px)
        if not isinstance(f, ImageFont.FreeTypeFont):
            self._bitmap_text(xy, s, px, f, fill, solid)
            return
        pos = (xy[0] * SS, xy[1] * SS)
        sw = round(stroke * SS)
        if stroke_fill is not None and sw:
            self._lay(lambda d: d.text(pos, s, fill=255, font=f, anchor=anchor, stroke_width=sw, stroke_fill=255),
                      stroke_fill, solid)
        self._lay(lambda d: d.text(pos, s, fill=255, font=f, anchor=anchor), fill, solid)

    def _bitmap_text(self, xy, s, px, f, fill, solid):
        """Pillow's built-in font: Latin-1 only, one small size, so it is drawn and then enlarged."""
        s = s.encode("latin-1", "replace").decode("latin-1")
        left, top, right, bottom = ImageDraw.Draw(Image.new("L", (1, 1))).textbbox((0, 0), s, font=f)
        small = Image.new("L", (right - left + 2, bottom - top + 2), 0)
        ImageDraw.Draw(small).text((1 - left, 1 - top), s, fill=255, font=f)
        k = SS * px / 11.0  # the built-in font is about 11 pixels high
        big = small.resize((max(1, round(small.width * k)), max(1, round(small.height * k))),
                           Image.Resampling.NEAREST)
        m = Image.new("L", self.rgb.size, 0)
        m.paste(big, (round(xy[0] * SS - big.width / 2), round(xy[1] * SS - big.height / 2)))
        self._lay_mask(m, fill, solid)

    # finishing
    def _small(self):
        rgb = self.rgb.resize((self.w, self.h), Image.Resampling.BOX)
        alpha = self.mask.resize((self.w, self.h), Image.Resampling.BOX)
        return rgb, alpha

    def gif(self, colors=64, transparent=True):
        """A palette image; with `transparent` the surround gets its own palette index."""
        rgb, alpha = self._small()
        if not transparent:
            return rgb.quantize(colors=colors, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        p = rgb.quantize(colors=colors - 1, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        clear = p.getextrema()[1] + 1
        palette = p.getpalette()[: 3 * clear] + list(self.matte)
        p.putpalette(palette)
        p.paste(clear, (0, 0, self.w, self.h), alpha.point(lambda v: 0 if v >= 128 else 255))
        p.info["transparency"] = clear
        return p

    def rgba(self):
        rgb, alpha = self._small()
        out = rgb.convert("RGBA")
        out.putalpha(alpha)
        return out


# --- geometry helpers ----------------------------------------------------


def rotate(points, degrees, cx, cy):
    """Rotate local points (around 0, 0) by degrees (clockwise on screen) and move to cx, cy."""
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)
    return [(cx + x * ca - y * sa, cy + x * sa + y * ca) for x, y in points]


def heart_points(cx, cy, w, h, n=120):
    """A heart filling a w x h box centred on cx, cy."""
    raw = []
    for i in range(n):
        t = 2 * math.pi * i / n
        x = 16 * math.sin(t) ** 3
        y = -(13 * math.cos(t) - 5 * math.cos(2 * t) - 2 * math.cos(3 * t) - math.cos(4 * t))
        raw.append((x, y))
    xs = [p[0] for p in raw]
    ys = [p[1] for p in raw]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    return [(cx - w / 2 + (x - x0) / (x1 - x0) * w, cy - h / 2 + (y - y0) / (y1 - y0) * h) for x, y in raw]


def ellipse_points(cx, cy, rx, ry, degrees=0.0, n=32):
    pts = [(rx * math.cos(2 * math.pi * i / n), ry * math.sin(2 * math.pi * i / n)) for i in range(n)]
    return rotate(pts, degrees, cx, cy)


def star_points(cx, cy, r_out, r_in, spikes=4, degrees=0.0):
    pts = []
    for i in range(spikes * 2):
        r = r_out if i % 2 == 0 else r_in
        a = math.radians(degrees - 90 + 180 * i / spikes)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


# --- motifs (shared by buttons, bars, board and diagram) -------------------


def blossom(sk, cx, cy, r, petal=SAKURA, edge=SAKURA_DEEP, centre=GOLD, degrees=0.0, outline=True):
    """A five-petal cherry blossom of radius r."""
    for k in range(5):
        a = degrees + k * 72
        px, py = rotate([(0, -r * 0.52)], a, cx, cy)[0]
        pts = ellipse_points(px, py, r * 0.34, r * 0.5, a, 24)
        sk.polygon(pts, fill=petal, outline=edge if outline else None, width=max(0.5, r * 0.08))
    sk.circle(cx, cy, r * 0.22, fill=centre)


def sparkle(sk, cx, cy, r, color=GOLD, outline=None):
    sk.polygon(star_points(cx, cy, r, r * 0.32, 4), fill=color, outline=outline, width=max(0.6, r * 0.12))


def envelope(sk, cx, cy, w, h, body=WHITE, flap=None, outline=INK, width=1.6):
    x0, y0, x1, y1 = cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2
    sk.rrect((x0, y0, x1, y1), min(w, h) * 0.12, fill=body, outline=outline, width=width)
    if flap is not None:
        sk.polygon([(x0 + width, y0 + width), (x1 - width, y0 + width), (cx, cy + h * 0.08)], fill=flap)
    sk.line([(x0 + width * 0.8, y0 + width * 0.8), (cx, cy + h * 0.1), (x1 - width * 0.8, y0 + width * 0.8)],
            outline, width * 0.9)


def arrow(sk, cx, cy, length, thick, degrees, fill, outline=INK, width=1.2):
    """A block arrow pointing up at 0 degrees, rotated clockwise."""
    L, t = length / 2, thick / 2
    head = thick * 1.15
    pts = [(0, -L), (head, -L + head * 1.05), (t * 0.8, -L + head * 1.05), (t * 0.8, L),
           (-t * 0.8, L), (-t * 0.8, -L + head * 1.05), (-head, -L + head * 1.05)]
    sk.polygon(rotate(pts, degrees, cx, cy), fill=fill, outline=outline, width=width)


def heart(sk, cx, cy, w, h, fill=HEART, outline=HEART_DEEP, width=1.2, gloss=True):
    pts = heart_points(cx, cy, w, h)
    sk.polygon(pts, fill=fill, outline=outline, width=width)
    if gloss:
        sk.ellipse((cx - w * 0.36, cy - h * 0.34, cx - w * 0.14, cy - h * 0.14), fill=with_alpha(WHITE, 150))


def pencil(sk, cx, cy, size, body=LEMON, outline=INK, width=1.4):
    L, t = size / 2, size * 0.13
    shaft = [(-L * 0.55, -t), (L * 0.55, -t), (L * 0.55, t), (-L * 0.55, t)]
    tip = [(L * 0.55, -t), (L, 0), (L * 0.55, t)]
    lead = [(L * 0.86, -t * 0.3), (L, 0), (L * 0.86, t * 0.3)]
    cap = [(-L, -t), (-L * 0.55, -t), (-L * 0.55, t), (-L, t)]
    deg = -45
    sk.polygon(rotate(cap, deg, cx, cy), fill=SAKURA_DEEP, outline=outline, width=width)
    sk.polygon(rotate(shaft, deg, cx, cy), fill=body, outline=outline, width=width)
    sk.polygon(rotate(tip, deg, cx, cy), fill=PEACH, outline=outline, width=width)
    sk.polygon(rotate(lead, deg, cx, cy), fill=INK)
    sk.line(rotate([(-L * 0.5, 0), (L * 0.5, 0)], deg, cx, cy), mix(body, GOLD_DEEP, 0.4), width * 0.7)


def ball(sk, cx, cy, r, base=GREEN, light=MINT, dark=GREEN_DEEP, outline=INK, width=1.4):
    sk.circle(cx, cy, r, fill=Radial(light, dark, cx - r * 0.35, cy - r * 0.4, r * 1.6), outline=outline, width=width)
    sk.ellipse((cx - r * 0.62, cy - r * 0.72, cx - r * 0.08, cy - r * 0.3), fill=with_alpha(WHITE, 170))
    sk.circle(cx + r * 0.38, cy + r * 0.42, r * 0.1, fill=with_alpha(WHITE, 90))


def book(sk, cx, cy, w, h, cover=LEMON, mark="@", outline=INK, width=1.4):
    x0, y0, x1, y1 = cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2
    sk.rrect((x0 + w * 0.08, y0 + h * 0.06, x1 + w * 0.02, y1 + h * 0.04), w * 0.1, fill=WHITE, outline=outline,
             width=width)  # pages behind the cover
    sk.rrect((x0, y0, x1 - w * 0.06, y1), w * 0.12, fill=cover, outline=outline, width=width)
    sk.rrect((x0, y0, x0 + w * 0.2, y1), w * 0.1, fill=mix(cover, GOLD_DEEP, 0.35), outline=outline, width=width)
    if mark == "@":
        sk.text((cx + w * 0.08, cy - h * 0.04), "@", h * 0.66, INK, stroke=h * 0.02, stroke_fill=INK)
    elif mark == "+":
        mx, my, a = cx + w * 0.07, cy, min(w, h) * 0.22
        sk.line([(mx - a, my), (mx + a, my)], INK, width * 1.3)
        sk.line([(mx, my - a), (mx, my + a)], INK, width * 1.3)


def paperclip(sk, cx, cy, size, color=BLUE_DEEP, width=2.4):
    """A wire clip built from straight runs and half circles, tilted."""
    u = size / 26.0

    def half(cxl, cyl, r, from_deg, to_deg, n=14):
        return [(cxl + r * math.cos(math.radians(from_deg + (to_deg - from_deg) * i / n)),
                 cyl + r * math.sin(math.radians(from_deg + (to_deg - from_deg) * i / n))) for i in range(n + 1)]

    pts = [(-5, 8), (-5, -8)]
    pts += half(0, -8, 5, 180, 360)  # over the top to x = 5
    pts += [(5, 11)]
    pts += half(1, 11, 4, 0, 180)  # under the bottom to x = -3
    pts += [(-3, -5)]
    pts += half(-0.5, -5, 2.5, 180, 360)  # small top to x = 2
    pts += [(2, 7)]
    pts = [(x * u, y * u) for x, y in pts]
    sk.line(rotate(pts, 30, cx, cy), INK, width + 1.4)
    sk.line(rotate(pts, 30, cx, cy), color, width)


def person(sk, cx, cy, size, color=SKY, outline=INK, width=1.4):
    r = size * 0.2
    sk.chord((cx - size * 0.38, cy + size * 0.02, cx + size * 0.38, cy + size * 0.82), 180, 360, fill=color,
             outline=outline, width=width)
    sk.circle(cx, cy - size * 0.14, r, fill=PEACH, outline=outline, width=width)


def gear(sk, cx, cy, r, fill=LAVENDER, hole=CREAM, teeth=8, outline=INK, width=1.4):
    pts = []
    for i in range(teeth):
        a = 2 * math.pi * i / teeth
        half = math.pi / teeth
        for da, rr in ((-half * 0.95, r * 0.76), (-half * 0.5, r), (half * 0.5, r), (half * 0.95, r * 0.76)):
            pts.append((cx + rr * math.cos(a + da), cy + rr * math.sin(a + da)))
    sk.polygon(pts, fill=fill, outline=outline, width=width)
    sk.circle(cx, cy, r * 0.34, fill=hole, outline=outline, width=width)


def cone(sk, cx, cy, w, h, body=LANTERN, stripe=CREAM, outline=INK, width=1.6):
    """A soft traffic cone that glows like a lantern."""
    top = cy - h / 2
    base_y = cy + h / 2 - h * 0.12
    tw, bw = w * 0.12, w * 0.36

    def edge(y):
        t = (y - top) / (base_y - top)
        return tw + (bw - tw) * t

    body_pts = [(cx + tw * math.cos(math.radians(a)), top + tw * 0.4 - tw * 0.9 * math.sin(math.radians(a)))
                for a in range(180, -1, -15)]
    body_pts += [(cx + bw, base_y), (cx - bw, base_y)]
    sk.rrect((cx - w * 0.48, base_y - h * 0.02, cx + w * 0.48, cy + h / 2), h * 0.06,
             fill=mix(body, LANTERN_DEEP, 0.5), outline=outline, width=width)
    sk.polygon(body_pts, fill=Vertical(mix(body, LEMON, 0.4), body, top, base_y), outline=outline, width=width)
    for f0, f1 in ((0.3, 0.42), (0.62, 0.74)):
        y0, y1 = top + (base_y - top) * f0, top + (base_y - top) * f1
        sk.polygon([(cx - edge(y0) + 0.6, y0), (cx + edge(y0) - 0.6, y0), (cx + edge(y1) - 0.6, y1),
                    (cx - edge(y1) + 0.6, y1)], fill=stripe)
    sk.polygon(body_pts, outline=outline, width=width)
    sk.ellipse((cx - w * 0.13, top + h * 0.2, cx - w * 0.05, top + h * 0.55), fill=with_alpha(WHITE, 120))


def chest(sk, cx, cy, w, h, wood=WOOD, band=GOLD, outline=INK, width=1.6):
    x0, x1 = cx - w / 2, cx + w / 2
    y0, y1 = cy - h / 2, cy + h / 2
    lid_bottom = y0 + h * 0.42
    front = Vertical(wood, mix(wood, WOOD_DEEP, 0.6), lid_bottom, y1)
    sk.rrect((x0, lid_bottom - h * 0.02, x1, y1), h * 0.1, fill=front, outline=outline, width=width)
    sk.chord((x0, y0, x1, lid_bottom + h * 0.34), 180, 360, fill=mix(wood, CREAM, 0.25), outline=outline, width=width)
    sk.rrect((x0, lid_bottom - h * 0.08, x1, lid_bottom + h * 0.06), h * 0.04, fill=band, outline=outline, width=width)
    for bx in (x0 + w * 0.2, x1 - w * 0.2):
        sk.rrect((bx - w * 0.05, y0 + h * 0.12, bx + w * 0.05, y1), w * 0.02, fill=band, outline=outline,
                 width=width * 0.8)
    sk.rrect((cx - w * 0.09, lid_bottom - h * 0.06, cx + w * 0.09, lid_bottom + h * 0.22), w * 0.04, fill=LEMON,
             outline=outline, width=width * 0.9)
    sk.circle(cx, lid_bottom + h * 0.07, h * 0.035, fill=INK)
    sparkle(sk, x1 - w * 0.08, y0 + h * 0.05, h * 0.13, WHITE, outline=GOLD_DEEP)


def trash(sk, cx, cy, w, h, can=SKY, outline=INK, width=1.3):
    x0, x1 = cx - w / 2, cx + w / 2
    y0, y1 = cy - h / 2, cy + h / 2
    sk.polygon([(x0 + w * 0.1, y0 + h * 0.28), (x1 - w * 0.1, y0 + h * 0.28), (x1 - w * 0.2, y1),
                (x0 + w * 0.2, y1)], fill=can, outline=outline, width=width)
    for f in (0.38, 0.5, 0.62):
        x = x0 + w * f
        sk.line([(x, y0 + h * 0.42), (x, y1 - h * 0.14)], outline, width * 0.8)
    sk.rrect((x0, y0 + h * 0.14, x1, y0 + h * 0.28), h * 0.05, fill=mix(can, BLUE, 0.4), outline=outline, width=width)
    sk.rrect((cx - w * 0.16, y0, cx + w * 0.16, y0 + h * 0.16), h * 0.05, outline=outline, width=width)


def curved_arrow(sk, cx, cy, size, color=BLUE_DEEP, width=2.6):
    """The reply arrow: a bow that turns back to the left."""
    r = size * 0.42
    pts = [(cx + r * math.cos(math.radians(a)), cy + size * 0.1 + r * 0.8 * math.sin(math.radians(a)))
           for a in range(-90, 91, 10)]
    pts = [(cx - size * 0.15, pts[0][1])] + pts + [(cx - size * 0.25, pts[-1][1])]
    sk.line(pts[:-1], INK, width + 1.4)
    sk.line(pts[:-1], color, width)
    tip_y = pts[0][1]
    head = [(cx - size * 0.5, tip_y), (cx - size * 0.12, tip_y - size * 0.26), (cx - size * 0.12, tip_y + size * 0.26)]
    sk.polygon(head, fill=color, outline=INK, width=1.0)


def clipboard(sk, cx, cy, w, h, board=WOOD, paper=WHITE, outline=INK, width=1.2):
    sk.rrect((cx - w / 2, cy - h / 2 + h * 0.06, cx + w / 2, cy + h / 2), w * 0.14, fill=board, outline=outline,
             width=width)
    sk.rrect((cx - w * 0.36, cy - h * 0.3, cx + w * 0.36, cy + h * 0.42), w * 0.06, fill=paper, outline=outline,
             width=width * 0.8)
    sk.rrect((cx - w * 0.2, cy - h / 2, cx + w * 0.2, cy - h * 0.32), w * 0.06, fill=GREY, outline=outline,
             width=width * 0.8)


def eraser(sk, cx, cy, size, outline=INK, width=1.3):
    L, t = size * 0.48, size * 0.2
    front = [(-L, -t), (0, -t), (0, t), (-L, t)]
    back = [(0, -t), (L, -t), (L, t), (0, t)]
    sk.polygon(rotate(back, -30, cx, cy), fill=SAKURA, outline=outline, width=width)
    sk.polygon(rotate(front, -30, cx, cy), fill=SKY, outline=outline, width=width)
    for i in range(3):
        sk.circle(cx - size * 0.36 + i * size * 0.12, cy + size * 0.42, size * 0.04, fill=INK_SOFT)


def lantern(sk, cx, cy, w, h, paper=LANTERN, outline=INK, width=1.4, glow=True, ribs=3):
    """A round paper lantern with caps and a tassel."""
    cap_h = h * 0.1
    body = (cx - w / 2, cy - h / 2 + cap_h * 0.6, cx + w / 2, cy + h / 2 - cap_h * 1.6)
    if glow:
        sk.ellipse((body[0] - w * 0.25, body[1] - h * 0.15, body[2] + w * 0.25, body[3] + h * 0.15),
                   fill=with_alpha(LEMON, 80), solid=False)
    sk.ellipse(body, fill=Radial(mix(paper, LEMON, 0.6), paper, cx, (body[1] + body[3]) / 2, w * 0.62),
               outline=outline, width=width)
    bw = body[2] - body[0]
    for i in range(1, ribs + 1):
        f = i / (ribs + 1)
        rx = bw * abs(0.5 - f)
        sk.ellipse((cx - rx, body[1] + width * 0.5, cx + rx, body[3] - width * 0.5), outline=mix(paper, INK, 0.45),
                   width=width * 0.6)
    for y in (body[1] - cap_h * 0.5, body[3] - cap_h * 0.5):
        sk.rrect((cx - w * 0.24, y, cx + w * 0.24, y + cap_h), cap_h * 0.3, fill=INK_SOFT, outline=outline,
                 width=width * 0.8)
    sk.line([(cx, body[3] + cap_h * 0.5), (cx, cy + h / 2)], SAKURA_DEEP, max(1.0, width))


def cloud(sk, cx, cy, w, h, fill=WHITE, outline=INK, width=1.6):
    parts = [(-0.28, 0.1, 0.22), (0.0, -0.12, 0.3), (0.26, 0.05, 0.24), (0.1, 0.18, 0.22), (-0.12, 0.2, 0.2)]
    for dx, dy, r in parts:  # outline pass first, fill pass over it hides the inner lines
        sk.ellipse((cx + dx * w - r * w, cy + dy * h - r * h * 1.6, cx + dx * w + r * w, cy + dy * h + r * h * 1.6),
                   fill=outline)
    inset = width
    for dx, dy, r in parts:
        sk.ellipse((cx + dx * w - r * w + inset, cy + dy * h - r * h * 1.6 + inset, cx + dx * w + r * w - inset,
                    cy + dy * h + r * h * 1.6 - inset), fill=fill)


# --- main window round buttons ---------------------------------------------


def round_button(face, pressed=False):
    """The 60 x 60 round frame shared by every main window button."""
    sk = Sketch(60, 60, BOARD)
    sk.circle(31.2, 32.2, 28, fill=with_alpha(INK, 70), solid=True)  # soft shadow
    sk.circle(30, 30, 28, fill=CREAM, outline=INK, width=1.8)
    if pressed:
        sk.circle(30, 30, 23.5, fill=Radial(mix(face, INK, 0.15), mix(face, INK, 0.55), 30, 36, 30), outline=INK,
                  width=1.2)
        sk.arc((7, 7, 53, 53), 200, 340, with_alpha(INK, 110), 3.0)  # shadow inside the top rim
        sk.arc((8, 8, 52, 52), 30, 150, with_alpha(WHITE, 110), 1.6)
    else:
        sk.circle(30, 30, 23.5, fill=Radial(mix(face, WHITE, 0.6), face, 24, 22, 32), outline=INK, width=1.2)
        sk.ellipse((14, 9.5, 40, 21), fill=with_alpha(WHITE, 120))  # gloss
    return sk


def button_pressed():
    sk = round_button(SAKURA_DEEP, pressed=True)
    blossom(sk, 30, 31, 9, petal=with_alpha(WHITE, 200), edge=with_alpha(WHITE, 200), centre=GOLD, outline=False)
    return sk


def button_receive():
    sk = round_button(SKY)
    envelope(sk, 30, 35, 30, 20, flap=mix(SKY, WHITE, 0.5))
    arrow(sk, 30, 20, 19, 6, 180, LANTERN)
    return sk


def button_new():
    sk = round_button(PEACH)
    pencil(sk, 30, 30, 34)
    sparkle(sk, 17, 41, 4.5, WHITE, outline=GOLD_DEEP)
    return sk


def button_green_ball():
    sk = round_button(MINT)
    ball(sk, 30, 30, 13.5)
    return sk


def button_sent():
    sk = round_button(LAVENDER)
    envelope(sk, 28, 35, 28, 19, flap=mix(LAVENDER, WHITE, 0.5))
    arrow(sk, 39, 20, 17, 5.5, 45, PURPLE)
    return sk


def button_address():
    sk = round_button(LEMON)
    book(sk, 29, 30, 26, 30, cover=SAKURA)
    return sk


def button_attach():
    sk = round_button(AQUA)
    paperclip(sk, 30, 30, 30)
    return sk


def button_partner():
    sk = round_button(SAKURA)
    person(sk, 25, 31, 26, color=SKY)
    heart(sk, 38.5, 21, 14, 12)
    return sk


def button_settings():
    sk = round_button(MINT)
    gear(sk, 30, 30, 15, fill=LAVENDER)
    return sk


# --- main window box pictures ----------------------------------------------


def picture_cone():
    sk = Sketch(60, 60, BOARD)
    sk.circle(30, 31, 27, fill=with_alpha(LEMON, 150), solid=True)  # lantern glow
    cone(sk, 30, 31, 50, 52)
    blossom(sk, 44, 14, 6, outline=True)
    return sk


def picture_partner_sent():
    sk = Sketch(60, 60, BOARD)
    sk.circle(30, 31, 27, fill=with_alpha(SAKURA, 120), solid=True)
    envelope(sk, 30, 33, 44, 30, body=CREAM, flap=SAKURA)
    heart(sk, 30, 37, 16, 13)
    sparkle(sk, 50, 13, 5, GOLD, outline=GOLD_DEEP)
    return sk


def picture_storage():
    sk = Sketch(60, 60, BOARD)
    sk.circle(30, 31, 27, fill=with_alpha(PEACH, 120), solid=True)
    sk.ellipse((5, 47, 55, 57), fill=with_alpha(INK, 45), solid=True)  # floor shadow
    chest(sk, 30, 31, 48, 40)
    return sk


# --- hearts ---------------------------------------------------------------


def picture_heart():
    sk = Sketch(64, 48, STAGE)
    heart(sk, 32, 24, 62, 46, width=2.0)
    return sk


def picture_heart_big():
    sk = Sketch(126, 98, STAGE)
    sk.polygon(heart_points(63, 50, 124, 94), fill=with_alpha(HEART_LIGHT, 110), solid=True)  # halo
    heart(sk, 63, 51, 112, 84, width=2.6, gloss=False)
    sk.polygon(heart_points(63, 52, 76, 56), outline=with_alpha(WHITE, 150), width=1.6)  # inner ribbon
    sk.ellipse((22, 18, 46, 36), fill=with_alpha(WHITE, 150))
    heart(sk, 50, 50, 26, 20, fill=HEART_LIGHT, outline=HEART_DEEP, width=1.2)
    heart(sk, 76, 50, 26, 20, fill=HEART_LIGHT, outline=HEART_DEEP, width=1.2)
    blossom(sk, 63, 70, 7, petal=WHITE, edge=SAKURA_DEEP)
    sparkle(sk, 108, 14, 6, GOLD, outline=GOLD_DEEP)
    sparkle(sk, 15, 72, 4.5, GOLD, outline=GOLD_DEEP)
    return sk


# --- flying and landing pictures -------------------------------------------


def picture_fly(leftwards):
    sk = Sketch(22, 18, BOARD)
    ex = 8.5 if leftwards else 13.5
    tail = (17.5, 21) if leftwards else (4.5, 1)
    for y, f in ((5.5, 0.6), (9, 1.0), (12.5, 0.6)):
        x0 = tail[0]
        x1 = tail[0] + (tail[1] - tail[0]) * f
        sk.line([(x0, y), (x1, y)], SAKURA_DEEP, 1.3)
    envelope(sk, ex, 9, 15, 11, body=WHITE, flap=SAKURA, width=1.1)
    return sk


def picture_land(w):
    sk = Sketch(w, 26, BOARD)
    cx = w / 2
    sparkle(sk, cx, 5, 4.6, GOLD, outline=GOLD_DEEP)
    sk.circle(cx - 5.5, 9.5, 1.1, fill=SAKURA_DEEP)
    sk.circle(cx + 5.5, 9.5, 1.1, fill=SAKURA_DEEP)
    sk.ellipse((cx - 6.5, 23, cx + 6.5, 25.5), fill=with_alpha(INK, 60), solid=True)
    envelope(sk, cx, 18, w - 3, 10, body=WHITE, flap=SAKURA, width=1.1)
    return sk


# --- the board -------------------------------------------------------------

# Calm rectangles (x0, y0, x1, y1): buttons, pictures and texts of the program go there.
CALM = [
    (0, 0, 300, 60),  # title texts
    (0, 52, 84, 332),  # left button column
    (96, 60, 186, 146),  # partner sent box picture
    (60, 248, 144, 332),  # storage box picture
    (196, 112, 384, 262),  # hearts
    (130, 194, 300, 230),  # "Heart of Scale"
    (428, 218, 536, 326),  # cone
    (540, 52, 617, 332),  # right button column
    (56, 288, 536, 334),  # flight path and landing pictures
    (500, 4, 617, 40),  # MiniHelp
]


def in_calm(x, y, margin):
    return any(x0 - margin <= x <= x1 + margin and y0 - margin <= y <= y1 + margin for x0, y0, x1, y1 in CALM)


def picture_background():
    W, H = 617, 356
    sk = Sketch(W, H, BOARD)
    sk.rrect((0, 0, W, H), 0, fill=Vertical(BOARD_TOP, BOARD_BOTTOM, 0, H))
    sk.rrect((2.5, 2.5, W - 2.5, H - 2.5), 14, outline=with_alpha(SAKURA_DEEP, 120), width=1.2)

    # the hearts' stage: a flat pale pink oval with a soft rim
    for i, a in enumerate((40, 80, 255)):
        g = 8 - i * 4
        sk.ellipse((198 - g, 116 - g, 382 + g, 260 + g), fill=with_alpha(STAGE, a))
    sk.ellipse((198, 116, 382, 260), outline=with_alpha(SAKURA_DEEP, 70), width=1.0)

    # rolling hills along the bottom, under the flight path
    hills = [
        (mix(MINT, BOARD_BOTTOM, 0.35), 338, 9, 0.018, 0.0),
        (mix(LAVENDER, BOARD_BOTTOM, 0.3), 344, 6, 0.027, 1.7),
    ]
    for color, base, amp, freq, phase in hills:
        pts = [(x, base + amp * math.sin(x * freq + phase)) for x in range(0, W + 1, 4)]
        sk.polygon(pts + [(W, H), (0, H)], fill=color)

    # the lantern way: a dotted path the little envelopes follow
    for x in range(64, 532, 9):
        sk.circle(x, 329, 0.9, fill=with_alpha(SAKURA_DEEP, 110))

    # a garland of lanterns and blossoms across the top
    string = [(x, 8 + 22 * math.sin(math.pi * (x - 304) / 200)) for x in range(304, 505, 4)]
    sk.line(string, INK_SOFT, 1.0)
    for i, x in enumerate((330, 372, 414, 456)):
        y = 8 + 22 * math.sin(math.pi * (x - 304) / 200)
        paper = (LANTERN, SAKURA_DEEP, GOLD, LANTERN)[i]
        sk.line([(x, y), (x, y + 4)], INK_SOFT, 0.9)
        lantern(sk, x, y + 15, 16, 24, paper=paper, width=1.0, ribs=2)
    for x in (309, 351, 393, 435, 477, 498):
        y = 8 + 22 * math.sin(math.pi * (x - 304) / 200)
        blossom(sk, x, y, 4.2, degrees=x * 7 % 72)

    # a cherry twig in the middle band
    twig = [(186, 72), (214, 80), (246, 78), (276, 88), (300, 86)]
    sk.line(twig, mix(WOOD_DEEP, BOARD, 0.3), 2.0)
    sk.line([(246, 78), (262, 66)], mix(WOOD_DEEP, BOARD, 0.3), 1.4)
    for (x, y, r) in ((214, 80, 6), (262, 66, 5), (276, 88, 6.5), (300, 86, 5), (236, 94, 4)):
        blossom(sk, x, y, r, degrees=(x + y) % 72)

    # drifting petals, placed by a fixed seed, never in a calm area
    rng = random.Random(1135)
    placed = 0
    while placed < 34:
        x, y = rng.uniform(8, W - 8), rng.uniform(8, H - 26)
        if in_calm(x, y, 6):
            continue
        r = rng.uniform(2.0, 3.4)
        deg = rng.uniform(0, 180)
        color = rng.choice((SAKURA, mix(SAKURA, BOARD, 0.4), mix(SAKURA_DEEP, BOARD, 0.5)))
        sk.polygon(ellipse_points(x, y, r, r * 0.62, deg, 16), fill=color)
        placed += 1
    for x, y in ((404, 92), (180, 170), (410, 196), (500, 120), (318, 72)):
        if not in_calm(x, y, 4):
            sparkle(sk, x, y, 3.2, mix(GOLD, BOARD, 0.3))
    return sk


# --- bar buttons (viewer and compose windows) ----------------------------


def bar(w, color, pressed=False):
    """A wide rounded bar; the window writes its caption over the right part."""
    h = 28
    sk = Sketch(w, h, BAR_MATTE)
    sk.rrect((1, 2, w - 0.5, h - 0.5), 12.5, fill=with_alpha(INK, 60), solid=True)  # shadow
    if pressed:
        sk.rrect((0.5, 0.5, w - 1.5, h - 1.5), 12.5, fill=Vertical(mix(color, INK, 0.5), mix(color, INK, 0.2), 0, h),
                 outline=INK, width=1.3)
        sk.rrect((3, 2.5, w - 4, 8), 3, fill=with_alpha(INK, 50))
    else:
        sk.rrect((0.5, 0.5, w - 1.5, h - 1.5), 12.5, fill=Vertical(mix(color, WHITE, 0.55), color, 0, h),
                 outline=INK, width=1.3)
        sk.rrect((8, 3, w - 10, 10), 3.5, fill=with_alpha(WHITE, 110))  # gloss
        sk.circle(14, 13.5, 10, fill=with_alpha(WHITE, 170), outline=mix(color, INK, 0.35), width=0.9)  # icon badge
    return sk


def bar_pressed(w, color):
    sk = bar(w, color, pressed=True)
    blossom(sk, 14, 13.5, 6, petal=with_alpha(WHITE, 190), edge=with_alpha(WHITE, 190), outline=False)
    return sk


VIEWER_BAR = SKY
COMPOSE_BAR = MINT


def viewer_delete_one():
    sk = bar(120, VIEWER_BAR)
    trash(sk, 14, 13.5, 12, 14, width=0.9)
    return sk


def viewer_move_to_storage():
    sk = bar(120, VIEWER_BAR)
    chest(sk, 14, 14, 15, 12, width=0.9)
    return sk


def viewer_register():
    sk = bar(120, VIEWER_BAR)
    book(sk, 13.5, 13.5, 12, 14, cover=LEMON, mark="+", width=0.9)
    return sk


def viewer_reply():
    sk = bar(120, VIEWER_BAR)
    curved_arrow(sk, 14.5, 12.5, 14, width=2.0)
    return sk


def viewer_delete_all():
    sk = bar(120, VIEWER_BAR)
    trash(sk, 16.5, 12.5, 10, 12, can=SAKURA, width=0.8)  # a second can behind: "all"
    trash(sk, 12, 15, 11, 13, can=SAKURA, width=0.9)
    return sk


def compose_address():
    sk = bar(100, COMPOSE_BAR)
    book(sk, 13.5, 13.5, 12, 14, cover=SAKURA, mark="@", width=0.9)
    return sk


def compose_restore_size():
    sk = bar(100, COMPOSE_BAR)
    sk.rrect((6.5, 6, 21.5, 21), 2.5, fill=WHITE, outline=INK_SOFT, width=0.8)  # the wide window
    sk.rrect((6.5, 13, 14.5, 21), 2, fill=PEACH, outline=INK, width=0.9)  # back to the small one
    arrow(sk, 16.5, 11, 9, 3, 225, LANTERN, width=0.7)
    return sk


def compose_paste_body():
    sk = bar(100, COMPOSE_BAR)
    clipboard(sk, 14, 13.5, 13, 16, width=0.9)
    for y in (11.5, 14, 16.5):
        sk.line([(11, y), (17, y)], INK_SOFT, 0.9)
    return sk


def compose_paste_recipient():
    sk = bar(100, COMPOSE_BAR)
    clipboard(sk, 14, 13.5, 13, 16, width=0.9)
    envelope(sk, 14, 15, 10, 7.5, body=SAKURA, width=0.8)
    return sk


def compose_clear():
    sk = bar(100, COMPOSE_BAR)
    eraser(sk, 14, 12.5, 16, width=0.9)
    return sk


# --- the editor's toolbar ----------------------------------------------------


def tool(draw):
    """A 20 x 20 toolbar key on the window colour."""
    sk = Sketch(20, 20, BAR_MATTE)
    draw(sk)
    return sk


def sheet(sk, fill=WHITE):
    """A sheet of paper with a turned corner."""
    sk.polygon([(4, 2), (13, 2), (16, 5), (16, 18), (4, 18)], fill=fill, outline=INK, width=1.1)
    sk.polygon([(13, 2), (13, 5), (16, 5)], fill=SAKURA, outline=INK, width=0.9)


def tool_new():
    def draw(sk):
        sheet(sk)
        blossom(sk, 10, 11.5, 3.6, outline=False)
    return tool(draw)


def tool_open():
    def draw(sk):
        sk.polygon([(1.5, 5), (7, 5), (8.5, 7), (18, 7), (18, 17), (1.5, 17)], fill=LEMON,
                   outline=INK, width=1.1)
        sk.polygon([(3.5, 10), (19, 10), (17, 17), (1.5, 17)], fill=mix(LEMON, WHITE, 0.5),
                   outline=INK, width=1.0)
    return tool(draw)


def tool_save():
    def draw(sk):
        sk.rrect((2, 2, 18, 18), 2.5, fill=SKY, outline=INK, width=1.1)
        sk.rrect((5, 2.5, 15, 8), 1, fill=WHITE, outline=INK, width=0.8)
        sk.rrect((5, 11, 15, 17.5), 1, fill=SAKURA, outline=INK, width=0.8)
    return tool(draw)


def tool_print():
    def draw(sk):
        sk.rrect((4.5, 2, 15.5, 8), 1, fill=WHITE, outline=INK, width=0.9)
        sk.rrect((1.5, 7, 18.5, 14.5), 2.5, fill=LAVENDER, outline=INK, width=1.1)
        sk.rrect((4.5, 12, 15.5, 18.5), 1, fill=WHITE, outline=INK, width=0.9)
        sk.line([(6.5, 15), (13.5, 15)], INK_SOFT, 0.8)
    return tool(draw)


def tool_cut():
    def draw(sk):
        sk.line([(5, 2), (12.5, 13)], INK, 1.5)
        sk.line([(15, 2), (7.5, 13)], INK, 1.5)
        sk.circle(6, 15.5, 3, fill=SAKURA, outline=INK, width=1.1)
        sk.circle(14, 15.5, 3, fill=SAKURA, outline=INK, width=1.1)
    return tool(draw)


def tool_copy():
    def draw(sk):
        sk.rrect((2, 2, 12, 13), 1, fill=WHITE, outline=INK, width=1.0)
        sk.rrect((8, 7, 18, 18), 1, fill=MINT, outline=INK, width=1.0)
    return tool(draw)


def tool_paste():
    def draw(sk):
        clipboard(sk, 9, 10.5, 13, 16, width=0.9)
        sk.rrect((10, 9, 18, 18.5), 1, fill=WHITE, outline=INK, width=0.9)
    return tool(draw)


def tool_letter(letter, underline=False):
    def draw(sk):
        sk.text((10, 10), letter, 15, INK, stroke=0.6 if letter == "B" else 0.0, stroke_fill=INK)
        if underline:
            sk.line([(4.5, 18), (15.5, 18)], HEART_DEEP, 1.4)
    return tool(draw)


def tool_italic():
    def draw(sk):
        sk.line([(12.5, 3.5), (7.5, 16.5)], INK, 2.0)
        sk.line([(9.5, 3.5), (15.5, 3.5)], INK, 1.3)
        sk.line([(4.5, 16.5), (10.5, 16.5)], INK, 1.3)
    return tool(draw)


# --- the help diagram -------------------------------------------------------


def flow_arrow(sk, points, color=INK_SOFT, width=2.2):
    """A line through points with an arrow head at the last one."""
    sk.line(points, color, width)
    (x0, y0), (x1, y1) = points[-2], points[-1]
    a = math.degrees(math.atan2(y1 - y0, x1 - x0))
    head = [(0, 0), (-8, -4.5), (-8, 4.5)]
    sk.polygon(rotate(head, a, x1, y1), fill=color, outline=color, width=1.0)


def label(sk, x, y, s, px=13, fill=INK, back=CREAM):
    sk.text((x, y), s, px, fill, stroke=0.9, stroke_fill=back)


def picture_help_diagram():
    W, H = 480, 260
    sk = Sketch(W, H, CREAM)
    sk.rrect((0, 0, W, H), 0, fill=Vertical(CREAM, mix(SAKURA, CREAM, 0.75), 0, H))
    sk.rrect((3, 3, W - 3, H - 3), 14, outline=with_alpha(SAKURA_DEEP, 140), width=1.4)
    jp = has_cjk_font()
    if jp:
        t_partner, t_others, t_storage, t_sent = "特定の相手", "その他", "保管箱", "送信履歴"
    else:  # the fallback font has no Japanese letters
        t_partner, t_others, t_storage, t_sent = "Partner", "Others", "Storage", "Sent"
    t_receive, t_send = ("受信", "送信") if jp else ("Receive", "Send")

    # receiving: POP3 cloud -> program
    cloud(sk, 62, 62, 92, 44, fill=WHITE)
    sk.text((62, 66), "POP3", 13, BLUE_DEEP)
    flow_arrow(sk, [(110, 64), (176, 82)], color=BLUE)
    label(sk, 140, 60, t_receive, 11, BLUE_DEEP)

    # the program: a lantern
    lantern(sk, 212, 100, 52, 68, paper=LANTERN, width=1.8)
    heart(sk, 212, 97, 18, 14, width=1.0)
    label(sk, 212, 148, "KikuMail", 12)

    # sorted into the cone and the green ball; the green ball on to the chest
    cone(sk, 330, 42, 38, 42, width=1.4)
    label(sk, 330, 76, t_partner, 12, HEART_DEEP)
    ball(sk, 330, 126, 17)
    label(sk, 330, 157, t_others, 12, GREEN_DEEP)
    chest(sk, 432, 126, 48, 40, width=1.4)
    label(sk, 432, 157, t_storage, 12, WOOD_DEEP)
    flow_arrow(sk, [(240, 82), (300, 50)], color=BLUE)
    flow_arrow(sk, [(240, 106), (304, 122)], color=BLUE)
    flow_arrow(sk, [(352, 126), (402, 126)], color=GREEN)

    # sending: program -> SMTP and the two sent boxes
    cloud(sk, 62, 210, 92, 40, fill=WHITE)
    sk.text((62, 214), "SMTP", 13, PURPLE)
    flow_arrow(sk, [(190, 128), (112, 196)], color=PURPLE)
    label(sk, 140, 150, t_send, 11, PURPLE)
    sk.rrect((196, 174, 392, 252), 12, fill=with_alpha(LAVENDER, 110), outline=with_alpha(PURPLE, 120), width=1.0)
    label(sk, 294, 241, t_sent, 12, PURPLE, back=mix(LAVENDER, CREAM, 0.5))
    envelope(sk, 248, 198, 40, 26, body=CREAM, flap=SAKURA, width=1.4)
    heart(sk, 248, 202, 13, 10, width=0.9)
    label(sk, 248, 222, t_partner, 10, HEART_DEEP, back=mix(LAVENDER, CREAM, 0.5))
    envelope(sk, 340, 198, 40, 26, body=CREAM, flap=LAVENDER, width=1.4)
    arrow(sk, 352, 188, 14, 4.5, 45, PURPLE, width=0.9)
    label(sk, 340, 222, t_others, 10, PURPLE, back=mix(LAVENDER, CREAM, 0.5))
    flow_arrow(sk, [(214, 140), (236, 180)], color=PURPLE)
    flow_arrow(sk, [(226, 134), (322, 180)], color=PURPLE)

    for x, y, r in ((440, 30, 7), (462, 56, 5), (150, 232, 5), (430, 220, 6.5)):
        blossom(sk, x, y, r, degrees=x % 72)
    return sk


# --- the program icon ---------------------------------------------------------


def picture_icon():
    sk = Sketch(64, 64, INK)  # matte = outline colour, so soft edges do not fringe
    lantern(sk, 32, 32, 50, 60, paper=LANTERN, width=2.2, glow=False, ribs=3)
    heart(sk, 32, 30, 24, 19, width=1.4)
    blossom(sk, 51, 12, 7)
    return sk


# --- output ---------------------------------------------------------------

GIFS = [
    ("R.gif", button_receive, 48),
    ("New.gif", button_new, 48),
    ("P.gif", button_green_ball, 48),
    ("S.gif", button_sent, 48),
    ("Ad.gif", button_address, 48),
    ("At.gif", button_attach, 48),
    ("D.gif", button_partner, 48),
    ("O.gif", button_settings, 48),
    ("BotanHenka.gif", button_pressed, 48),
    ("Cone.gif", picture_cone, 48),
    ("PartnerSent.gif", picture_partner_sent, 48),
    ("Storage.gif", picture_storage, 48),
    ("Heart.gif", picture_heart, 32),
    ("HeartBig.gif", picture_heart_big, 64),
    ("FlySent.gif", lambda: picture_fly(leftwards=True), 24),
    ("FlyReceived.gif", lambda: picture_fly(leftwards=False), 24),
    ("LandSent.gif", lambda: picture_land(16), 24),
    ("LandReceived.gif", lambda: picture_land(17), 24),
    ("Botan10.gif", viewer_delete_one, 48),
    ("Botan11.gif", viewer_move_to_storage, 48),
    ("Botan12.gif", viewer_register, 48),
    ("Botan13.gif", viewer_reply, 48),
    ("Botan14.gif", viewer_delete_all, 48),
    ("Botan15.gif", lambda: bar_pressed(120, VIEWER_BAR), 48),
    ("Addoress.gif", compose_address, 48),
    ("Motosize.gif", compose_restore_size, 48),
    ("Honbun.gif", compose_paste_body, 48),
    ("Atesaki.gif", compose_paste_recipient, 48),
    ("Clire.gif", compose_clear, 48),
    ("Switch.gif", lambda: bar_pressed(100, COMPOSE_BAR), 48),
    ("ToolNew.gif", tool_new, 32),
    ("ToolOpen.gif", tool_open, 32),
    ("ToolSave.gif", tool_save, 32),
    ("ToolPrint.gif", tool_print, 32),
    ("ToolCut.gif", tool_cut, 32),
    ("ToolCopy.gif", tool_copy, 32),
    ("ToolPaste.gif", tool_paste, 32),
    ("ToolBold.gif", lambda: tool_letter("B"), 32),
    ("ToolItalic.gif", tool_italic, 32),
    ("ToolUnderline.gif", lambda: tool_letter("U", underline=True), 32),
]

OPAQUE_GIFS = [
    ("Background.gif", picture_background, 128),
    ("HelpDiagram.gif", picture_help_diagram, 128),
]


# The sizes of the desktop's icon theme (hicolor) that the installed program ships.
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def icon_at(size):
    """The program icon at `size` pixels: the 64-pixel drawing made at least four times
    larger than the result and then reduced, so that the large sizes are as smooth as the
    small ones."""
    global SS
    saved = SS
    SS = max(4, -(-size // 16))
    _font_cache.clear()
    try:
        sk = picture_icon()
        sk.w = sk.h = size
        return sk.rgba()
    finally:
        SS = saved
        _font_cache.clear()


def write_icons(out, name):
    """OUT/hicolor/<n>x<n>/apps/NAME.png for every size of ICON_SIZES."""
    for size in ICON_SIZES:
        folder = os.path.join(out, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        icon_at(size).save(os.path.join(folder, name + ".png"), optimize=True)


def main(argv):
    if len(argv) == 4 and argv[1] == "--icons":
        write_icons(argv[2], argv[3])
        return 0
    out = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, make, colors in GIFS:
        make().gif(colors).save(os.path.join(out, name), optimize=False)
    for name, make, colors in OPAQUE_GIFS:
        make().gif(colors, transparent=False).save(os.path.join(out, name), optimize=False)
    picture_icon().rgba().save(os.path.join(out, "KikuMail.png"), optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
