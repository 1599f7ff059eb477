#include "publisher/object_store.h"

#include <sys/stat.h>

#include "core/release_layout.h"
#include "publisher/staged_file.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

// True when objects/<digest> holds that content; warns when it holds other
// content of the same size (it is then replaced).
bool ObjectInPlace(const fs::path& objects, const FileDigest& digest, const PublishReport& report) {
  const fs::path object = objects / digest.sha256;
  if (!ObjectOfSize(object, digest.size)) return false;
  if (DigestFile(object).sha256 == digest.sha256) return true;
  if (report.warning)
    report.warning(std::string(launcher::ObjectPathPrefix) + digest.sha256 + " had other content; it is replaced");
  return false;
}

}  // namespace

bool ObjectOfSize(const fs::path& object, std::uint64_t size) {
  struct stat existing {};
  return ::lstat(object.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
         static_cast<std::uint64_t>(existing.st_size) == size;
}

std::optional<PublishStep::Kind> PlaceObject(const fs::path& gameFolder, const fs::path& objects,
                                             const PlannedFile& file, const std::string* likely,
                                             std::set<std::string>& placed, FileDigest& digest,
                                             const PublishReport& report,
                                             const std::function<void(std::span<const std::uint8_t>)>& alsoRead) {
  const Descriptor in = OpenPlannedFile(gameFolder, file);
  std::optional<StagedFile> staged;
  if (likely) {
    digest = ReadOpenFile(in, file, [&](std::span<const std::uint8_t> chunk) {
      if (alsoRead) alsoRead(chunk);
    });
  } else {
    staged.emplace(objects / "object");
    digest = ReadOpenFile(in, file, [&](std::span<const std::uint8_t> chunk) {
      staged->Write(chunk);
      if (alsoRead) alsoRead(chunk);
    });
  }
  if (!placed.insert(digest.sha256).second) return std::nullopt;
  if (ObjectInPlace(objects, digest, report)) return PublishStep::Kind::ObjectKept;
  if (!staged) {
    staged.emplace(objects / "object");
    const FileDigest copied =
        ReadOpenFile(in, file, [&](std::span<const std::uint8_t> chunk) { staged->Write(chunk); });
    if (copied.sha256 != digest.sha256 || copied.size != digest.size) ChangedWhilePublished(file);
  }
  // Flushed all at once before the manifest is written; an object cut short
  // by a crash before that is named in no manifest, and is found by its
  // content and replaced by the next run.
  staged->CommitAs(objects / digest.sha256, StagedFile::Flush::Later);
  return PublishStep::Kind::ObjectWritten;
}

}  // namespace publisher
