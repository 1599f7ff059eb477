#include "core/release_trust.h"

#include <vector>

namespace launcher {
namespace {

bool IsKeyHex(std::string_view hex) {
  if (hex.size() != 128) return false;
  for (char c : hex) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// "http://" and a host with an optional port: printable ASCII, no space and
// no '/' after the scheme, so nothing but the base the launcher appends
// its paths to.
bool IsServerBase(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (!url.starts_with(kScheme) || url.size() == kScheme.size()) return false;
  for (char c : url.substr(kScheme.size())) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '/') return false;
  }
  return true;
}

}  // namespace

std::string ReleaseTrustText(const ReleaseTrust& trust) {
  return std::string(kReleaseTrustHeader) + "\nkey " + trust.publicKeyHex + "\nserver " + trust.serverBase + "\n";
}

std::optional<ReleaseTrust> ParseReleaseTrust(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (lines.size() != 3 || lines[0] != kReleaseTrustHeader || !lines[1].starts_with("key ") ||
      !lines[2].starts_with("server ")) {
    return std::nullopt;
  }
  ReleaseTrust trust{std::string(lines[1].substr(4)), std::string(lines[2].substr(7))};
  if (!IsKeyHex(trust.publicKeyHex) || !IsServerBase(trust.serverBase)) return std::nullopt;
  return trust;
}

}  // namespace launcher
