// Small PE images for the publisher's tests: a 64-bit executable with
// nothing but a resource section, holding a version resource and a release
// trust text when asked, laid out as a linker does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/release_trust.h"

namespace publisher::testing {

struct TestLauncher {
  std::optional<std::string> trustText;  // the RCDATA text, as written
  // File version parts; no version resource when `hasVersion` is false.
  bool hasVersion = true;
  std::uint16_t version[4] = {2, 5, 1, 0};
};

inline void PutU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  PutU16(out, at, value & 0xFFFF);
  PutU16(out, at + 2, value >> 16);
}

inline std::vector<std::uint8_t> VersionResource(const std::uint16_t (&v)[4]) {
  std::vector<std::uint8_t> info(92, 0);
  PutU16(info, 0, 92);
  PutU16(info, 2, 52);
  const std::string_view key = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < key.size(); ++i) PutU16(info, 6 + 2 * i, static_cast<std::uint8_t>(key[i]));
  PutU32(info, 40, 0xFEEF04BD);
  PutU32(info, 44, 0x00010000);
  PutU32(info, 48, (std::uint32_t{v[0]} << 16) | v[1]);
  PutU32(info, 52, (std::uint32_t{v[2]} << 16) | v[3]);
  PutU32(info, 56, (std::uint32_t{v[0]} << 16) | v[1]);
  PutU32(info, 60, (std::uint32_t{v[2]} << 16) | v[3]);
  return info;
}

// The image's bytes: DOS header, PE32+ headers, one ".rsrc" section at
// RVA 0x1000 and file offset 0x200.
inline std::vector<std::uint8_t> TestLauncherImage(const TestLauncher& launcher) {
  struct Entry {
    std::uint32_t type;
    std::uint32_t id;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Entry> entries;  // ascending type, as resource directories are sorted
  if (launcher.trustText) {
    entries.push_back({10, static_cast<std::uint32_t>(launcher::kReleaseTrustResource),
                       std::vector<std::uint8_t>(launcher.trustText->begin(), launcher.trustText->end())});
  }
  if (launcher.hasVersion) entries.push_back({16, 1, VersionResource(launcher.version)});

  constexpr std::uint32_t kSectionRva = 0x1000;
  constexpr std::size_t kSectionFile = 0x200;
  const std::size_t n = entries.size();
  const std::size_t nameDirs = 16 + 8 * n;
  const std::size_t languageDirs = nameDirs + 24 * n;
  const std::size_t dataEntries = languageDirs + 24 * n;
  std::size_t data = dataEntries + 16 * n;
  std::vector<std::uint8_t> section(data, 0);
  PutU16(section, 14, static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    PutU32(section, 16 + 8 * i, entries[i].type);
    PutU32(section, 16 + 8 * i + 4, 0x80000000u | static_cast<std::uint32_t>(nameDirs + 24 * i));
    PutU16(section, nameDirs + 24 * i + 14, 1);
    PutU32(section, nameDirs + 24 * i + 16, entries[i].id);
    PutU32(section, nameDirs + 24 * i + 20, 0x80000000u | static_cast<std::uint32_t>(languageDirs + 24 * i));
    PutU16(section, languageDirs + 24 * i + 14, 1);
    PutU32(section, languageDirs + 24 * i + 16, 0x409);
    PutU32(section, languageDirs + 24 * i + 20, static_cast<std::uint32_t>(dataEntries + 16 * i));
    data = (section.size() + 7) & ~std::size_t{7};
    section.resize(data, 0);
    section.insert(section.end(), entries[i].bytes.begin(), entries[i].bytes.end());
    PutU32(section, dataEntries + 16 * i, kSectionRva + static_cast<std::uint32_t>(data));
    PutU32(section, dataEntries + 16 * i + 4, static_cast<std::uint32_t>(entries[i].bytes.size()));
  }
  const std::uint32_t virtualSize = static_cast<std::uint32_t>(section.size());
  section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF}, 0);

  std::vector<std::uint8_t> image(kSectionFile, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(image, 0x3C, 64);
  image[64] = 'P';
  image[65] = 'E';
  const std::size_t coff = 68;
  PutU16(image, coff, 0x8664);
  PutU16(image, coff + 2, 1);
  PutU16(image, coff + 16, 240);
  PutU16(image, coff + 18, 0x22);
  const std::size_t optional = coff + 20;
  PutU16(image, optional, 0x20B);
  PutU32(image, optional + 108, 16);
  PutU32(image, optional + 112 + 16, kSectionRva);
  PutU32(image, optional + 112 + 20, virtualSize);
  const std::size_t header = optional + 240;
  const std::string_view name = ".rsrc";
  for (std::size_t i = 0; i < name.size(); ++i) image[header + i] = static_cast<std::uint8_t>(name[i]);
  PutU32(image, header + 8, virtualSize);
  PutU32(image, header + 12, kSectionRva);
  PutU32(image, header + 16, static_cast<std::uint32_t>(section.size()));
  PutU32(image, header + 20, kSectionFile);
  image.insert(image.end(), section.begin(), section.end());
  return image;
}

}  // namespace publisher::testing
