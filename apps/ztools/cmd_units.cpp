// The units family's part of ztools.
#include "commands.h"

namespace ztools {

void AddUnitCommands(CLI::App&) {}

void TourUnits(std::ostream&) {}

} // namespace ztools
