// The buffers family's part of ztools.
#include "commands.h"

namespace ztools {

void AddBufferCommands(CLI::App&) {}

void TourBuffers(std::ostream&) {}

} // namespace ztools
