// The launcher's window object under Wine, with no release server at the
// build's address (or somebody else's; nothing here depends on which): what
// the footer shows from the start, messages any program can post, and the
// window going while the close question is open.
#include "window/launcher_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "core/paths.h"
#include "render/gdiplus_session.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using namespace std::chrono_literals;

// Runs the window thread's messages until `done` holds or `timeout`
// passes; true when it held. A quit message counts in `quit`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quit = nullptr) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        if (quit) *quit = true;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  }
  return true;
}

class LauncherWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFileBytes(install / L"installed.txt", "1.1.3\r\n");
    LauncherWindow::RegisterWindowClass(GetModuleHandleW(nullptr));
  }

  void OpenAndAwaitFirstCheck() {
    ASSERT_TRUE(window.Open(GetModuleHandleW(nullptr), 96, SW_SHOWNORMAL));
    ASSERT_TRUE(PumpUntil([&] { return window.state().phase != Checking; }, 60s)) << "the first check never ended";
  }

  GdiplusSession gdiplus;
  testing::TempFolder install;
  LauncherWindow window{install.path()};
};

// Before, the footer read "Not installed yet" until a check succeeded, so
// an installed game offline never showed its version.
TEST_F(LauncherWindowTest, FooterNamesTheInstalledVersionFromTheStartAndAfterTheCheck) {
  ASSERT_TRUE(window.Open(GetModuleHandleW(nullptr), 96, SW_SHOWNORMAL));
  EXPECT_EQ(window.state().installedVersion, L"1.1.3");
  ASSERT_TRUE(PumpUntil([&] { return window.state().phase != Checking; }, 60s));
  EXPECT_EQ(window.state().installedVersion, L"1.1.3") << "phase " << window.state().phase;
}

// Any program can post the window's closure message. Before, its lParam was
// taken for a closure's address and the launcher crashed on the first one.
TEST_F(LauncherWindowTest, JunkClosureMessagesFromAnotherProgramRunNothing) {
  OpenAndAwaitFirstCheck();
  std::wostringstream command;
  command << L"\"" << JoinPath(testing::ProgramFolder(), L"post_junk.exe") << L"\" " << std::hex
          << reinterpret_cast<UINT_PTR>(window.handle());
  ASSERT_EQ(testing::RunAndWait(command.str()), 0u) << "the junk was not posted";
  bool ran = false;
  const HWND handle = window.handle();
  ASSERT_TRUE(PumpUntil([] { return HIWORD(GetQueueStatus(QS_POSTMESSAGE)) == 0; }, 10s));
  ASSERT_TRUE(IsWindow(handle));

  // And it still works: a closure of its own still runs.
  ASSERT_TRUE(window.Post()([&ran](LauncherUi& ui) { ran = ui.state.phase != Checking; }));
  EXPECT_TRUE(PumpUntil([&] { return ran; }, 10s));
}

// A launcher replaced by a finished patch destroys its window even while
// the player is being asked whether to stop the download; the question
// closes with it and nothing runs on the window afterwards.
TEST_F(LauncherWindowTest, WindowDestroyedWhileTheCloseQuestionIsOpen) {
  OpenAndAwaitFirstCheck();
  const WindowPost post = window.Post();
  bool patching = false;
  ASSERT_TRUE(post([&patching](LauncherUi& ui) {
    ui.state.phase = Patching;
    ui.state.busy = true;
    patching = true;
  }));
  ASSERT_TRUE(PumpUntil([&] { return patching; }, 10s));

  std::atomic<bool> questionSeen = false;
  std::thread replacer([&] {
    // Wait for the question's box, owned by the window, then end the window
    // from a closure as a replaced launcher does.
    for (int i = 0; i < 2000 && !questionSeen; ++i) {
      if (FindWindowW(L"#32770", WindowTitle)) questionSeen = true;
      Sleep(10);
    }
    post([](LauncherUi& ui) { ui.LauncherReplaced(); });
  });
  const HWND handle = window.handle();
  PostMessageW(handle, WM_CLOSE, 0, 0);
  bool quit = false;
  const bool gone = PumpUntil([&] { return !IsWindow(handle) && quit; }, 30s, &quit);
  replacer.join();
  EXPECT_TRUE(questionSeen) << "the close question never opened";
  EXPECT_TRUE(gone) << "the window outlived its closure or never quit";
  EXPECT_EQ(window.handle(), nullptr);
}

}  // namespace
}  // namespace launcher
