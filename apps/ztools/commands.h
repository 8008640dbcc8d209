// The subcommands of ztools, one pair of functions per family: Add*Commands adds
// the family's subcommands to the program, Tour* prints its part of `ztools tour`.
#ifndef ZTOOLS_COMMANDS_H
#define ZTOOLS_COMMANDS_H

#include <zanth/tools.h>

#include <zanth/win32/zanthext.h>

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <string>

namespace ztools {

// UTF-8 text of a wide string, for printing.
inline std::string Utf8(const TString& text)
{
    return text.AsAnsi();
}

// The name of the file that a command-line argument names. The argument's bytes
// need not be UTF-8: the platform carries the others in the name, so that the
// command reaches exactly that file and never one whose name merely looks alike.
inline TString FileNameArgument(const std::string& argument)
{
    const DWORD needed = ZanthFileNameFromBytes(argument.c_str(), nullptr, 0);
    std::basic_string<WCHAR> name(needed, TEXT('\0'));
    const DWORD length = ZanthFileNameFromBytes(argument.c_str(), name.data(), needed);
    return TString(name.data(), static_cast<LONG>(length < needed ? length : 0));
}

// A heading line of the tour.
void Heading(std::ostream& out, const char* title);

void AddFrameCommands(CLI::App& app);
void TourFrame(std::ostream& out);

void AddThreadCommands(CLI::App& app);
void TourThreads(std::ostream& out);

void AddDateCommands(CLI::App& app);
void TourDates(std::ostream& out);

void AddUnitCommands(CLI::App& app);
void TourUnits(std::ostream& out);

void AddMemoryCommands(CLI::App& app);
void TourMemory(std::ostream& out);

void AddBufferCommands(CLI::App& app);
void TourBuffers(std::ostream& out);

void AddProgressCommands(CLI::App& app);
void TourProgress(std::ostream& out);
void AddRegistryCommands(CLI::App& app);
void TourRegistry(std::ostream& out);

void AddDesktopCommands(CLI::App& app);

void AddSerialCommands(CLI::App& app);
void TourSerial(std::ostream& out);
void AddMailCommands(CLI::App& app);

} // namespace ztools

#endif // ZTOOLS_COMMANDS_H
