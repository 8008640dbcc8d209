// The serial family's part of ztools: `serial list` (ports 1-8 and the serial
// devices present), `serial map N DEVICE`, `serial open N` as a small terminal,
// and the tour's loopback over a pseudo-terminal pair.
#include "commands.h"

#include <zanth/win32/zanthext.h>

#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ztools {
namespace {

using ZANTH::ZCSerialCom;

std::string DeviceOf(DWORD port)
{
    WCHAR device[1024];
    const DWORD length = ZanthGetCommDevice(port, device, 1024);
    if (length == 0 || length >= 1024) {
        return "-";
    }
    return Utf8(TString(device));
}

// The names FindFirstFileW finds for a mask like "/dev/ttyUSB*".
void ListMatching(std::ostream& out, const TString& directory, const TString& mask)
{
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(directory + mask, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const TString name(found.cFileName);
        if (name != TString(TEXT(".")) && name != TString(TEXT(".."))) {
            out << "  " << Utf8(directory + name) << "\n";
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

void List(std::ostream& out)
{
    WCHAR dir[1024];
    if (ZanthGetCommDirectory(dir, 1024) < 1024) {
        out << "Port directory: " << Utf8(TString(dir)) << "\n";
    }
    ZCSerialCom com;
    for (DWORD port = 1; port <= 8; ++port) {
        out << "COM" << port << "  " << DeviceOf(port) << "  "
            << (com.IsValid(port) ? "usable" : "not usable") << "\n";
    }
    out << "Serial devices present:\n";
    ListMatching(out, TEXT("/dev/"), TEXT("ttyUSB*"));
    ListMatching(out, TEXT("/dev/"), TEXT("ttyACM*"));
    ListMatching(out, TEXT("/dev/serial/by-id/"), TEXT("*"));
}

struct OpenOptions
{
    DWORD port = 1;
    DWORD baud = 9600;
    int bits = 8;
    std::string parity = "none";
    std::string stop = "1";
    std::string flow = "none";
};

unsigned char ParityCode(const std::string& name)
{
    const char* names[] = {"none", "odd", "even", "mark", "space"};
    for (unsigned char i = 0; i < 5; ++i) {
        if (name == names[i]) {
            return i;
        }
    }
    throw CLI::ValidationError("--parity", "one of none, odd, even, mark, space");
}

unsigned char StopCode(const std::string& name)
{
    if (name == "1") {
        return ONESTOPBIT;
    }
    if (name == "1.5") {
        return ONE5STOPBITS;
    }
    if (name == "2") {
        return TWOSTOPBITS;
    }
    throw CLI::ValidationError("--stop", "one of 1, 1.5, 2");
}

// Prints what the port receives: the notification comes on the reader thread.
struct Terminal
{
    ZCSerialCom com;
    CMessageQueue queue;
    TSaveMemory target{ZCSerialCom::ReceiveBufferSize};
    std::mutex writeLock; // Close must not run while the input thread writes
    bool closed = false;

    static void Notified(DWORD, void*, void* context)
    {
        auto* self = static_cast<Terminal*>(context);
        const LONG n = self->com.Receive(self->target);
        std::fwrite(self->target.Start(), 1, static_cast<std::size_t>(n), stdout);
        std::fflush(stdout);
    }
};

void Open(const OpenOptions& o)
{
    auto terminal = std::make_shared<Terminal>();
    terminal->queue.Add(&Terminal::Notified, terminal.get());
    const auto flow =
        o.flow == "dtrrts" ? ZCSerialCom::FlowControlDtrRts : ZCSerialCom::FlowControlNone;
    terminal->com.Open(o.port, o.baud, static_cast<unsigned char>(o.bits), ParityCode(o.parity),
                       StopCode(o.stop), &terminal->queue, flow);
    std::cerr << "COM" << o.port << " (" << DeviceOf(o.port) << ") open at " << o.baud << " baud, "
              << o.bits << " data bits, parity " << o.parity << ", " << o.stop
              << " stop bits. Ctrl-C closes it.\n";

    ::SetConsoleCtrlHandler(&ConsoleControlHandler, TRUE);
    ZANTH::ZCEvent inputEnded(1, 0, nullptr);
    // Standard input goes to the port line by line (or in pieces of 256 bytes).
    std::thread input([terminal, &inputEnded] {
        std::string chunk;
        for (int c; (c = std::fgetc(stdin)) != EOF;) {
            chunk += static_cast<char>(c);
            if (c == '\n' || chunk.size() == 256) {
                std::lock_guard<std::mutex> guard(terminal->writeLock);
                if (terminal->closed) {
                    return;
                }
                try {
                    terminal->com.Write(chunk.data(), static_cast<DWORD>(chunk.size()), 5000);
                } catch (const TException& error) {
                    DecrementPendingCount();
                    std::cerr << "ztools: " << error.what() << "\n";
                    ClearError();
                }
                chunk.clear();
            }
        }
        inputEnded.Set();
    });
    input.detach();
    // Waits for Ctrl-C (or the end of standard input), then closes the port.
    const HANDLE ends[2] = {g_theControlHandlerStopEvent.Handle(), inputEnded.Handle()};
    ::WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    {
        std::lock_guard<std::mutex> guard(terminal->writeLock);
        terminal->closed = true;
        terminal->com.Close();
    }
    std::cerr << "\nCOM" << o.port << " closed.\n";
}

} // namespace

void AddSerialCommands(CLI::App& app)
{
    CLI::App* serial = app.add_subcommand("serial", "Serial ports: list, map and open them");
    serial->require_subcommand(1);

    CLI::App* list =
        serial->add_subcommand("list", "Ports 1-8, their devices, and the serial devices present");
    list->callback([] { List(std::cout); });

    auto mapping = std::make_shared<std::pair<DWORD, std::string>>(1, "");
    CLI::App* map =
        serial->add_subcommand("map", "Map port N to DEVICE (an empty DEVICE removes the link)");
    map->add_option("N", mapping->first, "Port number")->required()->check(CLI::Range(1, 255));
    map->add_option("DEVICE", mapping->second, "Device path, e.g. /dev/ttyUSB0")->required();
    map->callback([mapping] {
        if (!ZanthMapCommPort(mapping->first, FileNameArgument(mapping->second))) {
            PushSystemError();
            ThrowLastError();
        }
        std::cout << "COM" << mapping->first << " -> " << DeviceOf(mapping->first) << "\n";
    });

    auto options = std::make_shared<OpenOptions>();
    CLI::App* open = serial->add_subcommand(
        "open",
        "A small terminal on port N: standard input to the port, the port to standard output");
    open->add_option("N", options->port, "Port number")->required()->check(CLI::Range(1, 255));
    open->add_option("--baud", options->baud, "Speed in bit/s")->check(CLI::PositiveNumber);
    open->add_option("--bits", options->bits, "Data bits")->check(CLI::Range(5, 8));
    open->add_option("--parity", options->parity, "none, odd, even, mark or space");
    open->add_option("--stop", options->stop, "Stop bits: 1, 1.5 or 2");
    open->add_option("--flow", options->flow, "none or dtrrts")
        ->check(CLI::IsMember({"none", "dtrrts"}));
    open->callback([options] { Open(*options); });
}

void TourSerial(std::ostream& out)
{
    Heading(out, "Serial ports");
    HANDLE master = nullptr;
    WCHAR device[256];
    if (!ZanthCreatePseudoTerminal(&master, device, 256)) {
        out << "No pseudo-terminal available here: " << ::GetLastError() << "\n";
        return;
    }
    // A port number that nobody maps, so the user's ports stay as they are.
    DWORD port = 99;
    while (port < 255 && DeviceOf(port) != "-") {
        ++port;
    }
    ZanthMapCommPort(port, device);
    out << "COM" << port << " is mapped to a pseudo-terminal, " << Utf8(TString(device)) << "\n";
    {
        struct Waiter
        {
            std::mutex lock;
            std::condition_variable cv;
            int notes = 0;
            static void Notified(DWORD, void*, void* context)
            {
                auto* w = static_cast<Waiter*>(context);
                std::lock_guard<std::mutex> guard(w->lock);
                ++w->notes;
                w->cv.notify_all();
            }
        } waiter;
        CMessageQueue queue;
        queue.Add(&Waiter::Notified, &waiter);
        ZCSerialCom com;
        com.Open(port, 115200, 8, NOPARITY, ONESTOPBIT, &queue, ZCSerialCom::FlowControlNone);
        DWORD n = 0;
        ::WriteFile(master, "hello, port", 11, &n, nullptr);
        {
            std::unique_lock<std::mutex> lock(waiter.lock);
            waiter.cv.wait_for(lock, std::chrono::seconds(10), [&] { return waiter.notes > 0; });
        }
        TSaveMemory target(ZCSerialCom::ReceiveBufferSize);
        const LONG got = com.Receive(target);
        out << "The other side wrote 11 bytes; the reader sent " << waiter.notes
            << " notification(s); Receive gave " << got << ": \""
            << std::string(reinterpret_cast<const char*>(target.Start()),
                           static_cast<std::size_t>(got))
            << "\"\n";
        com.Write("and back", 8, 1000);
        char back[9] = {};
        ::ReadFile(master, back, 8, &n, nullptr);
        out << "Write(\"and back\") reached the other side as \"" << back << "\"\n";
        com.Close();
    }
    ZanthMapCommPort(port, nullptr);
    ::CloseHandle(master);
}

} // namespace ztools
