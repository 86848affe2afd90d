#!/usr/bin/env python3
"""Draws the installer's pictures (background, bar, buttons, cursor, icon) into this folder.

The window's geometry (size, the bar's place and size, the buttons') is read from recursos.h,
the header the installer is built with. Only the standard library and ImageMagick's `convert`
(text rasterising) are needed. Fixed seeds and hand-written BMP/ICO/CUR encoders make every
run produce the same bytes, and the program ends with a check of what it wrote: sizes, format
and the track/button geometry the installer relies on.
"""
import math
import os
import random
import re
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def read_header(path):
    """The header's plain numeric #defines, name -> value."""
    values = {}
    with open(path) as f:
        for line in f:
            m = re.match(r'#define (\w+) (\d+)\s*$', line)
            if m:
                values[m.group(1)] = int(m.group(2))
    return values


HEADER = read_header(os.path.join(HERE, 'recursos.h'))


def geometry(name):
    if name not in HEADER:
        sys.exit(f'recursos.h has no number {name}')
    return HEADER[name]


W, H = geometry('ANCHO_VENTANA'), geometry('ALTO_VENTANA')
BAR_X, BAR_Y = geometry('BARRA_X'), geometry('BARRA_Y')
BWID, BHGT = geometry('BARRA_ANCHO'), geometry('BARRA_ALTO')
TRACK = (BAR_X, BAR_Y, BAR_X + BWID - 1, BAR_Y + BHGT - 1)   # inside of the progress track, inclusive
BW, BH = geometry('BOTON_ANCHO'), geometry('BOTON_ALTO')
BUTTONS = [(geometry('INSTALAR_X'), geometry('BOTON_Y')), (geometry('SALIR_X'), geometry('BOTON_Y'))]
tx0, ty0, tx1, ty1 = TRACK


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v

def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))

def hexc(s):
    return tuple(int(s[i:i + 2], 16) for i in (1, 3, 5))

# ---------- encoders ----------

def bmp24(path, w, h, px):
    """px: row-major list of (r, g, b) floats/ints, top row first."""
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[y * w + x]
            row += bytes((int(round(clamp(b, 0, 255))), int(round(clamp(g, 0, 255))),
                          int(round(clamp(r, 0, 255)))))
        row += b'\0' * (stride - len(row))
        body += row
    head = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(head + info + body)

def dib32(w, h, px):
    """Icon/cursor image: BITMAPINFOHEADER (double height), BGRA bottom-up, AND mask.
    px: list of (r, g, b, a) ints, top row first."""
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[y * w + x]
            xor += bytes((b, g, r, a))
    mstride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mstride)
        for x in range(w):
            if px[y * w + x][3] == 0:      # transparent pixels keep the screen
                row[x >> 3] |= 0x80 >> (x & 7)
        mask += row
    info = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask

def write_dir(path, kind, images):
    """kind 1 = icon, 2 = cursor; images: list of (w, h, data, field4, field6)."""
    out = struct.pack('<HHH', 0, kind, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for w, h, data, f4, f6 in images:
        entries += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, f4, f6, len(data), offset)
        offset += len(data)
        blobs += data
    with open(path, 'wb') as f:
        f.write(out + entries + blobs)

# ---------- text via ImageMagick (coverage only) ----------

def text_mask(text, font, size, kerning=0.0):
    """Returns (w, h, coverage list, bbox) for text rendered on a roomy canvas."""
    cw, ch = int(size * len(text) * 1.1) + 40, int(size * 2) + 20
    cmd = ['convert', '-size', f'{cw}x{ch}', 'xc:black', '-font', font, '-pointsize', str(size),
           '-kerning', str(kerning), '-fill', 'white', '-annotate', f'+20+{int(size * 1.4)}', text,
           '-depth', '8', 'gray:-']
    raw = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
    cov = [v / 255.0 for v in raw]
    xs = [i % cw for i, v in enumerate(cov) if v > 0]
    ys = [i // cw for i, v in enumerate(cov) if v > 0]
    return cw, ch, cov, (min(xs), min(ys), max(xs), max(ys))

def place(mask, ox, oy, w, h):
    """Moves a text mask so that its ink bbox's top-left lands on (ox, oy) of a w x h layer."""
    cw, ch, cov, (x0, y0, x1, y1) = mask
    out = [0.0] * (w * h)
    for y in range(y0, y1 + 1):
        ty = y - y0 + oy
        if 0 <= ty < h:
            for x in range(x0, x1 + 1):
                tx = x - x0 + ox
                if 0 <= tx < w:
                    out[ty * w + tx] = cov[y * cw + x]
    return out

# ---------- shapes (signed distance, 1 px antialiasing) ----------

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    l2 = dx * dx + dy * dy
    t = clamp(((px - ax) * dx + (py - ay) * dy) / l2) if l2 else 0.0
    ex, ey = px - ax - t * dx, py - ay - t * dy
    return math.hypot(ex, ey), t

def bezier(p0, p1, p2, p3, n):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0],
                    u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]))
    return pts

def stroke(cov, w, h, pts, radii):
    """Tapered stroke along a polyline; radius interpolated per point; max-combined into cov."""
    for i in range(len(pts) - 1):
        (ax, ay), (bx, by) = pts[i], pts[i + 1]
        ra, rb = radii[i], radii[i + 1]
        r = max(ra, rb) + 1
        for y in range(max(0, int(min(ay, by) - r)), min(h, int(max(ay, by) + r) + 2)):
            for x in range(max(0, int(min(ax, bx) - r)), min(w, int(max(ax, bx) + r) + 2)):
                d, t = seg_dist(x + 0.5, y + 0.5, ax, ay, bx, by)
                c = clamp(0.5 - (d - (ra + (rb - ra) * t)))
                if c > cov[y * w + x]:
                    cov[y * w + x] = c

def disc(cov, w, h, cx, cy, rad):
    for y in range(max(0, int(cy - rad - 2)), min(h, int(cy + rad + 3))):
        for x in range(max(0, int(cx - rad - 2)), min(w, int(cx + rad + 3))):
            c = clamp(0.5 - (math.hypot(x + 0.5 - cx, y + 0.5 - cy) - rad))
            if c > cov[y * w + x]:
                cov[y * w + x] = c

# ---------- value noise ----------

def value_noise(w, h, cell, rng):
    gw, gh = w // cell + 2, h // cell + 2
    g = [rng.random() for _ in range(gw * gh)]
    out = []
    for y in range(h):
        fy = y / cell
        iy = int(fy)
        ty = fy - iy
        ty = ty * ty * (3 - 2 * ty)
        for x in range(w):
            fx = x / cell
            ix = int(fx)
            tx = fx - ix
            tx = tx * tx * (3 - 2 * tx)
            a = g[iy * gw + ix] + (g[iy * gw + ix + 1] - g[iy * gw + ix]) * tx
            b = g[(iy + 1) * gw + ix] + (g[(iy + 1) * gw + ix + 1] - g[(iy + 1) * gw + ix]) * tx
            out.append(a + (b - a) * ty)
    return out

# ================= background =================

def background():
    """Draws fondo.bmp; returns the lettering pixels that dip into the track, which the bar
    repeats."""
    rng = random.Random(1907)
    octaves = [(48, 0.45), (19, 0.30), (7, 0.17), (3, 0.08)]
    noise = [0.0] * (W * H)
    for cell, wgt in octaves:
        for i, v in enumerate(value_noise(W, H, cell, rng)):
            noise[i] += v * wgt
    blot = value_noise(W, H, 31, rng)

    PALE, DARK = (238, 222, 184), (205, 178, 128)
    parch = []
    for y in range(H):
        for x in range(W):
            i = y * W + x
            # aged edges: darker towards the border, mostly in the corners
            ex = min(x, W - 1 - x) / 40.0
            ey = min(y, H - 1 - y) / 30.0
            edge = (1 - clamp(ex)) ** 2 * 0.5 + (1 - clamp(ey)) ** 2 * 0.5
            t = clamp((noise[i] - 0.3) * 1.1 + edge * 0.55)
            c = mix(PALE, DARK, t)
            if blot[i] > 0.72:                   # faint stains
                c = mix(c, (190, 158, 108), (blot[i] - 0.72) * 0.9)
            grain = rng.random() * 6 - 3
            parch.append((c[0] + grain, c[1] + grain, c[2] + grain * 0.8))

    base = list(parch)
    FRAME = hexc('#3b2410')
    for y in range(H):
        for x in range(W):
            if x < 2 or y < 2 or x >= W - 2 or y >= H - 2:
                base[y * W + x] = FRAME
    for y in range(ty0 - 1, ty1 + 2):
        for x in range(tx0 - 1, tx1 + 2):
            inside = tx0 <= x <= tx1 and ty0 <= y <= ty1
            base[y * W + x] = hexc('#3a3a3a') if inside else (0, 0, 0)

    # ---- title layer: lettering, swash and clasp; kept separate so the bar can repeat it ----
    INK = hexc('#3a2010')
    GOLD_HI, GOLD_LO = hexc('#f0cc6a'), hexc('#a8721e')

    title = text_mask('Brumaria', 'DejaVu-Serif-Bold-Italic', 46)
    _, _, _, (bx0, by0, bx1, by1) = title
    tw = bx1 - bx0 + 1
    ink = place(title, W // 2 - tw // 2, 9, W, H)

    # swash under the word, mirrored about the window's centre; each end rolls up into a spiral and a dot
    swash = [0.0] * (W * H)
    SPX, SPY, SPR = 307.0, 53.0, 5.5
    right = bezier((206, 64.5), (240, 65.5), (268, SPY + SPR), (SPX, SPY + SPR), 70)
    turn = 1.3 * math.pi
    for k in range(1, 61):
        t = k / 60
        ang, r = math.pi / 2 - turn * t, SPR - 3.0 * t
        right.append((SPX + r * math.cos(ang), SPY + r * math.sin(ang)))
    n = len(right)
    radii = [0.45 + 1.35 * (1 - k / (n - 1)) ** 1.2 for k in range(n)]
    stroke(swash, W, H, right, radii)
    stroke(swash, W, H, [(W - px, py) for px, py in right], radii)
    ex, ey = right[-1]
    for cx in (ex, W - ex):
        disc(swash, W, H, cx, ey, 1.3)

    # clasp: a lozenge sitting on the track's top edge, dipping into the bar
    CX, CY, CA, CB = W / 2, BAR_Y - 4.5, 10.0, 8.0
    def lozenge(px, py, grow):
        a, b = CA + grow, CB + grow
        return (abs(px - CX) / a + abs(py - CY) / b - 1) * (a * b / math.hypot(a, b))
    clasp_ink, clasp_gold = [0.0] * (W * H), [0.0] * (W * H)
    for y in range(int(CY - CB - 3), int(CY + CB + 3)):
        for x in range(int(CX - CA - 3), int(CX + CA + 3)):
            clasp_ink[y * W + x] = clamp(0.5 - lozenge(x + 0.5, y + 0.5, 1.0))
            clasp_gold[y * W + x] = clamp(0.5 - lozenge(x + 0.5, y + 0.5, 0.0))

    # premultiplied RGBA layer
    layer = [(0.0, 0.0, 0.0, 0.0)] * (W * H)
    def over(dst, col, a):
        r, g, b, da = dst
        return (col[0] * a + r * (1 - a), col[1] * a + g * (1 - a), col[2] * a + b * (1 - a), a + da * (1 - a))

    for y in range(H):
        for x in range(W):
            i = y * W + x
            px = layer[i]
            # soft shadow down-right of the letters, kept off the track so its frame stays black
            if x >= 1 and y >= 2 and not (tx0 - 1 <= x <= tx1 + 1 and ty0 - 1 <= y <= ty1 + 1):
                s = max(ink[i - 2 * W - 1] * 0.28, swash[i - 2 * W - 1] * 0.14)
                if s:
                    px = over(px, (90, 60, 30), s)
            a = max(ink[i], swash[i], clasp_ink[i])
            if a:
                # ink a little warmer towards the bottom of the letters
                px = over(px, mix(INK, (92, 46, 18), clamp((y - 12) / 45.0) * 0.6), a)
            if clasp_gold[i]:
                g = mix(GOLD_HI, GOLD_LO, clamp((y - (CY - CB)) / (2 * CB)))
                # facet: the upper-left half catches the light
                if (x + 0.5 - CX) / CA + (y + 0.5 - CY) / CB < 0:
                    g = mix(g, (255, 240, 190), 0.35)
                px = over(px, g, clasp_gold[i])
            layer[i] = px

    def in_track(x, y):
        return tx0 <= x <= tx1 and ty0 <= y <= ty1

    fondo = []
    dip = {}   # lettering pixels inside the track, copied verbatim into the bar
    for y in range(H):
        for x in range(W):
            i = y * W + x
            r, g, b, a = layer[i]
            if in_track(x, y):
                # no partial coverage here: the same pixel must sit on grey and on blue alike
                if a >= 0.5:
                    c = (round(r / a), round(g / a), round(b / a))
                    dip[(x, y)] = c
                    fondo.append(c)
                else:
                    fondo.append(base[i])
            else:
                bg = base[i]
                fondo.append((r + bg[0] * (1 - a), g + bg[1] * (1 - a), b + bg[2] * (1 - a)))

    bmp24('fondo.bmp', W, H, fondo)
    return dip


# ================= bar =================

def bar_picture(dip):
    rng = random.Random(2604)
    TOP, BOT = hexc('#0b1a3a'), hexc('#1d3570')
    haze = value_noise(BWID, BHGT, 23, rng)
    bar = []
    for y in range(BHGT):
        for x in range(BWID):
            c = mix(TOP, BOT, y / (BHGT - 1))
            h = haze[y * BWID + x]
            if h > 0.55:                       # faint violet nebula
                c = mix(c, (60, 52, 120), (h - 0.55) * 0.6)
            bar.append(c)
    bar[0:BWID] = [mix(c, (0, 0, 0), 0.35) for c in bar[0:BWID]]   # top edge in shade

    def add(x, y, col, a):
        if 0 <= x < BWID and 0 <= y < BHGT:
            i = y * BWID + x
            bar[i] = mix(bar[i], col, a)

    STAR_COLS = [(255, 255, 255), (255, 246, 200), (236, 240, 255)]
    stars = []
    while len(stars) < 60:                         # spread out: no two stars closer than 6 px
        x, y = rng.randrange(BWID), rng.randrange(1, BHGT)
        if all((x - sx) ** 2 + (y - sy) ** 2 >= 36 for sx, sy in stars):
            stars.append((x, y))
    for x, y in stars:
        col = STAR_COLS[rng.randrange(3)]
        kind = rng.random()
        if kind < 0.12 and 2 <= y <= BHGT - 3:     # 1 px cross
            add(x, y, col, 1.0)
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                add(x + dx, y + dy, col, 0.7)
        elif kind < 0.4:                           # bright dot with a faint halo
            add(x, y, col, 0.95)
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                add(x + dx, y + dy, col, 0.22)
        else:                                      # distant dot
            add(x, y, col, 0.35 + rng.random() * 0.5)

    for (x, y), c in dip.items():
        bar[(y - ty0) * BWID + (x - tx0)] = c

    bmp24('barra.bmp', BWID, BHGT, bar)


# ================= buttons =================

LIGHT = hexc('#f0e8d0')
def button(label, state, grain_rng):
    px = [None] * (BW * BH)
    mask = text_mask(label, 'DejaVu-Sans-Bold', 12, 0.6)
    _, _, _, (lx0, ly0, lx1, ly1) = mask
    lw, lh = lx1 - lx0 + 1, ly1 - ly0 + 1
    ox, oy = (BW - lw) // 2, (BH - lh) // 2
    if state == 2:
        ox, oy = ox + 1, oy + 1
    txt = place(mask, ox, oy, BW, BH)
    sh = place(mask, ox + 1, oy + 1, BW, BH)
    for y in range(BH):
        for x in range(BW):
            i = y * BW + x
            ring = min(x, y, BW - 1 - x, BH - 1 - y)
            grain = (grain_rng.random() - 0.5) * 10
            if ring < 3:
                stone = (128 + grain, 124 + grain, 116 + grain)
                k = ring
                tl = (y == k and x < BW - 1 - k) or (x == k and y < BH - 1 - k)
                if ring == 1:
                    c = stone
                else:
                    raised = (ring == 0) == (state != 2)
                    lit = tl == raised
                    c = mix(stone, (236, 232, 222) if lit else (40, 37, 33), 0.85 if ring == 0 else 0.6)
                if ring == 0 and (x in (0, BW - 1)) and (y in (0, BH - 1)):
                    c = mix(c, (60, 56, 50), 0.5)   # rounded feel at the corners
                px[i] = c
                continue
            plate = hexc('#2a2018') if state != 2 else hexc('#1e1710')
            py = (y - 3) / (BH - 7)
            c = mix(plate, (0, 0, 0), py * 0.25)
            if state == 1:
                dx, dy = (x - BW / 2 + 0.5) / 40.0, (y - BH / 2 + 0.5) / 13.0
                c = mix(c, (150, 108, 58), clamp(1 - dx * dx - dy * dy) ** 1.6 * 0.75)
            c = (c[0] + grain * 0.3, c[1] + grain * 0.3, c[2] + grain * 0.3)
            if state == 2:
                # engraved: light rim below-right, dark letters on top
                c = mix(c, (124, 100, 70), sh[i])
                c = mix(c, (10, 7, 4), txt[i])
            else:
                c = mix(c, (0, 0, 0), sh[i] * 0.7)
                c = mix(c, (255, 250, 232) if state == 1 else LIGHT, txt[i])
            px[i] = c
    return px


def buttons():
    for name, label in (('instalar', 'INSTALAR'), ('salir', 'SALIR')):
        for state in range(3):
            # same seed for every state so the stone grain does not flicker on hover
            bmp24(f'{name}{state}.bmp', BW, BH, button(label, state, random.Random(77)))


# ================= hand cursor =================
# Designed pointing straight up with the fingertip at the origin, then turned 45 degrees
# to point at the top-left corner. Parts are painted back to front, each with a 1 px black
# rim, so overlaps leave the inner contour lines that make the fingers readable.

def sd_capsule(p, a, b, r):
    return seg_dist(p[0], p[1], a[0], a[1], b[0], b[1])[0] - r

def sd_box(p, c, hx, hy, r):
    qx, qy = abs(p[0] - c[0]) - hx + r, abs(p[1] - c[1]) - hy + r
    return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r

HAND = [   # back to front
    lambda p: sd_box(p, (6.2, 22.0), 9.0, 6.5, 3.5),            # palm
    lambda p: sd_capsule(p, (14.3, 15.8), (14.3, 18.0), 2.1),   # little finger knuckle
    lambda p: sd_capsule(p, (10.0, 14.2), (10.0, 17.0), 2.4),   # ring finger knuckle
    lambda p: sd_capsule(p, (5.2, 13.2), (5.2, 17.0), 2.5),     # middle finger knuckle
    lambda p: sd_capsule(p, (-6.2, 16.5), (-1.5, 22.5), 2.4),   # thumb
    lambda p: sd_capsule(p, (0.0, 2.6), (0.0, 16.0), 2.6),      # index finger
    lambda p: sd_box(p, (6.4, 31.0), 7.8, 2.2, 0.8),            # cuff
]
TIP = (2, 2)
SCALE = 0.82   # hand units per screen pixel; keeps the cuff and knuckles inside 32x32
C45 = math.sqrt(0.5)

def cursor():
    cur = []
    for y in range(32):
        for x in range(32):
            # screen -> hand space (inverse of turning 'up' into 'up-left'); the finger's
            # outermost outline pixel lands on the hot spot
            sx, sy = x - TIP[0] - 0.6 * C45, y - TIP[1] - 0.6 * C45
            p = ((C45 * sx - C45 * sy) / SCALE, (C45 * sx + C45 * sy) / SCALE)
            c = (0, 0, 0, 0)
            for part in HAND:
                d = part(p) * SCALE
                if d <= 0:
                    c = (255, 255, 255, 255)
                elif d <= 1.0:
                    c = (0, 0, 0, 255)
            cur.append(c)
    write_dir('mano.cur', 2, [(32, 32, dib32(32, 32, cur), TIP[0], TIP[1])])


# ================= icon =================

def icon(n):
    ss = 4
    fw = 1 if n == 16 else 2
    out = []
    s = n / 32.0
    stars = [(23.5, 8.5, 1.6), (26.5, 18.0, 1.1), (23.5, 26.0, 1.0), (6.5, 6.5, 0.9)]
    for y in range(n):
        for x in range(n):
            if min(x, y, n - 1 - x, n - 1 - y) < fw:
                edge = min(x, y, n - 1 - x, n - 1 - y)
                lit = (x + y) < n - 1
                g = (200, 200, 206) if lit else (112, 112, 120)
                if fw == 2 and edge == 1:
                    g = (150, 150, 158)
                out.append(g + (255,))
                continue
            col = mix((16, 34, 84), (6, 14, 40), y / n)
            acc = [0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    u = (x + (sx + 0.5) / ss) / s
                    v = (y + (sy + 0.5) / ss) / s
                    c = col
                    # crescent: disc minus a disc shifted up-right
                    if math.hypot(u - 14.0, v - 15.5) < 9.5 and math.hypot(u - 18.2, v - 12.4) > 8.2:
                        c = (252, 250, 240)
                    for zx, zy, zr in stars:
                        zr = max(zr, 0.75 / s)
                        if abs(u - zx) + abs(v - zy) < zr * 1.6 and \
                           (abs(u - zx) < zr * 0.45 or abs(v - zy) < zr * 0.45 or n == 16):
                            c = (255, 244, 196)
                    acc = [a + b for a, b in zip(acc, c)]
            out.append(tuple(int(round(a / (ss * ss))) for a in acc) + (255,))
    return dib32(n, n, out)


def check():
    """Reads back what was written: sizes, format and the geometry the installer relies on."""
    def load(name):
        d = open(name, 'rb').read()
        off, = struct.unpack_from('<I', d, 10)
        hs, w, h, planes, bpp, comp = struct.unpack_from('<IiiHHI', d, 14)
        assert d[:2] == b'BM' and hs == 40 and h > 0 and bpp == 24 and comp == 0, name
        stride = (w * 3 + 3) & ~3
        def px(x, y):
            o = off + (h - 1 - y) * stride + 3 * x
            return d[o + 2], d[o + 1], d[o]
        return w, h, px
    w, h, f = load('fondo.bmp')
    assert (w, h) == (W, H)
    # the track's black frame around its grey inside
    assert f(tx0 - 1, ty0 - 1) == f(tx1 + 1, ty1 + 1) == f(tx0 - 1, ty1 + 1) == f(tx1 + 1, ty0 - 1) == (0, 0, 0)
    assert f(tx0, ty1) == (0x3a,) * 3 and f(tx1, ty0) == (0x3a,) * 3
    for bx, by in BUTTONS:
        for y in range(by, by + BH):
            for x in range(bx, bx + BW):
                r, g, b = f(x, y)
                assert r > g > b and r >= 170, ('button area not plain parchment', x, y)
    bw, bh, b = load('barra.bmp')
    assert (bw, bh) == (BWID, BHGT)
    dips = [(x, y) for y in range(ty0, ty1 + 1) for x in range(tx0, tx1 + 1) if f(x, y) != (0x3a,) * 3]
    assert dips and all(b(x - tx0, y - ty0) == f(x, y) for x, y in dips)
    for n in ('instalar', 'salir'):
        for s in range(3):
            assert load(f'{n}{s}.bmp')[:2] == (BW, BH)


def main():
    os.chdir(HERE)
    bar_picture(background())
    buttons()
    cursor()
    write_dir('brumaria.ico', 1, [(n, n, icon(n), 1, 32) for n in (16, 32, 48)])
    check()


if __name__ == '__main__':
    main()
