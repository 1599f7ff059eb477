// Holders for the GDI+ objects the painter makes, over the flat API's own
// delete and dispose calls. GDI+ must be running for as long as any of them
// holds something.
#pragma once

#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include "core/unique_handle.h"

namespace launcher {

namespace gdip = Gdiplus::DllExports;

inline Gdiplus::GpStatus DisposeBitmap(Gdiplus::GpBitmap* bitmap) { return gdip::GdipDisposeImage(bitmap); }
inline Gdiplus::GpStatus DeleteFontCollection(Gdiplus::GpFontCollection* collection) {
  return gdip::GdipDeletePrivateFontCollection(&collection);
}

using GraphicsHandle = UniqueHandle<Gdiplus::GpGraphics*, &gdip::GdipDeleteGraphics>;
using BitmapHandle = UniqueHandle<Gdiplus::GpBitmap*, &DisposeBitmap>;
using BrushHandle = UniqueHandle<Gdiplus::GpBrush*, &gdip::GdipDeleteBrush>;
using PenHandle = UniqueHandle<Gdiplus::GpPen*, &gdip::GdipDeletePen>;
using PathHandle = UniqueHandle<Gdiplus::GpPath*, &gdip::GdipDeletePath>;
using RegionHandle = UniqueHandle<Gdiplus::GpRegion*, &gdip::GdipDeleteRegion>;
using ImageAttributesHandle = UniqueHandle<Gdiplus::GpImageAttributes*, &gdip::GdipDisposeImageAttributes>;
using StringFormatHandle = UniqueHandle<Gdiplus::GpStringFormat*, &gdip::GdipDeleteStringFormat>;
using FontFamilyHandle = UniqueHandle<Gdiplus::GpFontFamily*, &gdip::GdipDeleteFontFamily>;
using FontHandle = UniqueHandle<Gdiplus::GpFont*, &gdip::GdipDeleteFont>;
using FontCollectionHandle = UniqueHandle<Gdiplus::GpFontCollection*, &DeleteFontCollection>;
using StreamHandle = ComHolder<IStream>;

// Brushes the scene makes over and over. Each returns an empty holder when
// GDI+ refuses; drawing with it then draws nothing.
BrushHandle SolidBrush(Gdiplus::ARGB colour);
// A linear gradient from `from` in `a` to `to` in `b`, tiled beyond.
BrushHandle LinearBrush(Gdiplus::PointF from, Gdiplus::PointF to, Gdiplus::ARGB a, Gdiplus::ARGB b);
// A radial glow over `path`: `centre` in the middle, `edge` at every point
// of the rim.
BrushHandle PathGlowBrush(Gdiplus::GpPath* path, Gdiplus::ARGB centre, Gdiplus::ARGB edge);

}  // namespace launcher
