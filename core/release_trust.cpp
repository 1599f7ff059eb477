#include "core/release_trust.h"

#include <algorithm>
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

bool IsUnreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool IsHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
    });
  }
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return IsUnreserved(c) && c != '~'; });
}

bool IsPort(std::string_view port) {
  if (port.empty() || port.size() > 5 || port[0] == '0') return false;
  unsigned value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 65535;
}

bool IsPath(std::string_view path) {
  while (!path.empty()) {
    if (path[0] != '/') return false;
    path.remove_prefix(1);
    const std::string_view segment = path.substr(0, path.find('/'));
    if (segment.empty() || segment == "." || segment == ".." ||
        !std::all_of(segment.begin(), segment.end(), IsUnreserved)) {
      return false;
    }
    path.remove_prefix(segment.size());
  }
  return true;
}

}  // namespace

bool IsReleaseServerBase(std::string_view url) {
  std::string_view rest;
  if (url.starts_with("https://")) {
    rest = url.substr(8);
  } else if (url.starts_with("http://")) {
    rest = url.substr(7);
  } else {
    return false;
  }
  const std::string_view authority = rest.substr(0, rest.find('/'));
  const std::string_view path = rest.substr(authority.size());
  // The last ':' after a bracketed IPv6 address, or any ':' in a name.
  const std::size_t colon = authority.rfind(':');
  const bool hasPort = colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos;
  const std::string_view host = hasPort ? authority.substr(0, colon) : authority;
  return IsHost(host) && (!hasPort || IsPort(authority.substr(colon + 1))) && IsPath(path);
}

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
  if (!IsKeyHex(trust.publicKeyHex) || !IsReleaseServerBase(trust.serverBase)) return std::nullopt;
  return trust;
}

}  // namespace launcher
