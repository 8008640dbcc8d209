// The threads family's part of ztools.
#include "commands.h"

namespace ztools {

void AddThreadCommands(CLI::App&) {}

void TourThreads(std::ostream&) {}

} // namespace ztools
