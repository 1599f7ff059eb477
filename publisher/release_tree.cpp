#include "publisher/release_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "core/install_layout.h"
#include "core/manifest.h"
#include "core/signature_file.h"
#include "core/text.h"
#include "core/version.h"
#include "publisher/install_names.h"
#include "publisher/publish_error.h"
#include "publisher/staged_file.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunkBytes = 1 << 20;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string ListProblems(const std::string& heading, const std::vector<std::string>& problems) {
  std::string message = heading;
  for (const std::string& problem : problems) message += "\n  " + problem;
  return message;
}

// What the launcher keeps beside the game folder, never inside it.
bool IsLauncherOwnName(const std::string& name) {
  const std::string lowered = launcher::LowerAscii(name);
  return lowered == "stonewake launcher.exe" || lowered == "stonewake launcher.old";
}

bool IsInside(const fs::path& inner, const fs::path& outer) {
  const auto [end, ignored] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return end == outer.end();
}

// Every regular file under the game folder. Anything else a player's install
// could not reproduce is a problem: links (the launcher writes plain files),
// devices, pipes and sockets.
std::vector<PlannedFile> WalkGameFolder(const fs::path& folder, std::vector<std::string>& problems) {
  std::vector<PlannedFile> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, error);
  if (error) throw PublishError("Cannot read the game folder " + folder.string() + ": " + error.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path relative = it->path().lexically_relative(folder);
    const std::string path = std::string(launcher::GamePathPrefix) + relative.generic_string();
    const fs::file_status status = it->symlink_status(error);
    if (error) throw PublishError("Cannot read " + it->path().string() + ": " + error.message());
    if (fs::is_directory(status)) continue;
    if (fs::is_symlink(status)) {
      const bool toFolder = fs::is_directory(fs::status(it->path(), error));
      problems.push_back(Printable(path) +
                         ": a symbolic link; a release carries only regular files and players' "
                         "launchers write plain files. Replace the link with a copy of the " +
                         (toFolder ? "folder" : "file") + " it points to (" +
                         (toFolder ? "rm LINK && cp -r TARGET LINK" : "cp --remove-destination TARGET LINK") + ")");
    } else if (!fs::is_regular_file(status)) {
      problems.push_back(Printable(path) +
                         ": a special file (device, pipe or socket); a release carries only regular files");
    } else {
      const std::uint64_t size = it->file_size(error);
      if (error) throw PublishError("Cannot read " + it->path().string() + ": " + error.message());
      if (!relative.has_parent_path() && IsLauncherOwnName(relative.string())) {
        problems.push_back(Printable(path) +
                           ": the launcher's own file in the game folder; this looks like an install folder. "
                           "Pass the game folder itself, and the launcher with --launcher");
      }
      files.push_back({path, it->path(), size, {}});
    }
  }
  if (error) throw PublishError("Cannot read the game folder " + folder.string() + ": " + error.message());
  return files;
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
  try {
    if (!SameManifest(launcher::ParseManifest(Bytes(text)), manifest)) {
      throw PublishError("The launcher would read the manifest differently from what was written");
    }
  } catch (const launcher::LauncherError&) {
    throw PublishError("The launcher would refuse the manifest");
  }
  return text;
}

// What the players' launchers will make of this release next to the one
// already in the tree: they ignore an older version unless it is a
// rollback, and they trust only the key that signed what they have.
// Returns the release the tree holds now, when there is one that can be read.
std::optional<launcher::Manifest> CheckAgainstCurrentRelease(const ReleaseInput& input, const PublicKey& key,
                                                             const fs::path& tree, const PublishReport& report) {
  const fs::path manifestFile = tree / "latest" / "manifest.txt";
  std::error_code error;
  if (!fs::exists(fs::symlink_status(manifestFile, error))) return std::nullopt;
  const std::optional<std::string> text = ReadAtMost(manifestFile, kMaxManifestBytes);
  std::optional<launcher::Manifest> current;
  try {
    if (text) current = launcher::ParseManifest(Bytes(*text));
  } catch (const launcher::LauncherError&) {
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

  const std::optional<std::string> signature = ReadAtMost(tree / "latest" / "manifest.sig", kMaxSignatureFileBytes);
  bool signedByKey = false;
  try {
    if (signature) {
      const std::vector<std::uint8_t> raw = launcher::ParseSignatureFile(Bytes(*signature));
      RawSignature fixed;
      std::copy(raw.begin(), raw.end(), fixed.begin());
      signedByKey = Verify(key, Bytes(*text), fixed);
    }
  } catch (const launcher::LauncherError&) {
  }
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

[[noreturn]] void NoLongerThere(const PlannedFile& file) {
  throw PublishError(file.source.string() +
                     " is no longer the regular file the walk of the game folder found (a link, a special file or "
                     "gone now); publish again when nothing changes the game folder");
}

// Opens a planned file for its one read. Below the game folder no step may
// be a link: each folder on the way is opened relative to the one before
// without following one, and so is the file. O_NONBLOCK keeps a pipe put in
// its place from holding the open until a writer comes. The launcher was
// named by the studio and may be a link.
Descriptor OpenPlannedFile(const fs::path& gameFolder, const PlannedFile& file) {
  constexpr int kFileFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  Descriptor in;
  if (!file.path.starts_with(launcher::GamePathPrefix)) {
    in.reset(::open(file.source.c_str(), kFileFlags));
  } else {
    Descriptor folder(::open(gameFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw PublishError("Cannot open the game folder " + gameFolder.string() + ": " + std::strerror(errno));
    std::string_view rest = std::string_view(file.path).substr(5);
    for (std::size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest.remove_prefix(slash + 1)) {
      folder.reset(::openat(folder.get(), std::string(rest.substr(0, slash)).c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!folder) NoLongerThere(file);
    }
    in.reset(::openat(folder.get(), std::string(rest).c_str(), kFileFlags | O_NOFOLLOW));
  }
  struct stat status {};
  if (!in || ::fstat(in.get(), &status) != 0 || !S_ISREG(status.st_mode)) NoLongerThere(file);
  return in;
}

[[noreturn]] void ChangedWhilePublished(const PlannedFile& file) {
  throw PublishError(file.source.string() +
                     " changed while it was being published; publish again when nothing writes "
                     "to the game folder");
}

bool SameContentAs(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Reads an opened planned file from its first byte, handing each chunk to
// `sink`, and returns its digest. Refuses a file written to meanwhile and a
// launcher that is not a Windows executable. Reads by offset, so the same
// descriptor can be read again.
FileDigest ReadOpenFile(const Descriptor& in, const PlannedFile& file,
                        const std::function<void(std::span<const std::uint8_t>)>& sink) {
  struct stat before {};
  ::fstat(in.get(), &before);
  Sha256 hash;
  // Sized by the file as the walk saw it (a file that grew meanwhile is
  // still read whole, in more reads): a buffer of the whole chunk, zeroed
  // for every small file, was most of the publisher's work on a game of
  // many small files.
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::clamp<std::uint64_t>(file.size + 1, 4096, kChunkBytes)));
  std::string head;  // the first bytes, to check the launcher's
  FileDigest digest;
  for (;;) {
    const ssize_t n = ::pread(in.get(), buffer.data(), buffer.size(), static_cast<off_t>(digest.size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw PublishError("Cannot read " + file.source.string() + ": " + std::strerror(errno));
    if (n == 0) break;
    const std::span<const std::uint8_t> chunk(buffer.data(), static_cast<std::size_t>(n));
    hash.Update(chunk);
    sink(chunk);
    if (head.size() < 2)
      head.append(reinterpret_cast<const char*>(chunk.data()), std::min<std::size_t>(2, chunk.size()));
    digest.size += static_cast<std::uint64_t>(n);
  }
  digest.sha256 = hash.Finish();
  struct stat after {};
  // A file written to meanwhile may have been read half old, half new.
  if (::fstat(in.get(), &after) != 0 || !SameContentAs(before, after)) ChangedWhilePublished(file);
  if (!file.checkedSha256.empty() && digest.sha256 != file.checkedSha256) ChangedWhilePublished(file);
  if (file.path == launcher::LauncherFileName && !head.starts_with("MZ")) {
    throw PublishError(file.source.string() + ": the launcher is not a Windows executable");
  }
  return digest;
}

// Opens a planned file and reads it once (ReadOpenFile).
FileDigest ReadPlannedFile(const fs::path& gameFolder, const PlannedFile& file,
                           const std::function<void(std::span<const std::uint8_t>)>& sink) {
  return ReadOpenFile(OpenPlannedFile(gameFolder, file), file, sink);
}

// A regular file of `size` bytes at `object`, without reading it.
bool ObjectOfSize(const fs::path& object, std::uint64_t size) {
  struct stat existing {};
  return ::lstat(object.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
         static_cast<std::uint64_t>(existing.st_size) == size;
}

// True when objects/<digest> holds that content; warns when it holds other
// content of the same size (it is then replaced).
bool ObjectInPlace(const fs::path& objects, const FileDigest& digest, const PublishReport& report) {
  const fs::path object = objects / digest.sha256;
  if (!ObjectOfSize(object, digest.size)) return false;
  if (DigestFile(object).sha256 == digest.sha256) return true;
  if (report.warning) report.warning("objects/" + digest.sha256 + " had other content; it is replaced");
  return false;
}

// Puts the content of a planned file at objects/<digest>, reading it through
// one descriptor. An object already there with that content is kept
// untouched: objects are immutable, and a CDN or a player may be reading it
// right now. Nothing when this run placed an object of that digest already.
//
// `likely` is the digest the published release lists for the same path and
// size when its object is in place: the file is then hashed first and copied
// only when its content turns out to differ, so publishing into the same
// tree again copies nothing that is already there. Any other file is copied
// beside the objects while it is hashed, in one read.
std::optional<PublishStep::Kind> PlaceObject(const fs::path& gameFolder, const fs::path& objects,
                                             const PlannedFile& file, const std::string* likely,
                                             std::set<std::string>& placed, FileDigest& digest,
                                             const PublishReport& report) {
  const Descriptor in = OpenPlannedFile(gameFolder, file);
  std::optional<StagedFile> staged;
  if (likely) {
    digest = ReadOpenFile(in, file, [](std::span<const std::uint8_t>) {});
  } else {
    staged.emplace(objects / "object");
    digest = ReadOpenFile(in, file, [&](std::span<const std::uint8_t> chunk) { staged->Write(chunk); });
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
    const fs::file_status status = fs::status(input.launcherExe, error);
    const std::optional<std::vector<std::uint8_t>> image =
        fs::is_regular_file(status) ? ReadImageFile(input.launcherExe) : std::nullopt;
    if (!image) {
      problems.push_back(input.launcherExe.string() + ": the launcher is not a file that can be read");
    } else if (image->size() < 2 || (*image)[0] != 'M' || (*image)[1] != 'Z') {
      // Players' launchers replace themselves with whatever this names.
      problems.push_back(input.launcherExe.string() + ": the launcher is not a Windows executable");
    } else {
      // Every player who takes the release trusts what this launcher trusts
      // from then on.
      launcherFacts = ReadLauncherFacts(*image);
      for (const std::string& problem :
           LauncherTrustProblems(*launcherFacts, PublicKeyHex(publicKey), input.rotateKey, input.server)) {
        problems.push_back(input.launcherExe.string() + ": " + problem);
      }
      if (input.rotateKey && launcherFacts->trust && launcherFacts->trust->publicKeyHex == PublicKeyHex(publicKey) &&
          report.warning) {
        report.warning("--rotate-key: the launcher trusts the signing key already, so no key changes");
      }
      Sha256 hash;
      hash.Update(*image);
      files.push_back({std::string(launcher::LauncherFileName), input.launcherExe, image->size(), hash.Finish()});
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
    if (file.path.ends_with("/imgui.ini")) {
      if (report.warning)
        report.warning(
            file.path +
            ": players' launchers keep their own imgui.ini, but will replace it with this one whenever it differs");
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

  const fs::path objects = tree / "objects";
  const fs::path latest = tree / "latest";
  MakeFolders(tree);
  const TreeLock lock(tree);
  MakeFolders(objects);
  MakeFolders(latest);
  RemoveStaleTemps(objects);
  RemoveStaleTemps(latest);

  // What the published release lists, to spot files that are already in
  // the tree.
  std::map<std::string, const launcher::ManifestFile*> published;
  if (plan.published) {
    for (const launcher::ManifestFile& file : plan.published->files) published.emplace(file.path, &file);
  }

  PublishResult result;
  std::set<std::string> placed;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto listed = published.find(files[i].path);
    const std::string* likely = listed != published.end() && listed->second->size == files[i].size &&
                                        ObjectOfSize(objects / listed->second->sha256, files[i].size)
                                    ? &listed->second->sha256
                                    : nullptr;
    FileDigest digest;
    const std::optional<PublishStep::Kind> placedNow =
        PlaceObject(plan.input.gameFolder, objects, files[i], likely, placed, digest, report);
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
  // The objects, content and names, must be on disk before a manifest that
  // lists them.
  SyncFileSystem(objects);

  const std::string text = CheckedManifestText(manifest);
  if (report.beforeManifest) report.beforeManifest(manifest, text.size());
  const RawSignature signature = Sign(key, Bytes(text));
  if (!Verify(publicKey, Bytes(text), signature))
    throw PublishError("The new signature does not verify; nothing was published");

  WriteFileAtomically(latest / "manifest.txt", text);
  if (report.step) {
    report.step({PublishStep::Kind::Manifest, latest / "manifest.txt", progress.filesDone, progress.filesTotal,
                 progress.bytesDone, progress.bytesTotal});
  }
  WriteFileAtomically(latest / "manifest.sig", SignatureFileText(signature));
  SyncFolder(latest);
  if (report.step) {
    report.step({PublishStep::Kind::Signature, latest / "manifest.sig", progress.filesDone, progress.filesTotal,
                 progress.bytesDone, progress.bytesTotal});
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
