#!/usr/bin/python3
"""Draws the skin images and the program icon of Zarumatekit.

Run it from the repository root after changing a drawing:

    /usr/bin/python3 src/res/images/draw_skin.py [--sheet /tmp/skin-sheet.png]

It writes src/res/images/<id>.png (the skin, loaded by id) and
src/res/icons/zarumatekit-<size>.png (the program icon). The build embeds the
committed PNG files and never runs this script. It needs python3-pil and the
fonts of scripts/install-deps (IPA Gothic for the Japanese lettering, URW
Gothic for the title logo). With --sheet it also writes an enlarged contact
sheet of every image and a mock-up of a skinned window, to look at.

Shapes are drawn at SCALE times their size and reduced with a box filter,
which gives every edge its true coverage as alpha. Lettering is rendered at
its final size instead, where the font's hinting keeps the strokes sharp.
"""

import argparse
import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SCALE = 8

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES_DIR = HERE
ICONS_DIR = os.path.join(os.path.dirname(HERE), "icons")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

FONT_GOTHIC = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
FONT_GOTHIC_P = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"
FONT_LOGO = "/usr/share/fonts/opentype/urw-base35/URWGothic-Demi.otf"

# The frame: a dark, slightly violet charcoal with lighter diagonal stripes.
FRAME_BASE = (0x29, 0x27, 0x33)
FRAME_STRIPE = (0x38, 0x35, 0x46)
STRIPE_PERIOD = 7  # pixels along x; divides both 28 and 14, so the tile repeats
STRIPE_WIDTH = 3.0

RED_TOP, RED_BOTTOM, RED_RIM = (0xF4, 0x6E, 0x5E), (0xCC, 0x34, 0x2A), (0x96, 0x1F, 0x18)
VIOLET_TOP, VIOLET_BOTTOM, VIOLET_RIM = (0xA8, 0x84, 0xE6), (0x6E, 0x46, 0xB8), (0x4E, 0x2F, 0x8A)
WHITE = (0xFF, 0xFF, 0xFF)
ARROW_GREY = (0x80, 0x80, 0x80)
SEPARATOR_GREY = (0x9E, 0x9E, 0x9E)


# ----------------------------------------------------------------- helpers


def big(w, h):
    """A transparent canvas SCALE times the size w x h."""
    return Image.new("RGBA", (w * SCALE, h * SCALE), (0, 0, 0, 0))


def mask(w, h):
    return Image.new("L", (w * SCALE, h * SCALE), 0)


def reduce(img, w, h):
    """Box-filters a SCALE-times canvas down to w x h (alpha premultiplied on the way)."""
    return img.resize((w, h), Image.BOX)


def s(v):
    """A coordinate in final pixels, on the enlarged canvas."""
    return v * SCALE


def sbox(x0, y0, x1, y1):
    return (s(x0), s(y0), s(x1) - 1, s(y1) - 1)


def vertical_gradient(size, top, bottom, y0=0, y1=None):
    """An opaque image whose colour runs from top at row y0 to bottom at row y1."""
    w, h = size
    y1 = h if y1 is None else y1
    col = Image.new("RGBA", (1, h))
    for y in range(h):
        t = min(max((y - y0) / max(y1 - y0 - 1, 1), 0.0), 1.0)
        col.putpixel((0, y), tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,))
    return col.resize((w, h), Image.NEAREST)


def fill(canvas, shape, colour):
    """Paints a solid colour (or an image of the canvas' size) through a mask."""
    layer = colour if isinstance(colour, Image.Image) else Image.new("RGBA", canvas.size, colour + (255,))
    layer = layer.copy()
    layer.putalpha(ImageChops.multiply(layer.getchannel("A"), shape))
    canvas.alpha_composite(layer)


def circle_mask(size, cx, cy, r):
    m = Image.new("L", size, 0)
    ImageDraw.Draw(m).ellipse((cx - r, cy - r, cx + r - 1, cy + r - 1), fill=255)
    return m


def capsule(draw, x0, y0, x1, y1, width, value=255):
    """A line with round ends, in enlarged coordinates."""
    draw.line((x0, y0, x1, y1), fill=value, width=round(width))
    r = width / 2
    for x, y in ((x0, y0), (x1, y1)):
        draw.ellipse((x - r, y - r, x + r, y + r), fill=value)


def text_mask(w, h, text, font, x, y, spacing=1.0, embolden=0.0):
    """Hinted lettering at its final size; spacing scales each advance, and
    embolden widens every stroke by drawing the text again that far right."""
    m = Image.new("L", (w, h), 0)
    d = ImageDraw.Draw(m)
    for ch in text:
        d.text((x, y), ch, font=font, fill=255)
        if embolden:
            d.text((x + embolden, y), ch, font=font, fill=255)
        x += font.getlength(ch) * spacing
    return m


def lettering(w, h, text, font, x, y, colour, shadow_alpha, spacing=1.0, embolden=0.0):
    """Lettering with a soft shadow one pixel below, so it stays crisp on the stripes."""
    m = text_mask(w, h, text, font, x, y, spacing, embolden)
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    if shadow_alpha:
        sh = Image.new("L", (w, h), 0)
        sh.paste(m, (0, 1))
        fill(img, sh.point(lambda v: v * shadow_alpha // 255), (0, 0, 0))
    fill(img, m, colour)
    return img


def centred_text_origin(font, text, w, h):
    l, t, r, b = font.getbbox(text)
    return (w - (r - l)) / 2 - l, (h - (b - t)) / 2 - t


# ----------------------------------------------------------------- the skin


def frame_texture():
    """211: 28 x 14 diagonal stripes. Each pixel's stripe coverage is sampled on
    a SCALE x SCALE grid of the endless pattern, so the tile continues across
    both of its edges."""
    w, h = 28, 14
    img = Image.new("RGBA", (w, h))
    n = SCALE
    for y in range(h):
        for x in range(w):
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    u = (x + (sx + 0.5) / n + y + (sy + 0.5) / n) % STRIPE_PERIOD
                    covered += u < STRIPE_WIDTH
            t = covered / (n * n)
            colour = tuple(round(a + (b - a) * t) for a, b in zip(FRAME_BASE, FRAME_STRIPE))
            img.putpixel((x, y), colour + (255,))
    return img


def round_button(d, top, bottom, rim, symbol):
    """202-205: a shaded disc with a rim and a white symbol, d x d pixels."""
    c = big(d, d)
    size = c.size
    half = s(d) / 2
    fill(c, circle_mask(size, half, half, half), rim)
    rim_width = max(1.0, d / 16) * SCALE
    fill(c, circle_mask(size, half, half, half - rim_width), vertical_gradient(size, top, bottom))
    # A soft highlight on the upper half gives the disc some roundness.
    hl = Image.new("L", size, 0)
    hd = ImageDraw.Draw(hl)
    hd.ellipse((half - half * 0.62, half * 0.18, half + half * 0.62, half * 0.98), fill=70)
    fill(c, ImageChops.multiply(hl, circle_mask(size, half, half, half - rim_width)), (255, 255, 255))
    sym = Image.new("L", size, 0)
    symbol(ImageDraw.Draw(sym), d, half)
    fill(c, sym, (255, 255, 255))
    return reduce(c, d, d)


def cross(draw, d, half):
    arm = s(d) * 0.19
    width = s(d) * (0.14 if d <= 16 else 0.12)
    capsule(draw, half - arm, half - arm, half + arm, half + arm, width)
    capsule(draw, half - arm, half + arm, half + arm, half - arm, width)


def bar(draw, d, half):
    arm = s(d) * 0.23
    width = s(d) * (0.14 if d <= 16 else 0.12)
    capsule(draw, half - arm, half, half + arm, half, width)


def scroll_arrow(up):
    """206 / 207: an 11 x 7 grey triangle with softened corners, for a white column."""
    w, h = 11, 7
    c = big(w, h)
    m = Image.new("L", c.size, 0)
    d = ImageDraw.Draw(m)
    inset = 0.8 * SCALE  # the corners are rounded by tracing the edges with this pen
    apex = (s(5.5), s(0) + inset)
    left = (s(0) + inset, s(7) - inset)
    right = (s(11) - inset, s(7) - inset)
    pts = [apex, right, left]
    d.polygon(pts, fill=255)
    for a, b in zip(pts, pts[1:] + pts[:1]):
        capsule(d, a[0], a[1], b[0], b[1], inset * 2)
    if not up:
        m = m.transpose(Image.FLIP_TOP_BOTTOM)
    fill(c, m, ARROW_GREY)
    return reduce(c, w, h)


def dotted_separator():
    """210: exactly white, grey 158, white."""
    img = Image.new("RGBA", (3, 1))
    img.putpixel((0, 0), (255, 255, 255, 255))
    img.putpixel((1, 0), SEPARATOR_GREY + (255,))
    img.putpixel((2, 0), (255, 255, 255, 255))
    return img


def erode(shape, width):
    """The shape shrunk by width final pixels. The canvas is padded first, so
    that edges lying on the canvas border shrink too."""
    steps = round(width * SCALE)
    padded = Image.new("L", (shape.width + 2 * steps, shape.height + 2 * steps), 0)
    padded.paste(shape, (steps, steps))
    padded = padded.filter(ImageFilter.MinFilter(2 * steps + 1))
    return padded.crop((steps, steps, steps + shape.width, steps + shape.height))


def outlined(c, shape, inside, outline, width=1.0):
    """Fills a shape and draws its outline of the given width inside its edge."""
    fill(c, shape, outline)
    inner = erode(shape, width)
    fill(c, inner, inside)
    return inner


def icon_house():
    """213: the game room, a house with an orange roof and a door."""
    w, h = 15, 14
    c = big(w, h)
    body = mask(w, h)
    ImageDraw.Draw(body).rectangle(sbox(2.5, 6, 12.5, 14), fill=255)
    outlined(c, body, (0xFB, 0xE3, 0xBC), (0xB0, 0x6A, 0x34))
    door = mask(w, h)
    ImageDraw.Draw(door).rounded_rectangle(sbox(6, 9, 9, 14), radius=s(0.8), fill=255)
    fill(c, door, (0x9A, 0x55, 0x2C))
    roof = mask(w, h)
    rd = ImageDraw.Draw(roof)
    eaves = [(7.5, 0.3), (15, 7.2), (13.6, 8.2), (7.5, 2.6), (1.4, 8.2), (0, 7.2)]
    rd.polygon([(s(x), s(y)) for x, y in eaves], fill=255)
    fill(c, roof, (0xE0, 0x4F, 0x2E))
    chimney = mask(w, h)
    ImageDraw.Draw(chimney).rectangle(sbox(10.5, 1.2, 12.5, 4.2), fill=255)
    fill(c, ImageChops.subtract(chimney, roof), (0xB0, 0x6A, 0x34))
    return reduce(c, w, h)


def leaf(draw, base, tip, width):
    """A lens-shaped leaf from base to tip, widest in its middle."""
    (bx, by), (tx, ty) = base, tip
    length = math.hypot(tx - bx, ty - by)
    ux, uy = (tx - bx) / length, (ty - by) / length
    nx, ny = -uy, ux
    side_a, side_b = [], []
    for i in range(33):
        t = i / 32
        half = math.sin(math.pi * t) ** 0.9 * width / 2
        px, py = bx + ux * length * t, by + uy * length * t
        side_a.append((px + nx * half, py + ny * half))
        side_b.append((px - nx * half, py - ny * half))
    draw.polygon(side_a + side_b[::-1], fill=255)


def icon_sprout():
    """219: the life page, a green sprout with two leaves over a mound of soil."""
    w, h = 15, 14
    c = big(w, h)
    soil = mask(w, h)
    ImageDraw.Draw(soil).ellipse(sbox(2.5, 11, 12.5, 16.5), fill=255)
    fill(c, soil, (0x9B, 0x6A, 0x3E))
    stem = mask(w, h)
    capsule(ImageDraw.Draw(stem), s(7.5), s(12), s(7.5), s(6.0), s(1.5))
    fill(c, stem, (0x3E, 0x8E, 0x35))
    leaves = mask(w, h)
    ld = ImageDraw.Draw(leaves)
    leaf(ld, (s(7.3), s(7.2)), (s(0.8), s(2.6)), s(4.4))
    leaf(ld, (s(7.7), s(6.4)), (s(14.2), s(0.8)), s(5.2))
    outlined(c, leaves, (0x74, 0xC8, 0x4E), (0x3E, 0x8E, 0x35))
    vein = mask(w, h)
    vd = ImageDraw.Draw(vein)
    vd.line((s(7.3), s(7.0), s(3.0), s(4.0)), fill=255, width=round(s(0.6)))
    vd.line((s(7.9), s(6.2), s(12.0), s(2.6)), fill=255, width=round(s(0.6)))
    fill(c, ImageChops.multiply(vein, leaves), (0x3E, 0x8E, 0x35))
    return reduce(c, w, h)


def icon_notebook():
    """222: the blog, a blue notebook with rings and a label."""
    w, h = 15, 14
    c = big(w, h)
    cover = mask(w, h)
    ImageDraw.Draw(cover).rounded_rectangle(sbox(2, 0, 13.5, 14), radius=s(1.6), fill=255)
    outlined(c, cover, (0x4A, 0x86, 0xDA), (0x25, 0x56, 0xA6))
    spine = mask(w, h)
    ImageDraw.Draw(spine).rectangle(sbox(3, 1, 5, 13), fill=255)
    fill(c, spine, (0x2F, 0x66, 0xB8))
    label = mask(w, h)
    ImageDraw.Draw(label).rounded_rectangle(sbox(6.5, 3, 11.5, 7), radius=s(0.7), fill=255)
    fill(c, label, (0xFF, 0xFF, 0xFF))
    line = mask(w, h)
    ImageDraw.Draw(line).rectangle(sbox(7.5, 4.6, 10.5, 5.4), fill=255)
    fill(c, line, (0x7F, 0xA6, 0xE0))
    rings = mask(w, h)
    rd = ImageDraw.Draw(rings)
    for y in (3, 7, 11):
        capsule(rd, s(1.0), s(y), s(4.2), s(y), s(1.4))
    fill(c, rings, (0x9A, 0xA3, 0xB5))
    return reduce(c, w, h)


def icon_bubble():
    """223: the microblog, a speech bubble with three dots."""
    w, h = 15, 14
    c = big(w, h)
    bubble = mask(w, h)
    bd = ImageDraw.Draw(bubble)
    bd.rounded_rectangle(sbox(0.5, 0.5, 14.5, 10.5), radius=s(3.2), fill=255)
    bd.polygon([(s(3.0), s(9.5)), (s(7.0), s(9.5)), (s(2.6), s(13.8))], fill=255)
    outlined(c, bubble, (0x52, 0xB9, 0xEC), (0x1F, 0x80, 0xC0))
    dots = mask(w, h)
    dd = ImageDraw.Draw(dots)
    for x in (4.5, 7.5, 10.5):
        dd.ellipse((s(x - 1.1), s(5.5 - 1.1), s(x + 1.1), s(5.5 + 1.1)), fill=255)
    fill(c, dots, (0xFF, 0xFF, 0xFF))
    return reduce(c, w, h)


def text_button(text, top, bottom, border, text_colour, shadow_alpha):
    """216 / 217: a 68 x 24 rounded button with centred lettering."""
    w, h = 68, 24
    c = big(w, h)
    shape = mask(w, h)
    ImageDraw.Draw(shape).rounded_rectangle(sbox(0, 0, w, h), radius=s(5), fill=255)
    fill(c, shape, border)
    inner = erode(shape, 1.0)
    fill(c, inner, vertical_gradient(c.size, top, bottom, s(1), s(h - 1)))
    # A thin light line under the top edge, as if light fell from above.
    gloss = mask(w, h)
    ImageDraw.Draw(gloss).rectangle(sbox(0, 1, w, 2), fill=255)
    fill(c, ImageChops.multiply(gloss, inner).point(lambda v: v * 90 // 255), (255, 255, 255))
    img = reduce(c, w, h)
    font = ImageFont.truetype(FONT_GOTHIC, 14)
    x, y = centred_text_origin(font, text, w, h)
    img.alpha_composite(lettering(w, h, text, font, round(x), round(y), text_colour, shadow_alpha))
    return img


def title_logo():
    """201: "Zarumatekit" in white, for the dark frame."""
    w, h = 63, 12
    font = ImageFont.truetype(FONT_LOGO, 11)
    return lettering(w, h, "Zarumatekit", font, 0, 0, (255, 255, 255), 150, spacing=0.975)


def profile_title():
    """225: the popup's title, プロフィール in white, for the dark frame."""
    w, h = 77, 12
    font = ImageFont.truetype(FONT_GOTHIC, 12)
    return lettering(w, h, "プロフィール", font, 0, 0, (255, 255, 255), 150, embolden=0.5)


# ----------------------------------------------------------------- the program icon


def program_icon(size):
    """A violet disc with a friend's round silhouette and a red 'found' badge."""
    scale = max(SCALE, 1024 // size) if size < 128 else 4
    n = size * scale
    c = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    cx = cy = n / 2
    r = n / 2
    fill(c, circle_mask(c.size, cx, cy, r), VIOLET_RIM)
    rim = max(n * 0.035, scale)
    inner = circle_mask(c.size, cx, cy, r - rim)
    grad = Image.new("RGBA", (n, n))
    gd = ImageDraw.Draw(grad)
    top, bottom = (0xB3, 0x8D, 0xF0), (0x66, 0x3C, 0xB2)
    for i in range(2 * n):
        t = i / (2 * n - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        gd.line((i, 0, 0, i), fill=colour + (255,))
    fill(c, inner, grad)
    person = Image.new("L", c.size, 0)
    pd = ImageDraw.Draw(person)
    head_r = n * 0.17
    pd.ellipse((cx - head_r, n * 0.40 - head_r, cx + head_r, n * 0.40 + head_r), fill=255)
    pd.ellipse((cx - n * 0.31, n * 0.63, cx + n * 0.31, n * 1.12), fill=255)
    fill(c, ImageChops.multiply(person, inner), (0xFF, 0xFF, 0xFF))
    # The badge: white ring, red dot.
    bx, by = n * 0.79, n * 0.21
    fill(c, circle_mask(c.size, bx, by, n * 0.19), (0xFF, 0xFF, 0xFF))
    dot = circle_mask(c.size, bx, by, n * 0.19 - max(n * 0.045, scale))
    fill(c, dot, vertical_gradient(c.size, RED_TOP, RED_BOTTOM, round(by - n * 0.15), round(by + n * 0.15)))
    return c.resize((size, size), Image.BOX)


# ----------------------------------------------------------------- output


def skin_images():
    return {
        201: title_logo(),
        202: round_button(16, RED_TOP, RED_BOTTOM, RED_RIM, cross),
        203: round_button(24, RED_TOP, RED_BOTTOM, RED_RIM, cross),
        204: round_button(16, VIOLET_TOP, VIOLET_BOTTOM, VIOLET_RIM, bar),
        205: round_button(24, VIOLET_TOP, VIOLET_BOTTOM, VIOLET_RIM, bar),
        206: scroll_arrow(True),
        207: scroll_arrow(False),
        210: dotted_separator(),
        211: frame_texture(),
        213: icon_house(),
        216: text_button("削除", (0xF0, 0x62, 0x54), (0xC6, 0x32, 0x28), (0x9A, 0x22, 0x1A), WHITE, 90),
        217: text_button("閉じる", (0xFA, 0xFA, 0xFA), (0xD8, 0xD8, 0xD8), (0xA0, 0xA0, 0xA0), (0x33,) * 3, 0),
        219: icon_sprout(),
        222: icon_notebook(),
        223: icon_bubble(),
        225: profile_title(),
    }


def tile(img, w, h):
    out = Image.new("RGBA", (w, h))
    for y in range(0, h, img.height):
        for x in range(0, w, img.width):
            out.paste(img, (x, y))
    return out


def mock_window(images, icon):
    """A main window and a popup as the program paints them, to judge the skin whole."""
    w, h = 240, 150
    win = tile(images[211], w, h)
    win.alpha_composite(images[201], (16, 8))
    for i, (small, large) in enumerate(((202, 203), (204, 205))):
        img = images[small] if i else images[large]
        cx = w - 16 - 23 * i
        win.alpha_composite(img, (cx - img.width // 2, 14 - img.height // 2))
    inner = (5, 27, w - 5, h - 16)
    ImageDraw.Draw(win).rectangle((inner[0], inner[1], inner[2] - 1, inner[3] - 1), fill=(255, 255, 255, 255))
    win.alpha_composite(images[206], (inner[2] - 6 - 11, inner[1] + 6))
    win.alpha_composite(images[207], (inner[2] - 6 - 11, inner[3] - 6 - 7))
    for row in range(2):
        y = inner[1] + 45 * row
        win.paste(tile(images[210], inner[2] - 30 - inner[0], 1), (inner[0], y + 44))
        win.alpha_composite(icon.resize((38, 38), Image.BOX), (inner[0] + 4, y + 3))
        for k, image_id in enumerate((213, 219, 222, 223)):
            win.alpha_composite(images[image_id], (inner[0] + 46 + 19 * k, y + 45 - 5 - 14))
    popup = tile(images[211], 170, 70)
    popup.alpha_composite(images[225], (16, 8))
    popup.alpha_composite(images[202], (170 - 16 - 8, 14 - 8))
    ImageDraw.Draw(popup).rectangle((5, 27, 164, 53), fill=(255, 255, 255, 255))
    popup.alpha_composite(images[216], (12, 28))
    popup.alpha_composite(images[217], (88, 28))
    out = Image.new("RGBA", (w + 180, h), (0xE8, 0xE8, 0xE8, 255))
    out.alpha_composite(win, (0, 0))
    out.alpha_composite(popup, (w + 6, 0))
    return out


def checker(w, h, cell=4):
    img = Image.new("RGBA", (w, h), (0xCC, 0xCC, 0xCC, 255))
    d = ImageDraw.Draw(img)
    for y in range(0, h, cell):
        for x in range(0, w, cell):
            if (x // cell + y // cell) % 2:
                d.rectangle((x, y, x + cell - 1, y + cell - 1), fill=(0xF4, 0xF4, 0xF4, 255))
    return img


def contact_sheet(images, icons, path):
    zoom = 8
    rows = []
    for image_id, img in images.items():
        dark = image_id in (201, 202, 203, 204, 205, 211, 225)
        back = tile(images[211], img.width, img.height) if dark else Image.new("RGBA", img.size, WHITE + (255,))
        on_back = back.copy()
        on_back.alpha_composite(img)
        on_checker = checker(img.width * zoom, img.height * zoom)
        on_checker.alpha_composite(img.resize((img.width * zoom, img.height * zoom), Image.NEAREST))
        enlarged = on_back.resize((img.width * zoom, img.height * zoom), Image.NEAREST)
        rows.append((image_id, enlarged, on_checker, on_back))
    width = 40 + 2 * max(r[1].width for r in rows) + 30 + 100
    height = sum(r[1].height + 8 for r in rows)
    mock = mock_window(images, icons[64])
    icon_strip_h = 256 + 8
    size = (max(width, mock.width * 3), height + icon_strip_h + mock.height * 3 + 16)
    sheet = Image.new("RGBA", size, (0xE8, 0xE8, 0xE8, 255))
    d = ImageDraw.Draw(sheet)
    y = 0
    for image_id, enlarged, on_checker, natural in rows:
        d.text((4, y + 2), str(image_id), fill=(0, 0, 0, 255))
        sheet.alpha_composite(enlarged, (40, y))
        sheet.alpha_composite(on_checker, (50 + enlarged.width, y))
        sheet.alpha_composite(natural, (60 + 2 * enlarged.width, y))
        y += enlarged.height + 8
    x = 4
    for size in ICON_SIZES:
        sheet.alpha_composite(icons[size], (x, y))
        x += size + 8
    y += icon_strip_h
    sheet.alpha_composite(mock.resize((mock.width * 3, mock.height * 3), Image.NEAREST), (0, y))
    sheet.save(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sheet", help="also write an enlarged contact sheet to this PNG file")
    args = parser.parse_args()
    images = skin_images()
    for image_id, img in images.items():
        img.save(os.path.join(IMAGES_DIR, "%d.png" % image_id), optimize=True)
    os.makedirs(ICONS_DIR, exist_ok=True)
    icons = {size: program_icon(size) for size in ICON_SIZES}
    for size, img in icons.items():
        img.save(os.path.join(ICONS_DIR, "zarumatekit-%d.png" % size), optimize=True)
    if args.sheet:
        contact_sheet(images, icons, args.sheet)
    return 0


if __name__ == "__main__":
    sys.exit(main())
