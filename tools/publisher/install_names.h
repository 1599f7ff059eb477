// Which manifest paths a player's install can hold: the launcher's own path
// rule plus what Windows file systems refuse or silently merge.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace publisher {

// Why `path` cannot be published, or an empty string when it can. Checks the
// launcher's path rule and, per '/'-separated component, what Windows
// refuses: reserved device names (with or without extension, any case),
// names ending in a dot or a space, empty names and the characters < > " | ? *.
std::string PathProblem(std::string_view path);

// Every reason the set of `paths` cannot be installed together, one message
// per problem, each naming the paths involved: the problems of PathProblem,
// paths equal but for letter case, a file whose path is also a folder of
// another file (case-insensitively), and a file the launcher's download of
// another file would overwrite (X and X.partial).
std::vector<std::string> InstallPathProblems(std::span<const std::string> paths);

// `text` with every byte outside printable ASCII written as \xNN, so a
// message never puts control bytes on the terminal.
std::string Printable(std::string_view text);

}  // namespace publisher
