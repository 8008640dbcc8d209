// ztools: try the tools library from a shell. Each family adds subcommands;
// `ztools tour` runs a short demonstration of all of them.
#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace ztools {

void Heading(std::ostream& out, const char* title)
{
    out << "\n== " << title << " ==\n";
}

namespace {

// Writes out what is still buffered for standard output. Output that could not be
// written (a full disk, a closed stream) fails the program, so that a caller never
// takes a lost result for a good one.
int FinishOutput(int status)
{
    errno = 0;
    std::cout.flush();
    const int error = errno;
    if (std::cout.good() && std::ferror(stdout) == 0) {
        return status;
    }
    std::cerr << "ztools: standard output cannot be written";
    if (error != 0) {
        std::cerr << ": " << std::strerror(error);
    }
    std::cerr << "\n";
    return status != 0 ? status : 1;
}

} // namespace

} // namespace ztools

int main(int argc, char** argv)
{
    CLI::App app{"ztools - try the Zanth tools library from the command line"};
    app.set_version_flag("--version", std::string("ztools ") + ZANTH_TOOLS_VERSION);
    app.require_subcommand(1);

    CLI::App* tour = app.add_subcommand("tour", "Run a short demonstration of every family");
    tour->callback([] {
        std::ostream& out = std::cout;
        out << "The Zanth tools library, version " << ZANTH_TOOLS_VERSION << "\n";
        ztools::TourFrame(out);
        ztools::TourThreads(out);
        ztools::TourSerial(out);
        ztools::TourDates(out);
        ztools::TourUnits(out);
        ztools::TourMemory(out);
        ztools::TourBuffers(out);
        ztools::TourProgress(out);
        ztools::TourRegistry(out);
    });

    ztools::AddFrameCommands(app);
    ztools::AddThreadCommands(app);
    ztools::AddSerialCommands(app);
    ztools::AddDateCommands(app);
    ztools::AddUnitCommands(app);
    ztools::AddMemoryCommands(app);
    ztools::AddBufferCommands(app);
    ztools::AddProgressCommands(app);
    ztools::AddRegistryCommands(app);
    ztools::AddDesktopCommands(app);
    ztools::AddMailCommands(app);

    int status = 0;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        status = app.exit(error);
    } catch (const TException&) {
        // The whole error stack, the system error beneath the library's message
        // included, as the commands print it.
        DecrementPendingCount();
        std::cerr << "ztools: " << ztools::Utf8(GetErrorText()) << "\n";
        ClearError();
        status = 1;
    }
    return ztools::FinishOutput(status);
}
