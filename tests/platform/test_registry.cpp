// The registry calls on SQLite: Win32's results and error codes, value types that
// round-trip byte for byte, enumeration order and indices, case-insensitive names,
// and the safety of the database file under several processes, a killed writer
// and a damaged file.
#include "testsupport.h"

#include <zanth/win32/zanthext.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string DatabasePath(HKEY root = HKEY_CURRENT_USER)
{
    WCHAR buffer[1024];
    DWORD size = 1024;
    EXPECT_EQ(ERROR_SUCCESS, ZanthRegGetDatabasePath(root, buffer, &size));
    return TString(buffer).AsAnsi();
}

std::vector<char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A key below HKEY_CURRENT_USER, created for one test and closed after it.
class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZanthRegCloseDatabases();
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Test"), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &m_Key, nullptr));
    }
    void TearDown() override
    {
        if (m_Key) {
            ::RegCloseKey(m_Key);
        }
        ZanthRegCloseDatabases();
    }

    HKEY Create(const WCHAR* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(m_Key, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &key, nullptr));
        return key;
    }

    void SetDword(HKEY key, const WCHAR* name, DWORD value)
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&value), 4));
    }

    HKEY m_Key = nullptr;
};

std::vector<BYTE> Bytes(const void* data, std::size_t size)
{
    const BYTE* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

TEST_F(RegistryTest, ValueTypesRoundTripByteForByte)
{
    const DWORD dword = 0xDEADBEEF;
    const ULONGLONG qword = 0x0123456789ABCDEFull;
    const WCHAR sz[] = TEXT("Grüße, \U0001F600");
    const WCHAR unterminated[] = {TEXT('a'), TEXT('b')};
    const WCHAR expand[] = TEXT("%HOME%\\x");
    const WCHAR multi[] = TEXT("one\0two\0\0");
    const BYTE binary[] = {0, 0xFF, 0, 1, 0x80, 0};
    struct Case
    {
        const WCHAR* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {TEXT("dword"), REG_DWORD, Bytes(&dword, sizeof dword)},
        {TEXT("qword"), REG_QWORD, Bytes(&qword, sizeof qword)},
        {TEXT("sz"), REG_SZ, Bytes(sz, sizeof sz)},
        {TEXT("sz without terminator"), REG_SZ, Bytes(unterminated, sizeof unterminated)},
        {TEXT("expand"), REG_EXPAND_SZ, Bytes(expand, sizeof expand)},
        {TEXT("multi"), REG_MULTI_SZ, Bytes(multi, sizeof multi)},
        {TEXT("binary"), REG_BINARY, Bytes(binary, sizeof binary)},
        {TEXT("empty binary"), REG_BINARY, {}},
        {TEXT(""), REG_SZ, Bytes(TEXT("default"), 16)},
        {TEXT("a type Windows does not name"), 0x12345, Bytes(binary, 3)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(m_Key, c.name, 0, c.type, c.data.data(),
                                                  static_cast<DWORD>(c.data.size())));
    }
    // Read back in this process and again from the file after the connection ends.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Case& c : cases) {
            SCOPED_TRACE(TString(c.name).AsAnsi());
            BYTE buffer[64] = {};
            DWORD size = sizeof buffer;
            DWORD type = 0;
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegQueryValueExW(m_Key, c.name, nullptr, &type, buffer, &size));
            EXPECT_EQ(c.type, type);
            EXPECT_EQ(c.data, Bytes(buffer, size));
        }
        ZanthRegCloseDatabases();
    }
}

TEST_F(RegistryTest, QueryReportsTheSizeAndMoreDataAsWin32Does)
{
    const BYTE data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(m_Key, TEXT("v"), 0, REG_BINARY, data, 10));

    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(m_Key, TEXT("v"), nullptr, &type, nullptr, &size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(REG_BINARY, type);

    BYTE small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    size = sizeof small;
    EXPECT_EQ(ERROR_MORE_DATA, ::RegQueryValueExW(m_Key, TEXT("v"), nullptr, &type, small, &size));
    EXPECT_EQ(10u, size);

    BYTE exact[10];
    size = 10;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(m_Key, TEXT("v"), nullptr, nullptr, exact, &size));
    EXPECT_EQ(Bytes(data, 10), Bytes(exact, 10));

    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              ::RegQueryValueExW(m_Key, TEXT("v"), nullptr, nullptr, exact, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegQueryValueExW(m_Key, TEXT("v"), nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCase)
{
    HKEY mixed = Create(TEXT("MixedCase\\Ölfeld"));
    SetDword(mixed, TEXT("Width"), 1);
    ::RegCloseKey(mixed);

    HKEY upper = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(m_Key, TEXT("MIXEDCASE\\öLFELD"), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &upper, &disposition));
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    DWORD value = 0;
    DWORD size = 4;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(upper, TEXT("wIDTH"), nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(1u, value);
    // Writing under another case changes the value, not its name.
    SetDword(upper, TEXT("WIDTH"), 2);
    WCHAR name[32];
    DWORD length = 32;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegEnumValueW(upper, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(TString(TEXT("Width")), TString(name));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              ::RegEnumValueW(upper, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    ::RegCloseKey(upper);

    length = 32;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegEnumKeyExW(m_Key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(TString(TEXT("MixedCase")), TString(name));
    EXPECT_EQ(9u, length);
}

TEST_F(RegistryTest, EnumerationOrderIndicesAndBuffers)
{
    for (const WCHAR* name : {TEXT("gamma"), TEXT("Alpha"), TEXT("beta"), TEXT("Delta")}) {
        ::RegCloseKey(Create(name));
    }
    for (const WCHAR* name : {TEXT("z"), TEXT("A"), TEXT("m")}) {
        SetDword(m_Key, name, 7);
    }
    SetDword(m_Key, TEXT("A"), 8); // an overwrite keeps the value's place

    std::vector<std::string> keys;
    WCHAR name[64];
    DWORD length = 0;
    for (DWORD i = 0;; ++i) {
        length = 64;
        FILETIME written = {};
        LSTATUS status =
            ::RegEnumKeyExW(m_Key, i, name, &length, nullptr, nullptr, nullptr, &written);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(ERROR_SUCCESS, status);
        EXPECT_NE(0u, written.dwHighDateTime);
        keys.push_back(TString(name).AsAnsi());
    }
    EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}), keys);

    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        length = 64;
        DWORD data = 0, size = 4, type = 0;
        LSTATUS status = ::RegEnumValueW(m_Key, i, name, &length, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&data), &size);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(ERROR_SUCCESS, status);
        EXPECT_EQ(REG_DWORD, type);
        values.push_back(TString(name).AsAnsi() + "=" + std::to_string(data));
    }
    EXPECT_EQ((std::vector<std::string>{"z=7", "A=8", "m=7"}), values);

    // A name buffer without room for the terminator.
    length = 5;
    EXPECT_EQ(ERROR_MORE_DATA,
              ::RegEnumKeyExW(m_Key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, length);
    length = 6;
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegEnumKeyExW(m_Key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    // Data too large for the buffer: ERROR_MORE_DATA with the size needed.
    BYTE one = 0;
    DWORD size = 1;
    length = 64;
    EXPECT_EQ(ERROR_MORE_DATA,
              ::RegEnumValueW(m_Key, 0, name, &length, nullptr, nullptr, &one, &size));
    EXPECT_EQ(4u, size);

    DWORD subKeys = 0, maxKey = 0, count = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegQueryInfoKeyW(m_Key, nullptr, nullptr, nullptr, &subKeys, &maxKey, nullptr,
                                 &count, &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(4u, subKeys);
    EXPECT_EQ(5u, maxKey);
    EXPECT_EQ(3u, count);
    EXPECT_EQ(1u, maxName);
    EXPECT_EQ(4u, maxData);
}

TEST_F(RegistryTest, ErrorCodesOfWin32)
{
    HKEY child = Create(TEXT("Parent\\Child"));
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(m_Key, TEXT("Parent"), 0, KEY_ALL_ACCESS, &parent));
    HKEY readOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(m_Key, TEXT("Parent"), 0, KEY_READ, &readOnly));
    HKEY closed = Create(TEXT("Closed"));
    ::RegCloseKey(closed);
    HKEY result = nullptr;
    const DWORD one = 1;

    struct Case
    {
        const char* what;
        LSTATUS expected;
        LSTATUS actual;
    };
    const Case cases[] = {
        {"open a missing key", ERROR_FILE_NOT_FOUND,
         ::RegOpenKeyExW(m_Key, TEXT("Missing"), 0, KEY_READ, &result)},
        {"open below a missing key", ERROR_FILE_NOT_FOUND,
         ::RegOpenKeyExW(m_Key, TEXT("Missing\\Child"), 0, KEY_READ, &result)},
        {"path starting with a backslash", ERROR_BAD_PATHNAME,
         ::RegCreateKeyExW(m_Key, TEXT("\\x"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result,
                           nullptr)},
        {"empty path component", ERROR_BAD_PATHNAME,
         ::RegCreateKeyExW(m_Key, TEXT("a\\\\b"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result,
                           nullptr)},
        {"read a missing value", ERROR_FILE_NOT_FOUND,
         ::RegQueryValueExW(m_Key, TEXT("nothing"), nullptr, nullptr, nullptr, nullptr)},
        {"delete a missing value", ERROR_FILE_NOT_FOUND, ::RegDeleteValueW(m_Key, TEXT("nothing"))},
        {"delete a missing key", ERROR_FILE_NOT_FOUND, ::RegDeleteKeyW(m_Key, TEXT("Missing"))},
        {"delete a key with subkeys", ERROR_ACCESS_DENIED, ::RegDeleteKeyW(m_Key, TEXT("Parent"))},
        {"delete a root", ERROR_ACCESS_DENIED, ::RegDeleteKeyW(HKEY_CURRENT_USER, TEXT(""))},
        {"write through a read-only handle", ERROR_ACCESS_DENIED,
         ::RegSetValueExW(readOnly, TEXT("x"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                          4)},
        {"closed handle", ERROR_INVALID_HANDLE,
         ::RegQueryValueExW(closed, TEXT("x"), nullptr, nullptr, nullptr, nullptr)},
        {"close twice", ERROR_INVALID_HANDLE, ::RegCloseKey(closed)},
        {"made-up handle", ERROR_INVALID_HANDLE,
         ::RegSetValueExW(reinterpret_cast<HKEY>(0x1234), TEXT("x"), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&one), 4)},
        {"null handle", ERROR_INVALID_HANDLE, ::RegFlushKey(nullptr)},
        {"unsupported root", ERROR_INVALID_HANDLE,
         ::RegOpenKeyExW(HKEY_CLASSES_ROOT, TEXT("x"), 0, KEY_READ, &result)},
        {"null result", ERROR_INVALID_PARAMETER,
         ::RegOpenKeyExW(m_Key, TEXT("Parent"), 0, KEY_READ, nullptr)},
        {"null data with a size", ERROR_NOACCESS,
         ::RegSetValueExW(m_Key, TEXT("x"), 0, REG_BINARY, nullptr, 4)},
        {"lone surrogate in a name", ERROR_INVALID_PARAMETER,
         ::RegSetValueExW(m_Key, TEXT("\xD800"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                          4)},
        {"over-long key name", ERROR_INVALID_PARAMETER,
         ::RegCreateKeyExW(m_Key, TString(TEXT('k'), 256), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &result, nullptr)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, c.actual) << c.what;
    }

    // A key deleted while a handle to it is open.
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(parent, TEXT("Child")));
    EXPECT_EQ(ERROR_KEY_DELETED, ::RegSetValueExW(child, TEXT("x"), 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&one), 4));
    EXPECT_EQ(ERROR_KEY_DELETED,
              ::RegQueryValueExW(child, TEXT("x"), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ::RegCloseKey(child));
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(m_Key, TEXT("Parent")));
    ::RegCloseKey(parent);
    ::RegCloseKey(readOnly);
}

TEST_F(RegistryTest, CreateMakesEveryLevelAndDeleteTakesTheValues)
{
    HKEY deep = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(m_Key, TEXT("a\\b\\c\\"), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &deep, &disposition));
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    SetDword(deep, TEXT("v"), 3);
    ::RegCloseKey(deep);
    HKEY again = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(m_Key, TEXT("a\\b\\c"), 0, KEY_READ, &again));
    ::RegCloseKey(again);

    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(m_Key, TEXT("a\\b\\c")));
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(m_Key, TEXT("a\\b\\c"), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &again, &disposition));
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegQueryValueExW(again, TEXT("v"), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ::RegFlushKey(again));
    ::RegCloseKey(again);
}

TEST(RegistryLocation, DatabasesLiveWhereTheEnvironmentSays)
{
    ZanthRegCloseDatabases();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(nullptr, config);
    EXPECT_EQ(std::string(config) + "/zanth/registry-user.db", DatabasePath());

    const std::string user = testsupport::TempPath("elsewhere/user.db");
    const std::string machine = testsupport::TempPath("machine.db");
    ::setenv(ZANTH_REGISTRY_USER_ENV, user.c_str(), 1);
    ::setenv(ZANTH_REGISTRY_MACHINE_ENV, machine.c_str(), 1);
    ZanthRegCloseDatabases();
    EXPECT_EQ(user, DatabasePath());
    EXPECT_EQ(machine, DatabasePath(HKEY_LOCAL_MACHINE));

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\M"), 0, nullptr,
                                               0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ::RegCloseKey(key);
    // The two roots are two files.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\M"), 0, KEY_READ, &key));
    EXPECT_EQ(0, ::access(machine.c_str(), F_OK));
    EXPECT_EQ(0, ::access(user.c_str(), F_OK));

    WCHAR small[4];
    DWORD size = 4;
    EXPECT_EQ(ERROR_MORE_DATA, ZanthRegGetDatabasePath(HKEY_CURRENT_USER, small, &size));
    EXPECT_EQ(user.size() + 1, size);

    ::unsetenv(ZANTH_REGISTRY_USER_ENV);
    ::unsetenv(ZANTH_REGISTRY_MACHINE_ENV);
    ZanthRegCloseDatabases();
}

TEST(RegistryThreads, ThreadsWritingAtOnceLoseNothing)
{
    ZanthRegCloseDatabases();
    constexpr int kThreads = 4;
    constexpr int kValues = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS,
                      ::RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Threads"), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr));
            for (DWORD i = 0; i < kValues; ++i) {
                TString name = TString::Formatted(TEXT("t%d_%u"), t, i);
                ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, REG_DWORD,
                                                          reinterpret_cast<const BYTE*>(&i), 4));
            }
            ::RegCloseKey(key);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Threads"), 0, KEY_READ, &key));
    DWORD count = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                 nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(kThreads * kValues), count);
    ::RegCloseKey(key);
    ZanthRegCloseDatabases();
}

// --- Several processes, a killed writer, a damaged file ------------------------------

struct Child
{
    pid_t pid = -1;
    int output = -1;
};

Child Start(const std::vector<std::string>& argv)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// Reads the child's output to its end; returns its exit status.
int Finish(Child& child, std::string& output)
{
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(child.output, buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(child.output);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

DWORD ReadDword(HKEY key, const std::string& name, LSTATUS& status)
{
    DWORD value = 0;
    DWORD size = 4;
    status = ::RegQueryValueExW(key, TString::FromAnsi(name.c_str()), nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

TEST(RegistryProcesses, TwoProcessesWritingAndReadingAtOnceLoseNoWrite)
{
    ZanthRegCloseDatabases();
    constexpr int kValues = 400;
    const std::string helper = testsupport::HelperPath("child_registry_writer");
    Child first = Start({helper, "Software\\Shared", "a", std::to_string(kValues), "b"});
    Child second = Start({helper, "Software\\Shared", "b", std::to_string(kValues), "a"});
    std::string out1, out2;
    EXPECT_EQ(0, Finish(first, out1)) << out1.substr(out1.rfind('\n', out1.size() - 2) + 1);
    EXPECT_EQ(0, Finish(second, out2)) << out2.substr(out2.rfind('\n', out2.size() - 2) + 1);

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Shared"), 0, KEY_READ, &key));
    for (int i = 0; i < kValues; ++i) {
        for (const char* prefix : {"a", "b"}) {
            LSTATUS status = 0;
            DWORD value = ReadDword(key, prefix + std::to_string(i), status);
            ASSERT_EQ(ERROR_SUCCESS, status) << prefix << i;
            EXPECT_EQ(static_cast<DWORD>(i), value);
        }
    }
    ::RegCloseKey(key);
    EXPECT_EQ(ERROR_SUCCESS, ZanthRegCheckDatabase(HKEY_CURRENT_USER));
    ZanthRegCloseDatabases();
}

TEST(RegistryProcesses, WriterKilledMidSeriesLeavesEveryCommittedValue)
{
    ZanthRegCloseDatabases();
    Child child = Start(
        {testsupport::HelperPath("child_registry_writer"), "Software\\Killed", "v", "1000000"});
    ASSERT_GT(child.pid, 0);
    // Wait until a good number of writes have been committed, then kill.
    std::string output;
    char buffer[4096];
    long last = -1;
    while (last < 500) {
        ssize_t n = ::read(child.output, buffer, sizeof buffer);
        ASSERT_GT(n, 0) << output;
        output.append(buffer, static_cast<std::size_t>(n));
        std::size_t end = output.rfind('\n');
        if (end != std::string::npos && end > 0) {
            std::size_t start = output.rfind('\n', end - 1);
            last = std::strtol(output.c_str() + (start == std::string::npos ? 0 : start + 1),
                               nullptr, 10);
        }
    }
    ::kill(child.pid, SIGKILL);
    std::string rest;
    EXPECT_EQ(-SIGKILL, Finish(child, rest));
    output += rest;
    // Every line printed is a committed write; the last may be cut by the kill.
    long committed = -1;
    for (std::size_t pos = 0, next; (next = output.find('\n', pos)) != std::string::npos;
         pos = next + 1) {
        committed = std::strtol(output.c_str() + pos, nullptr, 10);
    }
    ASSERT_GE(committed, 500);

    EXPECT_EQ(ERROR_SUCCESS, ZanthRegCheckDatabase(HKEY_CURRENT_USER));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Killed"), 0, KEY_READ, &key));
    for (long i = 0; i <= committed; ++i) {
        LSTATUS status = 0;
        DWORD value = ReadDword(key, "v" + std::to_string(i), status);
        ASSERT_EQ(ERROR_SUCCESS, status) << i;
        ASSERT_EQ(static_cast<DWORD>(i), value);
    }
    // The registry goes on working after the writer's death.
    const DWORD one = 1;
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(HKEY_CURRENT_USER, TEXT("after"), 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&one), 4));
    ::RegCloseKey(key);
    ZanthRegCloseDatabases();
}

// Fills the user database with some keys and values and closes it.
void FillDatabase()
{
    ZanthRegCloseDatabases();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Fill"), 0,
                                               nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    std::vector<BYTE> data(300, 0x5A);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, TString::Formatted(TEXT("value%d"), i), 0,
                                                  REG_BINARY, data.data(), 300));
    }
    ::RegCloseKey(key);
    ZanthRegCloseDatabases();
}

void Overwrite(const std::string& path, long offset, std::size_t count, char byte)
{
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    std::string junk(count, byte);
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

TEST(RegistryDamage, DamagedFileGivesRegistryCorruptAndStaysAsItWas)
{
    struct Case
    {
        const char* what;
        long offset;
        std::size_t count;
        char byte;
    };
    const Case cases[] = {
        {"header", 0, 100, '\x7F'},
        {"the page of the key tree", 4096, 4096, '\xFF'},
        {"the value pages", 8192, 3 * 4096, '\x00'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FillDatabase();
        const std::string path = DatabasePath();
        Overwrite(path, c.offset, c.count, c.byte);
        const std::vector<char> before = ReadFile(path);

        HKEY key = nullptr;
        LSTATUS status =
            ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Fill"), 0, KEY_READ, &key);
        EXPECT_EQ(ERROR_REGISTRY_CORRUPT, status);
        // Writes are refused as well, and a second attempt finds the same.
        const DWORD one = 1;
        EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
                  ::RegSetValueExW(HKEY_CURRENT_USER, TEXT("x"), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&one), 4));
        EXPECT_EQ(ERROR_REGISTRY_CORRUPT, ZanthRegCheckDatabase(HKEY_CURRENT_USER));
        ZanthRegCloseDatabases();
        EXPECT_TRUE(before == ReadFile(path)) << "the damaged file was changed";
        ::unlink(path.c_str());
    }
}

TEST(RegistryDamage, AFileThatIsNoRegistryIsLeftAlone)
{
    FillDatabase(); // makes the directory
    const std::string path = DatabasePath();
    ::unlink(path.c_str());
    {
        std::ofstream file(path, std::ios::binary);
        file << "[settings]\nwidth=10\n";
    }
    const std::vector<char> before = ReadFile(path);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("Software\\X"), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ZanthRegCloseDatabases();
    EXPECT_TRUE(before == ReadFile(path));
    ::unlink(path.c_str());
}

TEST(RegistryDamage, AnUnreadableFileGivesAccessDenied)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    FillDatabase();
    const std::string path = DatabasePath();
    ::chmod(path.c_str(), 0);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              ::RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Fill"), 0, KEY_READ, &key));
    ZanthRegCloseDatabases();
    ::chmod(path.c_str(), 0600);
}

} // namespace
