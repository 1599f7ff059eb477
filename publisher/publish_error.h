// The publisher's one error type: a message for the person publishing, which
// names the file or folder at fault.
#pragma once

#include <stdexcept>
#include <string>

namespace publisher {

struct PublishError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace publisher
