// Listing a tree of 100,000 files in 1,000 directories (10 parents of 100
// directories of 100 files) recursively: VFileBrowser::GetFileVector and
// GetFileList against std::filesystem::recursive_directory_iterator, POCO's Glob
// (when libpoco-dev is present) and `find -name` run as a process. Every peer
// collects full paths as strings, as the browser does. The tree is built once in
// $TMPDIR (kept for later runs) and read warm from the page cache.
#include <zanth/tools.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#ifdef ZANTH_HAVE_POCO
#include <Poco/Glob.h>
#include <set>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kParents = 10;
constexpr int kDirectories = 100; // per parent
constexpr int kFiles = 100;       // per directory
constexpr std::size_t kTotal = std::size_t(kParents) * kDirectories * kFiles;

const std::string& Tree()
{
    static const std::string root = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/zanth-bench-tree";
        if (!fs::exists(path + "/complete")) {
            fs::remove_all(path);
            for (int p = 0; p < kParents; ++p) {
                for (int d = 0; d < kDirectories; ++d) {
                    const std::string dir =
                        path + "/p" + std::to_string(p) + "/d" + std::to_string(d);
                    fs::create_directories(dir);
                    for (int f = 0; f < kFiles; ++f) {
                        std::ofstream(dir + "/f" + std::to_string(f) + ".txt");
                    }
                }
            }
            std::ofstream(path + "/complete");
        }
        return path;
    }();
    return root;
}

void Check(benchmark::State& state, std::size_t found, std::size_t expected)
{
    if (found != expected) {
        state.SkipWithError(
            ("found " + std::to_string(found) + " entries instead of " + std::to_string(expected))
                .c_str());
    }
}

void BM_GetFileVector(benchmark::State& state)
{
    const TString root = TString::FromAnsi(Tree().c_str());
    const WCHAR* mask = state.range(0) ? TEXT("*.txt") : TEXT("*.*");
    PFileBrowser browser;
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<TString> out;
        browser->GetFileVector(root, mask, &out, 1, 1);
        found = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    // "*.*" also lists the marker file at the top.
    Check(state, found, state.range(0) ? kTotal : kTotal + 1);
}
BENCHMARK(BM_GetFileVector)->Arg(0)->Arg(1)->ArgName("txt")->Unit(benchmark::kMillisecond);

void BM_GetFileList(benchmark::State& state)
{
    const TString root = TString::FromAnsi(Tree().c_str());
    PFileBrowser browser;
    std::size_t found = 0;
    for (auto _ : state) {
        std::list<TString> out;
        browser->GetFileList(root, TEXT("*.*"), &out, 1, 1);
        found = out.size();
    }
    Check(state, found, kTotal + 1);
}
BENCHMARK(BM_GetFileList)->Unit(benchmark::kMillisecond);

void BM_StdRecursiveDirectoryIterator(benchmark::State& state)
{
    const std::string root = Tree();
    const bool txtOnly = state.range(0) != 0;
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<std::string> out;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && (!txtOnly || entry.path().extension() == ".txt")) {
                out.push_back(entry.path().string());
            }
        }
        found = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    Check(state, found, txtOnly ? kTotal : kTotal + 1);
}
BENCHMARK(BM_StdRecursiveDirectoryIterator)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("txt")
    ->Unit(benchmark::kMillisecond);

// Like for like with the find calls, which report every entry's size and times:
// the iterator asks the system for each file's size.
void BM_StdRecursiveDirectoryIteratorWithSizes(benchmark::State& state)
{
    const std::string root = Tree();
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<std::string> out;
        std::uintmax_t bytes = 0;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file()) {
                bytes += fs::file_size(entry.path());
                out.push_back(entry.path().string());
            }
        }
        found = out.size();
        benchmark::DoNotOptimize(bytes);
    }
    Check(state, found, kTotal + 1);
}
BENCHMARK(BM_StdRecursiveDirectoryIteratorWithSizes)->Unit(benchmark::kMillisecond);

#ifdef ZANTH_HAVE_POCO
void BM_PocoGlob(benchmark::State& state)
{
    const std::string pattern = Tree() + "/*/*/*.txt";
    std::size_t found = 0;
    for (auto _ : state) {
        std::set<std::string> out;
        Poco::Glob::glob(pattern, out);
        found = out.size();
    }
    Check(state, found, kTotal);
}
BENCHMARK(BM_PocoGlob)->Unit(benchmark::kMillisecond);
#endif

void BM_FindName(benchmark::State& state)
{
    const std::string command = "find '" + Tree() + "' -name '*.txt'";
    std::size_t found = 0;
    for (auto _ : state) {
        std::vector<std::string> out;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) {
            state.SkipWithError("popen failed");
            return;
        }
        char line[4096];
        while (std::fgets(line, sizeof line, pipe)) {
            out.emplace_back(line);
        }
        ::pclose(pipe);
        found = out.size();
    }
    Check(state, found, kTotal);
}
BENCHMARK(BM_FindName)->Unit(benchmark::kMillisecond);

} // namespace
