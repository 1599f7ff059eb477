#include "core/release_trust.h"

#include <algorithm>
#include <vector>

#include "core/text.h"

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

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Dotted decimal, four numbers from 0 to 255 without leading zeros.
bool IsIpv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return false;
    const std::string_view number = text.substr(0, dot);
    if (number.empty() || number.size() > 3 || (number.size() > 1 && number[0] == '0')) return false;
    unsigned value = 0;
    for (char c : number) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return false;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return text.empty();
}

// RFC 4291's text form: eight groups of 1-4 hex digits separated by ':',
// one run of groups shortened to "::", the last two groups optionally
// written as an IPv4 address. WinHTTP refuses anything else in brackets.
bool IsIpv6(std::string_view text) {
  const std::size_t gap = text.find("::");
  if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos) return false;
  std::size_t groups = 0;
  const auto count = [&](std::string_view part, bool last) {
    if (part.empty()) return true;
    while (true) {
      const std::size_t colon = part.find(':');
      const std::string_view group = part.substr(0, colon);
      if (colon == std::string_view::npos && last && group.find('.') != std::string_view::npos) {
        if (!IsIpv4(group)) return false;
        groups += 2;
        return true;
      }
      if (group.empty() || group.size() > 4 || !std::all_of(group.begin(), group.end(), IsHexDigit)) return false;
      ++groups;
      if (colon == std::string_view::npos) return true;
      part.remove_prefix(colon + 1);
    }
  };
  if (gap == std::string_view::npos) return count(text, true) && groups == 8;
  return count(text.substr(0, gap), false) && count(text.substr(gap + 2), true) && groups < 8;
}

bool IsHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return IsIpv6(host.substr(1, host.size() - 2));
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

std::optional<ServerBase> ParseServerBase(std::string_view url) {
  ServerBase base;
  std::string_view rest;
  if (url.starts_with("https://")) {
    base.scheme = "https";
    base.port = 443;
    rest = url.substr(8);
  } else if (url.starts_with("http://")) {
    base.scheme = "http";
    base.port = 80;
    rest = url.substr(7);
  } else {
    return std::nullopt;
  }
  const std::string_view authority = rest.substr(0, rest.find('/'));
  base.path = rest.substr(authority.size());
  // The last ':' after a bracketed IPv6 address, or any ':' in a name.
  const std::size_t colon = authority.rfind(':');
  const bool hasPort = colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos;
  base.host = hasPort ? authority.substr(0, colon) : authority;
  if (!IsHost(base.host) || !IsPath(base.path)) return std::nullopt;
  if (hasPort) {
    const std::string_view port = authority.substr(colon + 1);
    if (!IsPort(port)) return std::nullopt;
    base.port = 0;
    for (char c : port) base.port = base.port * 10 + static_cast<unsigned>(c - '0');
  }
  return base;
}

bool IsReleaseServerBase(std::string_view url) {
  const std::optional<ServerBase> base = ParseServerBase(url);
  return base && base->path.size() <= kMaxServerBasePathChars && base->host.size() <= kMaxHostChars;
}

bool IsSameServerBase(std::string_view a, std::string_view b) {
  const std::optional<ServerBase> x = ParseServerBase(a);
  const std::optional<ServerBase> y = ParseServerBase(b);
  if (!x || !y) return a == b;
  return x->scheme == y->scheme && LowerAscii(x->host) == LowerAscii(y->host) && x->port == y->port &&
         x->path == y->path;
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
