// A depth-first walk over the regular files under a folder that never
// throws: a subfolder that cannot be opened is skipped and the walk goes on
// with its siblings, and links to folders are not followed into (a junction
// pointing at its own parent would otherwise loop for ever).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace launcher {

struct WalkedFile {
  const std::wstring& path;  // the walked folder's path with the relative path joined on
  const std::wstring& name;  // last component
  // The size the folder's listing gives, with no call of its own (a file
  // being written may be listed with a size a little behind); a link's is
  // its target's, 0 when that cannot be read.
  std::uint64_t listedSize;
};

// True when `path`'s status can be read, following links: something is
// there, whatever it is.
bool PathStatusReadable(const std::wstring& path);

// True when `path` is a folder, or a link to one.
bool IsExistingFolder(const std::wstring& path);

// The size of the file at `path`, following links; false when it cannot be
// read.
bool FileSizeOf(const std::wstring& path, std::uint64_t& size);

// Calls `visit` with the name and attributes of every entry of `folder` but
// "." and "..", in the order the file system lists them. The attributes are
// the entry's own: a link reads as a reparse point, not as its target.
// Nothing is visited when the folder cannot be listed.
void ForEachFolderEntry(const std::wstring& folder,
                        const std::function<void(const std::wstring& name, std::uint32_t attributes)>& visit);

// What a folder's listing says of one entry, without opening it: its own
// attributes, size and last-write time (100 ns units since 1601). A link's
// are the link's, not its target's.
struct ListedEntry {
  std::wstring_view name;
  std::uint32_t attributes;
  std::uint64_t size;
  std::uint64_t lastWrite;
};

// Calls `visit` for every entry of `folder` but "." and "..", from one
// listing (FindExInfoBasic, large fetch); nothing when it cannot be listed.
void ForEachListedEntry(const std::wstring& folder, const std::function<void(const ListedEntry&)>& visit);

// Calls `visit` for every regular file (or link to one) under `folder`, in
// the order the file system lists entries, descending into each subfolder
// as it is met.
void WalkRegularFiles(const std::wstring& folder, const std::function<void(const WalkedFile&)>& visit);

}  // namespace launcher
