// ztools: try the tools library from a shell. Each family adds subcommands;
// `ztools tour` runs a short demonstration of all of them.
#include "commands.h"

#include <iostream>

namespace ztools {

void Heading(std::ostream& out, const char* title)
{
    out << "\n== " << title << " ==\n";
}

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
        ztools::TourDates(out);
        ztools::TourUnits(out);
        ztools::TourMemory(out);
        ztools::TourBuffers(out);
        ztools::TourProgress(out);
    });

    ztools::AddFrameCommands(app);
    ztools::AddThreadCommands(app);
    ztools::AddDateCommands(app);
    ztools::AddUnitCommands(app);
    ztools::AddMemoryCommands(app);
    ztools::AddBufferCommands(app);
    ztools::AddProgressCommands(app);
    ztools::AddDesktopCommands(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    } catch (const TException& error) {
        std::cerr << "ztools: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
