#include "publisher/release_tree.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "core/install_layout.h"
#include "core/manifest.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "core/text.h"
#include "core/version.h"
#include "publisher/chunk_indexes.h"
#include "publisher/install_names.h"
#include "publisher/launcher_check.h"
#include "publisher/object_store.h"
#include "publisher/publish_error.h"
#include "publisher/staged_file.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

std::string ListProblems(const std::string& heading, const std::vector<std::string>& problems) {
  std::string message = heading;
  for (const std::string& problem : problems) message += "\n  " + problem;
  return message;
}

bool IsInside(const fs::path& inner, const fs::path& outer) {
  const auto [end, ignored] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return end == outer.end();
}

bool SameManifest(const launcher::Manifest& a, const launcher::Manifest& b) {
  if (a.version != b.version || a.commit != b.commit || a.rollback != b.rollback) return false;
  return std::equal(a.files.begin(), a.files.end(), b.files.begin(), b.files.end(),
                    [](const launcher::ManifestFile& x, const launcher::ManifestFile& y) {
                      return x.path == y.path && x.sha256 == y.sha256 && x.size == y.size;
                    });
}

// The text of `manifest`, refused unless the launcher would read back exactly
// `manifest` from it and fetch it at all.
std::string CheckedManifestText(const launcher::Manifest& manifest) {
  const std::string text = ManifestText(manifest);
  if (text.size() > kMaxManifestBytes) {
    throw PublishError("The manifest would take " + std::to_string(text.size()) +
                       " bytes, but the launcher reads at most " + std::to_string(kMaxManifestBytes) +
                       "; the release needs fewer files or shorter paths");
  }
  const launcher::ManifestReading reading = launcher::ReadManifest(launcher::AsBytes(text));
  if (reading.refusal) throw PublishError("The launcher would refuse the manifest: " + reading.refusal->reason);
  if (!SameManifest(reading.manifest, manifest)) {
    throw PublishError("The launcher would read the manifest differently from what was written");
  }
  return text;
}

// What the players' launchers will make of this release next to the one
// already in the tree: they ignore an older version unless it is a
// rollback, and they trust only the key that signed what they have.
// Returns the release the tree holds now, when there is one that can be read.
std::optional<launcher::Manifest> CheckAgainstCurrentRelease(const ReleaseInput& input, const PublicKey& key,
                                                             const fs::path& tree, const PublishReport& report) {
  const fs::path manifestFile = tree / launcher::ManifestPath;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(manifestFile, error))) return std::nullopt;
  const std::optional<std::string> text = ReadAtMost(manifestFile, kMaxManifestBytes);
  std::optional<launcher::Manifest> current;
  if (text) {
    launcher::ManifestReading reading = launcher::ReadManifest(launcher::AsBytes(*text));
    if (!reading.refusal) current = std::move(reading.manifest);
  }
  if (!current) {
    if (report.warning) report.warning(manifestFile.string() + " cannot be read as a manifest; it will be replaced");
    return std::nullopt;
  }

  if (!input.rollback &&
      launcher::IsOlderVersion(launcher::WidenAscii(input.version), launcher::WidenAscii(current->version))) {
    throw PublishError(
        "Version " + Printable(input.version) + " orders before the published version " + Printable(current->version) +
        ", so players who have " + Printable(current->version) +
        " would ignore it. Choose a later version, or pass --rollback to take them back; nothing was written");
  }

  const std::optional<std::string> signature = ReadAtMost(tree / launcher::SignaturePath, kMaxSignatureFileBytes);
  const std::optional<RawSignature> raw = signature ? SignatureOfFile(*signature) : std::nullopt;
  const bool signedByKey = raw && Verify(key, launcher::AsBytes(*text), *raw);
  if (!signedByKey && !input.newKey) {
    throw PublishError("The published release " + Printable(current->version) +
                       " was not signed with this key. Players' launchers trust the key that signed it and would "
                       "refuse this release. Sign with that key, or pass --new-key if the launchers players run "
                       "carry the new key; nothing was written");
  }
  return current;
}

struct Progress {
  std::size_t filesDone = 0;
  std::size_t filesTotal = 0;
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
};

// The manifest of a plan with every digest still unknown: its final length
// and grammar.
launcher::Manifest UndigestedManifest(const ReleasePlan& plan) {
  launcher::Manifest manifest{plan.input.version, plan.input.commit, plan.input.rollback, {}};
  for (const PlannedFile& file : plan.files) manifest.files.push_back({file.path, std::string(64, '0'), file.size});
  return manifest;
}

void RemoveStaleTemps(const fs::path& folder) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (IsStagedTempName(it->path().filename().string())) fs::remove(it->path(), error);
  }
}

// An index beside every large object, after the objects and before the
// manifest: a launcher that finds a manifest finds each object's index.
// `indexedNow` are the objects whose index this run wrote already.
void WriteChunkIndexes(const fs::path& objects, const launcher::Manifest& manifest,
                       const std::set<std::string>& indexedNow, PublishResult& result, const PublishReport& report) {
  std::vector<const launcher::ManifestFile*> large;
  std::set<std::string> seen;
  Progress progress;
  for (const launcher::ManifestFile& file : manifest.files) {
    if (!WantsChunkIndex(file.size) || !seen.insert(file.sha256).second) continue;
    large.push_back(&file);
    progress.bytesTotal += file.size;
  }
  progress.filesTotal = large.size();
  const auto tell = [&](PublishStep::Kind kind, const fs::path& file, std::uint64_t bytes) {
    if (report.step) {
      report.step({kind, file, progress.filesDone, progress.filesTotal, bytes, progress.bytesTotal});
    }
  };
  for (const launcher::ManifestFile* file : large) {
    const fs::path index = objects / (file->sha256 + ".chunks");
    const std::uint64_t before = progress.bytesDone;
    const ChunkIndexOutcome outcome = indexedNow.contains(file->sha256)
                                          ? ChunkIndexOutcome::Written
                                          : PlaceChunkIndex(objects, *file, [&](std::uint64_t read) {
                                              tell(PublishStep::Kind::ChunkIndexReading, index, before + read);
                                            });
    ++(outcome == ChunkIndexOutcome::Written ? result.indexesWritten : result.indexesKept);
    ++progress.filesDone;
    progress.bytesDone += file->size;
    tell(outcome == ChunkIndexOutcome::Written ? PublishStep::Kind::ChunkIndexWritten
                                               : PublishStep::Kind::ChunkIndexKept,
         index, progress.bytesDone);
  }
}

}  // namespace

std::optional<std::string> ReadAtMost(const fs::path& file, std::size_t limit) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  constexpr std::size_t kStep = 1 << 20;
  while (bytes.size() <= limit) {
    const std::size_t size = bytes.size();
    bytes.resize(size + std::min(kStep, limit + 1 - size));
    in.read(bytes.data() + size, static_cast<std::streamsize>(bytes.size() - size));
    bytes.resize(size + static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return std::nullopt;
    if (!in) break;
  }
  return bytes;
}

std::string WordProblem(std::string_view word) {
  if (word.empty()) return "is empty";
  for (char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return "must be one word of printable ASCII (no spaces or control characters)";
  }
  return {};
}

ReleasePlan PlanRelease(const ReleaseInput& input, const PrivateKey& key, const fs::path& tree,
                        const PublishReport& report) {
  const PublicKey publicKey = PublicKeyOf(key);
#ifdef STONEWAKE_TEST_PUBLIC_KEY
  if (PublicKeyHex(publicKey) == STONEWAKE_TEST_PUBLIC_KEY && report.warning) {
    report.warning("signing with the committed test-only key: only test builds of the launcher trust it");
  }
#endif

  std::vector<std::string> problems;
  if (std::string problem = WordProblem(input.version); !problem.empty()) problems.push_back("the version " + problem);
  if (!input.commit.empty()) {
    if (std::string problem = WordProblem(input.commit); !problem.empty()) problems.push_back("the commit " + problem);
  }

  std::error_code error;
  if (!fs::is_directory(input.gameFolder, error)) {
    throw PublishError("The game folder " + input.gameFolder.string() + " is not a folder; nothing was written");
  }
  std::error_code treeError;
  const fs::path gameReal = fs::canonical(input.gameFolder, error);
  const fs::path treeReal = fs::weakly_canonical(tree, treeError);
  if (!error && !treeError && IsInside(treeReal, gameReal)) {
    throw PublishError("The release tree " + tree.string() + " lies inside the game folder " +
                       input.gameFolder.string() + "; put it elsewhere. Nothing was written");
  }

  std::vector<PlannedFile> files = WalkGameFolder(input.gameFolder, problems);
  if (files.empty()) problems.push_back(input.gameFolder.string() + ": the game folder has no files");
  std::optional<LauncherFacts> launcherFacts;
  if (!input.launcherExe.empty()) {
    if (std::optional<CheckedLauncher> checked =
            CheckLauncher(input.launcherExe, publicKey, input.rotateKey, input.server, problems, report)) {
      files.push_back(std::move(checked->file));
      launcherFacts = std::move(checked->facts);
    }
  }
  // Byte order of the manifest paths: stable whatever order the file system
  // lists a folder in.
  std::sort(files.begin(), files.end(), [](const PlannedFile& a, const PlannedFile& b) { return a.path < b.path; });

  std::vector<std::string> paths;
  for (const PlannedFile& file : files) paths.push_back(file.path);
  for (std::string& problem : InstallPathProblems(paths)) problems.push_back(std::move(problem));
  if (!problems.empty()) throw PublishError(ListProblems("Refused; nothing was written:", problems));

  // The same manifest with every digest still unknown has the final length
  // and grammar, so refuse it now rather than after writing objects.
  ReleasePlan plan{input, std::move(files), std::nullopt, std::move(launcherFacts)};
  CheckedManifestText(UndigestedManifest(plan));
  plan.published = CheckAgainstCurrentRelease(input, publicKey, tree, report);

  for (const PlannedFile& file : plan.files) {
    if (file.path.ends_with("/" + std::string(launcher::GameLayoutFileName))) {
      if (report.warning)
        report.warning(file.path + ": players' launchers keep their own " + std::string(launcher::GameLayoutFileName) +
                       ", but will replace it with this one whenever it differs");
    }
  }
  if (std::none_of(plan.files.begin(), plan.files.end(),
                   [](const PlannedFile& f) { return f.path == launcher::GameExecutablePath; }) &&
      report.warning) {
    report.warning(
        "the release has no game/Stonewake.exe: players' launchers install it, but Play, which starts "
        "game\\Stonewake.exe, fails with \"Could not start Stonewake.exe.\"");
  }
  return plan;
}

PublishResult WriteRelease(const ReleasePlan& plan, const PrivateKey& key, const fs::path& tree,
                           const PublishReport& report) {
  const PublicKey publicKey = PublicKeyOf(key);
  const std::vector<PlannedFile>& files = plan.files;
  launcher::Manifest manifest = UndigestedManifest(plan);
  Progress progress;
  progress.filesTotal = files.size();
  for (const PlannedFile& file : files) progress.bytesTotal += file.size;

  const fs::path objects = tree / launcher::ObjectsFolderName;
  const fs::path latest = tree / launcher::LatestFolderName;
  MakeFolders(tree);
  const TreeLock lock(tree);
  // Another run may have published between the plan and the lock: weigh the
  // release against what the tree holds now, or a 1.4 planned first could
  // replace a 1.5 published meanwhile, or sign over another key's release.
  // The plan's run already warned about a manifest that cannot be read.
  const std::optional<launcher::Manifest> current = CheckAgainstCurrentRelease(plan.input, publicKey, tree, {});
  MakeFolders(objects);
  MakeFolders(latest);
  RemoveStaleTemps(objects);
  RemoveStaleTemps(latest);

  // What the published release lists, to spot files that are already in
  // the tree.
  std::map<std::string, const launcher::ManifestFile*> published;
  if (current) {
    for (const launcher::ManifestFile& file : current->files) published.emplace(file.path, &file);
  }

  PublishResult result;
  std::set<std::string> placed;
  std::set<std::string> indexedNow;  // chunk indexes written while their objects were read
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto listed = published.find(files[i].path);
    const std::string* likely = listed != published.end() && listed->second->size == files[i].size &&
                                        ObjectOfSize(objects / listed->second->sha256, files[i].size)
                                    ? &listed->second->sha256
                                    : nullptr;
    // A large file's chunks are hashed on another thread during the read
    // that copies and hashes it, unless the tree already indexes the object
    // it likely is.
    std::optional<BackgroundChunker> chunker;
    if (WantsChunkIndex(files[i].size) && !(likely && ReadChunkIndex(objects, *likely, files[i].size).index)) {
      chunker.emplace(launcher::kChunkRule);
    }
    FileDigest digest;
    const std::optional<PublishStep::Kind> placedNow =
        PlaceObject(plan.input.gameFolder, objects, files[i], likely, placed, digest, report,
                    chunker ? std::function<void(std::span<const std::uint8_t>)>(
                                  [&](std::span<const std::uint8_t> block) { chunker->Add(block); })
                            : nullptr);
    if (chunker && placedNow && WantsChunkIndex(digest.size) &&
        !ReadChunkIndex(objects, digest.sha256, digest.size).index) {
      WriteChunkIndex(objects, digest.sha256, digest.size, launcher::kChunkRule, chunker->Finish());
      indexedNow.insert(digest.sha256);
    }
    manifest.files[i].sha256 = digest.sha256;
    manifest.files[i].size = digest.size;
    progress.bytesTotal += digest.size - files[i].size;
    const PublishStep::Kind kind = placedNow.value_or(PublishStep::Kind::ObjectKept);
    if (placedNow) ++(kind == PublishStep::Kind::ObjectWritten ? result.objectsWritten : result.objectsKept);
    ++progress.filesDone;
    progress.bytesDone += digest.size;
    if (report.step) {
      report.step({kind, objects / digest.sha256, progress.filesDone, progress.filesTotal, progress.bytesDone,
                   progress.bytesTotal});
    }
  }
  WriteChunkIndexes(objects, manifest, indexedNow, result, report);
  // The objects and their indexes, content and names, must be on disk
  // before a manifest that lists them.
  SyncFileSystem(objects);

  const std::string text = CheckedManifestText(manifest);
  if (report.beforeManifest) report.beforeManifest(current.value_or(launcher::Manifest{}), manifest, text.size());
  const RawSignature signature = Sign(key, launcher::AsBytes(text));
  if (!Verify(publicKey, launcher::AsBytes(text), signature))
    throw PublishError("The new signature does not verify; nothing was published");

  WriteFileAtomically(latest / launcher::ManifestFileName, text);
  if (report.step) {
    report.step({PublishStep::Kind::Manifest, latest / launcher::ManifestFileName, progress.filesDone,
                 progress.filesTotal, progress.bytesDone, progress.bytesTotal});
  }
  WriteFileAtomically(latest / launcher::SignatureFileName, SignatureFileText(signature));
  SyncFolder(latest);
  if (report.step) {
    report.step({PublishStep::Kind::Signature, latest / launcher::SignatureFileName, progress.filesDone,
                 progress.filesTotal, progress.bytesDone, progress.bytesTotal});
  }

  result.manifest = std::move(manifest);
  result.bytes = progress.bytesDone;
  return result;
}

launcher::Manifest DigestRelease(const ReleasePlan& plan) {
  launcher::Manifest manifest = UndigestedManifest(plan);
  for (std::size_t i = 0; i < plan.files.size(); ++i) {
    const FileDigest digest =
        ReadPlannedFile(plan.input.gameFolder, plan.files[i], [](std::span<const std::uint8_t>) {});
    manifest.files[i].sha256 = digest.sha256;
    manifest.files[i].size = digest.size;
  }
  CheckedManifestText(manifest);
  return manifest;
}

PublishResult PublishRelease(const ReleaseInput& input, const PrivateKey& key, const fs::path& tree,
                             const PublishReport& report) {
  return WriteRelease(PlanRelease(input, key, tree, report), key, tree, report);
}

}  // namespace publisher
