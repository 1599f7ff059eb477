// Shortcuts and the icon refresh, in this test prefix's real desktop, start
// menu and pinned-taskbar folders; shortcuts are read back through
// IShellLinkW and the shell notifications are received by a window of this
// process (Wine delivers them only inside the process that sends them).
#include "desktop/shortcuts.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "desktop/testing/desktop_checks.h"
#include "resources/launcher_version.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::DesktopShortcut;
using testing::FileExists;
using testing::ProgramsShortcut;
using testing::ReadFileBytes;
using testing::ReadShortcut;
using testing::TempFolder;
using testing::WriteFileBytes;

std::wstring Known(REFKNOWNFOLDERID folder) { return KnownFolderPath(folder); }

std::wstring PinnedFolder() {
  std::wstring folder = Known(FOLDERID_RoamingAppData);
  for (const wchar_t* part : {L"Microsoft", L"Internet Explorer", L"Quick Launch", L"User Pinned", L"TaskBar"}) {
    folder = JoinPath(folder, part);
  }
  return folder;
}

// Each test starts with no shortcuts of ours and a fresh install folder
// holding a launcher file, and leaves no shortcuts behind.
class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemoveShortcuts();
    WriteFileBytes(Launcher(), "launcher");
  }
  void TearDown() override {
    RemoveShortcuts();
    CoUninitialize();
  }
  static void RemoveShortcuts() {
    DeleteFileW(DesktopShortcut().c_str());
    DeleteFileW(ProgramsShortcut().c_str());
  }
  std::wstring Launcher() const { return install / L"Stonewake Launcher.exe"; }

  void ExpectOurShortcut(const std::wstring& path) const {
    testing::ExpectShortcutTo(path, Launcher(), install.path());
  }

  TempFolder install;
};

TEST_F(ShortcutsTest, PathsAreOnTheDesktopAndInTheStartMenu) {
  const std::vector<std::wstring> expected{DesktopShortcut(), ProgramsShortcut()};
  EXPECT_EQ(ShortcutPaths(), expected);
  EXPECT_NE(Known(FOLDERID_Desktop), L"");
  EXPECT_NE(Known(FOLDERID_Programs), L"");
}

TEST_F(ShortcutsTest, MadeOncePerInstallation) {
  MakeShortcutsOnce(Launcher(), install.path());
  ExpectOurShortcut(DesktopShortcut());
  ExpectOurShortcut(ProgramsShortcut());
  EXPECT_EQ(ReadFileBytes(install / L"shortcuts.txt"), "made\r\n");

  // The user deletes them: they stay deleted while the marker exists.
  RemoveShortcuts();
  MakeShortcutsOnce(Launcher(), install.path());
  EXPECT_FALSE(FileExists(DesktopShortcut()));
  EXPECT_FALSE(FileExists(ProgramsShortcut()));

  // Without the marker they come back.
  DeleteFileW((install / L"shortcuts.txt").c_str());
  MakeShortcutsOnce(Launcher(), install.path());
  ExpectOurShortcut(DesktopShortcut());
  ExpectOurShortcut(ProgramsShortcut());
}

// Only shortcuts that exist are rewritten; a deleted one is not recreated.
TEST_F(ShortcutsTest, RewritingTouchesOnlyExistingShortcuts) {
  TempFolder elsewhere;
  MakeShortcuts(elsewhere / L"old.exe", elsewhere.path(), false);
  DeleteFileW(DesktopShortcut().c_str());

  MakeShortcuts(Launcher(), install.path(), true);
  EXPECT_FALSE(FileExists(DesktopShortcut()));
  ExpectOurShortcut(ProgramsShortcut());
}

// A desktop that cannot be resolved is skipped: no shortcut lands in the
// current folder, and the start-menu shortcut is still made.
TEST_F(ShortcutsTest, UnresolvableFolderIsSkipped) {
  const std::wstring desktop = Known(FOLDERID_Desktop);
  const std::wstring away = desktop + L".away";
  ASSERT_TRUE(MoveFileW(desktop.c_str(), away.c_str()));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(install.path().c_str());

  const bool resolved = !Known(FOLDERID_Desktop).empty();
  MakeShortcutsOnce(Launcher(), install.path());
  const std::vector<std::wstring> paths = ShortcutPaths();

  SetCurrentDirectoryW(previous);
  RemoveDirectoryW(desktop.c_str());
  ASSERT_TRUE(MoveFileW(away.c_str(), desktop.c_str()));
  if (resolved) GTEST_SKIP() << "this system resolves a missing desktop folder";

  EXPECT_FALSE(FileExists(install / L"Stonewake.lnk"));
  EXPECT_EQ(paths, std::vector<std::wstring>{ProgramsShortcut()});
  ExpectOurShortcut(ProgramsShortcut());
}

TEST(PinnedShortcutName, OnlyLowerCaseLnkWithAName) {
  struct Case {
    const wchar_t* name;
    bool announced;
  };
  const Case cases[] = {
      {L"Stonewake.lnk", true},   {L"File Explorer.lnk", true}, {L".hidden.lnk", true}, {L"a.b.lnk", true},
      {L"Stonewake.LNK", false},  {L"Stonewake.Lnk", false},    {L".lnk", false},       {L"Stonewake.lnk.txt", false},
      {L"Stonewake.lnkx", false}, {L"Stonewake", false},        {L"lnk", false},        {L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowLow(c.name));
    EXPECT_EQ(IsPinnedShortcutName(c.name), c.announced);
  }
}

// Receives the shell's change notifications sent from this process.
class NotificationRecorder {
 public:
  struct Notification {
    LONG event;
    std::wstring path;
    bool operator==(const Notification&) const = default;
    friend void PrintTo(const Notification& n, std::ostream* out) { *out << n.event << " " << NarrowLow(n.path); }
  };

  NotificationRecorder() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &NotificationRecorder::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"StonewakeNotificationRecorder";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SHChangeNotifyEntry everything{nullptr, TRUE};
    registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS, kMessage,
                                           1, &everything);
  }
  ~NotificationRecorder() {
    if (registration_) SHChangeNotifyDeregister(registration_);
    DestroyWindow(window_);
  }
  NotificationRecorder(const NotificationRecorder&) = delete;
  NotificationRecorder& operator=(const NotificationRecorder&) = delete;

  bool registered() const { return window_ && registration_; }

  // What arrived so far, after handling the messages waiting.
  std::vector<Notification> Take() {
    MSG message;
    for (int round = 0; round < 20; ++round) {
      while (PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(10);
    }
    return std::move(received_);
  }

 private:
  static constexpr UINT kMessage = WM_APP + 7;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NotificationRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != kMessage || !self) return DefWindowProcW(window, message, wParam, lParam);
    PIDLIST_ABSOLUTE* items = nullptr;
    LONG event = 0;
    HANDLE lock =
        SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items, &event);
    if (!lock) return 0;
    wchar_t path[MAX_PATH * 2] = {};
    if (items && items[0]) SHGetPathFromIDListW(items[0], path);
    self->received_.push_back({event, path});
    SHChangeNotification_Unlock(lock);
    return 0;
  }

  HWND window_ = nullptr;
  ULONG registration_ = 0;
  std::vector<Notification> received_;
};

class IconRefreshTest : public ShortcutsTest {
 protected:
  void SetUp() override {
    ShortcutsTest::SetUp();
    pinned = PinnedFolder();
    for (const wchar_t* name : {L"Stonewake.lnk", L"Mail.LNK", L".lnk", L"notes.txt"}) {
      WriteFileBytes(JoinPath(pinned, name), "pinned");
    }
  }
  void TearDown() override {
    for (const wchar_t* name : {L"Stonewake.lnk", L"Mail.LNK", L".lnk", L"notes.txt"}) {
      DeleteFileW(JoinPath(pinned, name).c_str());
    }
    ShortcutsTest::TearDown();
  }

  std::wstring Marker() const { return install / L"icons.txt"; }
  std::string VersionLine() const { return NarrowLow(LauncherVersionText) + "\r\n"; }

  std::vector<NotificationRecorder::Notification> Announced() const {
    using N = NotificationRecorder::Notification;
    return {N{SHCNE_UPDATEITEM, Launcher()},
            N{SHCNE_UPDATEITEM, install / L"game\\Stonewake.exe"},
            N{SHCNE_UPDATEITEM, DesktopShortcut()},
            N{SHCNE_UPDATEITEM, ProgramsShortcut()},
            N{SHCNE_UPDATEITEM, JoinPath(pinned, L"Stonewake.lnk")},
            N{SHCNE_ASSOCCHANGED, L""}};
  }

  std::wstring pinned;
};

TEST_F(IconRefreshTest, OncePerLauncherVersion) {
  NotificationRecorder recorder;
  ASSERT_TRUE(recorder.registered());
  MakeShortcutsOnce(Launcher(), install.path());
  recorder.Take();

  RefreshIcons(Launcher(), install.path());
  EXPECT_EQ(recorder.Take(), Announced());
  EXPECT_EQ(ReadFileBytes(Marker()), VersionLine());

  // The same version again: nothing is rewritten or announced.
  TempFolder elsewhere;
  MakeShortcuts(elsewhere / L"old.exe", elsewhere.path(), false);
  recorder.Take();
  RefreshIcons(Launcher(), install.path());
  EXPECT_TRUE(recorder.Take().empty());
  EXPECT_EQ(ReadShortcut(DesktopShortcut()).target, elsewhere / L"old.exe");
}

// Any first line other than exactly the version refreshes: the shortcuts
// that exist are rewritten, a deleted one stays deleted, and the four fixed
// paths are announced whether or not their files exist.
TEST_F(IconRefreshTest, AnotherMarkerRefreshes) {
  NotificationRecorder recorder;
  ASSERT_TRUE(recorder.registered());
  const std::string version = NarrowLow(LauncherVersionText);
  for (const std::string& marker :
       {version + " \r\n", std::string("2.4.9\r\n"), std::string("\r\n"), " " + version + "\r\n"}) {
    SCOPED_TRACE(marker);
    TempFolder elsewhere;
    MakeShortcuts(elsewhere / L"old.exe", elsewhere.path(), false);
    DeleteFileW(DesktopShortcut().c_str());
    WriteFileBytes(Marker(), marker);
    recorder.Take();

    RefreshIcons(Launcher(), install.path());
    const auto received = recorder.Take();
    EXPECT_EQ(received, Announced());
    EXPECT_FALSE(FileExists(DesktopShortcut()));
    ExpectOurShortcut(ProgramsShortcut());
    EXPECT_EQ(ReadFileBytes(Marker()), VersionLine());
  }
}

// The marker written by the text stream reads back as the version; a line
// without its line end counts as well.
TEST_F(IconRefreshTest, MarkerWithOrWithoutLineEndMatches) {
  NotificationRecorder recorder;
  ASSERT_TRUE(recorder.registered());
  const std::string version = NarrowLow(LauncherVersionText);
  for (const std::string& marker : {version + "\r\n", version + "\n", version, version + "\r\nmore\r\n"}) {
    SCOPED_TRACE(marker);
    WriteFileBytes(Marker(), marker);
    recorder.Take();
    RefreshIcons(Launcher(), install.path());
    EXPECT_TRUE(recorder.Take().empty());
  }
}

TEST_F(IconRefreshTest, MissingPinnedFolderStillAnnouncesTheFixedPaths) {
  for (const wchar_t* name : {L"Stonewake.lnk", L"Mail.LNK", L".lnk", L"notes.txt"}) {
    DeleteFileW(JoinPath(pinned, name).c_str());
  }
  ASSERT_TRUE(RemoveDirectoryW(pinned.c_str()));
  NotificationRecorder recorder;
  ASSERT_TRUE(recorder.registered());

  RefreshIcons(Launcher(), install.path());
  auto expected = Announced();
  expected.erase(expected.begin() + 4);
  EXPECT_EQ(recorder.Take(), expected);
  EXPECT_EQ(ReadFileBytes(Marker()), VersionLine());
}

}  // namespace
}  // namespace launcher
