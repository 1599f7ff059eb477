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


# Cool light from the dusk sky, a little stronger higher up.
AMBIENT = hex_colour("#4a5896") * (0.07 + 0.06 * smoothstep(420, 150, Y))[..., None]


def terrace_y(x):
    xs, ys = zip(*TERRACE)
    return np.interp(x, xs, ys)


# ---------------------------------------------------------------- sky

def sky():
    t = Y / H
    stops = [(0.00, "#070a17"), (0.14, "#0f1226"), (0.30, "#211a37"),
             (0.40, "#3b2544"), (0.47, "#6a3444"), (0.53, "#a4513f"),
             (0.60, "#c9733f"), (0.70, "#d98c4a")]
    pos = [p for p, _ in stops]
    cols = np.array([hex_colour(c) for _, c in stops])
    img = np.stack([np.interp(t, pos, cols[:, k]) for k in range(3)], axis=-1)

    # The sun has just set behind the far range, right of centre: the sky
    # warms there and cools towards the left edge.
    sx, sy = 845.0, 330.0
    d = np.hypot((X - sx) / 1.0, (Y - sy) * 2.4)
    warm = np.exp(-(d / 330.0) ** 2)
    img = img * (0.55 + 0.45 * smoothstep(-100, 700, X))[..., None]
    img += warm[..., None] * hex_colour("#ff9a55") * 0.55
    img += np.exp(-(d / 120.0) ** 2)[..., None] * hex_colour("#ffc27a") * 0.35

    # Long stratus bands, dark undersides lit rose and gold towards the sun.
    n = fbm(W, H, 260, 34, 5, seed=11)
    band = smoothstep(40, 120, Y) * (1 - smoothstep(240, 300, Y))
    cloud = smoothstep(0.02, 0.22, n + 0.10 * np.sin(X / 170.0)) * band
    cloud = blur(cloud, 1.5)
    lit = np.exp(-(np.hypot(X - sx, (Y - sy) * 1.6) / 420.0) ** 2)
    under = hex_colour("#2a1b30") * (1 - lit)[..., None] + hex_colour("#e07a52")[None, None, :] * lit[..., None]
    edge = np.clip(blur(cloud, 3.0) - blur(cloud, 0.8), 0, 1)  # thin lower rims
    cloud_col = under * 0.55 + hex_colour("#ffb27a") * (edge * 2.2 * lit)[..., None]
    img = over(img, cloud_col, cloud * 0.85)

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
    stars = blur(stars, 0.6) * 2.2 * (1 - smoothstep(80, 190, Y)) * (1 - cloud)
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
    horizon_col = np.array(img[290, :, :])  # the sky colour just above the horizon
    sun = np.exp(-((X - 845) / 330) ** 2)

    layers = [
        # crest base line, amplitude, cell, seed, sharp, colour, haze
        (lambda x: 262 - 30 * np.exp(-((x - 500) / 200) ** 2) + 26 * np.exp(-((x - 860) / 120) ** 2),
         70, 150, 3, True, "#4b3048", 0.72),
        (lambda x: 300 - 24 * np.exp(-((x - 1040) / 160) ** 2) - 10 * np.exp(-((x - 620) / 120) ** 2)
         + 12 * np.exp(-((x - 850) / 110) ** 2),
         44, 90, 8, True, "#2a1c2b", 0.45),
        (lambda x: 340 + 0 * x, 22, 70, 21, False, "#1a1219", 0.25),
    ]
    for i, (base, amp, cell, seed, sharp, colour, haze) in enumerate(layers):
        xs, ys = ridge_line(base, amp, cell, seed, sharp)
        mask = canvas.polygons([list(zip(xs, ys)) + [(W + 10, H + 10), (-8, H + 10)]])
        crest = np.interp(X[0], xs, ys)
        depth = Y - crest[None, :]  # pixels below this layer's crest
        body = hex_colour(colour)[None, None, :] * np.ones((H, W, 1))
        # Slopes that face the afterglow catch light near the crest; gullies
        # run down the faces. The slope is smoothed so neighbouring columns
        # don't shade apart into streaks.
        slope = blur(np.gradient(crest)[None, :].repeat(3, axis=0), 3.0)[1][None, :]
        gully = fbm(W, H, 14, 60, 3, seed=40 + i)
        facing = np.clip(slope * 1.2 + gully * 0.5, 0, 1.2) * np.exp(-depth / (22 + 8 * i))
        body = body + (facing * sun * (0.34 - 0.09 * i))[..., None] * hex_colour("#e0805a")
        body = body * (1 + 0.12 * fbm(W, H, 80, 30, 4, seed=50 + i))[..., None]
        # Atmospheric perspective: distant ranges take on the horizon's colour,
        # most of all towards their feet where the valley mist lies.
        body = body * (1 - haze) + horizon_col[None, :, :] * haze
        foot = smoothstep(10, 70, depth) * haze * 0.5
        body = body * (1 - foot[..., None]) + horizon_col[None, :, :] * 0.8 * foot[..., None]
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

def stone_albedo(seed, course=8.0, block=17.0, base="#3a332e", vary=0.22):
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
    return hex_colour(base) * (tone * (0.55 + 0.45 * joint) * grain)[..., None]


def point_light(x, y, radius, power=1.0, squash=1.0):
    d2 = ((X - x) ** 2 + ((Y - y) * squash) ** 2) / (radius * radius)
    return power / (1 + d2) ** 1.6


# ---------------------------------------------------------------- settlement

def settlement(img):
    hx = HEARTH_X
    glow_box = places.HEARTH_GLOW_BOX
    hy = glow_box[1] + glow_box[3] / 2  # centre of the hearth glow

    # Light from the hearth mouth, strongest just below it on the forecourt.
    hearth_light = point_light(hx, hy + 8, 62, 1.6, 1.3)
    beacon_light = point_light(BEACON_X, BEACON_Y - 2, 34, 1.4)
    ambient = AMBIENT
    sunset_rim = hex_colour("#d0704a")

    def lit(albedo, extra=0.0, rim=None):
        light = ambient + (hearth_light[..., None] * FIRE * 1.0
                           + beacon_light[..., None] * FIRE * 0.8)
        if rim is not None:
            light = light + rim[..., None] * sunset_rim
        return albedo * (light + extra)

    stone = stone_albedo(1.0)
    dark_stone = stone_albedo(7.0, base="#2b2521")

    # -- buildings behind the terrace line, back to front --

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

    # Tall smelter chimney, its mouth at the first smoke source.
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
    img = over(img, lit(dark_stone, rim=smoothstep(290, 300, X) * 0.3), canvas.polygons([hall]))
    img = over(img, lit(hex_colour("#1a1516") * np.ones((H, W, 1)),
                        rim=np.exp(-np.abs(Y - (222 - (X - 190) * 16 / 114)) / 2.0) * 0.4),
               canvas.polygons([hall_roof]))
    img = window(img, 226, 246, 7, 10, 0.9)
    img = window(img, 272, 240, 7, 10, 0.75)

    # Beacon tower.
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
    img = beacon(img, merlons, lit, rim)

    # The forge itself.
    img = forge(img, lit, stone, hy)

    # -- the terrace and the hill in front --
    gy = terrace_y(X[0])[None, :]
    below = Y - gy
    ground_mask = canvas.polygons([TERRACE + [(1130, H + 10), (-10, H + 10)]])
    ground = hex_colour("#2a211c") * (1 + 0.2 * fbm(W, H, 40, 10, 4, seed=71))[..., None]
    # Flagstones of the forecourt catch the hearth's light; the hillside
    # below falls into shadow as it nears the viewer.
    pool = point_light(hx, 268, 78, 2.2, 2.2) * (1 - smoothstep(0, 26, below))
    pool_b = point_light(BEACON_X, 304, 36, 0.5, 2.0) * (1 - smoothstep(0, 24, below))
    crest = np.exp(-below / 2.5) * 0.3 * smoothstep(330, 900, X)
    ground_col = ground * (ambient * 0.8 + (pool + pool_b)[..., None] * FIRE
                           + crest[..., None] * sunset_rim)
    ground_col *= (1 - 0.8 * smoothstep(4, 120, below))[..., None]
    img = over(img, ground_col, ground_mask)

    # The terrace's retaining wall drops below the forecourt.
    wall_top = lambda x: terrace_y(x) + 4
    xs = np.arange(-10, 352, 2.0)
    wall_poly = ([(x, wall_top(x)) for x in xs]
                 + [(x, wall_top(x) + 22 + 6 * np.sin(x / 40.0)) for x in xs[::-1]])
    wall_mask = canvas.polygons([wall_poly])
    wall_alb = stone_albedo(81.0, course=6.0, block=14.0, base="#332b25", vary=0.3)
    wall_light = (ambient * 0.9 + (point_light(hx, 272, 90, 1.1, 1.6)
                                   + point_light(BEACON_X, 300, 40, 0.3))[..., None] * FIRE)
    wall_light *= (1 - 0.6 * smoothstep(0, 26, Y - gy - 4))[..., None]
    img = over(img, wall_alb * wall_light, wall_mask)

    # A path winds down the hillside, marked by lantern posts.
    for k, (px, py) in enumerate([(392, 334), (458, 349), (532, 366), (612, 386)]):
        post = canvas.polygons([[(px - 0.8, py - 14), (px + 0.8, py - 14), (px + 1, py),
                                 (px - 1, py)]])
        img = over(img, hex_colour("#0d0a09"), post)
        glow = np.exp(-(((X - px) / 1.6) ** 2 + ((Y - py + 15) / 2.0) ** 2))
        img += (glow * (1.8 - 0.25 * k))[..., None] * FIRE_HOT
        pool = point_light(px, py - 8, 16, 0.5 - 0.08 * k, 1.0) * ground_mask
        img += (pool * 0.22)[..., None] * FIRE

    # Mist in the hollow between the hillside and the near rocks.
    hollow = np.exp(-((Y - 400) / 18.0) ** 2) * smoothstep(150, 700, X)
    hollow *= 1 + 0.5 * fbm(W, H, 180, 16, 3, seed=77)
    img += hollow[..., None] * hex_colour("#5a3a3a") * 0.07

    # The near foreground: a dark lip of rock that rises at both sides.
    fg_x = np.arange(-10, W + 10, 1.0)
    fg_n = noise_1d(len(fg_x), 40, 6, 83)
    fg_y = (434 - 44 * smoothstep(640, 1120, fg_x) ** 1.5
            - 34 * smoothstep(260, 0, fg_x) ** 1.5 + 9 * fg_n)
    fg_mask = canvas.polygons([list(zip(fg_x, fg_y)) + [(W + 10, H + 10), (-10, H + 10)]])
    fg_top = np.interp(X[0], fg_x, fg_y)[None, :]
    rim = np.exp(-(Y - fg_top) / 2.0) * (0.05 + 0.12 * smoothstep(500, 1000, X))
    fg = hex_colour("#0c0a09") * (1 + 0.12 * fbm(W, H, 70, 30, 3, seed=91))[..., None]
    fg = fg * (1 - 0.3 * smoothstep(0, 60, Y - fg_top))[..., None]
    img = over(img, fg + rim[..., None] * hex_colour("#b0583a") * 0.3, fg_mask)
    return img


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
    bracket = canvas.polygons([[(x - 1.5, y - 4), (x + 1.5, y - 4), (x + 1.5, y + 4), (x - 1.5, y + 4)]])
    img = over(img, hex_colour("#140e0b"), bracket)
    flame = np.exp(-(((X - x) / 1.1) ** 2 + ((Y - y) / 1.8) ** 2))
    halo = np.exp(-np.hypot(X - x, Y - y) / 9.0)
    return img + (flame * 2.4)[..., None] * FIRE_HOT + (halo * 0.25)[..., None] * FIRE


def beacon(img, merlons, lit, rim):
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


def forge(img, lit, stone, hy):
    hx = HEARTH_X
    gx, gy, gw, gh = places.HEARTH_GLOW_BOX
    sx0, sx1 = places.STRIP_X0, places.STRIP_X1
    strip_top = places.STRIP_TOP
    strip_bottom = strip_top + places.STRIP_HEIGHT

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
    img = over(img, lit(stone, rim=smoothstep(200, 206, X) * 0.3), canvas.polygons([facade]))

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
    inner_light = blur(mouth, 4.0) * 1.6 + point_light(hx, strip_top + 4, 50, 0.8, 1.1)
    vous_alb = hex_colour("#5a4c42") * (tone * (0.4 + 0.6 * (1 - seam)))[..., None]
    img = over(img, vous_alb * (AMBIENT + inner_light[..., None] * FIRE),
               np.clip(ring - mouth, 0, 1))

    # Inside: the furnace's back wall of firebrick, dark red under the arch,
    # glowing hotter down towards the bed of molten metal.
    depth = np.clip((Y - arch_top) / (sill - arch_top), 0, 1)
    firebrick = stone_albedo(57.0, course=4.0, block=9.0, base="#8a5a48", vary=0.25)
    heat = (0.14 + 0.8 * depth ** 2.4
            + 1.2 * np.exp(-(((X - hx) / 60) ** 2 + ((Y - (strip_top + 6)) / 9) ** 2)))
    back = firebrick * heat[..., None] * FIRE * 1.6
    # Soot darkens the crown of the arch.
    back = back * (1 - 0.7 * smoothstep(arch_top + 16, arch_top, Y))[..., None]
    img = over(img, back, mouth)
    # Tongs and a poker leaning in the fire, dark against the glow.
    tools = canvas.polygons([
        [(hx + 30, 226), (hx + 31.6, 226), (hx + 21, strip_top + 2), (hx + 19.4, strip_top + 2)],
        [(hx + 34, 226.5), (hx + 35.6, 226.5), (hx + 24.6, strip_top + 2), (hx + 23, strip_top + 2)],
        [(hx - 42, 232), (hx - 40.6, 232), (hx - 33, strip_top + 2), (hx - 34.4, strip_top + 2)],
    ])
    img = over(img, hex_colour("#1e0c06"), tools * mouth * 0.9)

    # The molten bed itself, under where the strip is painted, and the
    # hearth's stone lip below it.
    bx, by = (sx0 + sx1) / 2, strip_top + places.STRIP_HEIGHT / 2 + 1
    shape = ((X - bx) / ((sx1 - sx0) / 2 - 2)) ** 8 + ((Y - by) / (places.STRIP_HEIGHT / 2 + 1)) ** 2
    bed = smoothstep(1.15, 0.85, shape)
    # Darker crust floats on the melt in slow streaks.
    crust = smoothstep(0.05, 0.25, fbm(W, H, 16, 3, 3, seed=67))
    hot = np.exp(-((Y - by) / 3.5) ** 2)
    bed_col = (FIRE * (1.1 - 0.6 * crust)[..., None]
               + FIRE_HOT * (hot * (1 - crust) * 1.2)[..., None])
    img = over(img, bed_col, bed * mouth)
    lip = canvas.polygons([[(x0 - 10, sill - 1), (x1 + 10, sill - 1), (x1 + 12, sill + 6),
                            (x0 - 12, sill + 6)]])
    lip_light = smoothstep(sill + 6, sill - 1, Y) * 2.0 + 0.3
    lip_alb = stone_albedo(61.0, course=7.0, block=15.0, base="#4d423a")
    img = over(img, lip_alb * (AMBIENT + (lip_light * point_light(hx, sill - 8, 60, 1.4, 2.0))[..., None] * FIRE),
               lip)

    # A door on the left with a lantern beside it.
    door = canvas.polygons([[(22, 250), (42, 250), (42, 290), (22, 290)]])
    planks = hex_colour("#2a1d15") * (0.7 + 0.3 * smoothstep(0.0, 0.2, np.abs((X - 22) / 5 % 1 - 0.5) * 2))[..., None]
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
    img = settlement(img)
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
