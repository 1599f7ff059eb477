// A fresh folder under the Windows temp folder, removed with everything in
// it when the holder goes. Plus small whole-file helpers for fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // path() joined with a relative path ('/' or '\' separated).
  std::wstring operator/(std::wstring_view relative) const;

 private:
  std::wstring path_;
};

// Writes `bytes` to `path`, creating parent folders. Fails the test on error.
void WriteFileBytes(const std::wstring& path, std::string_view bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Folder of the running test program (where the helper programs are built).
std::wstring ProgramFolder();

}  // namespace launcher::testing
