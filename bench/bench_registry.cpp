// Settings store benchmarks, side by side with their peers:
// - writing 100,000 REG_DWORD values, each its own transaction, through
//   RegSetValueExW and through TRegistry::Write, against a plain SQLite table with
//   the same journal and sync settings (WAL, synchronous=NORMAL, one autocommit
//   statement per value: the limit for this design), and against an INI-style file
//   rewritten on every change (what WritePrivateProfileString does; 1,000 values,
//   since each rewrite costs as much as the file is long);
// - reading them back in a shuffled order through RegQueryValueExW and
//   TRegistry::Read against a prepared SELECT on the plain table, and against
//   reading the INI file for each value.
// Rates are per value (items per second), so the peers compare although the INI
// runs hold fewer values.
//
// Everything lives in a fresh directory under $TMPDIR (or /tmp); the registry
// database is named by ZANTH_REGISTRY_USER, so the user's own settings are never
// touched.
#include <zanth/tools.h>

#include <zanth/win32/zanthext.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kValues = 100000;
constexpr int kIniValues = 1000;

const std::string& Directory()
{
    static const std::string directory = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zanth-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::abort();
        }
        ::setenv(ZANTH_REGISTRY_USER_ENV, (pattern + "/registry.db").c_str(), 1);
        std::atexit([] {
            ZanthRegCloseDatabases();
            std::error_code ignored;
            std::filesystem::remove_all(Directory(), ignored);
        });
        return pattern;
    }();
    return directory;
}

struct Names
{
    std::vector<TString> wide;
    std::vector<std::string> narrow;
    std::vector<int> shuffled; // the order of the reads
};

const Names& TheNames()
{
    static const Names names = [] {
        Names n;
        for (int i = 0; i < kValues; ++i) {
            n.narrow.push_back("value" + std::to_string(i));
            n.wide.push_back(TString::FromAnsi(n.narrow.back().c_str()));
            n.shuffled.push_back(i);
        }
        std::shuffle(n.shuffled.begin(), n.shuffled.end(), std::mt19937(7));
        return n;
    }();
    return names;
}

HKEY OpenKey(const WCHAR* path)
{
    Directory();
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        std::abort();
    }
    return key;
}

// --- The registry -----------------------------------------------------------------

void WriteAll(HKEY key, int count)
{
    const Names& names = TheNames();
    for (int i = 0; i < count; ++i) {
        const DWORD value = static_cast<DWORD>(i);
        if (::RegSetValueExW(key, names.wide[i], 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&value), 4) != ERROR_SUCCESS) {
            std::abort();
        }
    }
}

void BM_Write_RegSetValueExW(benchmark::State& state)
{
    HKEY key = OpenKey(TEXT("Software\\Bench\\Win32"));
    for (auto _ : state) {
        WriteAll(key, kValues);
    }
    ::RegCloseKey(key);
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Write_RegSetValueExW)->Unit(benchmark::kMillisecond);

void BM_Read_RegQueryValueExW(benchmark::State& state)
{
    HKEY key = OpenKey(TEXT("Software\\Bench\\Read"));
    WriteAll(key, kValues);
    const Names& names = TheNames();
    DWORD sum = 0;
    for (auto _ : state) {
        for (int i : names.shuffled) {
            DWORD value = 0, size = 4;
            ::RegQueryValueExW(key, names.wide[i], nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), &size);
            sum += value;
        }
    }
    benchmark::DoNotOptimize(sum);
    ::RegCloseKey(key);
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Read_RegQueryValueExW)->Unit(benchmark::kMillisecond);

void BM_Write_TRegistry(benchmark::State& state)
{
    Directory();
    const Names& names = TheNames();
    TRegistry registry(TEXT("Bench"), TEXT("TRegistry"), 0);
    for (auto _ : state) {
        for (int i = 0; i < kValues; ++i) {
            registry.Write(names.wide[i], i, 0, 0);
        }
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Write_TRegistry)->Unit(benchmark::kMillisecond);

void BM_Read_TRegistry(benchmark::State& state)
{
    HKEY key = OpenKey(TEXT("Software\\Bench\\Read"));
    WriteAll(key, kValues);
    ::RegCloseKey(key);
    const Names& names = TheNames();
    TRegistry registry(TEXT("Bench"), TEXT("Read"), 0);
    long long sum = 0;
    for (auto _ : state) {
        for (int i : names.shuffled) {
            int value = 0;
            registry.Read(names.wide[i], value, 0, 0, 0);
            sum += value;
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Read_TRegistry)->Unit(benchmark::kMillisecond);

// --- Plain SQLite: the limit ---------------------------------------------------------

struct PlainTable
{
    sqlite3* db = nullptr;
    sqlite3_stmt* upsert = nullptr;
    sqlite3_stmt* select = nullptr;

    PlainTable()
    {
        const std::string path = Directory() + "/plain.db";
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            std::abort();
        }
        sqlite3_busy_timeout(db, 30000);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                     "CREATE TABLE IF NOT EXISTS t(k TEXT PRIMARY KEY, v BLOB NOT NULL)",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO t(k, v) VALUES(?1, ?2) "
                           "ON CONFLICT(k) DO UPDATE SET v = excluded.v",
                           -1, &upsert, nullptr);
        sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?1", -1, &select, nullptr);
    }
    ~PlainTable()
    {
        sqlite3_finalize(upsert);
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
    void Write(const std::string& name, DWORD value)
    {
        sqlite3_bind_text(upsert, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(upsert, 2, &value, 4, SQLITE_STATIC);
        if (sqlite3_step(upsert) != SQLITE_DONE) {
            std::abort();
        }
        sqlite3_reset(upsert);
    }
    DWORD Read(const std::string& name)
    {
        DWORD value = 0;
        sqlite3_bind_text(select, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        if (sqlite3_step(select) == SQLITE_ROW && sqlite3_column_bytes(select, 0) == 4) {
            std::memcpy(&value, sqlite3_column_blob(select, 0), 4);
        }
        sqlite3_reset(select);
        return value;
    }
};

void BM_Write_PlainSqlite(benchmark::State& state)
{
    PlainTable table;
    const Names& names = TheNames();
    for (auto _ : state) {
        for (int i = 0; i < kValues; ++i) {
            table.Write(names.narrow[i], static_cast<DWORD>(i));
        }
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Write_PlainSqlite)->Unit(benchmark::kMillisecond);

void BM_Read_PlainSqlite(benchmark::State& state)
{
    PlainTable table;
    const Names& names = TheNames();
    for (int i = 0; i < kValues; ++i) {
        table.Write(names.narrow[i], static_cast<DWORD>(i));
    }
    DWORD sum = 0;
    for (auto _ : state) {
        for (int i : names.shuffled) {
            sum += table.Read(names.narrow[i]);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_Read_PlainSqlite)->Unit(benchmark::kMillisecond);

// --- An INI file rewritten on every change --------------------------------------------

class IniFile
{
public:
    explicit IniFile(std::string path) : m_Path(std::move(path)) {}

    void Write(const std::string& name, DWORD value)
    {
        m_Values[name] = value;
        std::ofstream out(m_Path, std::ios::trunc);
        out << "[Bench]\n";
        for (const auto& [key, number] : m_Values) {
            out << key << '=' << number << '\n';
        }
    }

    // Reads the file for each value, as GetPrivateProfileInt does.
    DWORD Read(const std::string& name) const
    {
        std::ifstream in(m_Path);
        std::string line;
        const std::string wanted = name + "=";
        while (std::getline(in, line)) {
            if (line.compare(0, wanted.size(), wanted) == 0) {
                return static_cast<DWORD>(std::strtoul(line.c_str() + wanted.size(), nullptr, 10));
            }
        }
        return 0;
    }

private:
    std::string m_Path;
    std::map<std::string, DWORD> m_Values;
};

void BM_Write_IniFilePerChange(benchmark::State& state)
{
    IniFile ini(Directory() + "/write.ini");
    const Names& names = TheNames();
    for (auto _ : state) {
        for (int i = 0; i < kIniValues; ++i) {
            ini.Write(names.narrow[i], static_cast<DWORD>(i));
        }
    }
    state.SetItemsProcessed(state.iterations() * kIniValues);
}
BENCHMARK(BM_Write_IniFilePerChange)->Unit(benchmark::kMillisecond);

void BM_Read_IniFile(benchmark::State& state)
{
    IniFile ini(Directory() + "/read.ini");
    const Names& names = TheNames();
    for (int i = 0; i < kIniValues; ++i) {
        ini.Write(names.narrow[i], static_cast<DWORD>(i));
    }
    DWORD sum = 0;
    for (auto _ : state) {
        for (int i = 0; i < kIniValues; ++i) {
            sum += ini.Read(names.narrow[(i * 7919) % kIniValues]);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * kIniValues);
}
BENCHMARK(BM_Read_IniFile)->Unit(benchmark::kMillisecond);

} // namespace
