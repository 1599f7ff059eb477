#!/usr/bin/python3
"""Paints the launcher's background: a stone forge settlement at dusk, lit
from within, with its hearth, beacon and chimneys where the launcher paints
its glow, molten strip and smoke.

Usage: background.py [OUTPUT_DIR]   (default: the resources folder)
Writes background.jpg (1120 x 680, baseline JPEG).
"""

import io
import os
import sys

from imaging import (Canvas, Image, blur, fbm, grid, hex_colour, noise_1d, np,
                     over, smoothstep, to_rgb8, write_bytes)
import places

W, H = places.WIDTH, places.HEIGHT
X, Y = grid(W, H)
canvas = Canvas(W, H)

HEARTH_X = places.HEARTH_GLOW_BOX[0] + places.HEARTH_GLOW_BOX[2] / 2
BEACON_X, BEACON_Y = places.BEACON_CENTRE
CHIMNEY_TALL = places.SMOKE_SOURCES[0]
CHIMNEY_FORGE = places.SMOKE_SOURCES[2]

# Ground line of the settlement's terrace, left to right; the hill falls away
# towards the valley on the right.
TERRACE = [(-10, 287), (210, 289), (300, 294), (345, 300), (420, 309), (520, 322),
           (600, 340), (670, 362), (740, 384), (820, 402), (920, 414), (1130, 422)]

FIRE = hex_colour("#ff8a2a")
FIRE_HOT = hex_colour("#ffd27a")
EMBER = hex_colour("#c2410c")
WINDOW_LIGHT = hex_colour("#ffb25a")


SUNSET_RIM = hex_colour("#d0704a")


def terrace_y(x):
    xs, ys = zip(*TERRACE)
    return np.interp(x, xs, ys)


def point_light(x, y, radius, power=1.0, squash=1.0):
    """Falloff of a small light; squash > 1 flattens it into a pool."""
    d2 = ((X - x) ** 2 + ((Y - y) * squash) ** 2) / (radius * radius)
    return power / (1 + d2) ** 1.6


# Cool light from the dusk sky, a little stronger higher up.
AMBIENT = hex_colour("#4a5896") * (0.07 + 0.06 * smoothstep(420, 150, Y))[..., None]
# The two fires that light the settlement's walls.
HEARTH_LIGHT = point_light(HEARTH_X, places.HEARTH_GLOW_BOX[1] + places.HEARTH_GLOW_BOX[3] / 2 + 8,
                           62, 1.6, 1.3)
BEACON_LIGHT = point_light(BEACON_X, BEACON_Y - 2, 34, 1.4)


def lit(albedo, rim=None):
    """A surface lit by the sky, the fires and, where rim is given, the afterglow."""
    light = AMBIENT + (HEARTH_LIGHT[..., None] + BEACON_LIGHT[..., None] * 0.8) * FIRE
    if rim is not None:
        light = light + rim[..., None] * SUNSET_RIM
    return albedo * light


# ---------------------------------------------------------------- sky

SUN_X, SUN_Y = 850.0, 318.0  # where the sun went down, behind the far range


def sky():
    stops = [(0, "#060917"), (70, "#0b1029"), (150, "#1a1a40"), (210, "#35234c"),
             (250, "#5e2c4e"), (285, "#9a4249"), (315, "#c8673f"), (360, "#d9834a")]
    pos = [p for p, _ in stops]
    cols = np.array([hex_colour(c) for _, c in stops])
    img = np.stack([np.interp(Y, pos, cols[:, k]) for k in range(3)], axis=-1)

    # The afterglow: warm and wide over where the sun set, falling off
    # towards the cooler left of the sky.
    d = np.hypot(X - SUN_X, (Y - SUN_Y) * 2.2)
    warm = np.exp(-(d / 300.0) ** 2)
    cool = smoothstep(700, -100, X) * smoothstep(330, 150, Y)
    img = img * (1 - 0.35 * cool)[..., None] + hex_colour("#141a3c") * (0.35 * cool)[..., None]
    img += warm[..., None] * hex_colour("#ff8a4a") * 0.35
    img += np.exp(-(d / 110.0) ** 2)[..., None] * hex_colour("#ffc27a") * 0.3

    # Long stratus bands: violet-grey bodies whose undersides catch the
    # afterglow, rose and gold near the sun.
    n = fbm(W, H, 320, 22, 5, seed=11) + 0.06 * np.sin(X / 210.0 + 1.0)
    band = smoothstep(50, 130, Y) * (1 - smoothstep(215, 275, Y))
    density = smoothstep(0.04, 0.2, n) * band
    density = blur(density, 1.0)
    underside = np.clip(density - np.roll(density, -4, axis=0), 0, 1)  # thinning downwards
    near_sun = np.exp(-(np.hypot(X - SUN_X, (Y - SUN_Y) * 1.5) / 430.0) ** 2)
    body = (hex_colour("#2b2140") * (1 - near_sun)[..., None]
            + hex_colour("#7a3e52") * near_sun[..., None])
    cloud_col = body + hex_colour("#ffa070") * (underside * 3.0 * (0.25 + near_sun))[..., None]
    img = over(img, cloud_col, density * 0.9)

    # A thin crescent moon high on the right, with a faint halo.
    mx, my, mr = 958.0, 92.0, 11.0
    disc = canvas.ellipses([(mx - mr, my - mr, mx + mr, my + mr)])
    bite = canvas.ellipses([(mx - mr + 6, my - mr - 3, mx + mr + 6, my + mr - 3)])
    crescent = np.clip(disc - bite, 0, 1)
    halo = np.exp(-(np.hypot(X - mx, Y - my) / 46.0) ** 2)
    img += halo[..., None] * hex_colour("#9aa6d8") * 0.05
    img = over(img, hex_colour("#f3e6c8"), crescent * 0.95)

    # A few of the brightest stars in the darkest part of the sky.
    rng = np.random.RandomState(5)
    stars = np.zeros((H, W))
    for _ in range(40):
        x = rng.rand() * W
        y = rng.rand() ** 1.6 * 170
        b = rng.rand() ** 3
        stars[int(y), int(x)] += 0.25 + 0.75 * b
    stars = blur(stars, 0.6) * 2.2 * (1 - smoothstep(80, 190, Y)) * (1 - density)
    img += stars[..., None] * hex_colour("#cdd6ff") * 0.22
    return img


# ---------------------------------------------------------------- mountains

def ridge_line(base, amplitude, cell, seed, sharp):
    xs = np.arange(-8, W + 10, 1.0)
    n = noise_1d(len(xs), cell, 7, seed, gain=0.48)
    if sharp:
        n = 0.5 - np.abs(n) * 2.0  # creased crests
    return xs, base(xs) - amplitude * (n + 0.5)


def mountains(img):
    sky_behind = img.copy()
    sun = np.exp(-((X - SUN_X) / 300) ** 2)

    layers = [
        # crest base line, amplitude, cell, seed, sharp, colour, haze
        (lambda x: 266 - 34 * np.exp(-((x - 520) / 190) ** 2) + 24 * np.exp(-((x - SUN_X) / 110) ** 2),
         62, 140, 3, True, "#3a2440", 0.62),
        (lambda x: 302 - 26 * np.exp(-((x - 1040) / 150) ** 2) - 12 * np.exp(-((x - 640) / 110) ** 2)
         + 12 * np.exp(-((x - SUN_X) / 100) ** 2),
         40, 85, 8, True, "#241828", 0.38),
        (lambda x: 338 + 0 * x, 20, 70, 21, False, "#171018", 0.2),
    ]
    for i, (base, amp, cell, seed, sharp, colour, haze) in enumerate(layers):
        xs, ys = ridge_line(base, amp, cell, seed, sharp)
        mask = canvas.polygons([list(zip(xs, ys)) + [(W + 10, H + 10), (-8, H + 10)]])
        crest = np.interp(X[0], xs, ys)
        depth = Y - crest[None, :]  # pixels below this layer's crest
        body = hex_colour(colour)[None, None, :] * np.ones((H, W, 1))
        # Slopes that face the afterglow catch light just under the crest.
        # The slope is smoothed so neighbouring columns don't shade apart
        # into streaks.
        slope = blur(np.gradient(crest)[None, :].repeat(3, axis=0), 4.0)[1][None, :]
        facing = np.clip(slope * 1.1, 0, 1) * np.exp(-depth / (10 + 6 * i))
        body = body + (facing * sun * (0.3 - 0.08 * i))[..., None] * hex_colour("#e0805a")
        body = body * (1 + 0.14 * fbm(W, H, 60, 36, 4, seed=50 + i))[..., None]
        # Atmospheric perspective: a distant range melts into the sky behind
        # it, most of all towards its foot where the valley mist lies, yet
        # always stays a little darker than that sky.
        veil = np.clip(haze + smoothstep(6, 80, depth) * haze * 0.45, 0, 0.9)
        body = body * (1 - veil[..., None]) + sky_behind * 0.78 * veil[..., None]
        img = over(img, body, mask)

    # Valley mist, lit warm from below by the sunken sun and the hamlets.
    mist = np.exp(-((Y - 352) / 22.0) ** 2) * smoothstep(360, 760, X)
    mist *= 1 + 0.4 * fbm(W, H, 220, 18, 3, seed=61)
    img += mist[..., None] * hex_colour("#8a4f48") * 0.16

    # Far hamlets in the valley: clusters of tiny warm lights with soft halos.
    rng = np.random.RandomState(17)
    lights = np.zeros((H, W))
    for cx, cy, n in [(705, 352, 6), (812, 360, 9), (948, 352, 5), (1046, 366, 7)]:
        for _ in range(n):
            x = cx + rng.randn() * 12
            y = cy + rng.randn() * 3
            lights[int(y), int(x)] += 0.35 + 0.65 * rng.rand()
    img += (blur(lights, 0.6) * 1.4)[..., None] * WINDOW_LIGHT
    img += (blur(lights, 7.0) * 12.0)[..., None] * hex_colour("#ff8a3a") * 0.35
    return img


# ---------------------------------------------------------------- stonework

def stone_albedo(seed, course=8.0, block=17.0, base="#3a332e", vary=0.22, joints=0.45):
    """Coursed ashlar: staggered blocks of varying tone with darker joints."""
    row = np.floor(Y / course)
    offset = (row % 2) * block * 0.5 + (row * 7.31 % 5)
    col = np.floor((X + offset) / block)
    h = np.sin(row * 12.9898 + col * 78.233 + seed) * 43758.5453
    tone = 1 + vary * ((h - np.floor(h)) - 0.5) * 2
    fy = Y / course - row
    fx = (X + offset) / block - col
    joint = np.minimum(smoothstep(0.0, 0.12, fy) * smoothstep(0.0, 0.12, 1 - fy),
                       smoothstep(0.0, 0.06, fx) * smoothstep(0.0, 0.06, 1 - fx))
    grain = 1 + 0.12 * fbm(W, H, 6, 6, 2, seed=int(seed) + 300)
    return hex_colour(base) * (tone * (1 - joints + joints * joint) * grain)[..., None]


# ---------------------------------------------------------------- settlement

def houses(img):
    # Houses down the slope to the right of the tower.
    houses = [
        # x0, x1, eave, ridge, ground
        (348, 408, 240, 216, 304),
        (418, 500, 257, 232, 316),
        (508, 566, 276, 255, 330),
        (574, 622, 300, 284, 346),
    ]
    for k, (x0, x1, eave, ridge, ground) in enumerate(houses):
        wall = [(x0, eave), (x1, eave), (x1, ground), (x0, ground)]
        mx = (x0 + x1) / 2
        roof = [(x0 - 5, eave + 2), (mx, ridge), (x1 + 5, eave + 2)]
        wall_mask = canvas.polygons([wall])
        roof_mask = canvas.polygons([roof])
        rim = smoothstep(x1 - 5, x1, X) * 0.35 * (1 - smoothstep(eave, ground, Y))
        img = over(img, lit(stone_albedo(20.0 + k, course=6.0, block=13.0,
                                         base="#2c2622"), rim=rim), wall_mask)
        roof_alb = hex_colour("#1c1718") * (1 + 0.25 * np.sin(Y * 1.9))[..., None]
        roof_rim = np.exp(-np.abs(Y - (ridge + np.abs(X - mx) * (eave - ridge) / (x1 - x0) * 2)) / 1.8)
        img = over(img, lit(roof_alb, rim=roof_rim * 0.5 * smoothstep(mx - 10, x1, X)), roof_mask)
        # Lit windows.
        rng = np.random.RandomState(100 + k)
        n_win = 2 if x1 - x0 > 55 else 1
        for j in range(n_win):
            wx = x0 + (j + 1) * (x1 - x0) / (n_win + 1) + (rng.rand() - 0.5) * 6
            wy = eave + 10 + rng.rand() * 8
            img = window(img, wx, wy, 6, 8, 0.7 + 0.3 * rng.rand())
    return img


def smelter(img):
    # Tall chimney, its mouth at the first smoke source.
    cx, cy = CHIMNEY_TALL
    chimney = [(cx - 10, cy + 5), (cx + 10, cy + 5), (cx + 16, 296), (cx - 16, 296)]
    cap = [(cx - 12.5, cy), (cx + 12.5, cy), (cx + 12.5, cy + 6), (cx - 12.5, cy + 6)]
    band = [(cx - 12.5, cy + 40), (cx + 12.5, cy + 40), (cx + 13, cy + 44), (cx - 13, cy + 44)]
    rim = smoothstep(cx + 4, cx + 14, X) * 0.45 * np.exp(-(Y - cy) / 160)
    brick = stone_albedo(31.0, course=5.0, block=10.0, base="#3b2a24", vary=0.3)
    img = over(img, lit(brick, rim=rim), canvas.polygons([chimney]))
    img = over(img, lit(hex_colour("#231c1a") * np.ones((H, W, 1)), rim=rim * 1.5),
               canvas.polygons([cap, band]))
    # Heat shimmering out of the mouth.
    img += (np.exp(-(((X - cx) / 9) ** 2 + ((Y - cy + 1) / 3) ** 2)) * 0.07)[..., None] * FIRE

    # Smelter hall between the forge and the tower.
    hall = [(196, 226), (300, 212), (300, 296), (196, 292)]
    hall_roof = [(190, 229), (304, 212), (304, 206), (190, 222)]
    img = over(img, lit(stone_albedo(7.0, base="#2b2521"), rim=smoothstep(290, 300, X) * 0.3),
               canvas.polygons([hall]))
    img = over(img, lit(hex_colour("#1a1516") * np.ones((H, W, 1)),
                        rim=np.exp(-np.abs(Y - (222 - (X - 190) * 16 / 114)) / 2.0) * 0.4),
               canvas.polygons([hall_roof]))
    img = window(img, 226, 246, 7, 10, 0.9)
    return window(img, 272, 240, 7, 10, 0.75)


def tower(img):
    bx = BEACON_X
    tower = [(bx - 15, 198), (bx + 15, 198), (bx + 16, 306), (bx - 16, 306)]
    parapet = [(bx - 18, 190), (bx + 18, 190), (bx + 18, 199), (bx - 18, 199)]
    merlons = []
    for i in range(5):
        x0 = bx - 18 + i * 8
        merlons.append([(x0, 185), (x0 + 4, 185), (x0 + 4, 190), (x0, 190)])
    rim = smoothstep(bx + 8, bx + 16, X) * 0.4
    img = over(img, lit(stone_albedo(41.0, course=6.0, block=12.0), rim=rim),
               canvas.polygons([tower]))
    img = over(img, lit(stone_albedo(43.0, course=4.5, block=9.0, base="#443a33"), rim=rim),
               canvas.polygons([parapet]))
    img = window(img, bx, 236, 4, 9, 0.8)
    img = window(img, bx - 6, 272, 4, 8, 0.5)
    return beacon(img, merlons, rim)


def hillside(img):
    """The terrace the settlement stands on and the hill falling to the valley."""
    hx = HEARTH_X
    gy = terrace_y(X[0])[None, :]
    below = Y - gy
    ground_mask = canvas.polygons([TERRACE + [(1130, H + 10), (-10, H + 10)]])
    ground = hex_colour("#2a211c") * (1 + 0.2 * fbm(W, H, 40, 10, 4, seed=71))[..., None]
    # Flagstones of the forecourt catch the hearth's light; the hillside
    # below falls into shadow as it nears the viewer.
    pool = point_light(hx, 268, 78, 2.2, 2.2) * (1 - smoothstep(0, 26, below))
    pool_b = point_light(BEACON_X, 304, 36, 0.5, 2.0) * (1 - smoothstep(0, 24, below))
    crest = np.exp(-below / 2.5) * 0.3 * smoothstep(330, 900, X)
    ground_col = ground * (AMBIENT * 0.8 + (pool + pool_b)[..., None] * FIRE
                           + crest[..., None] * SUNSET_RIM)
    ground_col *= (1 - 0.8 * smoothstep(4, 120, below))[..., None]
    img = over(img, ground_col, ground_mask)

    # The terrace's retaining wall drops below the forecourt.
    wall_top = lambda x: terrace_y(x) + 4
    xs = np.arange(-10, 352, 2.0)
    wall_poly = ([(x, wall_top(x)) for x in xs]
                 + [(x, wall_top(x) + 22 + 6 * np.sin(x / 40.0)) for x in xs[::-1]])
    wall_mask = canvas.polygons([wall_poly])
    wall_alb = stone_albedo(81.0, course=6.0, block=14.0, base="#332b25", vary=0.3)
    wall_light = (AMBIENT * 0.9 + (point_light(hx, 272, 90, 1.1, 1.6)
                                   + point_light(BEACON_X, 300, 40, 0.3))[..., None] * FIRE)
    wall_light *= (1 - 0.6 * smoothstep(0, 26, Y - gy - 4))[..., None]
    img = over(img, wall_alb * wall_light, wall_mask)

    # A path winds down the hillside, marked by lantern posts; it shows
    # only where a lantern lights it.
    lanterns = [(392, 334), (458, 349), (532, 366), (612, 386)]
    route = [(210, 296), (300, 312)] + [(x + 9, y + 2) for x, y in lanterns] + [(700, 412)]

    def draw_path(d, s):
        d.line([(x * s, y * s) for x, y in route], fill=255, width=int(5 * s), joint="curve")
    path = canvas.mask(draw_path) * ground_mask
    path_light = sum(point_light(px, py - 8, 22, 0.9 - 0.15 * k)
                     for k, (px, py) in enumerate(lanterns))
    path_light += point_light(HEARTH_X, 270, 90, 0.8, 1.2)
    img = over(img, hex_colour("#4a3d33") * (AMBIENT * 0.6 + path_light[..., None] * FIRE),
               path * 0.8)
    for k, (px, py) in enumerate(lanterns):
        post = canvas.polygons([[(px - 0.8, py - 14), (px + 0.8, py - 14), (px + 1, py),
                                 (px - 1, py)]])
        img = over(img, hex_colour("#0d0a09"), post)
        glow = np.exp(-(((X - px) / 1.6) ** 2 + ((Y - py + 15) / 2.0) ** 2))
        img += (glow * (1.8 - 0.25 * k))[..., None] * FIRE_HOT
        pool = point_light(px, py - 8, 16, 0.5 - 0.08 * k, 1.0) * ground_mask
        img += (pool * 0.22)[..., None] * FIRE

    # Firs along the shoulder of the hill, dark against the valley mist.
    return firs(img, [640 + 17 * k + 7 * np.sin(k * 2.3) for k in range(16)], seed=5)


def foreground(img):
    # Mist in the hollow between the hillside and the near rocks.
    hollow = np.exp(-((Y - 402) / 18.0) ** 2) * smoothstep(150, 700, X)
    hollow *= 1 + 0.5 * fbm(W, H, 180, 16, 3, seed=77)
    img += hollow[..., None] * hex_colour("#6a4040") * 0.09

    # The near ground frames the view: a low lip of rock across the middle,
    # rising on the left and into a wooded rise on the right.
    fg_x = np.arange(-10, W + 10, 1.0)
    fg_n = noise_1d(len(fg_x), 36, 6, 83)
    fg_y = (436 - 30 * smoothstep(240, 0, fg_x) ** 1.5
            - 46 * smoothstep(840, 1060, fg_x) ** 1.2 + 7 * fg_n)
    fg_mask = canvas.polygons([list(zip(fg_x, fg_y)) + [(W + 10, H + 10), (-10, H + 10)]])
    # A stand of firs on the rise to the right, nearer and so larger.
    stand = [856 + 12 * k + 7 * np.sin(k * 1.7) for k in range(23)]
    img = firs(img, stand, seed=9, line=(fg_x, fg_y), scale=1.9)
    fg_top = np.interp(X[0], fg_x, fg_y)[None, :]
    rim = np.exp(-(Y - fg_top) / 2.0) * (0.04 + 0.2 * smoothstep(600, 1000, X))
    fg = hex_colour("#0e0b0a") * (1 + 0.14 * fbm(W, H, 50, 30, 4, seed=91))[..., None]
    fg = fg * (1 - 0.35 * smoothstep(0, 70, Y - fg_top))[..., None]
    img = over(img, fg + rim[..., None] * hex_colour("#c0683a") * 0.35, fg_mask)
    return img


def firs(img, xs, seed, line=None, scale=1.0):
    """Conifers standing on a ground line (the terrace by default)."""
    rng = np.random.RandomState(seed)
    polys = []
    for x in xs:
        x = x + (rng.rand() - 0.5) * 4
        base = (terrace_y(x) if line is None else np.interp(x, line[0], line[1])) + 3
        h = (12 + rng.rand() ** 0.7 * 20) * scale
        w = h * (0.36 + rng.rand() * 0.1)
        tiers = 6
        right = []
        for t in range(1, tiers + 1):
            f = t / tiers
            y_tip = base - h + h * 0.9 * f
            right.append((x + w * 0.5 * f * (0.85 + 0.3 * rng.rand()), y_tip))
            if t < tiers:
                right.append((x + w * 0.5 * f * 0.45, y_tip - h * 0.03))
        right += [(x + 0.9, base - h * 0.08), (x + 0.9, base)]
        left = [(2 * x - px, py) for px, py in right[::-1]]
        polys.append([(x, base - h)] + right + left)
    return over(img, hex_colour("#0c090b"), canvas.polygons(polys))


def window(img, x, y, w, h, power):
    """A small lit window: warm pane, soft spill around it."""
    pane = canvas.polygons([[(x - w / 2, y - h / 2), (x + w / 2, y - h / 2),
                             (x + w / 2, y + h / 2), (x - w / 2, y + h / 2)]])
    mullion = canvas.polygons([[(x - 0.5, y - h / 2), (x + 0.5, y - h / 2),
                                (x + 0.5, y + h / 2), (x - 0.5, y + h / 2)]])
    inner = np.clip(pane - mullion * 0.7, 0, 1)
    img = over(img, WINDOW_LIGHT * power * 1.2, inner)
    spill = np.exp(-(((X - x) / (w * 1.4)) ** 2 + ((Y - y) / (h * 1.2)) ** 2))
    return img + (spill * 0.12 * power)[..., None] * FIRE


def lantern(img, x, y):
    """A wall lantern: small hot flame, bracket and a warm halo."""
    bracket = canvas.polygons([[(x - 1.5, y - 4), (x + 1.5, y - 4), (x + 1.5, y + 4),
                                (x - 1.5, y + 4)]])
    img = over(img, hex_colour("#140e0b"), bracket)
    flame = np.exp(-(((X - x) / 1.1) ** 2 + ((Y - y) / 1.8) ** 2))
    halo = np.exp(-np.hypot(X - x, Y - y) / 9.0)
    return img + (flame * 2.4)[..., None] * FIRE_HOT + (halo * 0.25)[..., None] * FIRE


def beacon(img, merlons, rim):
    """An iron fire basket on the tower top, its fire centred on the beacon glow."""
    bx, by = BEACON_X, BEACON_Y
    bowl = [(bx - 9, by + 0.5), (bx + 9, by + 0.5), (bx + 5.5, by + 7), (bx - 5.5, by + 7)]
    stem = [(bx - 1.6, by + 6), (bx + 1.6, by + 6), (bx + 2.5, 191), (bx - 2.5, 191)]
    iron = hex_colour("#1b1513") * np.ones((H, W, 1))
    fire_light = point_light(bx, by - 3, 10, 3.0)
    img = over(img, iron * (0.4 + fire_light[..., None] * FIRE), canvas.polygons([stem]))
    # Flames: a few tongues licking up from the basket's rim.
    tongues = []
    for dx, top, half in [(-4.5, by - 11, 3.2), (0.0, by - 17, 4.2), (4.0, by - 12, 3.4),
                          (-1.5, by - 8, 5.5)]:
        tongues.append([(bx + dx - half, by + 1), (bx + dx - half * 0.6, by - 4),
                        (bx + dx + half * 0.1, top), (bx + dx + half * 0.7, by - 5),
                        (bx + dx + half, by + 1)])
    flame = blur(canvas.polygons(tongues), 0.7)
    heat = np.clip(1 - (by + 1 - Y) / 20, 0, 1)
    flame_col = FIRE * (0.9 + 0.6 * heat)[..., None] + FIRE_HOT * (heat ** 2 * 1.4)[..., None]
    img = over(img, flame_col, np.clip(flame, 0, 1))
    img = over(img, iron * 0.6 + (fire_light[..., None] * EMBER * 0.6),
               canvas.polygons([bowl]))
    # Glowing coals along the basket's rim.
    coals = np.exp(-(((X - bx) / 7.5) ** 2 + ((Y - by - 1) / 1.3) ** 2))
    img += (coals * 2.2)[..., None] * FIRE_HOT
    img = over(img, lit(stone_albedo(45.0, course=4.0, block=8.0, base="#463b33"), rim=rim),
               canvas.polygons(merlons))
    # The fire lights the air around the tower top.
    halo = np.exp(-np.hypot(X - bx, Y - by + 4) / 22.0)
    return img + (halo * 0.35)[..., None] * FIRE


def forge(img):
    hx = HEARTH_X
    sx0, sx1 = places.STRIP_X0, places.STRIP_X1
    strip_top = places.STRIP_TOP

    facade = [(14, 202), (206, 202), (206, 292), (14, 290)]
    roof = [(4, 206), (46, 181), (150, 181), (216, 206)]
    fx, fy = CHIMNEY_FORGE
    chimney = [(fx - 7, fy + 3), (fx + 7, fy + 3), (fx + 8, 200), (fx - 8, 200)]
    cap = [(fx - 9, fy), (fx + 9, fy), (fx + 9, fy + 4), (fx - 9, fy + 4)]

    rim_chim = smoothstep(fx + 2, fx + 8, X) * 0.35
    img = over(img, lit(stone_albedo(51.0, course=5.0, block=10.0, base="#3b2a24", vary=0.3),
                        rim=rim_chim), canvas.polygons([chimney]))
    img = over(img, lit(hex_colour("#231c1a") * np.ones((H, W, 1)), rim=rim_chim * 1.5),
               canvas.polygons([cap]))
    img += (np.exp(-(((X - fx) / 7) ** 2 + ((Y - fy + 1) / 2.5) ** 2)) * 0.06)[..., None] * FIRE

    roof_alb = hex_colour("#1d1819") * (1 + 0.3 * np.sin(Y * 1.7 + np.sin(X / 9.0)))[..., None]
    roof_edge = np.exp(-np.abs(Y - 181) / 1.6) * smoothstep(40, 150, X) * 0.5
    img = over(img, lit(roof_alb, rim=roof_edge), canvas.polygons([roof]))
    img = over(img, lit(stone_albedo(1.0), rim=smoothstep(200, 206, X) * 0.3),
               canvas.polygons([facade]))

    # The hearth mouth: a low segmental arch in the facade, a little wider
    # than the glow the launcher paints over it.
    arch_top, spring, sill = 212.0, 228.0, 266.0
    x0, x1 = hx - 57, hx + 57
    ring_w = 7.0

    def arch(x0, x1, top, spring, bottom):
        pts = []
        for i in range(41):
            a = np.pi * i / 40
            pts.append((hx - (x1 - x0) / 2 * np.cos(a), spring - (spring - top) * np.sin(a)))
        return pts + [(x1, bottom), (x0, bottom)]

    ring = canvas.polygons([arch(x0 - ring_w, x1 + ring_w, arch_top - ring_w, spring, sill)])
    mouth = canvas.polygons([arch(x0, x1, arch_top, spring, sill)])
    # Voussoirs: the ring of wedge stones, lit hard from the fire within.
    ang = np.arctan2(spring - Y, (X - hx) / ((x1 - x0) / 2 / (spring - arch_top)))
    vous = np.floor(ang / (np.pi / 13))
    h = np.sin(vous * 12.9898 + 3.0) * 43758.5453
    tone = 0.85 + 0.3 * (h - np.floor(h))
    seam = smoothstep(0.0, 0.1, np.abs((ang / (np.pi / 13)) % 1 - 0.5) * 2)
    # The intrados faces the fire; light falls off across the ring's depth.
    inner_light = (blur(mouth, 2.0) * 2.5 + blur(mouth, 6.0) * 1.5
                   + point_light(hx, strip_top + 4, 50, 0.8, 1.1))
    vous_alb = hex_colour("#6a5a4c") * (tone * (0.35 + 0.65 * (1 - seam)))[..., None]
    img = over(img, vous_alb * (AMBIENT + inner_light[..., None] * FIRE),
               np.clip(ring - mouth, 0, 1))

    # Inside: the furnace's back wall of firebrick, dark red under the arch,
    # glowing hotter down towards the bed of molten metal.
    depth = np.clip((Y - arch_top) / (sill - arch_top), 0, 1)
    firebrick = stone_albedo(57.0, course=4.0, block=9.0, base="#7a5242", vary=0.3, joints=0.25)
    heat = (0.2 + 0.7 * depth ** 2.4
            + 1.2 * np.exp(-(((X - hx) / 60) ** 2 + ((Y - (strip_top + 6)) / 9) ** 2)))
    back = firebrick * heat[..., None] * FIRE * 1.6
    # Soot darkens the crown of the arch.
    back = back * (1 - 0.45 * smoothstep(arch_top + 14, arch_top, Y))[..., None]
    img = over(img, back, mouth)
    # Tongs and a poker leaning in the fire, dark against the glow.
    tools = canvas.polygons([
        [(hx + 30, 226), (hx + 31.6, 226), (hx + 21, strip_top + 2), (hx + 19.4, strip_top + 2)],
        [(hx + 34, 226.5), (hx + 35.6, 226.5), (hx + 24.6, strip_top + 2), (hx + 23, strip_top + 2)],
        [(hx - 42, 232), (hx - 40.6, 232), (hx - 33, strip_top + 2), (hx - 34.4, strip_top + 2)],
    ])
    img = over(img, hex_colour("#1e0c06"), tools * mouth * 0.9)

    # The molten bed under where the strip is painted. It fades into the
    # coals at both ends, as the painted strip does.
    by = strip_top + places.STRIP_HEIGHT / 2 + 1
    bed = (smoothstep(sx0, sx0 + 14, X) * smoothstep(sx1, sx1 - 14, X)
           * smoothstep(strip_top, strip_top + 2.5, Y)
           * smoothstep(strip_top + places.STRIP_HEIGHT + 3, strip_top + places.STRIP_HEIGHT, Y))
    # Darker crust floats on the melt in slow streaks.
    crust = smoothstep(0.05, 0.25, fbm(W, H, 16, 3, 3, seed=67))
    hot = np.exp(-((Y - by) / 3.5) ** 2)
    bed_col = (FIRE * (1.1 - 0.6 * crust)[..., None]
               + FIRE_HOT * (hot * (1 - crust) * 1.2)[..., None])
    img = over(img, bed_col, bed * mouth)

    # The hearth's stone lip.
    lip = canvas.polygons([[(x0 - 10, sill - 1), (x1 + 10, sill - 1), (x1 + 12, sill + 6),
                            (x0 - 12, sill + 6)]])
    lip_light = smoothstep(sill + 6, sill - 1, Y) * 2.0 + 0.3
    lip_alb = stone_albedo(61.0, course=7.0, block=15.0, base="#4d423a")
    lip_light = lip_light * point_light(hx, sill - 8, 60, 1.4, 2.0)
    img = over(img, lip_alb * (AMBIENT + lip_light[..., None] * FIRE), lip)

    # A door on the left with a lantern beside it.
    door = canvas.polygons([[(22, 250), (42, 250), (42, 290), (22, 290)]])
    seams = smoothstep(0.0, 0.2, np.abs((X - 22) / 5 % 1 - 0.5) * 2)
    planks = hex_colour("#2a1d15") * (0.7 + 0.3 * seams)[..., None]
    img = over(img, planks * (AMBIENT + point_light(50, 246, 22, 0.5)[..., None] * FIRE), door)
    img = lantern(img, 50, 244)
    img = window(img, 186, 232, 5, 8, 0.55)
    return img


# ---------------------------------------------------------------- finish

def atmosphere(img):
    # Warm air over the settlement: the forge and beacon light the haze.
    hx = HEARTH_X
    haze = (point_light(hx, 258, 70, 0.06, 1.6) + point_light(BEACON_X, BEACON_Y, 50, 0.05))
    img = img + haze[..., None] * FIRE

    # The lower band, where the launcher writes its status and draws its
    # button, fades into a calm warm dark.
    band = smoothstep(places.CALM_BAND_TOP - 70, places.CALM_BAND_TOP + 40, Y)
    calm = hex_colour("#0a0807") * (1 + 0.4 * smoothstep(680, 440, Y))[..., None]
    img = img * (1 - band[..., None]) + calm * band[..., None] * 0.85 + img * band[..., None] * 0.15

    # Bloom: bright lights bleed a little into the air around them.
    bright = np.clip(img - 0.55, 0, None)
    img = img + blur(bright, 2.5) * 0.45 + blur(bright, 10.0) * 0.2

    # Vignette, gentler along the bottom where the band is already dark.
    v = np.hypot((X - W * 0.45) / (W * 0.75), (Y - H * 0.38) / (H * 0.85))
    img = img * (1 - 0.45 * smoothstep(0.55, 1.15, v))[..., None]

    # Soft shoulder so the fires saturate warmly instead of clipping flat.
    knee = 0.75
    over_knee = np.clip(img - knee, 0, None)
    return np.where(img > knee, knee + (1 - knee) * (1 - np.exp(-over_knee / (1 - knee))), img)


def render():
    img = sky()
    img = mountains(img)
    # Back to front: the houses down the slope, the smelter with its tall
    # chimney, the beacon tower, the forge, then the ground before them.
    for layer in (houses, smelter, tower, forge, hillside, foreground):
        img = layer(img)
    img = atmosphere(img)
    return to_rgb8(img, dither_seed=1234)


def jpeg_bytes(rgb):
    buf = io.BytesIO()
    Image.fromarray(rgb, mode="RGB").save(buf, format="JPEG", quality=93, subsampling=0,
                                          optimize=False, progressive=False)
    return buf.getvalue()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..")
    write_bytes(os.path.join(out_dir, "background.jpg"), jpeg_bytes(render()))


if __name__ == "__main__":
    main()
