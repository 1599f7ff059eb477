#include "test_support/sealed_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "core/paths.h"

namespace launcher::testing {

SealedFolder::SealedFolder(const std::wstring& parent, const std::wstring& fileName)
    : folder_(L"\\\\?\\" + JoinPath(parent, L"sealed.")), file_(JoinPath(folder_, fileName)) {
  EXPECT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << "cannot create the sealed folder";
  HANDLE file = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << "cannot create the file in the sealed folder";
  DWORD written = 0;
  WriteFile(file, "sealed", 6, &written, nullptr);
  CloseHandle(file);
}

SealedFolder::~SealedFolder() {
  DeleteFileW(file_.c_str());
  RemoveDirectoryW(folder_.c_str());
}

std::wstring SealedFolder::path() const { return folder_.substr(4); }

bool SealedFolder::FileStillThere() const { return GetFileAttributesW(file_.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace launcher::testing
