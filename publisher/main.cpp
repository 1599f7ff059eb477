// publisher: the signing side of Stonewake releases. See kHelp.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/install_paths.h"
#include "core/release_trust.h"
#include "publisher/crypto.h"
#include "publisher/launcher_image.h"
#include "publisher/patch_summary.h"
#include "publisher/publish_error.h"
#include "publisher/release_tree.h"
#include "publisher/staged_file.h"
#include "publisher/tree_check.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHelp = R"(publisher - sign and publish Stonewake releases

Usage:
  publisher keygen --out KEY.pem [--public-out KEY.pub.hex]
  publisher release --game DIR [--launcher EXE [--server URL] [--rotate-key]]
                    --version WORD [--commit WORD] [--rollback] [--new-key]
                    [--dry-run] [--list-changes] --key KEY.pem --out TREE
  publisher verify --tree TREE (--public-key HEX | --public-key-file FILE)
                   [--server URL] [--rotate-key]
  publisher --help

keygen
  Makes a new ECDSA P-256 key pair. The private key is written as PEM to
  KEY.pem with mode 0600; an existing file is never overwritten. The public
  key is printed on standard output as 128 hex digits (X then Y), the value
  the launcher build takes as -DSTONEWAKE_RELEASE_PUBLIC_KEY=...; with
  --public-out it is also written to that file.

release
  Writes a release into the folder TREE, for any static web server:
    objects/<sha256>      the content of every file, named by its SHA-256
    latest/manifest.txt   the manifest: version, commit, rollback, files
    latest/manifest.sig   its signature
  Every file under DIR becomes game/<path> in the install; EXE, when given,
  becomes "Stonewake Launcher.exe", which players' launchers replace
  themselves with: from then on every player trusts the key and asks the
  server that EXE was built with. The publisher reads both from EXE, prints
  them ("launcher 2.5.2 trusts key 3f2a1b0c...d4e5f6c9 and asks
  http://releases.example.net:8080") and refuses a launcher that trusts
  another key than the signing key, or that carries neither. The game's
  program is game/Stonewake.exe, started from the game folder. Objects are written first, then the manifest, then the
  signature, each under a temporary name and renamed into place when
  complete, so the tree can be served while it is updated. Objects already
  in TREE with the right content are kept as they are.
    --version WORD   the release's version, one word of printable ASCII;
                     launchers order versions field by field at the dots
    --commit WORD    an optional commit word recorded in the manifest
    --rollback       players' launchers take this release even when its
                     version orders before the one they have
    --new-key        sign although another key signed the release now in
                     TREE (only when players' launchers carry this key)
    --server URL     refuse EXE unless it asks this release server, path
                     included (https://cdn.example.net/stonewake)
    --rotate-key     ship EXE although it trusts another key than the
                     signing key: players move to EXE's key, and the
                     releases after this one must be signed with it
                     (--new-key once)
    --dry-run        read and check everything, print what players would
                     download, and write nothing
    --list-changes   also list each new, changed and removed file
  Before the manifest is written (and with --dry-run instead of writing),
  prints what players on the published release will download: how many
  files, the size as their launcher shows it ("229 MB") and exactly, how
  many are new, changed and removed, and the size of the manifest, which
  each launcher fetches once (an open launcher asks for the signature
  alone every 15 seconds, and for the manifest only when the signature
  changed). A first install does not count the launcher players start,
  which installs itself.
  Refused, naming each file, before anything is written: paths the launcher
  does not accept (printable ASCII only, no "..", "\" or ":"), names Windows
  cannot hold (the device names
@DEVICES@
  with any extension or letter case, names ending in a dot or a space,
  < > " | ? *, names over 255 characters or file names over 247), names
  equal but for
  letter case, a file whose path is a folder of another file, a file X next
  to X.partial, links (copy what they point to in their place) and special
  files, an empty game folder, the
  launcher's own file inside the game folder, a manifest larger than the
  33,554,432 bytes (32 MiB) the launcher fetches, a version older than the published
  one without --rollback, and a tree whose release another key signed
  without --new-key. Progress goes to standard error on large trees.

verify
  Checks TREE as players' launchers will: the signature file is readable
  and valid for the manifest under the public key, the manifest parses and
  fits the launcher's limit, its paths can be installed on Windows, and
  every object is present with the listed size and digest, and the
  release's launcher, if it carries one, trusts this public key (or, with
  --rotate-key, any key) and, with --server, asks that server. Prints a
  summary and what the launcher trusts; exits non-zero naming every
  problem and its file otherwise.
    --public-key HEX         the 128 hex digits keygen printed
    --public-key-file FILE   a file holding them (white space ignored)

Exit status: 0 done, 1 refused or failed, 2 wrong usage.
)";

// kHelp with the device names players' launchers refuse, from their own
// table, in indented lines.
std::string HelpText() {
  std::string devices = "   ";
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < launcher::kDeviceNames.size(); ++i) {
    const std::string name =
        std::string(launcher::kDeviceNames[i]) + (i + 1 < launcher::kDeviceNames.size() ? "," : "");
    if (devices.size() - lineStart + 1 + name.size() > 74) {
      lineStart = devices.size() + 1;
      devices += "\n   ";
    }
    devices += " " + name;
  }
  std::string help(kHelp);
  const std::string_view mark = "@DEVICES@";
  help.replace(help.find(mark), mark.size(), devices);
  return help;
}

struct UsageError {
  std::string message;
};

// --name value or --name=value; flags take no value.
class Arguments {
 public:
  Arguments(int argc, char** argv, std::initializer_list<std::string_view> valued,
            std::initializer_list<std::string_view> flags) {
    for (int i = 2; i < argc; ++i) {
      std::string arg = argv[i];
      if (!arg.starts_with("--")) throw UsageError{"unexpected argument \"" + arg + "\""};
      std::optional<std::string> value;
      if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
      }
      const std::string name = arg.substr(2);
      if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
        if (value) throw UsageError{"--" + name + " takes no value"};
        values_[name] = "";
      } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
        if (!value) {
          if (i + 1 >= argc) throw UsageError{"--" + name + " needs a value"};
          value = argv[++i];
        }
        if (values_.count(name)) throw UsageError{"--" + name + " given twice"};
        values_[name] = *value;
      } else {
        throw UsageError{"unknown option --" + name};
      }
    }
  }

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::string Get(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? std::string() : it->second;
  }
  std::string Required(const std::string& name) const {
    if (!Has(name) || Get(name).empty()) throw UsageError{"--" + name + " is required"};
    return Get(name);
  }

 private:
  std::map<std::string, std::string> values_;
};

int Keygen(const Arguments& args) {
  const fs::path out = args.Required("out");
  const fs::path publicOut = args.Get("public-out");
  std::error_code error;
  if (!publicOut.empty() && fs::exists(fs::symlink_status(publicOut, error))) {
    throw PublishError(publicOut.string() + " already exists; nothing was written");
  }
  const PrivateKey key = GenerateKey();
  const std::string hex = PublicKeyHex(PublicKeyOf(key));
  WriteNewPrivateKey(out, key);
  if (!publicOut.empty()) WriteFileAtomically(publicOut, hex + "\n");
  std::cerr << "publisher: private key written to " << out.string()
            << " (mode 0600). Keep it out of the repository and back it up offline.\n";
  std::cout << hex << "\n";
  return 0;
}

// Prints a line each 1,000 files or 256 MiB, so a small release stays quiet
// and a large one shows it is moving.
class ProgressPrinter {
 public:
  void operator()(const PublishStep& step) {
    if (step.kind == PublishStep::Kind::Manifest || step.kind == PublishStep::Kind::Signature) return;
    if (step.kind == PublishStep::Kind::ChunkIndexReading || step.kind == PublishStep::Kind::ChunkIndexKept ||
        step.kind == PublishStep::Kind::ChunkIndexWritten) {
      Indexes(step);
      return;
    }
    const bool files = step.filesDone / 1000 != lastFiles_ / 1000;
    const bool bytes = step.bytesDone / kBytesStep != lastBytes_ / kBytesStep;
    lastFiles_ = step.filesDone;
    lastBytes_ = step.bytesDone;
    if (!files && !bytes && step.filesDone != step.filesTotal) return;
    if (step.filesDone == step.filesTotal && !printed_) return;
    printed_ = true;
    std::cerr << "publisher: " << step.filesDone << " of " << step.filesTotal << " files, " << Mebibytes(step.bytesDone)
              << " of " << Mebibytes(step.bytesTotal) << "\n";
  }

 private:
  // Large objects are read again for their chunk indexes: a line each
  // 256 MiB of them.
  void Indexes(const PublishStep& step) {
    const bool bytes = step.bytesDone / kBytesStep != lastIndexBytes_ / kBytesStep;
    lastIndexBytes_ = step.bytesDone;
    if (!bytes) return;
    std::cerr << "publisher: chunk indexes of large objects: " << step.filesDone << " of " << step.filesTotal << ", "
              << Mebibytes(step.bytesDone) << " of " << Mebibytes(step.bytesTotal) << "\n";
  }

  static constexpr std::uint64_t kBytesStep = 256ull << 20;
  std::size_t lastFiles_ = 0;
  std::uint64_t lastBytes_ = 0;
  std::uint64_t lastIndexBytes_ = 0;
  bool printed_ = false;
};

// --server URL without a trailing slash, as a launcher build names it.
std::string ServerArgument(const Arguments& args) {
  std::string server = args.Get("server");
  if (!args.Has("server")) return server;
  while (server.ends_with('/')) server.pop_back();
  const std::optional<launcher::ServerBase> base = launcher::ParseServerBase(server);
  if (!base) {
    throw UsageError{
        "--server takes the release server's base URL as the launcher build names it, "
        "https://host[:port][/path] or http://host[:port][/path] (a bracketed host being an IPv6 address)"};
  }
  if (base->host.size() > launcher::kMaxHostChars) {
    throw UsageError{"--server has a host of " + std::to_string(base->host.size()) +
                     " characters: WinHTTP takes a host name of at most " + std::to_string(launcher::kMaxHostChars) +
                     " characters, so every request to it would fail"};
  }
  if (!launcher::IsReleaseServerBase(server)) {
    throw UsageError{"--server has a path of " + std::to_string(base->path.size()) +
                     " characters: WinHTTP sends a URL path of at most " + std::to_string(launcher::kMaxUrlPathChars) +
                     " characters, and an object's adds \"/objects/\" and 64 hex digits, so every download from it "
                     "would fail; the base URL's path can have at most " +
                     std::to_string(launcher::kMaxServerBasePathChars) + " characters"};
  }
  return server;
}

int Release(const Arguments& args) {
  ReleaseInput input;
  input.gameFolder = args.Required("game");
  input.launcherExe = args.Get("launcher");
  input.version = args.Required("version");
  input.commit = args.Get("commit");
  if (args.Has("commit") && input.commit.empty()) throw UsageError{"--commit needs a word"};
  input.rollback = args.Has("rollback");
  input.newKey = args.Has("new-key");
  input.rotateKey = args.Has("rotate-key");
  input.server = ServerArgument(args);
  if (input.launcherExe.empty() && (input.rotateKey || args.Has("server"))) {
    throw UsageError{"--rotate-key and --server are about the launcher a release carries: give --launcher"};
  }
  const fs::path keyFile = args.Required("key");
  const fs::path tree = args.Required("out");

  struct stat keyStat {};
  if (::stat(keyFile.c_str(), &keyStat) == 0 && (keyStat.st_mode & 077) != 0) {
    std::cerr << "publisher: warning: " << keyFile.string() << " can be read by other users; chmod 600 it\n";
  }
  const PrivateKey key = LoadPrivateKey(keyFile);

  ProgressPrinter progress;
  PublishReport report;
  report.step = [&](const PublishStep& step) { progress(step); };
  report.warning = [](const std::string& text) { std::cerr << "publisher: warning: " << text << "\n"; };
  const ReleasePlan plan = PlanRelease(input, key, tree, report);
  if (plan.launcher) {
    std::cout << LauncherTrustLine(*plan.launcher);
    if (plan.launcher->trust && plan.launcher->trust->publicKeyHex != PublicKeyHex(PublicKeyOf(key))) {
      std::cout << "; this release is signed with key " << ShortKey(PublicKeyHex(PublicKeyOf(key)))
                << ": players who take it accept only releases signed with the launcher's key from then on";
    }
    std::cout << "\n";
  }
  const bool listFiles = args.Has("list-changes");

  if (args.Has("dry-run")) {
    const launcher::Manifest next = DigestRelease(plan);
    std::cout << PatchSummaryText(
                     SummarisePatch(plan.published.value_or(launcher::Manifest{}), next, ManifestText(next).size()),
                     listFiles)
              << "dry run: nothing was written to " << tree.string() << "\n";
    return 0;
  }
  // Another run may publish between the plan and the tree lock: the release
  // players are on is the one the lock found.
  report.beforeManifest = [&](const launcher::Manifest& published, const launcher::Manifest& next,
                              std::size_t manifestBytes) {
    std::cout << PatchSummaryText(SummarisePatch(published, next, manifestBytes), listFiles) << std::flush;
  };
  const PublishResult result = WriteRelease(plan, key, tree, report);

  std::cout << "published version " << result.manifest.version << " to " << tree.string() << ": "
            << result.manifest.files.size() << " files, " << SizeText(result.bytes) << "; " << result.objectsWritten
            << (result.objectsWritten == 1 ? " new object, " : " new objects, ") << result.objectsKept
            << " already there";
  if (result.indexesWritten + result.indexesKept > 0) {
    std::cout << "; chunk indexes of large objects: " << result.indexesWritten << " written, " << result.indexesKept
              << " already there";
  }
  std::cout << "\n";
  return 0;
}

std::string PublicKeyArgument(const Arguments& args) {
  if (args.Has("public-key") == args.Has("public-key-file")) {
    throw UsageError{"give exactly one of --public-key and --public-key-file"};
  }
  if (args.Has("public-key")) return args.Get("public-key");
  std::ifstream in(args.Get("public-key-file"));
  if (!in) throw PublishError("Cannot read " + args.Get("public-key-file"));
  std::string hex;
  for (char c; in.get(c);) {
    if (!std::isspace(static_cast<unsigned char>(c))) hex += c;
  }
  return hex;
}

int VerifyCommand(const Arguments& args) {
  const fs::path tree = args.Required("tree");
  const PublicKey key = ParsePublicKeyHex(PublicKeyArgument(args));
  const TreeSummary summary = CheckTree(tree, key, {args.Has("rotate-key"), ServerArgument(args)});
  const launcher::Manifest& m = summary.manifest;
  std::cout << tree.string() << ": valid release, version " << m.version;
  if (!m.commit.empty()) std::cout << ", commit " << m.commit;
  if (m.rollback) std::cout << ", rollback";
  std::cout << "; " << m.files.size() << " files in " << summary.objects << " objects, " << SizeText(summary.bytes)
            << "; signature valid\n";
  if (summary.launcher) std::cout << LauncherTrustLine(*summary.launcher) << "\n";
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) throw UsageError{"no command given"};
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << HelpText();
    return 0;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help") {
      std::cout << HelpText();
      return 0;
    }
  }
  if (command == "keygen") return Keygen(Arguments(argc, argv, {"out", "public-out"}, {}));
  if (command == "release") {
    return Release(Arguments(argc, argv, {"game", "launcher", "version", "commit", "key", "out", "server"},
                             {"rollback", "new-key", "rotate-key", "dry-run", "list-changes"}));
  }
  if (command == "verify") {
    return VerifyCommand(Arguments(argc, argv, {"tree", "public-key", "public-key-file", "server"}, {"rotate-key"}));
  }
  throw UsageError{"unknown command \"" + command + "\""};
}

}  // namespace
}  // namespace publisher

int main(int argc, char** argv) {
  try {
    return publisher::Run(argc, argv);
  } catch (const publisher::UsageError& error) {
    std::cerr << "publisher: " << error.message << "\nRun \"publisher --help\" for the commands and options.\n";
    return 2;
  } catch (const publisher::PublishError& error) {
    std::cerr << "publisher: " << error.what() << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "publisher: " << error.what() << "\n";
    return 1;
  }
}
