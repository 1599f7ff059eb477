#include "ui/ui_state.h"

#include <ostream>

namespace launcher {

std::ostream& operator<<(std::ostream& out, Phase phase) { return out << static_cast<std::int32_t>(phase); }

}  // namespace launcher
