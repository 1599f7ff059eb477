#!/usr/bin/python3
"""Paints the two effect sprites the launcher animates over its background.

molten_strip.png (172 x 21): a band of molten metal, white-hot along its core,
    cooling to deep red at its edges, with soft alpha at the ends so that it
    melts into the hearth. The launcher draws it in slices whose green, blue
    and alpha rise and fall with a flicker, so its colour here is the
    hottest moment.
wisp.png (128 x 128): one puff of smoke. Every pixel is white; the shape is
    in alpha alone and falls to 0 before the edges, because the launcher
    tints it with a colour matrix and scales it freely.

Usage: effect_sprites.py [OUTPUT_DIR]   (default: the resources folder)
"""

import os
import sys

from imaging import fbm, grid, np, png_bytes, smoothstep, write_bytes

STRIP_W, STRIP_H = 172, 21
WISP = 128


def molten_strip():
    x, y = grid(STRIP_W, STRIP_H)
    cy = STRIP_H / 2
    v = np.abs(y - cy) / cy  # 0 on the core line, 1 at the top and bottom edges

    # Heat: highest along the core, wavering slowly along the band, with
    # darker crust drifting on the surface.
    waver = fbm(STRIP_W, STRIP_H, 26, 40, 3, seed=3)
    crust = smoothstep(0.04, 0.3, fbm(STRIP_W, STRIP_H, 16, 6, 3, seed=8))
    heat = (1 - v ** 1.6) * (0.92 + 0.35 * waver) * (1 - 0.35 * crust)
    ends = smoothstep(0, 20, x) * smoothstep(STRIP_W, STRIP_W - 20, x)
    heat = np.clip(heat * (0.55 + 0.45 * ends), 0, 1)

    # Black-body-like ramp: deep red, orange, yellow, near white.
    ramp_pos = [0.0, 0.35, 0.65, 0.85, 1.0]
    ramp = np.array([[150, 28, 6], [226, 84, 14], [255, 156, 40], [255, 214, 120],
                     [255, 246, 214]], dtype=np.float64)
    rgb = np.stack([np.interp(heat, ramp_pos, ramp[:, k]) for k in range(3)], axis=-1)

    alpha = smoothstep(1.0, 0.35, v) * ends
    alpha = alpha * (0.75 + 0.25 * smoothstep(0.1, 0.6, heat))
    rgba = np.dstack([rgb, alpha * 255.0])
    return np.clip(np.floor(rgba + 0.5), 0, 255).astype(np.uint8)


def wisp():
    x, y = grid(WISP, WISP)
    c = WISP / 2
    r = np.hypot(x - c, y - c) / (c - 2)  # reaches 1 two pixels inside the edge

    # A few overlapping billows inside a round envelope; low-frequency noise
    # breaks the outline so that a scaled, mirrored copy doesn't look stamped.
    billows = np.zeros_like(x)
    for bx, by, br, weight in [(64, 70, 26, 1.0), (52, 54, 20, 0.7), (76, 50, 18, 0.6),
                               (62, 38, 15, 0.45), (80, 74, 17, 0.5)]:
        billows += weight * np.exp(-((x - bx) ** 2 + (y - by) ** 2) / (2 * br * br))
    billows /= billows.max()
    texture = 1 + 0.6 * fbm(WISP, WISP, 22, 22, 3, seed=12)
    envelope = smoothstep(1.0, 0.55, r)
    alpha = np.clip(billows * texture, 0, None) * envelope
    alpha = alpha / alpha.max() * 235.0

    rgba = np.empty((WISP, WISP, 4), dtype=np.uint8)
    rgba[..., :3] = 255
    rgba[..., 3] = np.clip(np.floor(alpha + 0.5), 0, 255).astype(np.uint8)
    return rgba


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..")
    write_bytes(os.path.join(out_dir, "molten_strip.png"), png_bytes(molten_strip()))
    write_bytes(os.path.join(out_dir, "wisp.png"), png_bytes(wisp()))


if __name__ == "__main__":
    main()
