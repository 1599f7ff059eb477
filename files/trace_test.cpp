#include "files/trace.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "core/records.h"

namespace launcher {
namespace {

TEST(TraceLine, NamesTheProgramAndTheCodeInTheBaseItIsDocumentedIn) {
  struct Case {
    const char* name;
    std::uint32_t code;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {"no code", 0, L"Stonewake Launcher: could not start\n"},
      {"win32 error", 5, L"Stonewake Launcher: could not start (error 5)\n"},
      {"largest win32 error", 0xFFFF, L"Stonewake Launcher: could not start (error 65535)\n"},
      {"hresult", 0x80070005u, L"Stonewake Launcher: could not start (error 0x80070005)\n"},
      {"ntstatus", 0xC0000022u, L"Stonewake Launcher: could not start (error 0xC0000022)\n"},
      {"small hex value", 0x00010000u, L"Stonewake Launcher: could not start (error 0x00010000)\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TraceLine(L"could not start", c.code), c.expected);
  }
}

TEST(DescribeCaught, TellsWhatWasThrownAndKeepsTheWindowsCode) {
  struct Case {
    const char* name;
    void (*thrower)();
    const wchar_t* what;
    std::uint32_t code;
  };
  const Case kCases[] = {
      {"launcher error",
       [] {
         throw LauncherError{L"Could not read a.pak.", 32};
       },
       L"Could not read a.pak.", 32},
      {"launcher error without a code", [] { throw LauncherError{L"Try again."}; }, L"Try again.", 0},
      {"standard exception", [] { throw std::runtime_error("vector too long"); }, L"vector too long", 0},
      {"allocation failure", [] { throw std::bad_alloc(); }, L"out of memory", 0},
      {"anything else", [] { throw 42; }, L"an exception of an unknown type", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Caught caught;
    try {
      c.thrower();
    } catch (...) {
      caught = DescribeCaught();
      // Tracing it from the same handler must not throw or end the program.
      TraceCaught(L"a test");
    }
    EXPECT_EQ(caught.what, c.what);
    EXPECT_EQ(caught.code, c.code);
  }
}

}  // namespace
}  // namespace launcher
