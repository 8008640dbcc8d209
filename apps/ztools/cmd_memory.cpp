// The memory family's part of ztools: a buffer that grows without moving, guard
// words that catch an overrun, memory-mapped files and the free address space.
#include "commands.h"

#include <chrono>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace ztools {
namespace {

std::string Address(const void* p)
{
    std::ostringstream text;
    text << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(p);
    return text.str();
}

// Grows a flexible memory to `mib` MiB in 64 KiB steps, writing every new byte;
// reports whether the start ever moved.
void Grow(std::ostream& out, LONG mib, bool verbose)
{
    const LONG target = mib << 20;
    const LONG step = 64 * 1024;
    const auto begin = std::chrono::steady_clock::now();
    ZCFlexibleMemory memory;
    memory.Reserve(target);
    unsigned char* start = memory.Commit(0, step);
    std::memset(start, 0xA5, step);
    int moves = 0;
    while (memory.Size() < target) {
        const LONG old = memory.Size();
        memory.Grow(step);
        moves += memory.First() != start;
        std::memset(memory.First() + old, 0xA5, step);
        if (verbose && memory.Size() % (target / 4) == 0) {
            out << "  " << std::setw(5) << (memory.Size() >> 20) << " MiB committed, start "
                << Address(memory.First()) << "\n";
        }
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    out << "grew to " << mib << " MiB in " << target / step << " steps of 64 KiB in " << std::fixed
        << std::setprecision(1) << ms << " ms; the start moved " << moves
        << " times; guard words intact: " << (memory.Check() ? "yes" : "no") << "\n";
}

void ShowBytes(std::ostream& out, const unsigned char* bytes, DWORD size)
{
    const DWORD shown = size < 64 ? size : 64;
    for (DWORD i = 0; i < shown; i += 16) {
        out << "  " << std::hex << std::setw(8) << std::setfill('0') << i << " ";
        for (DWORD j = i; j < i + 16 && j < shown; ++j) {
            out << " " << std::setw(2) << static_cast<unsigned>(bytes[j]);
        }
        out << std::dec << std::setfill(' ') << "\n";
    }
}

} // namespace

void AddMemoryCommands(CLI::App& app)
{
    CLI::App* memory = app.add_subcommand("memory", "Flexible memory, guard words, mapped files");
    memory->require_subcommand(1);

    static LONG mib = 256;
    CLI::App* grow =
        memory->add_subcommand("grow", "Grow one buffer in 64 KiB steps without moving it");
    grow->add_option("mib", mib, "Final size in MiB (1 to 2047)")->check(CLI::Range(1, 2047));
    grow->callback([] { Grow(std::cout, mib, true); });

    static std::string file;
    CLI::App* map = memory->add_subcommand("map", "Map a file read-only and show its first bytes");
    map->add_option("file", file, "The file")->required();
    map->callback([] {
        TMemFile mapped;
        try {
            mapped.Open(FileNameArgument(file), 0);
        } catch (const TException&) {
            DecrementPendingCount();
            std::cerr << Utf8(GetErrorText()) << "\n";
            ClearError();
            throw CLI::RuntimeError(1);
        }
        std::cout << file << ": " << mapped.Size() << " bytes mapped at " << Address(mapped())
                  << "\n";
        ShowBytes(std::cout, static_cast<const unsigned char*>(mapped()), mapped.Size());
    });

    CLI::App* maxFree =
        memory->add_subcommand("maxfree", "The largest block a flexible memory can reserve");
    maxFree->callback([] {
        const ULONG free = ZCFlexibleMemory::MaxFree();
        std::cout << "MaxFree() = " << free << " (0x" << std::hex << free << std::dec
                  << ") bytes\n";
    });
}

void TourMemory(std::ostream& out)
{
    Heading(out, "Memory");

    // A growing buffer that keeps its address.
    Grow(out, 64, false);

    // A guard word catches an overrun of one byte.
    TSaveMemory block(100);
    out << "TSaveMemory(100): Check() = " << block.Check();
    block.Start()[100] = 0; // one byte too far
    out << "; after writing Start()[100]: Check() = " << block.Check() << "\n";

    // A file written through a mapping, closed at its real length and mapped again.
    const TString path = TFile::GetTmpPath() + TEXT("ztools-tour-memmap.txt");
    const char text[] = "Written through a memory-mapped view.";
    {
        TMemFile writer;
        writer.Open(path, 4096);
        std::memcpy(writer(), text, sizeof text - 1);
        writer.Close(sizeof text - 1);
    }
    {
        TMemFile reader;
        reader.Open(path, 0);
        out << "mapped " << Utf8(TFileString::GetNameExt(path)) << " (" << reader.Size()
            << " bytes): \"" << std::string(static_cast<const char*>(reader()), reader.Size())
            << "\"\n";
    }
    ::DeleteFileW(path);

    out << "bit tables: MEM_Bit[9] = 0x" << std::hex << MEM_Bit[9]
        << ", MEM_BitsFromBitMask[9] = 0x" << MEM_BitsFromBitMask[9] << std::dec << "\n";
}

} // namespace ztools
