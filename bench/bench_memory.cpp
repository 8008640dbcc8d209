// Memory family benchmarks, each side by side with its peers:
// - growing one buffer from 0 to 1 GiB in 64 KiB steps, writing every new byte:
//   ZCFlexibleMemory::Grow against std::vector<unsigned char>::resize and realloc
//   (counter "moves": how often the buffer's start address changed);
// - reading a 512 MiB file through TMemFile against read(2) into a 1 MiB buffer;
// - the leak checker registering 1,000,000 blocks and deleting them in random
//   order, against a mutex-guarded std::unordered_map doing the same bookkeeping,
//   and (at 20,000 blocks) against the tail-to-head list search it replaced.
//
// The leak checker is switched on only by "memory.txt" in the temp directory when
// the library loads, so main() runs the benchmarks in a child copy of this program
// whose TMPDIR holds that file (standard input is /dev/null, so the checker's
// question takes its default answer, "record").
#include <zanth/tools.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr LONG kStep = 64 * 1024;
constexpr LONG kTarget = 1 << 30;
constexpr std::size_t kFileSize = std::size_t{512} << 20;

// --- Growing one buffer ------------------------------------------------------------

void BM_Grow_FlexibleMemory(benchmark::State& state)
{
    std::int64_t moves = 0;
    for (auto _ : state) {
        ZCFlexibleMemory memory;
        memory.Reserve(kTarget);
        unsigned char* start = memory.Commit(0, kStep);
        std::memset(start, 0x5A, kStep);
        while (memory.Size() < kTarget) {
            const LONG old = memory.Size();
            memory.Grow(kStep);
            moves += memory.First() != start;
            std::memset(memory.First() + old, 0x5A, kStep);
        }
        benchmark::DoNotOptimize(memory.First()[kTarget - 1]);
    }
    state.counters["moves"] = static_cast<double>(moves);
    state.SetBytesProcessed(state.iterations() * kTarget);
}

void BM_Grow_VectorResize(benchmark::State& state)
{
    std::int64_t moves = 0;
    for (auto _ : state) {
        std::vector<unsigned char> buffer;
        buffer.resize(kStep);
        unsigned char* start = buffer.data();
        std::memset(start, 0x5A, kStep);
        while (buffer.size() < static_cast<std::size_t>(kTarget)) {
            const std::size_t old = buffer.size();
            buffer.resize(old + kStep);
            if (buffer.data() != start) {
                ++moves;
                start = buffer.data();
            }
            std::memset(buffer.data() + old, 0x5A, kStep);
        }
        benchmark::DoNotOptimize(buffer.back());
    }
    state.counters["moves"] = static_cast<double>(moves);
    state.SetBytesProcessed(state.iterations() * kTarget);
}

void BM_Grow_Realloc(benchmark::State& state)
{
    std::int64_t moves = 0;
    for (auto _ : state) {
        auto* buffer = static_cast<unsigned char*>(std::malloc(kStep));
        std::memset(buffer, 0x5A, kStep);
        std::size_t size = kStep;
        while (size < static_cast<std::size_t>(kTarget)) {
            auto* grown = static_cast<unsigned char*>(std::realloc(buffer, size + kStep));
            if (grown == nullptr) {
                state.SkipWithError("realloc failed");
                break;
            }
            moves += grown != buffer;
            buffer = grown;
            std::memset(buffer + size, 0x5A, kStep);
            size += kStep;
        }
        benchmark::DoNotOptimize(buffer[size - 1]);
        std::free(buffer);
    }
    state.counters["moves"] = static_cast<double>(moves);
    state.SetBytesProcessed(state.iterations() * kTarget);
}

BENCHMARK(BM_Grow_FlexibleMemory)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Grow_VectorResize)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Grow_Realloc)->Unit(benchmark::kMillisecond)->Iterations(5);

// --- Reading a file ----------------------------------------------------------------

std::string BigFile()
{
    static const std::string path = [] {
        const std::string name = TFile::GetTmpPath().AsAnsi() + "bench_memory_512m.bin";
        struct stat info;
        if (::stat(name.c_str(), &info) != 0 ||
            static_cast<std::size_t>(info.st_size) != kFileSize) {
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            std::vector<unsigned char> chunk(1 << 20);
            std::mt19937_64 random(7);
            for (std::size_t done = 0; done < kFileSize; done += chunk.size()) {
                for (unsigned char& byte : chunk) {
                    byte = static_cast<unsigned char>(random());
                }
                if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                    break;
                }
            }
            ::close(fd);
        }
        return name;
    }();
    return path;
}

std::uint64_t Sum(const unsigned char* bytes, std::size_t size)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        sum += word;
    }
    return sum;
}

void BM_ReadFile_MemFile(benchmark::State& state)
{
    const TString path = TString::FromAnsi(BigFile().c_str());
    for (auto _ : state) {
        TMemFile file;
        file.Open(path, 0);
        benchmark::DoNotOptimize(Sum(static_cast<const unsigned char*>(file()), file.Size()));
        file.Close(0);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}

void BM_ReadFile_Read1MiB(benchmark::State& state)
{
    const std::string path = BigFile();
    std::vector<unsigned char> buffer(1 << 20);
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY);
        std::uint64_t sum = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            sum += Sum(buffer.data(), static_cast<std::size_t>(n));
        }
        ::close(fd);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}

BENCHMARK(BM_ReadFile_MemFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadFile_Read1MiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --- The leak checker --------------------------------------------------------------

// Block addresses (never dereferenced) and a fixed random order of deletion.
struct Blocks
{
    std::vector<void*> pointers;
    std::vector<void*> shuffled;
    explicit Blocks(std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            pointers.push_back(reinterpret_cast<void*>(0x10000000 + i * 48));
        }
        shuffled = pointers;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(42));
    }
};

bool CheckerInstalled(benchmark::State& state)
{
    if (!TFile::Exist(TFile::GetTmpPath() + TEXT("memory.txt"))) {
        state.SkipWithError("the leak checker is off (no memory.txt at load)");
        return false;
    }
    return true;
}

void BM_LeakChecker(benchmark::State& state)
{
    if (!CheckerInstalled(state)) {
        return;
    }
    const Blocks blocks(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        for (void* p : blocks.pointers) {
            TMemoryCheck::New(p, 48);
        }
        for (void* p : blocks.shuffled) {
            TMemoryCheck::Delete(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The same bookkeeping with a standard hash map under a mutex.
void BM_LeakChecker_UnorderedMap(benchmark::State& state)
{
    const Blocks blocks(static_cast<std::size_t>(state.range(0)));
    struct Info
    {
        LONG size;
        LONG sequence;
    };
    std::mutex lock;
    for (auto _ : state) {
        std::unordered_multimap<void*, Info> live;
        LONG counter = 0;
        for (void* p : blocks.pointers) {
            std::lock_guard<std::mutex> guard(lock);
            live.emplace(p, Info{48, counter++});
        }
        for (void* p : blocks.shuffled) {
            std::lock_guard<std::mutex> guard(lock);
            auto it = live.find(p);
            if (it != live.end()) {
                live.erase(it);
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What deletion cost before: a search of the list from the tail.
void BM_LeakChecker_TailSearch(benchmark::State& state)
{
    const Blocks blocks(static_cast<std::size_t>(state.range(0)));
    struct Element : TListElement
    {
        void* pointer;
        explicit Element(void* p) : pointer(p) {}
    };
    for (auto _ : state) {
        TList list;
        for (void* p : blocks.pointers) {
            list.AddTail(new Element(p));
        }
        for (void* p : blocks.shuffled) {
            for (TListElement* e = list.GetTail(); e != nullptr; e = e->Prev()) {
                if (static_cast<Element*>(e)->pointer == p) {
                    list.Remove(e);
                    delete e;
                    break;
                }
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_LeakChecker)->Arg(1000000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeakChecker_UnorderedMap)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeakChecker_TailSearch)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Run in a child whose temp directory switches the leak checker on; remove the
    // directory (and the big file) afterwards.
    if (!std::getenv("ZANTH_BENCH_MEMORY_CHILD")) {
        char dir[] = "/tmp/zanth-bench-memory.XXXXXX";
        if (::mkdtemp(dir) == nullptr) {
            return 1;
        }
        const std::string marker = std::string(dir) + "/memory.txt";
        ::close(::open(marker.c_str(), O_WRONLY | O_CREAT, 0600));
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("TMPDIR", dir, 1);
            ::setenv("ZANTH_BENCH_MEMORY_CHILD", "1", 1);
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, STDIN_FILENO);
            ::execv("/proc/self/exe", argv);
            std::_Exit(127);
        }
        int status = 1;
        ::waitpid(child, &status, 0);
        ::unlink(marker.c_str());
        ::unlink((std::string(dir) + "/bench_memory_512m.bin").c_str());
        ::rmdir(dir);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
