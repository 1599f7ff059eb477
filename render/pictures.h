// The pictures the launcher carries as resources, turned into GDI+ bitmaps.
// Decoding and resampling happen once (per client size for the background)
// and are kept in the render caches (render_caches.h).
//
// Everything here runs with GDI+ started; without a GDI+ session nothing
// is kept and the kept pictures read as missing.
#pragma once

#include "render/gdiplus_handles.h"
#include "resources/resource_ids.h"

namespace launcher {

// Resource ids (RT_RCDATA) of what the painter loads.
inline constexpr WORD kBackdropResource = STONEWAKE_BACKDROP_RESOURCE;
inline constexpr WORD kStripResource = STONEWAKE_STRIP_RESOURCE;
inline constexpr WORD kWispResource = STONEWAKE_WISP_RESOURCE;
inline constexpr WORD kGelasioRegularResource = STONEWAKE_GELASIO_REGULAR_RESOURCE;
inline constexpr WORD kGelasioBoldResource = STONEWAKE_GELASIO_BOLD_RESOURCE;

// A resource's bytes inside this program's image: mapped for the life of
// the process. Empty when the resource is missing.
struct ResourceBytes {
  const void* data = nullptr;
  DWORD size = 0;
};
ResourceBytes FindRcData(WORD id);

// Resource `id` of this program decoded and drawn into a premultiplied ARGB
// bitmap of width x height (its natural size when width <= 0, whatever the
// height). Empty when the resource is missing or does not decode.
BitmapHandle LoadResourceBitmap(WORD id, int width, int height);

// The background picture at the client size. One slot: another size
// replaces it. Borrowed; null when it cannot be loaded (tried again next
// time).
Gdiplus::GpBitmap* ScaledBackdrop(int width, int height);

// The molten strip and the smoke wisp at their natural size, loaded once;
// either may be null for good.
struct Sprites {
  Gdiplus::GpBitmap* strip;
  Gdiplus::GpBitmap* wisp;
};
Sprites EffectSprites();

}  // namespace launcher
