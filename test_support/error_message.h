// The sentence a call throws, for tests that compare it with the exact text
// the user would read.
#pragma once

#include <string>
#include <utility>

#include "core/records.h"

namespace launcher::testing {

// Runs `call` and returns the message of the LauncherError it throws, or
// an empty text when it returns normally.
template <typename Call>
std::wstring ErrorMessageOf(Call&& call) {
  try {
    std::forward<Call>(call)();
  } catch (const LauncherError& error) {
    return error.message;
  }
  return {};
}

}  // namespace launcher::testing
