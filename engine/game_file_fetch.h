// A game file's download: the whole object, or, for a large object with a
// chunk index when an older file lies at its place, the new file assembled
// from the old file's chunks plus byte ranges of the object. Either way the
// caller gets a ".partial" verified against the signed size and digest.
#pragma once

#include <string>
#include <string_view>

#include "core/records.h"
#include "transfer/http_request.h"
#include "transfer/object_download.h"

namespace launcher {

// FetchChecked's contract, on `session`'s connection: returns
// `destination` + ".partial" once its digest matches `file`, with
// FetchChecked's sentences and its rules for a kept ".partial" (`resume`:
// the caller vouches that it begins this very object).
//
// An object of at least kChunkIndexFromBytes whose destination holds an
// older file is assembled when the server has its chunk index: the file is
// written in offset order, each chunk either read from the old file or
// fetched with a closed range ("Range: bytes=a-b"), and checked against the
// index's digest before it is written, so the ".partial" always begins the
// object and a cut assembly goes on from where it stopped. The index is not
// signed and is not trusted: a malformed one, one of another object, a
// chunk that does not match it (read or fetched), a range answered with a
// 200 or another range, and an assembled file that does not match the
// signed digest each end the assembly, and the object is fetched whole
// once, with nothing said to the player but a trace. A missing index means
// the whole object, as does an old file that holds none of its chunks. A
// failure of the server or the connection (a 503, a drop) fails the
// download as it would a whole one, keeping what was written.
//
// `progress` gets the bytes of the new file written so far (copied and
// fetched alike); after a fallback the whole download counts from 0 again.
//
// The chunks the old file holds come from the old object's own index when
// `heldSha256` (what the release check found at the destination) names an
// object the server has an index of with the same rule, else from chunking
// the old file: the first reads only the chunks it copies.
std::wstring FetchGameFile(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
                           const std::wstring& destination, const ByteProgress& progress, bool resume,
                           std::string_view heldSha256 = {});

}  // namespace launcher
