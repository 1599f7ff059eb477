#include "test_support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "core/paths.h"

namespace launcher::testing {
namespace {

std::atomic<unsigned> counter{0};

}  // namespace

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, base);
  path_ = JoinPath(base, L"stonewake-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++));
  std::error_code error;
  std::filesystem::create_directories(path_, error);
  EXPECT_FALSE(error) << "cannot create temp folder";
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only files would stop remove_all on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, error);
}

std::wstring TempFolder::operator/(std::wstring_view relative) const {
  std::wstring converted(relative);
  for (wchar_t& c : converted) {
    if (c == L'/') c = L'\\';
  }
  return JoinPath(path_, converted);
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << "cannot write fixture file";
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good());
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ProgramFolder() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module);
  return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace launcher::testing
