#!/usr/bin/python3
"""Draws the launcher's effect places over a copy of the background, so a
reviewer can see that the hearth, beacon and chimneys sit under them.

Usage: outline_places.py [OUTPUT_PNG] [BACKGROUND_JPG]
Defaults: /tmp/stonewake-effect-places.png and the committed background.jpg.
The result is a review aid only; it is not linked into the program.
"""

import os
import sys

from PIL import Image, ImageDraw

import places

ZOOM = 3
# The settlement part of the picture, shown enlarged under the full view.
DETAIL = (0, 90, 380, 330)

HEARTH = (255, 230, 80)
STRIP = (80, 255, 255)
BEACON = (255, 90, 255)
SMOKE = (120, 255, 120)
CALM = (255, 255, 255)


def outline(img, scale, offset):
    d = ImageDraw.Draw(img)
    ox, oy = offset

    def p(x, y):
        return (x - ox) * scale, (y - oy) * scale

    gx, gy, gw, gh = places.HEARTH_GLOW_BOX
    d.ellipse([p(gx, gy), p(gx + gw, gy + gh)], outline=HEARTH, width=2)
    d.rectangle([p(places.STRIP_X0, places.STRIP_TOP),
                 p(places.STRIP_X1, places.STRIP_TOP + places.STRIP_HEIGHT)],
                outline=STRIP, width=1)
    bx, by = places.BEACON_CENTRE
    r = places.BEACON_RADIUS
    d.ellipse([p(bx - r, by - r), p(bx + r, by + r)], outline=BEACON, width=2)
    for k, (sx, sy) in enumerate(places.SMOKE_SOURCES):
        cx, cy = p(sx, sy)
        arm = 4 * scale
        d.line([(cx - arm, cy), (cx + arm, cy)], fill=SMOKE, width=1)
        d.line([(cx, cy - arm), (cx, cy + arm)], fill=SMOKE, width=1)
        d.text((cx + arm + 2, cy - 12), "S%d" % k, fill=SMOKE)
    if oy < places.CALM_BAND_TOP < oy + img.height / scale:
        y = (places.CALM_BAND_TOP - oy) * scale
        for x in range(0, img.width, 12):
            d.line([(x, y), (x + 6, y)], fill=CALM, width=1)
        d.text((6, y + 4), "calm band below: status line, button, version lines", fill=CALM)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else "/tmp/stonewake-effect-places.png"
    src = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "background.jpg")
    picture = Image.open(src).convert("RGB")

    full = picture.copy()
    outline(full, 1, (0, 0))
    x0, y0, x1, y1 = DETAIL
    detail = picture.crop(DETAIL).resize(((x1 - x0) * ZOOM, (y1 - y0) * ZOOM), Image.LANCZOS)
    outline(detail, ZOOM, (x0, y0))

    sheet = Image.new("RGB", (max(full.width, detail.width), full.height + detail.height + 8),
                      (24, 24, 24))
    sheet.paste(full, (0, 0))
    sheet.paste(detail, (0, full.height + 8))
    sheet.save(out)
    print(out)


if __name__ == "__main__":
    main()
