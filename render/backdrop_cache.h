// The backdrop with the ground glow over it, painted once per glow alpha
// and kept: a frame starts as a copy of it instead of drawing the picture
// and the gradient again. The glow depends only on the client size and its
// alpha, which takes a handful of integer values (GroundGlowAlpha: 26..42).
//
// Each kept picture is a bitmap made like the frame's own (the same DIB
// format, or compatible with the frame's device context), cleared, and
// painted with the very calls a straightforward frame makes, so copying it
// gives the frame the pixels it would have painted.
//
// Runs on the painting thread with GDI+ started; the pictures are kept in
// the render caches (render_caches.h), so without a GDI+ session nothing is
// kept and nothing copied.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace launcher {

// The most the kept pictures may hold: all 17 glow alphas at 144 DPI
// (840 x 510 x 4 bytes each, 29.1 MB); at a larger size fewer, the least
// recently used going first.
inline constexpr std::size_t kBackdropCacheBudget = 32u << 20;

// Copies the backdrop with the ground glow of `alpha` over the whole of
// `target`'s width x height, painting and keeping it first when it is not
// kept. False, with nothing copied, when the picture cannot be loaded or
// GDI refuses the bitmap: the caller then paints both layers itself.
bool CopyBackdropWithGlow(HDC target, int width, int height, std::uint32_t alpha);

// Bytes of pixels kept now, and how many pictures.
struct BackdropCacheUse {
  std::size_t bytes;
  int pictures;
};
BackdropCacheUse BackdropCacheInUse();

}  // namespace launcher
