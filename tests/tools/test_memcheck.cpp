// TMemoryCheck: switched on by "memory.txt" at library load, so every case runs a
// child process (child_load_memcheck) that answers the boxes, loads the tools
// library, registers blocks and unloads it; the test then reads the child's boxes,
// its leak-checker log lines and the report file.
#include "testsupport.h"

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::HelperPath;
using testsupport::RunChild;
using testsupport::TempPath;

const std::string kLoadBox =
    "BOX 24 MemoryChecker|MemoryLeak-Datei " + TempPath("memory.txt") +
    " gefunden. Damit ist das Speicher-Prüf-System aktiviert. Es können jetzt Speicher-Löscher "
    "in der Datei protokolliert werden, oder die protokollierten angezeigt werden. "
    "Speicherlöcher jetzt protokollieren?";
const std::string kLeaksBox = "BOX 30 MemoryChecker|Es wurden Speicherlöcher gefunden. Diese "
                              "werden jetzt in die Datei geschreiben.";
const std::string kNoLeaksBox = "BOX 30 MemoryChecker|Es wurden keine Speicherlöcher gefunden.";

struct ChildRun
{
    std::vector<std::string> boxes;
    std::vector<LONG> reached; // allocations at which replay stopped
    bool unloaded = false;
};

ChildRun RunScript(const std::string& answer, const std::vector<std::string>& script)
{
    std::vector<std::string> argv{HelperPath("child_load_memcheck"), answer};
    argv.insert(argv.end(), script.begin(), script.end());
    const testsupport::ChildResult result = RunChild(argv);
    EXPECT_EQ(0, result.status) << result.output;
    ChildRun run;
    std::istringstream lines(result.output);
    std::string line;
    const std::string reached = "LOG TMemoryCheck: allocation ";
    while (std::getline(lines, line)) {
        if (line.rfind("BOX ", 0) == 0) {
            run.boxes.push_back(line);
        } else if (line.rfind(reached, 0) == 0) {
            run.reached.push_back(std::stol(line.substr(reached.size())));
        } else if (line == "UNLOADED") {
            run.unloaded = true;
        }
    }
    EXPECT_TRUE(run.unloaded) << result.output;
    return run;
}

std::string ReportBytes()
{
    std::ifstream in(TempPath("memory.txt"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<LONG> Report()
{
    const std::string bytes = ReportBytes();
    std::vector<LONG> values;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + i);
        values.push_back(static_cast<LONG>(static_cast<ULONG>(b[0]) | (ULONG{b[1]} << 8) |
                                           (ULONG{b[2]} << 16) | (ULONG{b[3]} << 24)));
    }
    return values;
}

void WriteReport(const std::string& bytes)
{
    std::ofstream out(TempPath("memory.txt"), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string LittleEndian(std::initializer_list<LONG> values)
{
    std::string bytes;
    for (LONG value : values) {
        const auto v = static_cast<ULONG>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    }
    return bytes;
}

bool ReportExists()
{
    struct stat info;
    return ::stat(TempPath("memory.txt").c_str(), &info) == 0;
}

} // namespace

// Without the marker file the checker stays off: no box at load or unload, no
// report, and registrations change nothing.
TEST(MemoryCheck, OffWithoutTheMarkerFile)
{
    ChildRun run = RunScript("yes", {"flex:0:100", "new:1", "new:2", "delete:1"});
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(run.reached.empty());
    EXPECT_FALSE(ReportExists());
    // The process itself was loaded without the file: the hooks do nothing here.
    TMemoryCheck::New(&run, 1);
    TMemoryCheck::Delete(&run);
}

// Record mode: three flexible memories reserved and the second released leave a
// report of the sequence numbers 0 and 2, as 32-bit little-endian integers; the
// boxes carry the exact texts, caption and styles.
TEST(MemoryCheck, RecordWritesTheSurvivors)
{
    WriteReport("");
    ChildRun run = RunScript("yes", {"flex:0:100", "flex:1:5000", "flex:2:1", "release:1"});
    EXPECT_EQ((std::vector<std::string>{kLoadBox, kLeaksBox}), run.boxes);
    EXPECT_EQ(LittleEndian({0, 2}), ReportBytes());
    EXPECT_TRUE(run.reached.empty());
}

// A record run followed by a replay run with the same allocation sequence stops
// exactly at the allocations that leaked in the first run, and overwrites the
// report with the second run's survivors.
TEST(MemoryCheck, ReplayStopsAtTheRecordedAllocations)
{
    const std::vector<std::string> script = {"new:10",      "flex:0:64", "new:11",    "new:12",
                                             "flex:1:4096", "new:13",    "delete:10", "release:0",
                                             "new:14",      "delete:13", "delete:14", "new:15"};
    // Sequence numbers: new:10=0 flex0=1 new:11=2 new:12=3 flex1=4 new:13=5 new:14=6
    // new:15=7; survivors 2, 3, 4, 7.
    WriteReport("");
    ChildRun record = RunScript("yes", script);
    ASSERT_EQ((std::vector<LONG>{2, 3, 4, 7}), Report());
    EXPECT_TRUE(record.reached.empty());

    ChildRun replay = RunScript("no", script);
    EXPECT_EQ((std::vector<LONG>{2, 3, 4, 7}), replay.reached);
    EXPECT_EQ((std::vector<std::string>{kLoadBox, kLeaksBox}), replay.boxes);
    EXPECT_EQ((std::vector<LONG>{2, 3, 4, 7}), Report());

    // A replay with fewer leaks overwrites the report with its own survivors.
    ChildRun shorter = RunScript("no", {"new:1", "new:2", "new:3", "delete:2", "delete:1"});
    EXPECT_EQ((std::vector<LONG>{2}), shorter.reached);
    EXPECT_EQ((std::vector<LONG>{2}), Report());
}

// The same pointer registered twice and deleted once removes the later
// registration; deleting a pointer that was never registered changes nothing.
TEST(MemoryCheck, DeleteRemovesTheMostRecentRegistration)
{
    WriteReport("");
    RunScript("yes", {"new:1", "new:2", "new:1", "delete:1", "delete:99", "new:3", "new:1", "new:1",
                      "delete:1"});
    // 0: block 1, 1: block 2, 2: block 1 (deleted), 3: block 3, 4: block 1, 5: block 1
    // (deleted).
    EXPECT_EQ((std::vector<LONG>{0, 1, 3, 4}), Report());
}

// With no survivors at unload the "no leaks" box is shown and the report keeps its
// old contents.
TEST(MemoryCheck, NoSurvivorsKeepTheOldReport)
{
    const std::string old = LittleEndian({5, 9});
    WriteReport(old);
    ChildRun run = RunScript("yes", {"flex:0:10", "new:4", "release:0", "delete:4"});
    EXPECT_EQ((std::vector<std::string>{kLoadBox, kNoLeaksBox}), run.boxes);
    EXPECT_EQ(old, ReportBytes());
}

// A report that is short, garbage or empty must not crash the replay: a read that
// finds no more values ends it, and numbers that do not rise are never reached.
TEST(MemoryCheck, ShortOrGarbageReportsEndTheReplay)
{
    struct Case
    {
        const char* what;
        std::string report;
        std::vector<LONG> reached;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"a partial value", std::string("\x01\x00", 2), {}},
        {"one value and a partial one", LittleEndian({1}) + std::string("\xFF\xFF", 2), {1}},
        {"values that fall", LittleEndian({3, 1, 4}), {3}},
        {"negative and huge values", LittleEndian({-7, 2}), {}},
        {"beyond the run", LittleEndian({2, 1000}), {2}},
    };
    for (const Case& c : cases) {
        WriteReport(c.report);
        ChildRun run = RunScript("no", {"new:1", "new:2", "new:3", "new:4", "new:5"});
        EXPECT_EQ(c.reached, run.reached) << c.what;
        EXPECT_EQ(2u, run.boxes.size()) << c.what;
        EXPECT_EQ((std::vector<LONG>{0, 1, 2, 3, 4}), Report()) << c.what;
    }
}

// A report that cannot be read is logged and the run goes on (replay never stops).
TEST(MemoryCheck, UnreadableReportDoesNotStopTheProgram)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind the superuser";
    }
    WriteReport(LittleEndian({0}));
    ASSERT_EQ(0, ::chmod(TempPath("memory.txt").c_str(), 0));
    const testsupport::ChildResult result =
        RunChild({HelperPath("child_load_memcheck"), "no", "new:1"});
    ::chmod(TempPath("memory.txt").c_str(), 0600);
    EXPECT_EQ(0, result.status) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("the report cannot be read")) << result.output;
}

// Registrations and deletions from several threads at once keep the list whole:
// each thread leaves exactly its first block.
TEST(MemoryCheck, RegistrationsFromSeveralThreads)
{
    WriteReport("");
    RunScript("yes", {"new:0", "threads:4:3000", "new:1"});
    const std::vector<LONG> report = Report();
    ASSERT_EQ(6u, report.size());
    EXPECT_EQ(0, report.front());
    EXPECT_EQ(1 + 4 * 3000, report.back());
    for (std::size_t i = 1; i < report.size(); ++i) {
        EXPECT_LT(report[i - 1], report[i]);
    }
}

// "memory.txt" lies in the temp directory, where something else may have been put
// under its name. Whatever it is, loading and unloading the library end (a watchdog
// kills a child that hangs), nothing is read without end, and the report is never
// written through a link or into a second name of another file: each refusal is
// logged and the program goes on.
TEST(MemoryCheck, ThingsPlantedAsTheReportAreNeitherFollowedNorWaitedFor)
{
    const std::string report = TempPath("memory.txt");
    const std::string victim = TempPath("victim.bin");
    struct Case
    {
        const char* what;
        std::function<void()> plant;
        const char* answer;
        const char* logged; // a line the child must log
    };
    const Case cases[] = {
        {"a link to /dev/zero, replay", [&] { (void)!::symlink("/dev/zero", report.c_str()); },
         "no", "the report cannot be read"},
        {"a link to /dev/zero, record", [&] { (void)!::symlink("/dev/zero", report.c_str()); },
         "yes", "the report cannot be written"},
        {"a FIFO, replay", [&] { (void)!::mkfifo(report.c_str(), 0600); }, "no",
         "is not a regular file"},
        {"a FIFO, record", [&] { (void)!::mkfifo(report.c_str(), 0600); }, "yes",
         "the report cannot be written"},
        {"a link to another file, replay",
         [&] { (void)!::symlink(victim.c_str(), report.c_str()); }, "no",
         "the report cannot be read"},
        {"a link to another file, record",
         [&] { (void)!::symlink(victim.c_str(), report.c_str()); }, "yes",
         "the report cannot be written"},
        {"a second name of another file, record",
         [&] { (void)!::link(victim.c_str(), report.c_str()); }, "yes",
         "is not a regular file with a single name"},
        {"a huge sparse file, replay",
         [&] {
             const int fd = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
             (void)!::ftruncate(fd, off_t{1} << 30);
             ::close(fd);
         },
         "no", "only the first 16777216 bytes of the report are read"},
    };
    const std::string kept = LittleEndian({0, 1, 2});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(report.c_str());
        std::ofstream(victim, std::ios::binary | std::ios::trunc) << kept;
        c.plant();
        const testsupport::ChildResult result =
            RunChild({"/usr/bin/timeout", "-s", "KILL", "60", HelperPath("child_load_memcheck"),
                      c.answer, "new:1", "new:2"});
        EXPECT_EQ(0, result.status) << (result.status == 137 ? "the child hung" : result.output);
        EXPECT_NE(std::string::npos, result.output.find("UNLOADED")) << result.output;
        EXPECT_NE(std::string::npos, result.output.find(c.logged)) << result.output;
        std::ifstream in(victim, std::ios::binary);
        EXPECT_EQ(kept, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    ::unlink(report.c_str());
}
