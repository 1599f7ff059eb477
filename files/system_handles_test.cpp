#include "files/system_handles.h"

#include <gtest/gtest.h>

#include <utility>

#include "core/unique_handle.h"

namespace launcher {
namespace {

using MemoryDc = UniqueHandle<HDC, &DeleteDC>;
using Bitmap = UniqueHandle<HBITMAP, &DeleteObject>;

HGDIOBJ SelectedBitmap(HDC dc) { return GetCurrentObject(dc, OBJ_BITMAP); }

TEST(SelectedObject, SelectsTheOriginalBackOnceWhereverItWasMoved) {
  const MemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  const Bitmap first(CreateCompatibleBitmap(dc.get(), 4, 4));
  const Bitmap second(CreateCompatibleBitmap(dc.get(), 4, 4));
  ASSERT_TRUE(first && second);
  const HGDIOBJ original = SelectedBitmap(dc.get());

  {
    SelectedObject outer(dc.get(), first.get());
    ASSERT_TRUE(outer);
    EXPECT_EQ(SelectedBitmap(dc.get()), first.get());
    SelectedObject moved(std::move(outer));
    EXPECT_FALSE(outer);
    outer.reset();  // moved-from: selects nothing back
    EXPECT_EQ(SelectedBitmap(dc.get()), first.get());

    // Assigning over an empty holder takes the selection as it is.
    SelectedObject later;
    later = std::move(moved);
    EXPECT_EQ(SelectedBitmap(dc.get()), first.get());
  }
  EXPECT_EQ(SelectedBitmap(dc.get()), original);

  // A bitmap GDI refuses (one is already selected into another DC) leaves
  // the holder empty and the selection as it was.
  const MemoryDc other(CreateCompatibleDC(nullptr));
  const SelectedObject holding(other.get(), second.get());
  ASSERT_TRUE(holding);
  {
    const SelectedObject refused(dc.get(), second.get());
    EXPECT_FALSE(refused);
  }
  EXPECT_EQ(SelectedBitmap(dc.get()), original);
}

}  // namespace
}  // namespace launcher
