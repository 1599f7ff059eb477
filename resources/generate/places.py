"""Where the launcher paints its animated effects over the background, in
background-picture pixels (1120 x 680). The painter derives these from its own
constants; the scene has to put the matching features underneath them."""

WIDTH = 1120
HEIGHT = 680


def wisp_point(a, b):
    """The painter places smoke and the beacon in 'wisp units'."""
    return 0.458 * a - 13, 0.458 * b - 6


# Hearth glow: the ellipse inscribed in this box.
HEARTH_GLOW_BOX = (52.5, 236.3, 192 * 0.6, 63 * 0.6)  # x, y, width, height

# Molten strip: the 172-pixel strip is laid from x0 to x1 with this top and height.
STRIP_X0 = (0 + 158) * 0.6 - 36.3
STRIP_X1 = (172 + 158) * 0.6 - 36.3
STRIP_TOP = 247.1
STRIP_HEIGHT = 21 * 0.6

# Beacon glow: a circle of 20 wisp units around a point just below smoke source 1.
BEACON_CENTRE = wisp_point(731, 417)
BEACON_RADIUS = 20 * 0.458

# Smoke sources 0, 1 and 2: where each wisp is born.
SMOKE_SOURCES = [wisp_point(612, 246), wisp_point(731, 412), wisp_point(395, 365)]

# Text and the action button are painted over this band, so it stays dark and calm.
CALM_BAND_TOP = 440
