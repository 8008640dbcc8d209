// The datetime family's part of ztools.
#include "commands.h"

namespace ztools {

void AddDateCommands(CLI::App&) {}

void TourDates(std::ostream&) {}

} // namespace ztools
