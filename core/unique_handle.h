// Move-only ownership of one platform handle.
//
// The close function and the "empty" value are part of the type, so each kind
// of handle gets a one-line alias next to the code that uses it:
//
//   using WinHttpHandle = UniqueHandle<HINTERNET, &WinHttpCloseHandle>;
//   using FileHandle =
//       UniqueHandle<HANDLE, &CloseHandle, InvalidHandleValue>;
//
// The holder never converts implicitly to the raw handle and cannot be
// copied, so a handle is closed exactly once. Callers that need the error of
// a failed call read it before a holder is reset or destroyed.
#pragma once

#include <utility>

namespace launcher {

// The default empty value: a value-initialised handle (null for pointers).
template <typename T>
struct NullHandleValue {
  static T Get() noexcept { return T{}; }
};

template <typename T, auto Close, typename Empty = NullHandleValue<T>>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(T handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  T get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Empty::Get(); }

  // Closes the held handle (if any) and takes ownership of `handle`.
  void reset(T handle = Empty::Get()) noexcept {
    T old = std::exchange(handle_, handle);
    if (old != Empty::Get()) Close(old);
  }

  // Gives up ownership without closing.
  [[nodiscard]] T release() noexcept { return std::exchange(handle_, Empty::Get()); }

  // For APIs that return a handle through an out-parameter: closes what is
  // held and exposes the slot.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  T handle_ = Empty::Get();
};

// A COM interface pointer, released once. Written as a template so that
// this header needs no COM declarations.
template <typename Interface>
void ReleaseInterface(Interface* object) {
  object->Release();
}
template <typename Interface>
using ComHolder = UniqueHandle<Interface*, &ReleaseInterface<Interface>>;

}  // namespace launcher
