#include "core/assembly_plan.h"

#include <algorithm>
#include <cstring>

namespace launcher {

std::size_t LocalChunks::DigestHash::operator()(const Sha256Digest& digest) const {
  // The digest is already uniform: its first bytes are a hash.
  std::size_t value = 0;
  std::memcpy(&value, digest.data(), sizeof value);
  return value;
}

LocalChunks::LocalChunks(const std::vector<Chunk>& chunks) {
  byDigest_.reserve(chunks.size());
  for (const Chunk& chunk : chunks) byDigest_.emplace(chunk.digest, chunk);
}

std::optional<std::uint64_t> LocalChunks::Find(const Chunk& chunk) const {
  const auto found = byDigest_.find(chunk.digest);
  if (found == byDigest_.end() || found->second.size != chunk.size) return std::nullopt;
  return found->second.offset;
}

std::vector<AssemblyStep> PlanAssembly(const ChunkIndex& index, const FindLocalChunk& findLocal, std::uint64_t start,
                                       std::uint64_t joinGap) {
  std::vector<AssemblyStep> steps;
  // The last fetch in `steps` and the local bytes copied since it.
  std::optional<std::size_t> lastFetch;
  std::uint64_t gap = 0;

  const auto first = std::partition_point(index.chunks.begin(), index.chunks.end(),
                                          [&](const Chunk& chunk) { return chunk.offset + chunk.size <= start; });
  for (auto it = first; it != index.chunks.end(); ++it) {
    const Chunk& chunk = *it;
    const std::size_t number = static_cast<std::size_t>(it - index.chunks.begin());
    const std::uint64_t skip = start > chunk.offset ? start - chunk.offset : 0;
    const std::uint64_t offset = chunk.offset + skip;
    const std::uint64_t size = chunk.size - skip;

    if (const std::optional<std::uint64_t> local = findLocal(chunk)) {
      const std::uint64_t from = *local + skip;
      AssemblyStep* last = steps.empty() ? nullptr : &steps.back();
      if (last && last->kind == AssemblyStep::Kind::Copy && last->from + last->size == from) {
        last->size += size;
        ++last->chunkCount;
      } else {
        steps.push_back(AssemblyStep{AssemblyStep::Kind::Copy, offset, size, from, number, 1});
      }
      gap += size;
      continue;
    }

    if (lastFetch && (gap == 0 || gap < joinGap)) {
      // Adjacent, or close enough: the copies since the last fetch are
      // fetched with it instead.
      steps.resize(*lastFetch + 1);
      AssemblyStep& fetch = steps.back();
      fetch.size = offset + size - fetch.offset;
      fetch.chunkCount = number + 1 - fetch.firstChunk;
    } else {
      steps.push_back(AssemblyStep{AssemblyStep::Kind::Fetch, offset, size, 0, number, 1});
      lastFetch = steps.size() - 1;
    }
    gap = 0;
  }
  return steps;
}

AssemblyTotals TotalsOf(const std::vector<AssemblyStep>& steps) {
  AssemblyTotals totals;
  for (const AssemblyStep& step : steps) {
    if (step.kind == AssemblyStep::Kind::Copy) {
      totals.copyBytes += step.size;
    } else {
      totals.fetchBytes += step.size;
      ++totals.fetches;
    }
  }
  return totals;
}

}  // namespace launcher
