#include "render/kept_objects.h"

#include <vector>

#include "render/render_caches.h"

namespace launcher {

StringFormatHandle LineFormat(Gdiplus::StringAlignment alignment) {
  StringFormatHandle format;
  gdip::GdipCreateStringFormat(0, LANG_NEUTRAL, format.put());
  if (!format) return format;
  gdip::GdipSetStringFormatAlign(format.get(), alignment);
  gdip::GdipSetStringFormatLineAlign(format.get(), Gdiplus::StringAlignmentCenter);
  gdip::GdipSetStringFormatFlags(format.get(), Gdiplus::StringFormatFlagsNoWrap);
  gdip::GdipSetStringFormatTrimming(format.get(), Gdiplus::StringTrimmingEllipsisCharacter);
  return format;
}

Gdiplus::GpStringFormat* KeptLineFormat(Gdiplus::StringAlignment alignment) {
  RenderCaches* caches = ActiveRenderCaches();
  const auto index = static_cast<int>(alignment);
  if (!caches || index < 0 || index > 2) return nullptr;
  StringFormatHandle& format = caches->text.formats[index];
  if (!format) format = LineFormat(alignment);
  return format.get();
}

Gdiplus::GpBrush* KeptSolidBrush(Gdiplus::ARGB colour) {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return nullptr;
  std::vector<KeptBrush>& brushes = caches->text.brushes;
  for (const KeptBrush& kept : brushes) {
    if (kept.colour == colour) return kept.brush.get();
  }
  BrushHandle brush = SolidBrush(colour);
  if (!brush) return nullptr;
  if (brushes.size() >= kKeptBrushes) brushes.clear();
  brushes.push_back({colour, std::move(brush)});
  return brushes.back().brush.get();
}

}  // namespace launcher
