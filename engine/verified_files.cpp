#include "engine/verified_files.h"

#include <windows.h>

#include <map>
#include <set>
#include <unordered_map>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/text.h"
#include "files/folder_walk.h"
#include "files/small_file.h"
#include "files/trace.h"

namespace launcher {
namespace {

std::wstring RecordPath(std::wstring_view installFolder) { return JoinPath(installFolder, kVerifiedRecordName); }

std::uint64_t TimeOf(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// The folder part of a local path, up to its last separator.
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

std::wstring NameOf(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? path : path.substr(last + 1);
}

bool IsPlainFile(std::uint32_t attributes) {
  return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

}  // namespace

std::uint64_t FileTimeNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return TimeOf(now);
}

VerifiedRecord ReadVerifiedRecord(std::wstring_view installFolder) {
  const std::optional<std::string> text = ReadSmallFile(RecordPath(installFolder), kMaxVerifiedRecordBytes);
  if (!text) return {};
  VerifiedRecordParse parsed = ParseVerifiedRecord(*text);
  if (!parsed.record) {
    Trace(L"the record of verified files was refused at line " + std::to_wstring(parsed.line) + L": " +
          WidenAscii(parsed.reason));
    return {};
  }
  return std::move(*parsed.record);
}

bool WriteVerifiedRecord(std::wstring_view installFolder, const VerifiedRecord& record) {
  const std::wstring path = RecordPath(installFolder);
  if (WriteFileReplacing(path, VerifiedRecordText(record))) return true;
  Trace(L"the record of verified files could not be written", GetLastError());
  DeleteFileEvenReadOnly(path);
  return false;
}

void ForgetVerifiedFiles(std::wstring_view installFolder) { DeleteFileEvenReadOnly(RecordPath(installFolder)); }

std::vector<std::optional<FileStamp>> ListedStamps(std::wstring_view installFolder,
                                                   const std::vector<ManifestFile>& files) {
  std::vector<std::optional<FileStamp>> stamps(files.size());
  // Listed file names of each folder, by their letter-case-folded name;
  // nothing for a name that two entries share that way (a folder of a
  // case-sensitive file system), as which one Windows opens is not known.
  std::map<std::wstring, std::unordered_map<std::wstring, std::optional<FileStamp>>> listings;
  for (std::size_t index = 0; index < files.size(); ++index) {
    const std::wstring path = LocalPathFor(installFolder, files[index]);
    const std::wstring folder = FolderOf(path);
    auto [listing, added] = listings.try_emplace(folder);
    if (added) {
      ForEachListedEntry(folder, [&](const ListedEntry& entry) {
        std::optional<FileStamp> stamp;
        if (IsPlainFile(entry.attributes)) stamp = FileStamp{entry.size, entry.lastWrite};
        const auto [at, first] = listing->second.try_emplace(LowerAscii(entry.name), stamp);
        if (!first) at->second.reset();
      });
    }
    const auto found = listing->second.find(LowerAscii(NameOf(path)));
    if (found != listing->second.end()) stamps[index] = found->second;
  }
  return stamps;
}

void PlacedFiles::Add(const ManifestFile& file, const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) || !IsPlainFile(data.dwFileAttributes)) {
    return;
  }
  const FileStamp stamp{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow, TimeOf(data.ftLastWriteTime)};
  const std::lock_guard lock(mutex_);
  entries_.push_back({file.path, file.sha256, stamp, 0});
}

std::vector<VerifiedEntry> PlacedFiles::Take() {
  const std::lock_guard lock(mutex_);
  return std::move(entries_);
}

void RecordPlacedFiles(std::wstring_view installFolder, const ReleaseStatus& status,
                       std::vector<VerifiedEntry> placed) {
  VerifiedRecord before = ReadVerifiedRecord(installFolder);
  VerifiedRecord after;
  // A record no check wrote yet still counts this patch as a check, so that
  // the next one orders its files after those it hashes then.
  after.check = before.check == 0 ? 1 : before.check;
  std::unordered_map<std::string, const std::string*> released;  // path -> the release's digest
  for (const ManifestFile& file : status.files) released.try_emplace(file.path, &file.sha256);
  std::set<std::string> taken;
  for (VerifiedEntry& entry : placed) {
    const auto found = released.find(entry.path);
    if (found == released.end() || *found->second != entry.sha256 || !taken.insert(entry.path).second) continue;
    entry.check = after.check;
    after.entries.push_back(std::move(entry));
  }
  for (VerifiedEntry& entry : before.entries) {
    const auto found = released.find(entry.path);
    if (found == released.end() || *found->second != entry.sha256 || !taken.insert(entry.path).second) continue;
    after.entries.push_back(std::move(entry));
  }
  WriteVerifiedRecord(installFolder, after);
}

}  // namespace launcher
