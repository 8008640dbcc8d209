// The buffers family's part of ztools: copying a file through a buffered reader and
// writer, reading lines in place, and a code generator buffer that never moves.
#include "commands.h"

#include <zanth/win32/zanthext.h>

#include <chrono>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

namespace ztools {
namespace {

// Reports a library error on standard error and ends the command with status 1.
[[noreturn]] void Fail()
{
    DecrementPendingCount();
    std::cerr << Utf8(GetErrorText()) << "\n";
    ClearError();
    throw CLI::RuntimeError(1);
}

// Whether `path` names the file open in `file`, under the same or another name.
// Asked before the target is opened: opening it for writing would empty it.
bool IsSameFile(const TFile& file, const std::string& path)
{
    HANDLE other = ::CreateFileW(FileNameArgument(path), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false; // nothing there yet, or nothing this program could read
    }
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    const bool same = ::GetFileInformationByHandle(file.Handle(), &a) &&
                      ::GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(other);
    return same;
}

// Copies `from` to `to` in requests of `request` bytes through a TFileReadBuffer and
// a TFileWriteBuffer with buffers of `buffer` bytes.
void Copy(std::ostream& out, const std::string& from, const std::string& to, LONG request,
          LONG buffer, bool progress)
{
    const auto begin = std::chrono::steady_clock::now();
    TFile source;
    TFile target;
    ULONGLONG total = 0;
    ULONGLONG requests = 0;
    bool cancelled = false;
    try {
        source.Open(FileNameArgument(from), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (IsSameFile(source, to)) {
            std::cerr << "ztools buffers copy: \"" << from << "\" and \"" << to
                      << "\" are the same file; nothing is copied\n";
            throw CLI::RuntimeError(1);
        }
        target.Open(FileNameArgument(to), GENERIC_WRITE, 0, CREATE_ALWAYS);
        TFileReadBuffer reader(buffer, &source, 0, 0);
        TFileWriteBuffer writer(buffer, &target, 0);
        // Small requests are collected in the writer's whole buffer.
        writer.BeginWrite(buffer == 0 ? 0x100000 : buffer);
        writer.EndWrite(0);
        // A bar on standard error (on a terminal, or when asked for); Ctrl-C stops
        // the copy. The record counts KiB, so that any file size fits.
        std::unique_ptr<TTerminalProgressView> view;
        if (progress || ZanthStreamIsTerminal(stderr)) {
            view = std::make_unique<TTerminalProgressView>();
            view->Open(TEXT("copy"), 0, 100, 1, 1);
        }
        const ULONGLONG kib = (source.Length() + 1023) / 1024;
        TProgress copied(TEXT("bytes"), 0, static_cast<LONG>(kib < 0x7FFFFFFF ? kib : 0x7FFFFFFF),
                         1);
        ULONGLONG uncounted = 0;
        while (true) {
            if (view && view->IsCanceld()) {
                cancelled = true;
                break;
            }
            // The reader's bytes go straight into the writer's buffer: one copy.
            LONG count = 0;
            const unsigned char* at = reader.BeginRead(request, &count);
            if (count == 0) {
                break;
            }
            writer.Write(at, count);
            reader.EndRead(count);
            total += static_cast<ULONGLONG>(count);
            ++requests;
            uncounted += static_cast<ULONGLONG>(count);
            if (uncounted >= 1024) {
                copied.Do(static_cast<LONG>(uncounted / 1024));
                uncounted %= 1024;
            }
        }
        copied.Do(uncounted > 0 ? 1 : 0);
        copied.Close();
        if (view) {
            view->Close();
        }
    } catch (const TException&) {
        Fail();
    }
    if (cancelled) {
        std::cerr << "ztools buffers copy: cancelled after " << total << " bytes; \"" << to
                  << "\" is incomplete\n";
        throw CLI::RuntimeError(130);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    out << "copied " << total << " bytes in " << requests << " requests of up to " << request
        << " bytes in " << std::fixed << std::setprecision(1) << ms << " ms";
    if (ms > 0) {
        out << " (" << std::setprecision(0) << total / ms / 1000.0 << " MB/s)";
    }
    out << "\n";
}

std::string Hex(const unsigned char* bytes, std::size_t size)
{
    std::ostringstream text;
    for (std::size_t i = 0; i < size; ++i) {
        text << (i ? " " : "") << std::hex << std::setw(2) << std::setfill('0')
             << static_cast<unsigned>(bytes[i]);
    }
    return text.str();
}

// A function prologue and epilogue (x86-64: push rbp; mov rbp, rsp; sub rsp, 16;
// leave; ret), emitted once to count and once to write.
void EmitFunction(ZANTH::ZCCodeGenerator& code)
{
    code.Write(0x55);                   // push rbp
    code.Write(0x48, 0x89, 0xE5);       // mov rbp, rsp
    code.Write(0x48, 0x83, 0xEC, 0x10); // sub rsp, 16
    code.ReserveBytes(7);               // room for one instruction patched in later
    code.Write(0xC9);                   // leave
    code.Write(0xC3);                   // ret
}

} // namespace

void AddBufferCommands(CLI::App& app)
{
    CLI::App* buffers = app.add_subcommand("buffers", "Buffered reading and writing of files");
    buffers->require_subcommand(1);

    static std::string from;
    static std::string to;
    static LONG request = 64;
    static LONG buffer = 0;
    static bool progress = false;
    CLI::App* copy =
        buffers->add_subcommand("copy", "Copy a file through TFileReadBuffer and TFileWriteBuffer");
    copy->add_option("from", from, "The file to read")->required();
    copy->add_option("to", to, "The file to write (created or emptied)")->required();
    copy->add_option("--request", request, "Bytes per request (default 64)")
        ->check(CLI::Range(1, 0x40000000));
    copy->add_option("--buffer", buffer, "Buffer size in bytes (default 0: 1 MiB)")
        ->check(CLI::Range(0, 0x40000000));
    copy->add_flag("--progress", progress,
                   "Show progress on standard error even when it is not a terminal");
    copy->callback([] { Copy(std::cout, from, to, request, buffer, progress); });
}

void TourBuffers(std::ostream& out)
{
    Heading(out, "Buffered I/O and the code generator buffer");

    // Lines written through a TFileWriteBuffer and read back in place.
    const TString path = TFile::GetTmpPath() + TEXT("ztools-tour-buffers.txt");
    const char* lines[] = {"first line\n", "a second, longer line\n", "third\n"};
    {
        TFile file;
        file.Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
        TFileWriteBuffer writer(4096, &file, 0);
        writer.BeginWrite(4096); // the whole buffer, so that the lines are collected
        writer.EndWrite(0);
        for (const char* line : lines) {
            writer.Write(reinterpret_cast<const unsigned char*>(line),
                         static_cast<LONG>(std::strlen(line)));
        }
        out << "TFileWriteBuffer: 3 lines pending (Size() = " << writer.Size() << "), file length "
            << file.Length() << "; Position() writes them: " << writer.Position() << "\n";
    }
    {
        TFile file;
        file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        TFileReadBuffer reader(16, &file, 0, 0);
        out << "TFileReadBuffer with a 16-byte buffer, requests of 10 bytes:";
        while (true) {
            LONG count = 0;
            const unsigned char* at = reader.BeginRead(10, &count);
            std::string shown(reinterpret_cast<const char*>(at), static_cast<std::size_t>(count));
            for (char& c : shown) {
                c = c == '\n' ? '|' : c;
            }
            out << " " << count << " \"" << shown << "\"";
            reader.EndRead(count);
            if (count < 10) {
                break; // a short count: the file has no more
            }
        }
        out << "\n";
    }
    ::DeleteFileW(path);

    // A code buffer: count first, then write; the bytes stay where they were written.
    ZANTH::ZCCodeGenerator code;
    code.Init(1 << 20, 4096);
    code.Mode(ZANTH::ZCCodeGenerator::CountMode);
    EmitFunction(code);
    code.Mode(ZANTH::ZCCodeGenerator::WriteMode);
    unsigned char* start = code.GetCodePtr();
    EmitFunction(code);
    out << "ZCCodeGenerator: counted " << code.CodeSize() << " bytes, wrote "
        << code.GetCodePtr() - start << ": " << Hex(start, code.GetCodePtr() - start) << "\n";
    for (int i = 0; i < 20000; ++i) {
        code.Write(0x0F, 0x1F, 0x44, 0x00, 0x00); // five-byte no-ops: the buffer grows
    }
    out << "after 100000 more bytes the first byte is still at the same address: "
        << (code.GetCodePtr() - 100000 - 17 == start && start[0] == 0x55 ? "yes" : "no") << "\n";
}

} // namespace ztools
