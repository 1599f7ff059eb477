// make_test_launcher OUT KEY_HEX SERVER [VERSION]
// Writes a small executable that carries the version resource VERSION
// (default 2.5.1) and a release trust resource naming KEY_HEX and SERVER,
// or none when KEY_HEX is "-": the launcher the command-line tests publish.
#include <cstdio>
#include <fstream>
#include <string>

#include "test_launcher_image.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: make_test_launcher OUT KEY_HEX|- SERVER [MAJOR.MINOR.PATCH]\n");
    return 2;
  }
  publisher::testing::TestLauncher launcher;
  if (std::string(argv[2]) != "-") launcher.trustText = launcher::ReleaseTrustText({argv[2], argv[3]});
  if (argc == 5) {
    unsigned parts[3] = {};
    if (std::sscanf(argv[4], "%u.%u.%u", &parts[0], &parts[1], &parts[2]) != 3) return 2;
    for (int i = 0; i < 3; ++i) launcher.version[i] = static_cast<std::uint16_t>(parts[i]);
  }
  const std::vector<std::uint8_t> image = publisher::testing::TestLauncherImage(launcher);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  return out ? 0 : 1;
}
