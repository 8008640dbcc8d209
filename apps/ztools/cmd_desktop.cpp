// The desktop helpers' part of ztools: listing a directory with the file browser,
// what the version record reports, and claiming a single-instance name.
#include "commands.h"

#include <zanth/win32/zanthext.h>

#include <iostream>
#include <list>
#include <memory>
#include <vector>

namespace ztools {
namespace {

struct ListOptions
{
    std::string directory;
    std::string mask = "*.*";
    bool recurse = false;
    bool vector = false;
    bool progress = false; // also when standard error is not a terminal
};

void RunList(const ListOptions& options)
{
    PFileBrowser browser;
    if (!browser.Get()) {
        throw std::bad_alloc();
    }
    const TString directory = FileNameArgument(options.directory);
    const TString mask = TString::FromAnsi(options.mask.c_str());
    const UINT recurse = options.recurse ? 1 : 0;
    // A recursive listing shows a bar on standard error while it walks the tree.
    std::unique_ptr<TTerminalProgressView> view;
    if (recurse && (options.progress || ZanthStreamIsTerminal(stderr))) {
        view = std::make_unique<TTerminalProgressView>();
        view->Open(TEXT("ls"), 0, 100, 1, 0);
    }
    if (options.vector) {
        std::vector<TString> out;
        browser->GetFileVector(directory, mask, &out, recurse, 1);
        if (view) {
            view->Close();
        }
        for (const TString& path : out) {
            std::cout << Utf8(path) << "\n";
        }
    } else {
        std::list<TString> out;
        browser->GetFileList(directory, mask, &out, recurse, 1);
        if (view) {
            view->Close();
        }
        for (const TString& path : out) {
            std::cout << Utf8(path) << "\n";
        }
    }
}

void RunOs()
{
    COSVersionInfo info;
    info.LoadVersionInfo();
    std::cout << "platform id   " << info.dwPlatformId
              << (info.dwPlatformId == 2   ? " (NT family)"
                  : info.dwPlatformId == 1 ? " (Windows 95 family)"
                                           : "")
              << "\n"
              << "version       " << info.dwMajorVersion << "." << info.dwMinorVersion << " build "
              << info.dwBuildNumber << "\n"
              << "CSD version   " << Utf8(TString(info.szCSDVersion)) << "\n"
              << "IsWinNT       " << info.IsWinNT() << "\n"
              << "IsOldstyle    " << info.IsOldstyle() << "\n"
              << "default font  " << Utf8(TString(info.GetDefaultFontName())) << "\n";
}

void RunSingle(const std::string& name)
{
    ZCSingleInstance::CheckSingleInstance(TString::FromAnsi(name.c_str()));
    std::cout << "claimed \"" << name << "\"; start another `ztools single " << name
              << "` to see it refused. Press Enter (or end the input) to let go.\n";
    std::string line;
    std::getline(std::cin, line);
}

} // namespace

void AddDesktopCommands(CLI::App& app)
{
    auto list = std::make_shared<ListOptions>();
    CLI::App* ls = app.add_subcommand("ls", "List a directory by a wildcard mask (file browser)");
    ls->add_option("directory", list->directory, "Directory to list")->required();
    ls->add_option("mask", list->mask, "Wildcard mask (\"*\", \"?\"; \"*.*\" matches every name)");
    ls->add_flag("-r,--recurse", list->recurse, "Descend into subdirectories");
    ls->add_flag("--vector", list->vector,
                 "Use GetFileVector: the directory's own files first, directories not listed");
    ls->add_flag("--progress", list->progress,
                 "Show progress of a recursive listing even when standard error is not a terminal");
    ls->callback([list] { RunList(*list); });

    app.add_subcommand("os", "What COSVersionInfo reports, and the default font")->callback(RunOs);

    auto name = std::make_shared<std::string>();
    CLI::App* single =
        app.add_subcommand("single", "Claim a single-instance name and wait (try a second start)");
    single->add_option("name", *name, "The name to claim")->required();
    single->callback([name] { RunSingle(*name); });
}

} // namespace ztools
