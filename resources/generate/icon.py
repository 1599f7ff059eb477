#!/usr/bin/python3
"""Draws the launcher's icon: a hewn hexagonal stone with a forge flame at
its heart, warm light spilling across the stone. The two shapes are bold
enough to read at 16 pixels.

Every size is drawn afresh from the same shapes rather than scaled down from
the largest, so that small sizes stay crisp; the smallest get a heavier rim
and outline.

Usage: icon.py [OUTPUT_DIR]   (default: the resources folder)
Writes stonewake.ico with 16, 24, 32, 48, 64, 128 and 256 pixel images, each
a 32-bit PNG with 8 bits per channel (some icon loaders reject 16-bit PNGs).
"""

import os
import struct
import sys

from imaging import (Canvas, hex_colour, grid, linear_to_srgb, np, png_bytes,
                     smoothstep, write_bytes)

SIZES = [16, 24, 32, 48, 64, 128, 256]


def rounded_polygon(points, radius, steps=10):
    """The polygon with each corner replaced by an arc of the given radius."""
    out = []
    n = len(points)
    for i in range(n):
        p0 = np.array(points[i - 1], dtype=np.float64)
        p1 = np.array(points[i], dtype=np.float64)
        p2 = np.array(points[(i + 1) % n], dtype=np.float64)
        a = (p0 - p1) / np.linalg.norm(p0 - p1)
        b = (p2 - p1) / np.linalg.norm(p2 - p1)
        half = np.arccos(np.clip(np.dot(a, b), -1, 1)) / 2
        d = radius / np.tan(half)
        start, end = p1 + a * d, p1 + b * d
        centre = p1 + (a + b) / np.linalg.norm(a + b) * (radius / np.sin(half))
        t0 = np.arctan2(*(start - centre)[::-1])
        t1 = np.arctan2(*(end - centre)[::-1])
        dt = (t1 - t0 + np.pi) % (2 * np.pi) - np.pi
        for k in range(steps + 1):
            t = t0 + dt * k / steps
            out.append((centre[0] + radius * np.cos(t), centre[1] + radius * np.sin(t)))
    return out


def hexagon(cx, cy, r):
    return [(cx + r * np.cos(np.radians(a)), cy + r * np.sin(np.radians(a)))
            for a in (-90, -30, 30, 90, 150, 210)]


def flame(cx, base, tip, half_width, lean, samples=48):
    """A flame outline: round at the base, narrowing to a tip that leans over."""
    bulb_r = half_width
    bulb_y = base - bulb_r
    right, left = [], []
    for k in range(samples + 1):
        u = k / samples  # 0 at the bulb's widest, 1 at the tip
        y = bulb_y + (tip - bulb_y) * u
        w = bulb_r * (1 - u) ** 1.25 * (1 + 0.5 * u)
        x = cx + lean * np.sin(u * np.pi * 0.9) * u
        right.append((x + w, y))
        left.append((x - w, y))
    bottom = [(cx + bulb_r * np.cos(t), bulb_y + bulb_r * np.sin(t))
              for t in np.linspace(np.pi, 0, samples)][::-1]
    return bottom[::-1] + right + left[::-1]


def draw(size):
    s = size / 256.0  # the shapes are designed on a 256-pixel grid
    canvas = Canvas(size, size, supersample=8)
    x, y = grid(size, size)
    x, y = x / s, y / s

    small = size <= 24
    stone_poly = rounded_polygon(hexagon(128, 130, 124), 22)
    stone = canvas.polygons([[(px * s, py * s) for px, py in stone_poly]])
    rim_w = 20 if small else 12
    inner_poly = rounded_polygon(hexagon(128, 130, 124 - rim_w), 18)
    inner = canvas.polygons([[(px * s, py * s) for px, py in inner_poly]])

    # The stone: cool slate, lit from the top left, with a warm glow from the
    # flame spreading over its face.
    face = (hex_colour("#4b5261") * (1 - smoothstep(20, 250, y))[..., None]
            + hex_colour("#1b1d25") * smoothstep(20, 250, y)[..., None])
    glow = np.exp(-(((x - 128) / 80) ** 2 + ((y - 150) / 70) ** 2))
    face = face + glow[..., None] * hex_colour("#ff7a2a") * 0.55
    # The rim is bevelled in six facets, each lit by how it faces the light
    # from the top left.
    angle = np.degrees(np.arctan2(y - 130, x - 128))
    normal = np.radians(np.round((angle + 60) / 60) * 60 - 60)
    facing = 0.5 + 0.5 * np.cos(normal - np.radians(-130))
    rim = (hex_colour("#9aa0ad") * (facing ** 1.5)[..., None]
           + hex_colour("#20232b") * (1 - facing ** 1.5)[..., None])
    rim = rim + glow[..., None] * hex_colour("#ff7a2a") * 0.3
    colour = rim * (stone - inner)[..., None] + face * inner[..., None]
    colour = colour / np.maximum(stone, 1e-6)[..., None]

    outer_flame = [(px * s, py * s) for px, py in flame(128, 206, 42, 58, 16)]
    inner_flame = [(px * s, py * s) for px, py in flame(126, 204, 100, 32, 8)]
    f_out = canvas.polygons([outer_flame])
    f_in = canvas.polygons([inner_flame])
    heat = smoothstep(40, 200, y)
    flame_col = (hex_colour("#ff5a12") * (1 - heat)[..., None]
                 + hex_colour("#ffa436") * heat[..., None])
    colour = colour * (1 - f_out[..., None]) + flame_col * f_out[..., None]
    core_col = hex_colour("#fff3c4")
    colour = colour * (1 - f_in[..., None]) + core_col * f_in[..., None]

    # The hearth ledge under the flame, glowing along its top.
    ledge_poly = rounded_polygon([(70, 206), (186, 206), (176, 226), (80, 226)], 5)
    ledge = canvas.polygons([[(px * s, py * s) for px, py in ledge_poly]])
    ledge_col = (hex_colour("#ffb24a") * smoothstep(214, 206, y)[..., None]
                 + hex_colour("#3a2a24") * smoothstep(206, 214, y)[..., None])
    colour = colour * (1 - ledge[..., None]) + ledge_col * ledge[..., None]

    # A dark outline keeps the stone's edge visible on light taskbars.
    outline_w = 1.0 / s if small else 5
    outline_poly = rounded_polygon(hexagon(128, 130, 124 - outline_w), 22)
    body = canvas.polygons([[(px * s, py * s) for px, py in outline_poly]])
    edge = np.clip(stone - body, 0, 1)
    colour = colour * (1 - 0.7 * edge[..., None]) + hex_colour("#0b0c10") * (0.7 * edge[..., None])

    rgba = np.empty((size, size, 4), dtype=np.uint8)
    rgba[..., :3] = np.clip(np.floor(linear_to_srgb(colour) * 255 + 0.5), 0, 255)
    rgba[..., 3] = np.clip(np.floor(stone * 255 + 0.5), 0, 255)
    return rgba


def ico_bytes(images):
    """An icon file whose entries are PNG streams, largest last."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    data = b""
    for size, png in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset + len(data))
        data += png
    return header + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..")
    images = [(size, png_bytes(draw(size))) for size in SIZES]
    write_bytes(os.path.join(out_dir, "stonewake.ico"), ico_bytes(images))


if __name__ == "__main__":
    main()
