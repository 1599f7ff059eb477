#include "publisher/launcher_image.h"

#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

namespace publisher {
namespace {

constexpr std::uint32_t kRtRcdata = 10;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVsVersionInfo = 1;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// Little-endian reads that fail instead of running past the end.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::uint32_t> U16(std::uint64_t at) const { return Read(at, 2); }
  std::optional<std::uint32_t> U32(std::uint64_t at) const { return Read(at, 4); }
  std::optional<std::span<const std::uint8_t>> Slice(std::uint64_t at, std::uint64_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) return std::nullopt;
    return bytes_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(size));
  }

 private:
  std::optional<std::uint32_t> Read(std::uint64_t at, unsigned size) const {
    const auto slice = Slice(at, size);
    if (!slice) return std::nullopt;
    std::uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= static_cast<std::uint32_t>((*slice)[i]) << (8 * i);
    return value;
  }

  std::span<const std::uint8_t> bytes_;
};

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

class PeImage {
 public:
  explicit PeImage(std::span<const std::uint8_t> image) : reader_(image) {}

  // Finds the resource directory; false when the image is not a PE file
  // with one.
  bool Open() {
    const auto mz = reader_.U16(0);
    const auto peOffset = reader_.U32(0x3C);
    if (!mz || *mz != 0x5A4D || !peOffset) return false;
    const auto signature = reader_.U32(*peOffset);
    if (!signature || *signature != 0x00004550) return false;
    const std::uint64_t coff = *peOffset + 4ull;
    const auto sectionCount = reader_.U16(coff + 2);
    const auto optionalSize = reader_.U16(coff + 16);
    const std::uint64_t optional = coff + 20;
    const auto magic = reader_.U16(optional);
    if (!sectionCount || !optionalSize || !magic) return false;
    // The data directories follow the fixed fields, which PE32+ (0x20B)
    // makes 16 bytes longer than PE32 (0x10B); the resource table is the
    // third directory.
    std::uint64_t directories = 0;
    if (*magic == 0x20B) {
      directories = optional + 112;
    } else if (*magic == 0x10B) {
      directories = optional + 96;
    } else {
      return false;
    }
    const auto directoryCount = reader_.U32(directories - 4);
    if (!directoryCount || *directoryCount < 3 || directories + 24 > optional + *optionalSize) return false;
    const auto resourceRva = reader_.U32(directories + 16);
    if (!resourceRva || *resourceRva == 0) return false;

    const std::uint64_t table = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
      const std::uint64_t header = table + 40ull * i;
      const auto virtualSize = reader_.U32(header + 8);
      const auto virtualAddress = reader_.U32(header + 12);
      const auto rawSize = reader_.U32(header + 16);
      const auto rawOffset = reader_.U32(header + 20);
      if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) return false;
      sections_.push_back({*virtualAddress, *virtualSize, *rawSize, *rawOffset});
    }
    const auto root = FileOffset(*resourceRva);
    if (!root) return false;
    resourceRoot_ = *root;
    return true;
  }

  // The bytes of resource `type`/`id` in its first language.
  std::optional<std::span<const std::uint8_t>> Resource(std::uint32_t type, std::uint32_t id) const {
    const auto names = Subdirectory(0, type);
    if (!names) return std::nullopt;
    const auto languages = Subdirectory(*names, id);
    if (!languages) return std::nullopt;
    const auto languageEntries = reader_.U16(resourceRoot_ + *languages + 14);
    const auto namedLanguages = reader_.U16(resourceRoot_ + *languages + 12);
    if (!languageEntries || !namedLanguages || *languageEntries + *namedLanguages == 0) return std::nullopt;
    const auto dataEntry = reader_.U32(resourceRoot_ + *languages + 16 + 4);
    if (!dataEntry || (*dataEntry & 0x80000000u)) return std::nullopt;
    const auto dataRva = reader_.U32(resourceRoot_ + *dataEntry);
    const auto dataSize = reader_.U32(resourceRoot_ + *dataEntry + 4);
    if (!dataRva || !dataSize) return std::nullopt;
    const auto offset = FileOffset(*dataRva);
    if (!offset) return std::nullopt;
    return reader_.Slice(*offset, *dataSize);
  }

 private:
  // Where an address of the loaded image lies in the file, when a section
  // holds it in its file data.
  std::optional<std::uint64_t> FileOffset(std::uint32_t rva) const {
    for (const Section& section : sections_) {
      if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize &&
          rva - section.virtualAddress < section.virtualSize) {
        return static_cast<std::uint64_t>(section.rawOffset) + (rva - section.virtualAddress);
      }
    }
    return std::nullopt;
  }

  // The directory that the entry with number `id` of the directory at
  // `directory` (both relative to the resource root) leads to.
  std::optional<std::uint32_t> Subdirectory(std::uint32_t directory, std::uint32_t id) const {
    const std::uint64_t at = resourceRoot_ + directory;
    const auto named = reader_.U16(at + 12);
    const auto numbered = reader_.U16(at + 14);
    if (!named || !numbered) return std::nullopt;
    // Named entries come first; numbered ones follow in ascending order.
    for (std::uint32_t i = *named; i < *named + *numbered; ++i) {
      const auto name = reader_.U32(at + 16 + 8ull * i);
      const auto target = reader_.U32(at + 16 + 8ull * i + 4);
      if (!name || !target) return std::nullopt;
      if (*name != id) continue;
      // A directory, as opposed to a data entry, has the high bit set.
      if (!(*target & 0x80000000u)) return std::nullopt;
      return *target & 0x7FFFFFFFu;
    }
    return std::nullopt;
  }

  Reader reader_;
  std::vector<Section> sections_;
  std::uint64_t resourceRoot_ = 0;
};

// VS_VERSIONINFO begins with three 16-bit fields and the key
// L"VS_VERSION_INFO", padded to a 32-bit boundary: VS_FIXEDFILEINFO follows
// at byte 40, its signature first, then its struct version, then the file
// version's high and low 32 bits.
std::optional<std::string> FileVersionText(std::span<const std::uint8_t> info) {
  const Reader reader(info);
  const auto signature = reader.U32(40);
  const auto high = reader.U32(48);
  const auto low = reader.U32(52);
  if (!signature || *signature != kFixedFileInfoSignature || !high || !low) return std::nullopt;
  char text[48];
  if ((*low & 0xFFFF) != 0) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", *high >> 16, *high & 0xFFFF, *low >> 16, *low & 0xFFFF);
  } else {
    std::snprintf(text, sizeof text, "%u.%u.%u", *high >> 16, *high & 0xFFFF, *low >> 16);
  }
  return std::string(text);
}

// "https://host:port" of a base URL: the text before its path.
std::string_view Origin(std::string_view base) {
  const std::size_t scheme = base.find("://");
  if (scheme == std::string_view::npos) return base;
  return base.substr(0, base.find('/', scheme + 3));
}

}  // namespace

LauncherFacts ReadLauncherFacts(std::span<const std::uint8_t> image) {
  LauncherFacts facts;
  PeImage pe(image);
  if (!pe.Open()) return facts;
  if (const auto info = pe.Resource(kRtVersion, kVsVersionInfo)) facts.version = FileVersionText(*info);
  if (const auto trust = pe.Resource(kRtRcdata, static_cast<std::uint32_t>(launcher::kReleaseTrustResource))) {
    facts.trust =
        launcher::ParseReleaseTrust(std::string_view(reinterpret_cast<const char*>(trust->data()), trust->size()));
  }
  return facts;
}

std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    if (!in) break;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::string ShortKey(std::string_view hex) {
  if (hex.size() <= 16) return std::string(hex);
  return std::string(hex.substr(0, 8)) + "..." + std::string(hex.substr(hex.size() - 8));
}

std::string LauncherTrustLine(const LauncherFacts& facts) {
  std::string line = "launcher " + facts.version.value_or("(no version resource)");
  if (!facts.trust) return line + " carries no release key or server address";
  return line + " trusts key " + ShortKey(facts.trust->publicKeyHex) + " and asks " + facts.trust->serverBase;
}

std::vector<std::string> LauncherTrustProblems(const LauncherFacts& facts, std::string_view signingKeyHex,
                                               bool rotateKey, std::string_view server) {
  std::vector<std::string> problems;
  const std::string launcher = "launcher " + facts.version.value_or("(no version resource)");
  if (!facts.trust) {
    problems.push_back(launcher +
                       " carries no release key or server address, so what players' launchers would trust once "
                       "they replace themselves with it cannot be checked. Ship a launcher built by this "
                       "project's CMake, which embeds both");
    return problems;
  }
  if (facts.trust->publicKeyHex != signingKeyHex && !rotateKey) {
    problems.push_back(launcher + " trusts key " + ShortKey(facts.trust->publicKeyHex) +
                       ", not the key this release is signed with (" + ShortKey(signingKeyHex) +
                       "): every player who takes it would refuse each later release signed with that key. Build "
                       "the launcher with -DSTONEWAKE_RELEASE_PUBLIC_KEY= the signing key, or pass --rotate-key if "
                       "players are to move to the launcher's key (sign the releases after this one with it)");
  }
  // Host letter case and a port written as the scheme's default do not make
  // another server.
  if (!server.empty() && !launcher::IsSameServerBase(facts.trust->serverBase, server)) {
    const std::string& asked = facts.trust->serverBase;
    // A CDN serves several games from one host: the same host under another
    // path is another release tree, and the difference is easy to miss.
    const std::string sameHost = Origin(asked) == Origin(server)
                                     ? " (the same server, another folder: players would fetch " + asked +
                                           "/latest/manifest.txt, not " + std::string(server) + "/latest/manifest.txt)"
                                     : "";
    problems.push_back(launcher + " asks " + asked + ", not " + std::string(server) +
                       " (--server): every player who takes it would ask " + asked + " from then on" + sameHost +
                       ". Build the launcher with -DSTONEWAKE_RELEASE_BASE_URL=" + std::string(server));
  }
  return problems;
}

}  // namespace publisher
