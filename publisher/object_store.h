// The release tree's objects/ folder: each file's content under its digest,
// written once and never changed in place, since a CDN or a player may be
// reading an object at any moment.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "publisher/crypto.h"
#include "publisher/game_folder.h"
#include "publisher/publish_report.h"

namespace publisher {

// A regular file of `size` bytes at `object`, without reading it.
bool ObjectOfSize(const std::filesystem::path& object, std::uint64_t size);

// Puts the content of a planned file at objects/<digest>, reading it through
// one descriptor, and sets `digest`. An object already there with that
// content is kept untouched; one with other content of the same size is
// replaced, with a warning. Nothing when this run placed an object of that
// digest already (`placed` holds those).
//
// `likely` is the digest the published release lists for the same path and
// size when its object is in place: the file is then hashed first and copied
// only when its content turns out to differ, so publishing into the same
// tree again copies nothing that is already there. Any other file is copied
// beside the objects while it is hashed, in one read. `alsoRead`, when
// set, is handed every block of the read that gives the digest, in order.
// Throws PublishError.
std::optional<PublishStep::Kind> PlaceObject(const std::filesystem::path& gameFolder,
                                             const std::filesystem::path& objects, const PlannedFile& file,
                                             const std::string* likely, std::set<std::string>& placed,
                                             FileDigest& digest, const PublishReport& report,
                                             const std::function<void(std::span<const std::uint8_t>)>& alsoRead = {});

}  // namespace publisher
