"""Shared helpers of the picture generators: numpy pinned for repeatable
results, smooth noise, blurs, anti-aliased shape masks, colour conversion and
byte-stable PNG output."""

import io
import os
import warnings

# numpy chooses SIMD loops for the machine's CPU when it is imported, and some
# of them (exp, sin, sums) round differently from the baseline loops. Turning
# every optional feature off makes the pictures byte-identical on any x86-64
# machine. numpy warns about features the CPU lacks anyway; that is harmless.
os.environ["NPY_DISABLE_CPU_FEATURES"] = (
    "SSSE3 SSE41 POPCNT SSE42 AVX F16C FMA3 AVX2 AVX512F AVX512CD AVX512_KNL "
    "AVX512_KNM AVX512_SKX AVX512_CLX AVX512_CNL AVX512_ICL AVX512_SPR")
with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    import numpy as np

from PIL import Image, ImageDraw  # noqa: E402

# Shapes are drawn this many times larger and averaged down, which gives
# edges the coverage-based anti-aliasing a painter would get.
SUPERSAMPLE = 4


def srgb_to_linear(c):
    c = np.asarray(c, dtype=np.float64)
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


def linear_to_srgb(c):
    c = np.clip(c, 0.0, 1.0)
    return np.where(c <= 0.0031308, c * 12.92, 1.055 * c ** (1 / 2.4) - 0.055)


def hex_colour(text):
    """'#rrggbb' as linear RGB."""
    text = text.lstrip("#")
    return srgb_to_linear([int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4)])


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3 - 2 * t)


def grid(width, height):
    """Pixel-centre coordinates, x and y arrays of shape (height, width)."""
    return np.meshgrid(np.arange(width) + 0.5, np.arange(height) + 0.5)


def _upsample(values, width, height):
    img = Image.fromarray(values.astype(np.float32), mode="F")
    return np.asarray(img.resize((width, height), Image.BICUBIC), dtype=np.float64)


def value_noise(width, height, cell_x, cell_y, seed):
    """Smooth noise in about -0.5..0.5 with features of cell_x by cell_y pixels."""
    rng = np.random.RandomState(seed)
    gw = int(np.ceil(width / cell_x)) + 3
    gh = int(np.ceil(height / cell_y)) + 3
    values = rng.rand(gh, gw) - 0.5
    big = _upsample(values, int(gw * cell_x), int(gh * cell_y))
    ox = int(cell_x)
    oy = int(cell_y)
    return big[oy:oy + height, ox:ox + width]


def fbm(width, height, cell_x, cell_y, octaves, seed, gain=0.5):
    total = np.zeros((height, width))
    amp = 1.0
    norm = 0.0
    for o in range(octaves):
        total += amp * value_noise(width, height, max(cell_x / 2 ** o, 1.0),
                                   max(cell_y / 2 ** o, 1.0), seed + 101 * o)
        norm += amp
        amp *= gain
    return total / norm


def noise_1d(length, cell, octaves, seed, gain=0.5):
    """Smooth 1-D fractal noise in about -0.5..0.5, one value per sample."""
    rng = np.random.RandomState(seed)
    total = np.zeros(length)
    amp = 1.0
    norm = 0.0
    x = np.arange(length, dtype=np.float64)
    for _ in range(octaves):
        knots = rng.rand(int(length / cell) + 3) - 0.5
        u = x / cell
        i = np.floor(u).astype(int)
        f = u - i
        f = f * f * (3 - 2 * f)
        total += amp * (knots[i] * (1 - f) + knots[i + 1] * f)
        norm += amp
        amp *= gain
        cell = max(cell / 2.0, 1.0)
    return total / norm


def _box_blur_axis(a, radius, axis):
    if radius < 1:
        return a
    pad = [(0, 0)] * a.ndim
    pad[axis] = (radius + 1, radius)
    padded = np.pad(a, pad, mode="edge")
    c = np.cumsum(padded, axis=axis)
    n = a.shape[axis]
    hi = np.take(c, np.arange(2 * radius + 1, 2 * radius + 1 + n), axis=axis)
    lo = np.take(c, np.arange(0, n), axis=axis)
    return (hi - lo) / (2 * radius + 1)


def blur(a, sigma):
    """Close to a Gaussian blur: three box blurs per axis, edges clamped."""
    if sigma <= 0:
        return a
    radius = max(int(round(np.sqrt(12 * sigma * sigma / 3 + 1) / 2 - 0.5)), 1)
    out = np.asarray(a, dtype=np.float64)
    for axis in (0, 1):
        for _ in range(3):
            out = _box_blur_axis(out, radius, axis)
    return out


class Canvas:
    """Anti-aliased coverage masks for shapes given in picture pixels."""

    def __init__(self, width, height, supersample=SUPERSAMPLE):
        self.width = width
        self.height = height
        self.supersample = supersample

    def mask(self, draw_fn):
        """draw_fn(draw, scale) paints white shapes at scale; returns coverage 0..1."""
        s = self.supersample
        img = Image.new("L", (self.width * s, self.height * s), 0)
        draw_fn(ImageDraw.Draw(img), s)
        small = img.reduce(s)
        return np.asarray(small, dtype=np.float64) / 255.0

    def polygons(self, polys):
        def draw(d, s):
            for poly in polys:
                d.polygon([(x * s, y * s) for x, y in poly], fill=255)
        return self.mask(draw)

    def ellipses(self, boxes):
        def draw(d, s):
            for x0, y0, x1, y1 in boxes:
                d.ellipse([x0 * s, y0 * s, x1 * s - 1, y1 * s - 1], fill=255)
        return self.mask(draw)


def over(base, colour, alpha):
    """Paints colour (RGB array or triple) over base with coverage alpha."""
    a = alpha[..., None]
    return base * (1 - a) + np.asarray(colour) * a


def to_rgb8(linear, dither_seed=None):
    """Linear light to 8-bit sRGB; an optional sub-level dither keeps smooth
    dusk gradients from banding."""
    srgb = linear_to_srgb(linear) * 255.0
    if dither_seed is not None:
        rng = np.random.RandomState(dither_seed)
        srgb = srgb + (rng.rand(*srgb.shape[:2]) - rng.rand(*srgb.shape[:2]))[..., None] * 0.5
    return np.clip(np.floor(srgb + 0.5), 0, 255).astype(np.uint8)


def png_bytes(rgba):
    """An 8-bit RGBA PNG with no ancillary chunks, so equal pixels give equal bytes."""
    img = Image.fromarray(rgba, mode="RGBA")
    buf = io.BytesIO()
    img.save(buf, format="PNG", optimize=False, compress_level=9)
    return buf.getvalue()


def write_bytes(path, data):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)

