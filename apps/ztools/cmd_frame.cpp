// The frame's part of ztools: the module record, catalogs, common-dialog error
// texts and the integer helpers.
#include "commands.h"

#include <zanth/win32/cderr.h>

#include <iomanip>
#include <iostream>

namespace ztools {

void AddFrameCommands(CLI::App& app)
{
    CLI::App* catalogs = app.add_subcommand("catalogs", "List the registered message catalogs");
    catalogs->callback([] {
        for (WORD n = 1; n <= GetCatalogCount(); ++n) {
            TCatalogInfo info;
            if (GetCatalogInfo(n, info)) {
                std::cout << std::setw(3) << n << "  " << Utf8(info.name) << "  ("
                          << Utf8(info.module) << ", " << Utf8(info.file) << ":" << info.line
                          << ")\n";
            }
        }
    });
}

void TourFrame(std::ostream& out)
{
    Heading(out, "Library frame");
    TModuleRecord record;
    for (std::size_t i = g_pTheModuleList->Count(); i-- > 0;) {
        record = g_pTheModuleList->At(i);
        if (record.value == -1) {
            break;
        }
    }
    out << "module record: " << Utf8(record.path) << " (value " << record.value << ")\n";

    const WORD catalog = FindCatalog(TEXT("MsgThread"));
    TCatalogInfo info;
    GetCatalogInfo(catalog, info);
    out << "catalog \"MsgThread\" has number " << catalog << ", declared in " << Utf8(info.file)
        << ":" << info.line << "\n";

    for (int code :
         {0, CDERR_DIALOGFAILURE, CDERR_STRUCTSIZE, PDERR_NODEFAULTPRN, FNERR_BUFFERTOOSMALL}) {
        out << "GetCommonDlgErrorText(0x" << std::hex << std::setw(4) << std::setfill('0') << code
            << std::dec << std::setfill(' ') << ") = \"" << Utf8(GetCommonDlgErrorText(code))
            << "\"\n";
    }

    using ZANTH::ZCSInt32;
    using ZANTH::ZCSInt64;
    out << "ZCSInt32::RoundToInt(2.5) = " << ZCSInt32::RoundToInt(2.5)
        << ", RoundToInt(-2.5) = " << ZCSInt32::RoundToInt(-2.5) << "\n";
    out << "ZCSInt64::DivRound32(7u, 2u) = " << ZCSInt64::DivRound32(7u, 2u)
        << ", I32MultI32DivI32Round(3, 5, 2) = " << ZCSInt64::I32MultI32DivI32Round(3, 5, 2)
        << "\n";
    out << "MakeLong(0x1234, 0xABCD) = 0x" << std::hex << std::uppercase << MakeLong(0x1234, 0xABCD)
        << std::dec << std::nouppercase << "\n";
    try {
        ZCSInt64::DivRound32(1, 0);
    } catch (const TException& error) {
        DecrementPendingCount();
        ClearError();
        out << "DivRound32(1, 0) raises: " << error.what() << "\n";
    }
}

} // namespace ztools
