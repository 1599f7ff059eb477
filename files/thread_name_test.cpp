#include "files/thread_name.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "files/system_handles.h"

namespace launcher {
namespace {

// The name the system holds for the calling thread; nothing when this
// Windows cannot tell.
bool ReadThisThreadName(std::wstring& name) {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  LocalText text;
  if (!get || FAILED(get(GetCurrentThread(), text.put()))) return false;
  name = text ? text.get() : L"";
  return true;
}

TEST(NameThisThread, NamesTheCallingThreadOnly) {
  std::wstring mine;
  if (!ReadThisThreadName(mine)) GTEST_SKIP() << "this Windows keeps no thread names";
  std::wstring named;
  std::thread([&] {
    NameThisThread(L"release check");
    ReadThisThreadName(named);
  }).join();
  EXPECT_EQ(named, L"release check");
  std::wstring after;
  ASSERT_TRUE(ReadThisThreadName(after));
  EXPECT_EQ(after, mine);
}

}  // namespace
}  // namespace launcher
