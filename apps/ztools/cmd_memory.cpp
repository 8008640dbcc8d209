// The memory family's part of ztools.
#include "commands.h"

namespace ztools {

void AddMemoryCommands(CLI::App&) {}

void TourMemory(std::ostream&) {}

} // namespace ztools
