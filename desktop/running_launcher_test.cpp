// The single-instance decision at start: who runs, who hands over, and how
// long a launcher started by its replaced predecessor waits for it.
#include "desktop/running_launcher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace launcher {
namespace {

using namespace std::chrono_literals;

// A name of this test's own, so a launcher or test running beside it in the
// same prefix never meets it.
std::wstring MutexName(const char* which) {
  return L"StonewakeLauncherTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::wstring(which, which + std::char_traits<char>::length(which));
}

// Another instance: a thread that takes the mutex and holds it until it is
// told to let go.
class Holder {
 public:
  explicit Holder(const std::wstring& name)
      : letGo_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), holding_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, name] {
      const HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
      SetEvent(holding_);
      WaitForSingleObject(letGo_, INFINITE);
      ReleaseMutex(mutex);
      CloseHandle(mutex);
    });
    WaitForSingleObject(holding_, INFINITE);
  }
  ~Holder() {
    LetGo();
    thread_.join();
    CloseHandle(letGo_);
    CloseHandle(holding_);
  }
  void LetGo() { SetEvent(letGo_); }

 private:
  HANDLE letGo_;
  HANDLE holding_;
  std::thread thread_;
};

double SecondsOf(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SingleInstance, TheFirstRunsAndTheNextHandsOver) {
  const std::wstring name = MutexName("first");
  bool first = false;
  bool second = true;
  std::thread([&] { first = TakeSingleInstance(name.c_str(), false); }).join();
  std::thread([&] { second = TakeSingleInstance(name.c_str(), false); }).join();
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
}

// A successor waits for its predecessor to let go, but never for ever: a
// predecessor that hangs must not keep the new launcher from starting.
TEST(SingleInstance, AnUpdatedLauncherWaitsForItsPredecessorAtMostTheBound) {
  {
    const std::wstring name = MutexName("hung");
    Holder predecessor(name);
    bool runs = false;
    const double took = SecondsOf([&] { runs = TakeSingleInstance(name.c_str(), true, 400); });
    EXPECT_TRUE(runs);
    EXPECT_GE(took, 0.35);
    EXPECT_LT(took, 10.0);
  }
  {
    const std::wstring name = MutexName("ending");
    Holder predecessor(name);
    bool runs = false;
    std::thread ends([&] {
      Sleep(200);
      predecessor.LetGo();
    });
    const double took = SecondsOf([&] { runs = TakeSingleInstance(name.c_str(), true, 30000); });
    ends.join();
    EXPECT_TRUE(runs);
    EXPECT_LT(took, 20.0) << "the successor waited out the bound although the predecessor ended";
  }
}

}  // namespace
}  // namespace launcher
