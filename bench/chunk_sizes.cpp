// Which average chunk size makes the smallest patch: chunks an old and a new
// build of a large file under rules of several averages (min = avg / 2,
// max = 4 avg) and prints, for each, what a launcher holding the old file
// fetches for the new one: the new file's chunks not found in the old one,
// in how many ranges (kJoinGapBytes), and the index. Also the time of one
// read that hashes the file and its chunks beside a read that only hashes.
//
//   chunk_sizes OLD NEW [AVG_KIB...]     default 16 32 64 128 256
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/assembly_plan.h"
#include "core/chunk_index.h"
#include "publisher/chunk_indexes.h"
#include "publisher/crypto.h"
#include "publisher/publish_error.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Mb(std::uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: chunk_sizes OLD NEW [AVG_KIB...]\n");
    return 2;
  }
  std::vector<std::uint32_t> averages;
  for (int i = 3; i < argc; ++i) averages.push_back(static_cast<std::uint32_t>(std::atoi(argv[i])) * 1024);
  if (averages.empty()) averages = {16 * 1024, 32 * 1024, 64 * 1024, 128 * 1024, 256 * 1024};

  try {
    auto start = std::chrono::steady_clock::now();
    const publisher::FileDigest plain = publisher::DigestFile(argv[2]);
    const double hashSeconds = Seconds(start);
    std::printf("new file %llu bytes; SHA-256 alone %.2f s (%.0f MB/s)\n", static_cast<unsigned long long>(plain.size),
                hashSeconds, Mb(plain.size) / hashSeconds);
    std::printf("%8s %8s %12s %12s %8s %12s %12s %10s\n", "avg_kib", "chunks", "new_bytes", "index_bytes", "ranges",
                "ideal_bytes", "ideal_pct", "read_s");
    for (std::uint32_t avg : averages) {
      const launcher::ChunkRule rule{avg / 2, avg, avg * 4};
      if (!launcher::IsChunkRuleAllowed(rule)) {
        std::printf("%8u not an allowed rule\n", avg / 1024);
        continue;
      }
      const publisher::ChunkedFile old = publisher::ChunkFile(argv[1], rule, publisher::WholeDigest::No);
      start = std::chrono::steady_clock::now();
      const publisher::ChunkedFile fresh = publisher::ChunkFile(argv[2], rule, publisher::WholeDigest::No);
      const double readSeconds = Seconds(start);
      const launcher::ChunkIndex index{plain.sha256, fresh.digest.size, rule, fresh.chunks};
      const std::uint64_t indexBytes = launcher::ChunkIndexText(index).size();
      const launcher::LocalChunks local(old.chunks);
      const auto steps = launcher::PlanAssembly(index, [&](const launcher::Chunk& c) { return local.Find(c); });
      const launcher::AssemblyTotals totals = launcher::TotalsOf(steps);
      const std::uint64_t ideal = totals.fetchBytes + indexBytes;
      std::printf("%8u %8zu %12llu %12llu %8zu %12llu %11.2f%% %10.2f\n", avg / 1024, fresh.chunks.size(),
                  static_cast<unsigned long long>(totals.fetchBytes), static_cast<unsigned long long>(indexBytes),
                  totals.fetches, static_cast<unsigned long long>(ideal), 100.0 * ideal / fresh.digest.size,
                  readSeconds);
      if (rule == launcher::kChunkRule) {
        // The publisher's rule, for bench/delta.sh to pick up.
        std::printf("rule_new_bytes %llu\nrule_index_bytes %llu\nrule_ranges %zu\n",
                    static_cast<unsigned long long>(totals.fetchBytes), static_cast<unsigned long long>(indexBytes),
                    totals.fetches);
        // What joining fetches across local gaps would cost and save.
        for (std::uint64_t gap :
             {std::uint64_t{64} << 10, std::uint64_t{256} << 10, std::uint64_t{1} << 20, std::uint64_t{4} << 20}) {
          const launcher::AssemblyTotals joined = launcher::TotalsOf(launcher::PlanAssembly(
              index, [&](const launcher::Chunk& c) { return local.Find(c); }, 0, gap));
          std::printf("  gaps under %4llu KiB joined: %zu ranges, %llu bytes fetched\n",
                      static_cast<unsigned long long>(gap >> 10), joined.fetches,
                      static_cast<unsigned long long>(joined.fetchBytes));
        }
      }
    }
  } catch (const publisher::PublishError& error) {
    std::fprintf(stderr, "chunk_sizes: %s\n", error.what());
    return 1;
  }
  return 0;
}
