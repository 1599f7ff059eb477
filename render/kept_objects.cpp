#include "render/kept_objects.h"

#include <vector>

namespace launcher {
namespace {

struct KeptBrush {
  Gdiplus::ARGB colour;
  BrushHandle brush;
};

// Never destroyed by a static destructor, which would run after GDI+ has
// stopped; ReleaseKeptObjects empties it instead. The fonts are declared
// after the family they were made from, so they go first.
struct Kept {
  bool familyChosen = false;
  FontChoice family;
  int fontsDpi = 0;
  Fonts fonts;
  StringFormatHandle formats[3];  // near, center, far
  std::vector<KeptBrush> brushes;
};

Kept& TheKept() {
  static Kept* const kept = new Kept;
  return *kept;
}

}  // namespace

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

const Fonts& KeptFonts(int dpi) {
  Kept& kept = TheKept();
  if (!kept.familyChosen) {
    kept.family = ChooseFontFamily();
    kept.familyChosen = true;
  }
  if (kept.fontsDpi != dpi) {
    kept.fonts = FontSet(kept.family, dpi);
    kept.fontsDpi = dpi;
  }
  return kept.fonts;
}

Gdiplus::GpStringFormat* KeptLineFormat(Gdiplus::StringAlignment alignment) {
  const auto index = static_cast<int>(alignment);
  if (index < 0 || index > 2) return nullptr;
  StringFormatHandle& format = TheKept().formats[index];
  if (!format) format = LineFormat(alignment);
  return format.get();
}

Gdiplus::GpBrush* KeptSolidBrush(Gdiplus::ARGB colour) {
  std::vector<KeptBrush>& brushes = TheKept().brushes;
  for (const KeptBrush& kept : brushes) {
    if (kept.colour == colour) return kept.brush.get();
  }
  BrushHandle brush = SolidBrush(colour);
  if (!brush) return nullptr;
  if (brushes.size() >= kKeptBrushes) brushes.clear();
  brushes.push_back({colour, std::move(brush)});
  return brushes.back().brush.get();
}

void ReleaseKeptObjects() {
  Kept& kept = TheKept();
  kept.brushes.clear();
  for (StringFormatHandle& format : kept.formats) format.reset();
  kept.fonts = Fonts{};
  kept.fontsDpi = 0;
  kept.family = FontChoice{};
  kept.familyChosen = false;
}

}  // namespace launcher
