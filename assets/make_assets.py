#!/usr/bin/python3
"""Draw Skarnet's picture files and write them next to this script.

    /usr/bin/python3 assets/make_assets.py

Every picture shares one look: a card table with deep green felt, a polished
wood rim, cream card faces and gold trim. Everything is drawn SS times larger
than the final size and scaled down, which gives clean anti-aliased edges.

The output is the same bytes on every run: all texture comes from fixed-seed
generators, JPEG settings are fixed, and the ICO, BMP and GIF files are written
by hand so that their headers are exactly what the program expects.
"""

import math
import os
import random
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont, ImageOps

OUT_DIR = os.path.dirname(os.path.abspath(__file__))
SS = 4

FELT_LIGHT = (38, 128, 74)
FELT_DARK = (6, 46, 26)
WOOD_DARK = (52, 24, 10)
WOOD_MID = (120, 62, 28)
WOOD_LIGHT = (188, 118, 62)
CREAM = (250, 243, 224)
CREAM_SHADE = (226, 214, 186)
CARD_EDGE = (120, 104, 80)
GOLD_LIGHT = (255, 236, 160)
GOLD = (218, 172, 62)
GOLD_DARK = (120, 82, 18)
RED = (180, 24, 36)
INK = (26, 24, 30)
CARD_BACK = (120, 18, 30)

SPADE, HEART, DIAMOND, CLUB = '\u2660', '\u2665', '\u2666', '\u2663'

_FONT_FILES = {
    'serif-bold': 'truetype/liberation/LiberationSerif-Bold.ttf',
    'serif-italic': 'truetype/liberation/LiberationSerif-Italic.ttf',
    'suits': 'truetype/dejavu/DejaVuSans.ttf',
}


def font(name, px):
    """A font whose size is given in output pixels, for drawing on an SS-scale surface."""
    path = os.path.join('/usr/share/fonts', _FONT_FILES[name])
    return ImageFont.truetype(path, max(1, round(px * SS)))


def suit_colour(suit):
    return RED if suit in (HEART, DIAMOND) else INK


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


# ---------------------------------------------------------------------------------------------
# Surfaces


class Canvas:
    """An RGBA surface SS times the output size. Drawing helpers take output-pixel coordinates."""

    def __init__(self, w, h, fill=(0, 0, 0, 255)):
        self.w, self.h = w, h
        self.img = Image.new('RGBA', (w * SS, h * SS), fill)

    @staticmethod
    def px(v):
        return round(v * SS)

    def xy(self, *vals):
        return [self.px(v) for v in vals]

    def draw(self):
        return ImageDraw.Draw(self.img)

    def layer(self):
        return Image.new('RGBA', self.img.size, (0, 0, 0, 0))

    def mask(self):
        return Image.new('L', self.img.size, 0)

    def over(self, layer):
        self.img.alpha_composite(layer)

    def put(self, sprite, cx, cy, shadow=None):
        """Composite a sprite centred on (cx, cy); shadow is (dx, dy, blur, opacity) or None."""
        pos = (self.px(cx) - sprite.width // 2, self.px(cy) - sprite.height // 2)
        if shadow:
            dx, dy, blur, opacity = shadow
            alpha = self.mask()
            alpha.paste(sprite.getchannel('A'), (pos[0] + self.px(dx), pos[1] + self.px(dy)))
            self.shade(alpha, blur, opacity)
        layer = self.layer()
        layer.paste(sprite, pos)
        self.over(layer)

    def shade(self, alpha, blur, opacity, colour=(0, 0, 0)):
        """Darken through a mask: a soft drop shadow."""
        alpha = alpha.filter(ImageFilter.GaussianBlur(self.px(blur)))
        alpha = alpha.point(lambda v: round(v * opacity))
        layer = Image.new('RGBA', self.img.size, colour + (0,))
        layer.putalpha(alpha)
        self.over(layer)

    def fill(self, mask, source):
        """Paint a colour or an RGB(A) image through an L mask."""
        if isinstance(source, tuple):
            source = Image.new('RGBA', self.img.size, source[:3] + (255,))
        layer = source.convert('RGBA')
        layer.putalpha(ImageChops.multiply(layer.getchannel('A'), mask))
        self.over(layer)

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS).convert('RGB')


def seeded_noise(w, h, seed):
    return Image.frombytes('L', (w, h), random.Random(seed).randbytes(w * h))


def vertical_gradient(size, stops):
    """RGBA image of the given size shaded top to bottom through (position, colour) stops."""
    w, h = size
    column = Image.new('RGBA', (1, h))
    for y in range(h):
        t = y / max(1, h - 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                column.putpixel((0, y), lerp(c0, c1, (t - t0) / max(1e-9, t1 - t0)) + (255,))
                break
    return column.resize((w, h), Image.NEAREST)


def gold_fill(canvas, box):
    """A metallic gold gradient covering box (output px) on a canvas-sized layer."""
    x0, y0, x1, y1 = canvas.xy(*box)
    grad = vertical_gradient((x1 - x0, y1 - y0), [
        (0.0, GOLD_LIGHT), (0.35, GOLD), (0.55, GOLD_DARK), (0.7, GOLD), (1.0, GOLD_LIGHT)])
    layer = canvas.layer()
    layer.paste(grad, (x0, y0))
    return layer


def felt(canvas, seed, centre=(0.5, 0.45), reach=1.0, light=FELT_LIGHT, dark=FELT_DARK):
    """Cover the canvas with felt: a soft pool of light around centre and a fine nap texture."""
    W, H = canvas.img.size
    size = round(max(W, H) * 2 * reach)
    grad = Image.radial_gradient('L').resize((size, size), Image.BILINEAR)
    cx, cy = round(centre[0] * W), round(centre[1] * H)
    mask = grad.crop((size // 2 - cx, size // 2 - cy, size // 2 - cx + W, size // 2 - cy + H))
    mask = mask.point(lambda v: min(255, round(255 * (v / 255) ** 1.3 * 1.25)))
    base = Image.composite(Image.new('RGB', (W, H), dark), Image.new('RGB', (W, H), light), mask)
    nap = seeded_noise(canvas.w, canvas.h, seed).point(lambda v: 128 + (v - 128) // 10)
    nap = nap.resize((W, H), Image.BILINEAR).convert('RGB')
    canvas.img.paste(ImageChops.soft_light(base, nap).convert('RGBA'))


def wood_grain(size, seed, dark=WOOD_DARK, mid=WOOD_MID, light=WOOD_LIGHT):
    """RGB wood whose grain runs horizontally: random streaks stretched along the grain."""
    w, h = size
    across = max(4, h // SS)
    along = max(3, w // (SS * 24))
    streaks = seeded_noise(along, across, seed).resize((w, h), Image.BICUBIC)
    fine = seeded_noise(max(2, w // (SS * 6)), max(2, h // 2), seed + 1)
    fine = fine.resize((w, h), Image.BICUBIC)
    grain = ImageChops.blend(streaks, fine, 0.3)
    grain = ImageOps.autocontrast(grain).point(lambda v: 70 + v * 115 // 255)
    return ImageOps.colorize(grain, black=dark, white=light, mid=mid)


def rail(canvas, box, width, radius, seed):
    """A rounded, polished wooden rim whose outer edge is box (output px).

    The rim is shaded across its width like a rounded moulding lit from above, with a glossy
    highlight line, and the inner box is returned."""
    x0, y0, x1, y1 = canvas.xy(*box)
    wpx, rpx = canvas.px(width), canvas.px(radius)
    shade = canvas.mask()
    gloss = canvas.mask()
    ds, dp = ImageDraw.Draw(shade), ImageDraw.Draw(gloss)
    for i in range(wpx + 1):
        t = i / wpx
        light_level = 0.38 + 0.62 * math.sin(math.pi * min(1.0, t * 1.05)) ** 0.7
        highlight = (math.exp(-((t - 0.28) / 0.09) ** 2) * 0.55
                     + math.exp(-((t - 0.8) / 0.05) ** 2) * 0.15)
        r = max(0, rpx - i)
        box_i = [x0 + i, y0 + i, x1 - i, y1 - i]
        if box_i[2] <= box_i[0] or box_i[3] <= box_i[1]:
            break
        ds.rounded_rectangle(box_i, r, fill=round(255 * light_level))
        dp.rounded_rectangle(box_i, r, fill=round(255 * highlight))
    ring = canvas.mask()
    dr = ImageDraw.Draw(ring)
    dr.rounded_rectangle([x0, y0, x1, y1], rpx, fill=255)
    dr.rounded_rectangle([x0 + wpx, y0 + wpx, x1 - wpx, y1 - wpx], max(0, rpx - wpx), fill=0)
    grain = wood_grain(canvas.img.size, seed)
    wood = ImageChops.multiply(grain, shade.convert('RGB'))
    wood = ImageChops.screen(wood, gloss.convert('RGB'))
    canvas.fill(ring, wood)
    return [box[0] + width, box[1] + width, box[2] - width, box[3] - width]


def pinstripe(canvas, box, radius, width=0.8, colour=GOLD):
    canvas.draw().rounded_rectangle(canvas.xy(*box), canvas.px(radius), outline=colour,
                                    width=max(1, canvas.px(width)))


def text_centred(draw, centre, text, fnt, fill, **kw):
    """Draw text so that its inked bounding box is centred on centre (SS px)."""
    left, top, right, bottom = draw.textbbox((0, 0), text, font=fnt, **{
        k: v for k, v in kw.items() if k == 'stroke_width'})
    draw.text((centre[0] - (left + right) / 2, centre[1] - (top + bottom) / 2), text, font=fnt,
              fill=fill, **kw)


# ---------------------------------------------------------------------------------------------
# Props


def card(w, h, suit, rank=None, angle=0.0, back=False):
    """A playing card sprite at SS scale (w, h in output px), rotated by angle degrees."""
    W, H = Canvas.px(w), Canvas.px(h)
    img = Image.new('RGBA', (W, H), (0, 0, 0, 0))
    radius = max(SS, round(min(W, H) * 0.11))
    shape = Image.new('L', (W, H), 0)
    ImageDraw.Draw(shape).rounded_rectangle([0, 0, W - 1, H - 1], radius, fill=255)
    if back:
        face = Image.new('RGBA', (W, H), CARD_BACK + (255,))
        d = ImageDraw.Draw(face)
        inset = max(SS, round(W * 0.12))
        step = max(SS * 2, round(W * 0.16))
        for k in range(-H, W + H, step):
            d.line([(k, inset), (k + H, inset + H)], fill=(150, 40, 48), width=max(1, SS // 2))
            d.line([(k, inset + H), (k + H, inset)], fill=(150, 40, 48), width=max(1, SS // 2))
        d.rectangle([0, 0, W, inset - 1], fill=CREAM)
        d.rectangle([0, H - inset, W, H], fill=CREAM)
        d.rectangle([0, 0, inset - 1, H], fill=CREAM)
        d.rectangle([W - inset, 0, W, H], fill=CREAM)
        d.rounded_rectangle([inset, inset, W - inset - 1, H - inset - 1], max(1, radius // 2),
                            outline=GOLD, width=max(1, SS // 2))
    else:
        face = vertical_gradient((W, H), [(0.0, CREAM), (0.75, CREAM), (1.0, CREAM_SHADE)])
        d = ImageDraw.Draw(face)
        colour = suit_colour(suit)
        if rank and w >= 18:
            corner = Image.new('RGBA', (W, H), (0, 0, 0, 0))
            dc = ImageDraw.Draw(corner)
            cw = W * 0.2
            text_centred(dc, (cw * 0.85, H * 0.13), rank, font('serif-bold', h * 0.2), colour)
            text_centred(dc, (cw * 0.85, H * 0.29), suit, font('suits', h * 0.15), colour)
            face.alpha_composite(corner)
            face.alpha_composite(corner.rotate(180))
            big = font('suits', h * (0.42 if len(rank) == 1 else 0.36))
            text_centred(d, (W / 2, H / 2), suit, big, colour)
            if rank in ('K', 'Q', 'J'):
                d.rounded_rectangle([W * 0.27, H * 0.2, W * 0.73, H * 0.8], radius // 2,
                                    outline=GOLD, width=max(1, SS // 2))
        else:
            text_centred(d, (W / 2, H / 2), suit, font('suits', h * 0.62), colour)
    edge = Image.new('L', (W, H), 0)
    ImageDraw.Draw(edge).rounded_rectangle([0, 0, W - 1, H - 1], radius, outline=255,
                                           width=max(1, round(SS * 0.5)))
    face.paste(CARD_EDGE + (255,), (0, 0), edge)
    img.paste(face, (0, 0), shape)
    if angle:
        img = img.rotate(angle, resample=Image.BICUBIC, expand=True)
    return img


def chip_stack(canvas, cx, base, count, colour, seed=0, w=20.0, thick=3.0, inlay=CREAM):
    """A stack of poker chips; base is the y of the lowest chip's bottom edge."""
    d = canvas.draw()
    eh = w * 0.38
    shadow = canvas.mask()
    ImageDraw.Draw(shadow).ellipse(canvas.xy(cx - w / 2, base - eh + 1, cx + w / 2 + 3, base + 2),
                                   fill=255)
    canvas.shade(shadow, 1.2, 0.55)
    side = lerp(colour, (0, 0, 0), 0.3)
    groove = lerp(colour, (0, 0, 0), 0.65)
    rim = lerp(colour, (255, 255, 255), 0.2)
    rng = random.Random(seed)
    x_shift = 0.0
    for i in range(count):
        y = base - i * thick
        x_shift = (rng.random() - 0.5) * 0.9
        x0, x1 = cx - w / 2 + x_shift, cx + w / 2 + x_shift
        # Side band: the lower half-ellipse plus the edge, with the cream inlays of the rim.
        d.ellipse(canvas.xy(x0, y - eh, x1, y), fill=groove)
        d.ellipse(canvas.xy(x0, y - eh - 0.35, x1, y - 0.35), fill=side)
        d.rectangle(canvas.xy(x0, y - eh / 2 - thick, x1, y - eh / 2 - 0.35), fill=side)
        phase = rng.random() * 0.2
        for k in range(3):
            u = 0.12 + phase + k * 0.3
            sx = cx + x_shift - math.cos(u * math.pi) * w / 2
            sw = w * 0.07 * math.sin(u * math.pi) + 0.3
            dip = math.sin(u * math.pi) * eh / 2
            d.rectangle(canvas.xy(sx - sw / 2, y - eh / 2 - thick + dip + 0.3, sx + sw / 2,
                                  y - eh / 2 + dip - 0.6), fill=inlay)
        d.ellipse(canvas.xy(x0, y - eh - thick, x1, y - thick), fill=colour)
    # Face of the top chip: cream inlays round the edge and a gold inner ring.
    top = base - (count - 1) * thick - thick - eh / 2
    tx = cx + x_shift
    d.ellipse(canvas.xy(tx - w / 2, top - eh / 2, tx + w / 2, top + eh / 2), outline=rim,
              width=max(1, SS // 3))
    for k in range(6):
        a0 = k * 60 + 15
        d.arc(canvas.xy(tx - w / 2 + 0.6, top - eh / 2 + 0.4, tx + w / 2 - 0.6, top + eh / 2 - 0.4),
              a0, a0 + 22, fill=inlay, width=canvas.px(w * 0.07))
    d.ellipse(canvas.xy(tx - w * 0.3, top - eh * 0.3, tx + w * 0.3, top + eh * 0.3), outline=GOLD,
              width=max(1, canvas.px(0.6)))


def gold_shape(canvas, mask, box, outline=True):
    """Fill a mask with gold, with a thin dark edge so it reads on felt."""
    if outline:
        edge = mask.filter(ImageFilter.MaxFilter(2 * (SS // 2) + 1))
        canvas.fill(edge, GOLD_DARK)
    canvas.fill(mask, gold_fill(canvas, box))


def gold_text(canvas, centre, text, fnt, shadow=(1.5, 2.0, 1.6, 0.7), stroke=1.0):
    """Gold lettering with a dark bronze edge and a soft shadow, centred on centre (output px)."""
    mask = canvas.mask()
    text_centred(ImageDraw.Draw(mask), canvas.xy(*centre), text, fnt, 255)
    bbox = mask.getbbox()
    edge = canvas.mask()
    text_centred(ImageDraw.Draw(edge), canvas.xy(*centre), text, fnt, 255,
                 stroke_width=canvas.px(stroke), stroke_fill=255)
    if shadow:
        dx, dy, blur, opacity = shadow
        moved = canvas.mask()
        moved.paste(edge, (canvas.px(dx), canvas.px(dy)))
        canvas.shade(moved, blur, opacity)
    canvas.fill(edge, (70, 42, 8))
    b = [v / SS for v in bbox]
    canvas.fill(mask, gold_fill(canvas, b))


def smooth_path(points, steps=24):
    """Catmull-Rom curve through points (output px), returned as a dense point list."""
    pts = [points[0]] + list(points) + [points[-1]]
    out = []
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for s in range(steps):
            t = s / steps
            t2, t3 = t * t, t * t * t
            out.append(tuple(0.5 * (2 * p1[k] + (-p0[k] + p2[k]) * t
                                    + (2 * p0[k] - 5 * p1[k] + 4 * p2[k] - p3[k]) * t2
                                    + (-p0[k] + 3 * p1[k] - 3 * p2[k] + p3[k]) * t3)
                             for k in range(2)))
    out.append(points[-1])
    return out


def cable(canvas, points, width, colour=(30, 26, 28), shine=(110, 100, 96)):
    """A rubber cable along a smooth path with a highlight on its upper side."""
    path = [tuple(canvas.px(v) for v in p) for p in smooth_path(points)]
    d = canvas.draw()
    shadow = canvas.mask()
    ImageDraw.Draw(shadow).line([(x + canvas.px(1), y + canvas.px(1.5)) for x, y in path],
                                fill=255, width=canvas.px(width), joint='curve')
    canvas.shade(shadow, 1.0, 0.55)
    d.line(path, fill=colour, width=canvas.px(width), joint='curve')
    d.line([(x, y - canvas.px(width * 0.22)) for x, y in path], fill=shine,
           width=max(1, canvas.px(width * 0.22)), joint='curve')


# ---------------------------------------------------------------------------------------------
# Pictures


def draw_icon():
    c = Canvas(32, 32)
    felt(c, 11, centre=(0.5, 0.5), reach=0.7)
    inner = rail(c, (0, 0, 32, 32), 3.5, 4, seed=12)
    pinstripe(c, inner, 1.0, 0.6)
    c.put(card(13, 18, DIAMOND, angle=14), 12.5, 16.5, shadow=(0.6, 0.8, 0.8, 0.6))
    c.put(card(13, 18, SPADE, angle=-12), 19.5, 15.5, shadow=(0.6, 0.8, 0.8, 0.6))
    return c.result()


def draw_connections_button():
    c = Canvas(112, 58)
    felt(c, 21, centre=(0.5, 0.5), reach=0.8)
    inner = rail(c, (0, 0, 112, 58), 4.5, 6, seed=22)
    pinstripe(c, inner, 2.5, 0.7)
    # Two players' seats: a hand of cards at each end of the table.
    shadow = (0.8, 1.2, 1.0, 0.55)
    for (cx, suits) in ((22, (CLUB, HEART, SPADE)), (90, (DIAMOND, SPADE, HEART))):
        for k, s in enumerate(suits):
            a = (1 - k) * 16
            c.put(card(15, 21, s, angle=a), cx - (1 - k) * 6, 29 + abs(1 - k) * 1.5, shadow)
    # The link between them: two interlocked gold rings with a dotted trail either side.
    d = c.draw()
    for x in range(37, 47, 3):
        d.ellipse(c.xy(x - 0.8, 28.2, x + 0.8, 29.8), fill=GOLD)
    for x in range(66, 76, 3):
        d.ellipse(c.xy(x - 0.8, 28.2, x + 0.8, 29.8), fill=GOLD)
    rings = c.mask()
    dr = ImageDraw.Draw(rings)
    dr.ellipse(c.xy(45.5, 22, 58.5, 36), outline=255, width=c.px(2.6))
    back = c.mask()
    ImageDraw.Draw(back).ellipse(c.xy(53.5, 22, 66.5, 36), outline=255, width=c.px(2.6))
    # Cut the second ring where the first passes over it, so the rings interlock.
    cut = c.mask()
    ImageDraw.Draw(cut).rectangle(c.xy(53, 22, 59, 29), fill=255)
    over = ImageChops.subtract(back, ImageChops.multiply(rings, cut))
    both = ImageChops.lighter(rings, over)
    moved = c.mask()
    moved.paste(both, (c.px(0.8), c.px(1.2)))
    c.shade(moved, 1.0, 0.6)
    gold_shape(c, rings, (45, 21, 67, 37))
    gold_shape(c, over, (45, 21, 67, 37))
    return c.result()


def draw_decor():
    # The window shows this on black; the right 13 px and bottom 15 px are hidden.
    c = Canvas(135, 295, fill=(0, 0, 0, 255))
    panel = Canvas(135, 295)
    felt(panel, 31, centre=(0.45, 0.4), reach=0.55)
    shape = c.mask()
    ImageDraw.Draw(shape).rounded_rectangle(c.xy(6, 6, 116, 274), c.px(14), fill=255)
    c.fill(shape, panel.img)
    inner = rail(c, (6, 6, 116, 274), 7, 14, seed=32)
    pinstripe(c, [v + (2 if i < 2 else -2) for i, v in enumerate(inner)], 6, 0.8)
    d = c.draw()
    # Gold flourishes at the head and foot of the panel.
    for (x, y) in ((61, 27), (61, 253)):
        gem = c.mask()
        ImageDraw.Draw(gem).polygon(c.xy(x, y - 5, x + 4, y, x, y + 5, x - 4, y), fill=255)
        gold_shape(c, gem, (x - 4, y - 5, x + 4, y + 5))
        d.line(c.xy(x - 26, y, x - 7, y), fill=GOLD, width=c.px(0.8))
        d.line(c.xy(x + 7, y, x + 26, y), fill=GOLD, width=c.px(0.8))
    # A cascade of four cards down the table.
    shadow = (1.2, 1.8, 1.6, 0.6)
    hand = (('A', SPADE, -9, 48, 62), ('K', HEART, 7, 70, 104), ('Q', CLUB, -6, 50, 146),
            ('J', DIAMOND, 8, 70, 188))
    for rank, suit, angle, cx, cy in hand:
        c.put(card(38, 54, suit, rank, angle=angle), cx, cy, shadow)
    # Chips at the foot of the table.
    chip_stack(c, 40, 244, 5, (150, 22, 32), seed=1)
    chip_stack(c, 62, 247, 3, (24, 24, 30), seed=2)
    chip_stack(c, 84, 243, 6, (226, 214, 186), seed=3, inlay=RED)
    return c.result()


SPLASH_W, SPLASH_H = 472, 352
INSET_X, INSET_Y, INSET_W, INSET_H = 0, 256, 269, 94


def draw_splash():
    c = Canvas(SPLASH_W, SPLASH_H)
    felt(c, 41, centre=(0.55, 0.5), reach=0.75)
    # Wooden rim on the sides and bottom; its top edge is hidden under the header rail.
    inner = rail(c, (0, -40, SPLASH_W, SPLASH_H), 10, 0, seed=43)
    pinstripe(c, (inner[0] + 3, 49, inner[2] - 3, inner[3] - 3), 6, 0.9)
    # The header rail is wide, dark and plain: the program writes a grey caption over it.
    header = c.mask()
    ImageDraw.Draw(header).rectangle(c.xy(0, 0, SPLASH_W, 44), fill=255)
    shade = vertical_gradient(c.img.size, [(0.0, (140, 140, 140)), (0.03, (200, 200, 200)),
                                           (0.07, (150, 150, 150)), (0.125, (100, 100, 100)),
                                           (1.0, (100, 100, 100))])
    wood = wood_grain(c.img.size, 42, dark=(34, 16, 8), mid=(48, 24, 12), light=(66, 36, 18))
    c.fill(header, ImageChops.multiply(wood, shade.convert('RGB')))
    d = c.draw()
    d.line(c.xy(0, 44, SPLASH_W, 44), fill=GOLD_DARK, width=c.px(1.2))
    # Title and its rule.
    gold_text(c, (236, 108), 'Skarnet', font('serif-bold', 96), stroke=1.3)
    rule_y = 160
    d.line(c.xy(120, rule_y, 196, rule_y), fill=GOLD, width=c.px(1))
    d.line(c.xy(276, rule_y, 352, rule_y), fill=GOLD, width=c.px(1))
    fs = font('suits', 15)
    for k, s in enumerate((SPADE, HEART, DIAMOND, CLUB)):
        col = (236, 70, 70) if s in (HEART, DIAMOND) else CREAM
        text_centred(d, c.xy(209 + k * 18, rule_y), s, fs, col)
    text_centred(d, c.xy(236, 186), 'a duel table for two', font('serif-italic', 19), CREAM_SHADE)
    # A hand and chips on the right side of the table.
    shadow = (1.3, 2.0, 1.8, 0.6)
    for k, (rank, suit) in enumerate((('9', CLUB), ('10', HEART), ('J', SPADE))):
        c.put(card(40, 57, suit, rank, angle=18 - k * 14), 362 + k * 26, 272 + abs(k - 1) * 4,
              shadow)
    chip_stack(c, 298, 318, 6, (150, 22, 32), seed=4, w=24, thick=3.4)
    chip_stack(c, 318, 332, 3, (24, 24, 30), seed=5, w=24, thick=3.4)
    return c.result()


def draw_inset(backdrop):
    """The splash inset: a fanned royal flush over a gold ribbon.

    Returns (rgb, coverage): the emblem blended onto the splash background it will sit on, and
    its coverage mask, so that edge pixels match what is behind them."""
    c = Canvas(INSET_W, INSET_H, fill=(0, 0, 0, 0))
    fan = (('10', SPADE), ('J', SPADE), ('Q', SPADE), ('K', SPADE), ('A', SPADE))
    pivot = (134, 150)
    for k, (rank, suit) in enumerate(fan):
        a = (2 - k) * 11
        r = 105
        cx = pivot[0] - math.sin(math.radians(a)) * r
        cy = pivot[1] - math.cos(math.radians(a)) * r
        c.put(card(38, 54, suit, rank, angle=a), cx, cy, shadow=(1.0, 1.5, 1.2, 0.55))
    # Ribbon: a gold band that curves up at the middle, with folded tails at each end.
    def ribbon_top(x):
        return 64 + 0.0009 * (x - 134) ** 2

    band = c.mask()
    d = ImageDraw.Draw(band)
    top = [(x, ribbon_top(x)) for x in range(40, 229, 2)]
    bot = [(x, y + 16) for x, y in reversed(top)]
    d.polygon([tuple(c.px(v) for v in p) for p in top + bot], fill=255)
    tails = c.mask()
    dt = ImageDraw.Draw(tails)
    for sign in (-1, 1):
        x = 134 + sign * 94
        y = ribbon_top(x)
        dt.polygon(c.xy(x, y + 4, x + sign * 26, y + 4, x + sign * 18, y + 12, x + sign * 26,
                        y + 20, x, y + 20), fill=255)
    fold = c.mask()
    df = ImageDraw.Draw(fold)
    for sign in (-1, 1):
        x = 134 + sign * 94
        y = ribbon_top(x)
        df.polygon(c.xy(x, y + 16, x - sign * 0.1, y + 20, x + sign * 6, y + 20), fill=255)
    both = ImageChops.lighter(band, tails)
    moved = c.mask()
    moved.paste(both, (c.px(1), c.px(1.5)))
    c.shade(moved, 1.2, 0.6)
    c.fill(tails, GOLD_DARK)
    gold_shape(c, band, (40, 62, 229, 88))
    c.fill(fold, (70, 42, 8))
    dd = c.draw()
    fs = font('suits', 12)
    for k, s in enumerate((SPADE, HEART, DIAMOND, CLUB, SPADE, HEART, DIAMOND, CLUB)):
        x = 134 + (k - 3.5) * 20
        y = ribbon_top(x) + 8
        text_centred(dd, c.xy(x, y), s, fs, RED if s in (HEART, DIAMOND) else INK)
    small = c.img.resize((INSET_W, INSET_H), Image.LANCZOS)
    coverage = small.getchannel('A')
    rgb = backdrop.convert('RGBA')
    rgb.alpha_composite(small)
    return rgb.convert('RGB'), coverage


def button_face(w, h, seed):
    """Felt for a command button picture; the lit area is centred on what the button shows."""
    c = Canvas(w, h)
    felt(c, seed, centre=(0.5, 0.5), reach=0.55)
    vx, vy = (w - min(w, 97)) / 2, (h - min(h, 65)) / 2
    rail(c, (vx, vy, vx + min(w, 97), vy + min(h, 65)), 3, 5, seed=seed + 1)
    pinstripe(c, (vx + 4.5, vy + 4.5, vx + min(w, 97) - 4.5, vy + min(h, 65) - 4.5), 3, 0.6)
    return c


def draw_wait():
    c = button_face(101, 95, 51)
    cx, cy = 50.5, 47.5
    # A face-down card and a face-up card lie on the table behind the hourglass.
    c.put(card(20, 28, HEART, back=True, angle=16), cx - 21, cy + 4, (0.8, 1.2, 1.0, 0.55))
    c.put(card(20, 28, SPADE, 'A', angle=-14), cx + 22, cy + 4, (0.8, 1.2, 1.0, 0.55))
    # Hourglass.
    top, bottom, half = cy - 24, cy + 24, 10.5
    glass = c.mask()
    gd = ImageDraw.Draw(glass)
    outline_pts = []
    for i in range(41):
        t = i / 40
        y = top + 3 + t * (bottom - top - 6)
        u = abs(t - 0.5) * 2
        wdt = 1.3 + (half - 2.4) * math.sin(u * math.pi / 2) ** 0.8
        outline_pts.append((y, wdt))
    poly = ([(cx - wd, y) for y, wd in outline_pts]
            + [(cx + wd, y) for y, wd in reversed(outline_pts)])
    gd.polygon([tuple(c.px(v) for v in p) for p in poly], fill=255)
    shadow = c.mask()
    ImageDraw.Draw(shadow).ellipse(c.xy(cx - 13, bottom - 3, cx + 15, bottom + 4), fill=255)
    c.shade(shadow, 1.5, 0.6)
    c.fill(glass.point(lambda v: v * 100 // 255), (225, 240, 250))
    sand = c.mask()
    sd = ImageDraw.Draw(sand)
    mid = (top + bottom) / 2
    sd.polygon(c.xy(cx - half + 3.2, mid + 15, cx, mid + 6.5, cx + half - 3.2, mid + 15,
                    cx + half - 2, bottom - 3, cx - half + 2, bottom - 3), fill=255)
    sd.polygon(c.xy(cx - 5.2, mid - 8, cx + 5.2, mid - 8, cx, mid - 1), fill=255)
    sd.line(c.xy(cx, mid - 2, cx, mid + 7), fill=255, width=c.px(0.7))
    sand = ImageChops.multiply(sand, glass)
    c.fill(sand, vertical_gradient(c.img.size, [(0.0, (250, 220, 140)), (1.0, (200, 150, 60))]))
    gl = c.draw()
    gl.line([tuple(c.px(v) for v in p) for p in poly[:41]], fill=(230, 245, 240), width=c.px(0.6))
    gl.line([tuple(c.px(v) for v in p) for p in poly[41:]], fill=(150, 180, 170), width=c.px(0.5))
    # Posts and wooden caps.
    posts = c.mask()
    pd = ImageDraw.Draw(posts)
    for x in (cx - half - 0.6, cx + half - 1.4):
        pd.rectangle(c.xy(x, top + 2, x + 2, bottom - 2), fill=255)
    gold_shape(c, posts, (cx - half - 1, top, cx + half + 1, bottom))
    for y in (top, bottom - 4):
        cap_mask = c.mask()
        ImageDraw.Draw(cap_mask).rounded_rectangle(c.xy(cx - half - 3, y, cx + half + 3, y + 4),
                                                   c.px(1.5), fill=255)
        wood = wood_grain(c.img.size, 52 + int(y))
        shine = Image.new('RGB', c.img.size)
        ImageDraw.Draw(shine).rectangle(c.xy(0, y + 0.8, 101, y + 1.6), fill=(90, 70, 50))
        c.fill(cap_mask, ImageChops.add(wood, shine))
        c.draw().rounded_rectangle(c.xy(cx - half - 3, y, cx + half + 3, y + 4), c.px(1.5),
                                   outline=GOLD_DARK, width=c.px(0.5))
    return c.result()


def monitor(c, cx, cy, suit):
    """A small computer: dark bezel, a felt screen showing a card, a gold stand."""
    w, h = 30, 23
    body = c.mask()
    ImageDraw.Draw(body).rounded_rectangle(c.xy(cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2),
                                           c.px(2), fill=255)
    stand = c.mask()
    foot = cy + h / 2
    sd = ImageDraw.Draw(stand)
    sd.polygon(c.xy(cx - 3, foot, cx + 3, foot, cx + 5, foot + 5, cx - 5, foot + 5), fill=255)
    sd.rounded_rectangle(c.xy(cx - 10, foot + 4.5, cx + 10, foot + 7), c.px(1), fill=255)
    moved = c.mask()
    moved.paste(ImageChops.lighter(body, stand), (c.px(1.2), c.px(1.6)))
    c.shade(moved, 1.2, 0.65)
    gold_shape(c, stand, (cx - 10, cy + h / 2, cx + 10, cy + h / 2 + 7))
    c.fill(body, vertical_gradient(c.img.size, [(0.0, (78, 74, 80)), (0.5, (40, 38, 44)),
                                                (1.0, (22, 20, 24))]))
    screen = Canvas(c.w, c.h)
    felt(screen, 60, centre=(cx / c.w, cy / c.h), reach=0.25, light=(50, 150, 90))
    sm = c.mask()
    ImageDraw.Draw(sm).rectangle(c.xy(cx - w / 2 + 2.5, cy - h / 2 + 2.5, cx + w / 2 - 2.5,
                                      cy + h / 2 - 2.5), fill=255)
    c.fill(sm, screen.img)
    c.put(card(10, 14, suit), cx, cy)
    glare = c.mask()
    ImageDraw.Draw(glare).polygon(c.xy(cx - w / 2 + 2.5, cy - h / 2 + 2.5, cx - 1, cy - h / 2 + 2.5,
                                       cx - w / 2 + 2.5, cy + 1), fill=40)
    c.fill(glare, (255, 255, 255))


def draw_connect():
    c = button_face(101, 65, 61)
    cable(c, [(29, 47), (38, 53), (50.5, 55), (63, 53), (72, 47)], 2.4,
          colour=(150, 108, 30), shine=(250, 220, 130))
    monitor(c, 25, 27, HEART)
    monitor(c, 76, 27, SPADE)
    # Signal marks over the link.
    d = c.draw()
    for r in (4, 7):
        d.arc(c.xy(50.5 - r, 30 - r, 50.5 + r, 30 + r), 220, 320, fill=GOLD_LIGHT, width=c.px(1))
        d.arc(c.xy(50.5 - r, 30 - r + 2, 50.5 + r, 30 + r + 2), 40, 140, fill=GOLD_LIGHT,
              width=c.px(1))
    d.ellipse(c.xy(49.3, 30.2, 51.7, 32.6), fill=GOLD_LIGHT)
    return c.result()


def draw_close():
    c = button_face(91, 85, 71)
    cy = 42.5
    # Left lead ends in a plug, right lead in a socket; sparks jump the gap.
    cable(c, [(4, cy + 12), (14, cy + 6), (24, cy + 1), (30, cy)], 5)
    cable(c, [(87, cy - 12), (76, cy - 6), (66, cy - 1), (60, cy)], 5)
    prongs = c.mask()
    pd = ImageDraw.Draw(prongs)
    pd.rectangle(c.xy(36, cy - 4, 42, cy - 2.3), fill=255)
    pd.rectangle(c.xy(36, cy + 2.3, 42, cy + 4), fill=255)
    gold_shape(c, prongs, (36, cy - 4, 42, cy + 4), outline=False)
    d = c.draw()
    for x0, x1 in ((27, 37), (54, 64)):
        body = c.mask()
        ImageDraw.Draw(body).rounded_rectangle(c.xy(x0, cy - 7, x1, cy + 7), c.px(2), fill=255)
        moved = c.mask()
        moved.paste(body, (c.px(1), c.px(1.5)))
        c.shade(moved, 1.0, 0.6)
        c.fill(body, vertical_gradient(c.img.size, [(0.0, (90, 84, 88)), (0.45, (44, 40, 46)),
                                                    (1.0, (18, 16, 20))]))
        gold = c.mask()
        ImageDraw.Draw(gold).rectangle(c.xy(x0 + 2, cy - 7, x0 + 3.5, cy + 7), fill=255)
        ImageDraw.Draw(gold).rectangle(c.xy(x1 - 3.5, cy - 7, x1 - 2, cy + 7), fill=255)
        c.fill(ImageChops.multiply(gold, body), gold_fill(c, (x0, cy - 7, x1, cy + 7)))
    d.rectangle(c.xy(54.3, cy - 4, 56.3, cy - 2.3), fill=(8, 8, 8))
    d.rectangle(c.xy(54.3, cy + 2.3, 56.3, cy + 4), fill=(8, 8, 8))
    # Sparks.
    for pts in ([(45.5, cy - 11), (47.5, cy - 6.5), (45.8, cy - 5.5), (48.5, cy - 1)],
                [(48.5, cy + 11), (46.8, cy + 6.5), (48.6, cy + 5.5), (46, cy + 1)]):
        d.line([tuple(c.px(v) for v in p) for p in pts], fill=GOLD_LIGHT, width=c.px(1.1),
               joint='curve')
    for x, y, r in ((44, cy - 1, 0.9), (50.5, cy + 1.5, 0.8), (47.2, cy + 0.2, 1.0)):
        d.ellipse(c.xy(x - r, y - r, x + r, y + r), fill=(255, 250, 220))
    # A red cross over the break.
    cross = c.mask()
    xd = ImageDraw.Draw(cross)
    xd.line(c.xy(43.5, cy - 18.5, 51.5, cy - 10.5), fill=255, width=c.px(2.6))
    xd.line(c.xy(51.5, cy - 18.5, 43.5, cy - 10.5), fill=255, width=c.px(2.6))
    c.fill(cross.filter(ImageFilter.MaxFilter(5)), CREAM)
    c.fill(cross, RED)
    return c.result()


# ---------------------------------------------------------------------------------------------
# File writers


def bgr_rows(img, pad_to=4):
    """Pixel rows bottom-up, BGR, each padded to a multiple of pad_to bytes."""
    w, h = img.size
    raw = img.convert('RGB').tobytes('raw', 'BGR')
    stride = w * 3
    pad = b'\0' * ((-stride) % pad_to)
    return b''.join(raw[y * stride:(y + 1) * stride] + pad for y in range(h - 1, -1, -1))


def write_ico(path, img):
    """One 32x32 24-bit image stored as a bitmap, with an all-zero (fully opaque) AND mask."""
    w, h = img.size
    xor = bgr_rows(img)
    and_mask = bytes(((w + 31) // 32 * 4) * h)
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 24, 0, len(xor) + len(and_mask),
                         0, 0, 0, 0)
    image = header + xor + and_mask
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', w, h, 0, 0, 1, 24, len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(icondir + entry + image)


def write_bmp(path, img):
    w, h = img.size
    pixels = bgr_rows(img)
    offset = 14 + 40
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(head + info + pixels)


def write_jpeg(path, img):
    img.convert('RGB').save(path, 'JPEG', quality=92, subsampling=0, optimize=False,
                            progressive=False, dpi=(72, 72))


def lzw_compress(indices, min_code_size):
    """GIF-flavoured LZW: variable code width from min_code_size + 1 up to 12 bits."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = indices[0]
    for value in indices[1:]:
        key = (prefix, value)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        table[key] = next_code
        next_code += 1
        # The decoder learns each code one step later, so widen once it would need the extra bit.
        if next_code - 1 == (1 << width) and width < 12:
            width += 1
        if next_code == 4096:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = value
    emit(prefix, width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_gif(path, indices, size, palette, transparent):
    """A GIF89a with one 64-colour global table, one image and a transparency extension."""
    assert len(palette) == 64 and 0 <= transparent < 64
    w, h = size
    data = lzw_compress(indices, 6)
    blocks = b''.join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                      for i in range(0, len(data), 255)) + b'\0'
    out = b'GIF89a'
    out += struct.pack('<HHBBB', w, h, 0x80 | (7 << 4) | 5, transparent, 0)
    out += b''.join(bytes(c) for c in palette)
    out += struct.pack('<BBBBHBB', 0x21, 0xF9, 4, 0x01, 0, transparent, 0)
    out += struct.pack('<BHHHHB', 0x2C, 0, 0, w, h, 0)
    out += bytes([6]) + blocks + b'\x3B'
    with open(path, 'wb') as f:
        f.write(out)


def index_inset(rgb, coverage, transparent=63):
    """Reduce the inset to 63 colours plus one transparent index for uncovered pixels."""
    cover = coverage.tobytes()
    pixels = list(rgb.getdata())
    solid = [p for p, a in zip(pixels, cover) if a >= 96]
    strip = Image.new('RGB', (len(solid), 1))
    strip.putdata(solid)
    quant = strip.quantize(colors=transparent, method=Image.Quantize.MEDIANCUT,
                           dither=Image.Dither.NONE)
    flat = quant.getpalette()[:transparent * 3]
    flat += [0] * (transparent * 3 - len(flat))
    palette = [tuple(flat[i:i + 3]) for i in range(0, len(flat), 3)]
    cache = {}

    def nearest(p):
        if p not in cache:
            cache[p] = min(range(len(palette)),
                           key=lambda i: sum((a - b) ** 2 for a, b in zip(p, palette[i])))
        return cache[p]

    indices = bytes(transparent if a < 96 else nearest(p) for p, a in zip(pixels, cover))
    # The transparent entry holds the average uncovered (felt) colour, for viewers that ignore
    # transparency.
    clear = [p for p, a in zip(pixels, cover) if a < 96]
    felt_colour = tuple(round(sum(p[k] for p in clear) / len(clear)) for k in range(3))
    return indices, palette + [felt_colour]


def check_gif(path, indices, size):
    """Decode the written GIF and confirm every pixel index survived."""
    with Image.open(path) as im:
        assert im.size == size and im.mode == 'P'
        assert im.info.get('transparency') == 63 and im.info.get('background') == 63
        assert im.tobytes() == indices, 'GIF pixel data does not round-trip'
        assert getattr(im, 'n_frames', 1) == 1


def main():
    write_ico(os.path.join(OUT_DIR, 'skarnet.ico'), draw_icon())
    write_jpeg(os.path.join(OUT_DIR, 'connections_button.jpg'), draw_connections_button())
    write_bmp(os.path.join(OUT_DIR, 'decor.bmp'), draw_decor())
    splash = draw_splash()
    write_bmp(os.path.join(OUT_DIR, 'splash.bmp'), splash)
    backdrop = splash.crop((INSET_X, INSET_Y, INSET_X + INSET_W, INSET_Y + INSET_H))
    rgb, coverage = draw_inset(backdrop)
    indices, palette = index_inset(rgb, coverage)
    gif_path = os.path.join(OUT_DIR, 'splash_inset.gif')
    write_gif(gif_path, indices, (INSET_W, INSET_H), palette, 63)
    check_gif(gif_path, indices, (INSET_W, INSET_H))
    write_jpeg(os.path.join(OUT_DIR, 'cmd_wait.jpg'), draw_wait())
    write_jpeg(os.path.join(OUT_DIR, 'cmd_connect.jpg'), draw_connect())
    write_jpeg(os.path.join(OUT_DIR, 'cmd_close.jpg'), draw_close())


if __name__ == '__main__':
    main()
