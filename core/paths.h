// Wide file-system paths: joining, the manifest-path-to-disk rule, and the
// last component that user messages name.
#pragma once

#include <string>
#include <string_view>

#include "core/records.h"

namespace launcher {

// `folder` + '\' + `name`, without the separator when `folder` is empty,
// already ends in '\' or '/', or is a bare drive such as "C:".
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// Where a manifest file lives under the install folder: the manifest path
// widened, '/' turned into '\', joined to the folder.
std::wstring LocalPathFor(std::wstring_view installFolder, const ManifestFile& file);

// The text after the last '\' or '/' (empty for a path ending in one).
std::wstring LastPathComponent(std::wstring_view path);

}  // namespace launcher
