// winhttp_read_loop [--threads N] BASE_URL [FOLDER [--verify]]
//
// The anchor of the download benchmark: the least a program can do to take
// a release's objects over WinHTTP. Reads the release's manifest (no
// signature check, no parsing beyond the "file" lines) and GETs every
// object one after the other on one connection, with the same
// ready-count/read loop as the launcher. Without FOLDER the bytes are
// dropped; with FOLDER each object is also written to a file there (in a
// folder named by the digest's first two characters), which
// is the least a patch has to do; with --verify each written file is then
// read back through CNG SHA-256 in 65,536-byte chunks and compared with its
// digest, the least a verified patch has to do. With --threads N, N threads
// take the objects in turn, each on its own session and connection, as the
// launcher's download workers do. Prints "bytes N" and "seconds S" (the
// object transfers only).
#include <windows.h>

#include <bcrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Connection {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
};

[[noreturn]] void Fail(const char* what) {
  std::printf("error: %s (%lu)\n", what, GetLastError());
  std::exit(1);
}

// GETs `path` and hands every chunk to `sink`.
template <typename Sink>
void Get(const Connection& c, const std::wstring& path, Sink&& sink) {
  HINTERNET request = WinHttpOpenRequest(c.connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  if (!request) Fail("open request");
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    Fail("send");
  }
  std::vector<char> chunk;
  DWORD ready = 0;
  while (WinHttpQueryDataAvailable(request, &ready) && ready != 0) {
    chunk.resize(ready);
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk.data(), ready, &read)) Fail("read");
    if (read == 0) break;
    sink(chunk.data(), read);
  }
  WinHttpCloseHandle(request);
}

// Lowercase hex SHA-256 of a file, read in 65,536-byte chunks.
std::string FileDigest(const std::wstring& path) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
      BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) < 0) {
    Fail("hash");
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("open file");
  std::vector<unsigned char> chunk(65536);
  DWORD read = 0;
  while (ReadFile(file, chunk.data(), 65536, &read, nullptr) && read != 0) BCryptHashData(hash, chunk.data(), read, 0);
  CloseHandle(file);
  unsigned char digest[32];
  BCryptFinishHash(hash, digest, 32, 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(provider, 0);
  std::string hex;
  for (unsigned char b : digest) {
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 15];
  }
  return hex;
}

Connection Open(const wchar_t* host, INTERNET_PORT port) {
  Connection c;
  c.session = WinHttpOpen(L"StonewakeBench/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  if (!c.session) Fail("session");
  c.connection = WinHttpConnect(c.session, host, port, 0);
  if (!c.connection) Fail("connect");
  return c;
}

void Close(const Connection& c) {
  WinHttpCloseHandle(c.connection);
  WinHttpCloseHandle(c.session);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int threads = 1;
  if (argc >= 3 && std::wstring(argv[1]) == L"--threads") {
    threads = std::max(1, _wtoi(argv[2]));
    argc -= 2;
    argv += 2;
  }
  const bool verify = argc == 4 && std::wstring(argv[3]) == L"--verify";
  if (argc != 2 && argc != 3 && !verify) {
    std::fputs("usage: winhttp_read_loop [--threads N] BASE_URL [FOLDER [--verify]]\n", stderr);
    return 2;
  }
  const std::wstring base = argv[1];
  const std::wstring folder = argc >= 3 ? argv[2] : L"";

  wchar_t host[256] = {};
  wchar_t basePath[2048] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = basePath;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(base.c_str(), static_cast<DWORD>(base.size()), 0, &parts)) Fail("crack");

  const Connection first = Open(host, parts.nPort);
  std::string manifest;
  Get(first, std::wstring(basePath) + L"/latest/manifest.txt",
      [&](const char* bytes, DWORD n) { manifest.append(bytes, n); });
  std::vector<std::string> digests;
  std::istringstream lines(manifest);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("file ", 0) == 0) digests.push_back(line.substr(5, 64));
  }

  std::atomic<unsigned long long> total{0};
  std::atomic<std::size_t> next{0};
  const auto work = [&](const Connection& c) {
    for (std::size_t i = next++; i < digests.size(); i = next++) {
      const std::string& digest = digests[i];
      const std::wstring name(digest.begin(), digest.end());
      // Two levels of folders by the digest's first characters: Wine looks
      // a new file's name up in its whole folder (letter case is ignored),
      // so 100,000 files in one folder would make each create cost more.
      const std::wstring sub = folder.empty() ? L"" : folder + L"\\" + name.substr(0, 2);
      if (!folder.empty()) CreateDirectoryW(sub.c_str(), nullptr);
      const std::wstring path = sub + L"\\" + name;
      HANDLE file = INVALID_HANDLE_VALUE;
      if (!folder.empty()) {
        file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) Fail("create file");
      }
      Get(c, std::wstring(basePath) + L"/objects/" + name, [&](const char* bytes, DWORD n) {
        total += n;
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && !WriteFile(file, bytes, n, &written, nullptr)) Fail("write");
      });
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      if (verify && FileDigest(path) != digest) Fail("digest mismatch");
    }
  };
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> others;
  for (int t = 1; t < threads; ++t) {
    others.emplace_back([&] {
      const Connection c = Open(host, parts.nPort);
      work(c);
      Close(c);
    });
  }
  work(first);
  for (std::thread& thread : others) thread.join();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("bytes %llu\nseconds %.6f\n", total.load(), took.count());
  Close(first);
  return 0;
}
