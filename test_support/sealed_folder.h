// A folder that lists like any other but that no ordinary path can open:
// its name ends in a dot, which Windows drops from every path not written
// with the "\\?\" prefix, so "sealed.\x" is looked for as "sealed\x". It
// stands in for a subfolder the launcher has no access to, which Wine
// cannot produce (it ignores access lists, and tests may run as root).
//
// Removed with its one file when the holder goes (a plain recursive removal
// cannot reach it either).
#pragma once

#include <string>

namespace launcher::testing {

class SealedFolder {
 public:
  // Creates `parent`\sealed. with a file `fileName` (holding a few bytes)
  // inside it. `parent` must be an absolute drive path.
  SealedFolder(const std::wstring& parent, const std::wstring& fileName);
  ~SealedFolder();
  SealedFolder(const SealedFolder&) = delete;
  SealedFolder& operator=(const SealedFolder&) = delete;

  // The ordinary (unreachable) path of the folder: `parent`\sealed.
  std::wstring path() const;
  // Whether the file inside is still there (checked through "\\?\").
  bool FileStillThere() const;

 private:
  std::wstring folder_;  // "\\?\" form
  std::wstring file_;    // "\\?\" form
};

}  // namespace launcher::testing
