// Owners of the system's handles that every Windows layer meets besides
// files (file_handle.h): kernel objects, memory the system allocated for
// the caller, and a GDI selection to undo.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <utility>

#include "core/unique_handle.h"

namespace launcher {

// A kernel object (process, thread, mutex, event): null when empty.
using KernelHandle = UniqueHandle<HANDLE, &CloseHandle>;

// The argument array CommandLineToArgvW returns: one LocalAlloc block.
inline void FreeArgumentList(wchar_t** arguments) { LocalFree(arguments); }
using ArgumentList = UniqueHandle<wchar_t**, &FreeArgumentList>;

// Text the system allocated with LocalAlloc (GetThreadDescription).
inline void FreeLocalText(wchar_t* text) { LocalFree(text); }
using LocalText = UniqueHandle<wchar_t*, &FreeLocalText>;

// Text the shell allocated with CoTaskMemAlloc (SHGetKnownFolderPath).
inline void FreeTaskMemoryText(wchar_t* text) { CoTaskMemFree(text); }
using TaskMemoryText = UniqueHandle<wchar_t*, &FreeTaskMemoryText>;

// Selects an object into a device context and selects what was there
// before back when it goes, so that the object can be deleted afterwards
// (GDI does not delete an object that is selected into a DC). Declare it
// after the holders of the DC and the object, so that it goes first.
class SelectedObject {
 public:
  SelectedObject() noexcept = default;
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() { reset(); }
  SelectedObject(SelectedObject&& other) noexcept
      : dc_(other.dc_), previous_(std::exchange(other.previous_, nullptr)) {}
  SelectedObject& operator=(SelectedObject&& other) noexcept {
    if (this != &other) {
      reset();
      dc_ = other.dc_;
      previous_ = std::exchange(other.previous_, nullptr);
    }
    return *this;
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

  // False when SelectObject refused the object.
  explicit operator bool() const noexcept { return previous_ != nullptr; }

  // Selects the previous object back now.
  void reset() noexcept {
    if (previous_) SelectObject(dc_, std::exchange(previous_, nullptr));
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace launcher
