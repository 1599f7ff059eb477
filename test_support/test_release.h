// A signed test release: builds a manifest from (path, content) pairs, signs
// it with the committed test-only key through CNG, serves it with its
// objects from a TestServer, and writes an install folder's files. Tests can
// also serve damaged releases: a manifest that does not match its signature,
// a malformed signature, an object whose bytes are not what the manifest
// says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

namespace launcher::testing {

class TestServer;

// One file of a test release.
struct ReleaseFile {
  std::string path;     // manifest path, e.g. "game/data/a.pak" or "Stonewake Launcher.exe"
  std::string content;  // the file's bytes
  // The size the manifest publishes; the content's length when not given.
  std::optional<std::uint64_t> publishedSize = std::nullopt;
};

struct TestRelease {
  std::string version;
  std::vector<ReleaseFile> files;
  std::string commit = {};  // no commit line when empty
  bool rollback = false;  // adds a "rollback" line
};

// SHA-256 of bytes as 64 lowercase hex characters (through CNG).
std::string Sha256Hex(std::string_view bytes);

// The manifest text: header, version, commit, rollback, one file line per
// file in order, "end", every line ending in LF.
std::string ManifestText(const TestRelease& release);

// The same for records already digested, for releases too large to hold
// in memory.
std::string ManifestText(std::string_view version, const std::vector<ManifestFile>& files,
                         std::string_view commit = {}, bool rollback = false);

// A manifest.sig text ("ecdsa-p256-sha256 " + 128 hex digits + LF) for
// exactly these manifest bytes, signed with the test-only key.
std::string SignatureText(std::string_view manifest);

// Answers "/latest/manifest.txt" and "/latest/manifest.sig" with these
// bytes, exactly as given.
void ServeManifest(TestServer& server, std::string_view manifest, std::string_view signature);

// Answers "/objects/<sha256>" with `content`, whatever its real digest.
void ServeObject(TestServer& server, std::string_view sha256, std::string_view content);

// The chunk index the publisher writes beside an object of these bytes
// (core/chunk_index.h), whatever their size: to be served at
// "/objects/<sha256>.chunks".
std::string ChunkIndexTextOf(std::string_view content);

// Serves the release: the signed manifest and one object per file.
void PublishRelease(TestServer& server, const TestRelease& release);

// Like PublishRelease, but the manifest served is `ManifestText` with the
// first occurrence of `from` replaced by `to`, beside the signature of the
// original: a manifest changed after signing.
void PublishTamperedRelease(TestServer& server, const TestRelease& release, std::string_view from,
                            std::string_view to);

// Writes every file of the release under `installFolder` (manifest paths,
// folders created), and installed.txt with `installedVersion` + CR LF unless
// it is empty.
void WriteInstall(const std::wstring& installFolder, const TestRelease& release,
                  std::string_view installedVersion = {});

// `installFolder` joined with a manifest path ('/' becomes '\').
std::wstring InstallPath(const std::wstring& installFolder, std::string_view manifestPath);

}  // namespace launcher::testing
