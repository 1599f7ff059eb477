// Holds a file open from another Windows process, the way a running game or
// an antivirus scanner does, for as long as the object lives.
#pragma once

#include <windows.h>

#include <string>

namespace launcher::testing {

enum class Sharing { None, Read, ReadWrite };

class HeldFile {
 public:
  // Starts hold_file.exe on `path` and waits until it has the file open.
  HeldFile(const std::wstring& path, Sharing sharing);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool holding() const { return holding_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE release_ = nullptr;
  bool holding_ = false;
};

}  // namespace launcher::testing
