// The ztools program as a user meets it: each case runs the built program in a
// child process and looks at its exit status, its standard output and its
// standard error.
#include "testsupport.h"

#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::TempPath;

struct ZtoolsRun
{
    int status;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Ztools()
{
    return testsupport::HelperPath("ztools");
}

// Runs ztools with `args`; standard output goes to a file that is read back.
ZtoolsRun RunZtools(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
{
    std::vector<std::string> argv;
    if (!env.empty()) {
        argv.push_back("/usr/bin/env");
        argv.insert(argv.end(), env.begin(), env.end());
    }
    argv.push_back(Ztools());
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = TempPath("ztools-stdout.txt");
    const testsupport::ChildResult result = testsupport::RunChildWithStdout(argv, out);
    return {result.status, ReadFile(out), result.output};
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class ZtoolsCommand : public testing::Test
{
protected:
    void SetUp() override
    {
        if (::access(Ztools().c_str(), X_OK) != 0) {
            GTEST_SKIP() << "ztools is not built";
        }
    }
};

} // namespace

// Output that cannot be written fails the program with a message on standard
// error: a full disk, or a standard output that is closed. Output that can be
// written leaves the status at 0.
TEST_F(ZtoolsCommand, FailsWhenItsOutputCannotBeWritten)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* stdoutPath; // "" closed
        bool fails;
    };
    const Case cases[] = {
        {{"date", "now"}, "/dev/full", true}, {{"paper", "list"}, "/dev/full", true},
        {{"tour"}, "/dev/full", true},        {{"tour"}, "", true},
        {{"date", "now"}, "", true},          {{"date", "now"}, "/dev/null", false},
        {{"tour"}, "/dev/null", false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {Ztools()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const testsupport::ChildResult result = testsupport::RunChildWithStdout(argv, c.stdoutPath);
        SCOPED_TRACE(testing::Message()
                     << c.args.front() << " > '" << c.stdoutPath << "': " << result.output);
        if (c.fails) {
            EXPECT_EQ(1, result.status);
            EXPECT_TRUE(Contains(result.output, "ztools: standard output cannot be written"));
        } else {
            EXPECT_EQ(0, result.status);
            EXPECT_FALSE(Contains(result.output, "cannot be written"));
        }
    }
}

// The queue run sends exactly the number of messages asked for, whether or not it
// divides by the number of producers.
TEST_F(ZtoolsCommand, QueueSendsEveryMessageAskedFor)
{
    const std::pair<const char*, const char*> cases[] = {
        {"10", "3"}, {"1", "64"}, {"63", "64"}, {"7", "7"}, {"1000", "1"}, {"1001", "2"},
    };
    for (const auto& [messages, producers] : cases) {
        const ZtoolsRun run = RunZtools(
            {"queue", "--messages", messages, "--producers", producers, "--capacity", "4"});
        SCOPED_TRACE(testing::Message() << messages << " / " << producers << ": " << run.err);
        EXPECT_EQ(0, run.status);
        EXPECT_EQ(0u,
                  run.out.rfind(
                      std::string(messages) + " messages from " + producers + " producer(s)", 0))
            << run.out;
    }
}

// Errors name the argument at fault and say what is wrong; values inside the stated
// limits are accepted.
TEST_F(ZtoolsCommand, ErrorsSayWhatIsWrong)
{
    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* err;    // part of standard error ("" none expected)
        const char* notErr; // must not appear on standard error ("" no check)
        const char* out;    // the start of standard output when accepted
    };
    const Case cases[] = {
        {{"paper", "find", "210x297mm", "--closest", "1e12"}, 105, "--closest", "SIZE", ""},
        {{"paper", "find", "210x297mm", "--closest", "1"}, 0, "", "", "request:"},
        {{"convert", "2147483647", "zanth", "mm"}, 0, "", "", "2147483647 zanth = "},
        {{"convert", "2147483648", "zanth", "mm"}, 105, "at most 2147483647", "", ""},
        {{"convert", "--", "-2147483647", "zanth", "in"}, 0, "", "", "-2147483647 zanth = "},
        {{"convert", "2147483647", "zanth", "px"},
         105,
         "does not fit the 32-bit arithmetic",
         "at most 2147483647",
         ""},
        {{"paper", "find", "0.0001x0.0001mm"}, 105, "smaller than one Zanth unit", "", ""},
        {{"paper", "find", "210x0.0001mm"}, 105, "smaller than one Zanth unit", "", ""},
        {{"paper", "find", "1x1zanth"}, 0, "", "", "request: 1 x 1 Zanth units"},
        {{"date", "now", "--fill", "\xF0\x9F\x98\x80"},
         1,
         "outside the Basic Multilingual Plane",
         "",
         ""},
        {{"date", "now", "--fill", "\xC3\xA9"}, 0, "", "", ""},
        {{"date", "now", "--fill", "ab"}, 1, "exactly one character", "", ""},
    };
    for (const Case& c : cases) {
        const ZtoolsRun run = RunZtools(c.args);
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        SCOPED_TRACE(testing::Message() << line << "-> " << run.status << ": " << run.err);
        EXPECT_EQ(c.status, run.status);
        if (*c.err) {
            EXPECT_TRUE(Contains(run.err, c.err));
        }
        if (*c.notErr) {
            EXPECT_FALSE(Contains(run.err, c.notErr));
        }
        if (c.status == 0) {
            EXPECT_EQ(0u, run.out.rfind(c.out, 0)) << run.out;
        }
    }
}

// Copying a file onto itself, under its own or another name, is refused as such and
// leaves the file whole; a copy to another file goes ahead.
TEST_F(ZtoolsCommand, CopyOntoItselfIsRefusedAndKeepsTheSource)
{
    const std::string source = TempPath("source.txt");
    const std::string content(100000, 'z');
    WriteFile(source, content);
    ASSERT_EQ(0, ::link(source.c_str(), TempPath("second-name.txt").c_str()));
    struct Case
    {
        std::string to;
        bool same;
    };
    const Case cases[] = {
        {source, true},
        {TempPath("./source.txt"), true},
        {TempPath("second-name.txt"), true},
        {TempPath("copy.txt"), false},
    };
    for (const Case& c : cases) {
        const ZtoolsRun run = RunZtools({"buffers", "copy", source, c.to});
        SCOPED_TRACE(testing::Message() << c.to << ": " << run.err);
        EXPECT_EQ(ReadFile(source), content);
        if (c.same) {
            EXPECT_EQ(1, run.status);
            EXPECT_TRUE(Contains(run.err, "are the same file"));
            EXPECT_FALSE(Contains(run.err, "another process"));
        } else {
            EXPECT_EQ(0, run.status);
            EXPECT_EQ(ReadFile(c.to), content);
        }
    }
}

// A library error that reaches the program's end is printed whole, with the system
// error beneath it, as the commands print theirs.
TEST_F(ZtoolsCommand, ErrorsReachingTheEndKeepTheirSystemError)
{
    const ZtoolsRun run = RunZtools({"tour"}, {"TMPDIR=" + TempPath("no-such-directory")});
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(Contains(run.err, "The system cannot find the path specified.")) << run.err;
}
