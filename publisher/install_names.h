// Which manifest paths a player's install can hold, worded for the studio:
// the launcher's own rule (core/install_paths.h), so the two never
// disagree, plus what the publisher refuses beyond it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace publisher {

// Why `path` cannot be published, or an empty string when it can: the
// launcher's CheckInstallPath (its path rule and, per '/'-separated name,
// reserved device names with any extension or case, names ending in a dot
// or a space, empty names, the characters < > " | ? *, and names too long to
// be downloaded beside themselves as "<name>.partial").
std::string PathProblem(std::string_view path);

// Every reason the set of `paths` cannot be installed together, one message
// per problem, each naming the paths involved: the problems of PathProblem
// and every clash the launcher's FindPathClashes finds (paths equal but for
// letter case, a path listed twice, a file whose path is also a folder of
// another file, X beside X.partial). Stricter than the launcher, which takes
// the same file listed twice with one digest.
std::vector<std::string> InstallPathProblems(std::span<const std::string> paths);

// `text` with every byte outside printable ASCII written as \xNN, so a
// message never puts control bytes on the terminal.
std::string Printable(std::string_view text);

}  // namespace publisher
