// Buffered I/O and code generator benchmarks, each side by side with its peers:
// - reading a 1 GiB file (in the page cache) with 64-byte and 64 KiB requests (and
//   1 MiB ones through Read) through TFileReadBuffer (Read, and BeginRead/EndRead in
//   place) against fread with a 1 MiB stdio buffer, read(2) with 1 MiB requests and POCO's
//   FileInputStream; and, as bounds, read(2) with 64 KiB requests and with 1 MiB ones
//   into a destination 4 bytes past a 64-byte boundary;
// - writing a 1 GiB file the same way through TFileWriteBuffer against fwrite with a
//   1 MiB stdio buffer, write(2) with 1 MiB requests (and, as a bound, 64 KiB ones)
//   and POCO's FileOutputStream;
// - emitting 64 MiB of one- to seven-byte instructions through ZCCodeGenerator::Write
//   against Xbyak's CodeGenerator::db with AutoGrow and std::vector::push_back.
//
// The file lives in $TMPDIR (or /tmp) while the program runs and is deleted at exit.
#include <zanth/tools.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef ZANTH_HAVE_POCO
#include <Poco/FileStream.h>
#endif
#ifdef ZANTH_HAVE_XBYAK
#include <xbyak/xbyak.h>
#endif

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr std::size_t kSmallWriteSize = std::size_t{64} << 20;
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::size_t kCodeSize = std::size_t{64} << 20;

std::string TempDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != 0 ? dir : "/tmp";
}

// 1 MiB of data that is not all alike; the written files repeat it.
const std::vector<unsigned char>& SourceData()
{
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> bytes(kChunk);
        std::mt19937 random(42);
        for (auto& byte : bytes) {
            byte = static_cast<unsigned char>(random());
        }
        return bytes;
    }();
    return data;
}

// The 1 GiB file that the read benchmarks read, made once and deleted at exit; and
// the file that the write benchmarks write (emptied before each timed run).
class Files
{
public:
    static Files& Get()
    {
        static Files files;
        return files;
    }
    const std::string& ReadPath() const { return m_ReadPath; }
    const std::string& WritePath() const { return m_WritePath; }
    TString WideWritePath() const { return TString::FromAnsi(m_WritePath.c_str()); }
    TString WideReadPath() const { return TString::FromAnsi(m_ReadPath.c_str()); }
    void EmptyWriteFile() const
    {
        const int fd = ::open(m_WritePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::close(fd);
        }
    }

private:
    Files()
        : m_ReadPath(TempDirectory() + "/zanth-bench-read-" + std::to_string(::getpid())),
          m_WritePath(TempDirectory() + "/zanth-bench-write-" + std::to_string(::getpid()))
    {
        const int fd = ::open(m_ReadPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) {
            std::perror(m_ReadPath.c_str());
            std::exit(1);
        }
        for (std::size_t done = 0; done < kFileSize; done += kChunk) {
            if (::write(fd, SourceData().data(), kChunk) != static_cast<ssize_t>(kChunk)) {
                std::perror("write");
                std::exit(1);
            }
        }
        ::close(fd);
    }
    ~Files()
    {
        ::unlink(m_ReadPath.c_str());
        ::unlink(m_WritePath.c_str());
    }

    std::string m_ReadPath;
    std::string m_WritePath;
};

// --- Reading ------------------------------------------------------------------------

void BM_Read_TFileReadBuffer(benchmark::State& state)
{
    const LONG request = static_cast<LONG>(state.range(0));
    std::vector<unsigned char> dest(request);
    const TString path = Files::Get().WideReadPath();
    for (auto _ : state) {
        TFile file;
        file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        TFileReadBuffer reader(0, &file, 0, 0);
        std::size_t total = 0;
        unsigned sum = 0;
        for (LONG count; (count = reader.Read(dest.data(), request)) > 0;) {
            total += count;
            sum += dest[0];
        }
        benchmark::DoNotOptimize(sum);
        if (total != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Read_TFileReadBuffer_InPlace(benchmark::State& state)
{
    const LONG request = static_cast<LONG>(state.range(0));
    const TString path = Files::Get().WideReadPath();
    for (auto _ : state) {
        TFile file;
        file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        TFileReadBuffer reader(0, &file, 0, 0);
        std::size_t total = 0;
        unsigned sum = 0;
        while (true) {
            LONG count = 0;
            const unsigned char* at = reader.BeginRead(request, &count);
            if (count == 0) {
                break;
            }
            sum += at[0];
            reader.EndRead(count);
            total += count;
        }
        benchmark::DoNotOptimize(sum);
        if (total != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Read_fread(benchmark::State& state)
{
    const std::size_t request = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> dest(request);
    std::vector<char> stdioBuffer(kChunk);
    for (auto _ : state) {
        FILE* file = std::fopen(Files::Get().ReadPath().c_str(), "rb");
        std::setvbuf(file, stdioBuffer.data(), _IOFBF, stdioBuffer.size());
        std::size_t total = 0;
        unsigned sum = 0;
        for (std::size_t count; (count = std::fread(dest.data(), 1, request, file)) > 0;) {
            total += count;
            sum += dest[0];
        }
        std::fclose(file);
        benchmark::DoNotOptimize(sum);
        if (total != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// read(2) with other request sizes and buffer alignments, to show what bounds the
// buffered reader: range(0) is the request size, range(1) how many bytes past a
// 64-byte boundary the destination starts (the reader's buffer starts 4 bytes into
// its page). 64 KiB requests are what a reader passing each request straight to the
// file would cost.
void ReadWithRead2(benchmark::State& state, std::size_t request, std::size_t offset)
{
    std::vector<unsigned char> storage(request + 128);
    const auto base = reinterpret_cast<std::uintptr_t>(storage.data());
    unsigned char* dest = storage.data() + ((64 - base % 64) % 64) + offset;
    for (auto _ : state) {
        const int fd = ::open(Files::Get().ReadPath().c_str(), O_RDONLY);
        std::size_t total = 0;
        unsigned sum = 0;
        for (ssize_t count; (count = ::read(fd, dest, request)) > 0;) {
            total += static_cast<std::size_t>(count);
            sum += dest[0];
        }
        ::close(fd);
        benchmark::DoNotOptimize(sum);
        if (total != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Read_read2_1MiB(benchmark::State& state)
{
    ReadWithRead2(state, kChunk, 0);
}

void BM_Read_read2(benchmark::State& state)
{
    ReadWithRead2(state, static_cast<std::size_t>(state.range(0)),
                  static_cast<std::size_t>(state.range(1)));
}

#ifdef ZANTH_HAVE_POCO
void BM_Read_PocoFileInputStream(benchmark::State& state)
{
    const std::streamsize request = static_cast<std::streamsize>(state.range(0));
    std::vector<char> dest(request);
    for (auto _ : state) {
        Poco::FileInputStream in(Files::Get().ReadPath());
        std::size_t total = 0;
        unsigned sum = 0;
        while (true) {
            in.read(dest.data(), request);
            const std::streamsize count = in.gcount();
            if (count <= 0) {
                break;
            }
            total += static_cast<std::size_t>(count);
            sum += static_cast<unsigned char>(dest[0]);
        }
        benchmark::DoNotOptimize(sum);
        if (total != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
#endif

// --- Writing ------------------------------------------------------------------------

// range(0): request size; range(1): 1 to give the writer its full 1 MiB buffer first
// (BeginWrite(1 MiB), EndWrite(0)), 0 to let it grow to the request size only;
// range(2): bytes to write.
void BM_Write_TFileWriteBuffer(benchmark::State& state)
{
    const LONG request = static_cast<LONG>(state.range(0));
    const bool fullBuffer = state.range(1) != 0;
    const std::size_t size = static_cast<std::size_t>(state.range(2));
    const unsigned char* data = SourceData().data();
    const TString path = Files::Get().WideWritePath();
    for (auto _ : state) {
        state.PauseTiming();
        Files::Get().EmptyWriteFile();
        state.ResumeTiming();
        TFile file;
        file.Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
        {
            TFileWriteBuffer writer(0, &file, 0);
            if (fullBuffer) {
                writer.BeginWrite(static_cast<LONG>(kChunk));
                writer.EndWrite(0);
            }
            for (std::size_t done = 0; done < size; done += request) {
                writer.Write(data + (done & (kChunk - 1)), request);
            }
        }
        file.Close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_Write_fwrite(benchmark::State& state)
{
    const std::size_t request = static_cast<std::size_t>(state.range(0));
    const unsigned char* data = SourceData().data();
    std::vector<char> stdioBuffer(kChunk);
    for (auto _ : state) {
        state.PauseTiming();
        Files::Get().EmptyWriteFile();
        state.ResumeTiming();
        FILE* file = std::fopen(Files::Get().WritePath().c_str(), "r+b");
        std::setvbuf(file, stdioBuffer.data(), _IOFBF, stdioBuffer.size());
        for (std::size_t done = 0; done < kFileSize; done += request) {
            std::fwrite(data + (done & (kChunk - 1)), 1, request, file);
        }
        std::fclose(file);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Write_write2_1MiB(benchmark::State& state)
{
    const unsigned char* data = SourceData().data();
    for (auto _ : state) {
        state.PauseTiming();
        Files::Get().EmptyWriteFile();
        state.ResumeTiming();
        const int fd = ::open(Files::Get().WritePath().c_str(), O_WRONLY);
        for (std::size_t done = 0; done < kFileSize; done += kChunk) {
            if (::write(fd, data, kChunk) != static_cast<ssize_t>(kChunk)) {
                state.SkipWithError("short write");
            }
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// write(2) with 64 KiB requests straight from the caller's memory: what a writer
// passing each request to the file without a copy would cost.
void BM_Write_write2_64KiB(benchmark::State& state)
{
    constexpr std::size_t kRequest = 64 * 1024;
    const unsigned char* data = SourceData().data();
    for (auto _ : state) {
        state.PauseTiming();
        Files::Get().EmptyWriteFile();
        state.ResumeTiming();
        const int fd = ::open(Files::Get().WritePath().c_str(), O_WRONLY);
        for (std::size_t done = 0; done < kFileSize; done += kRequest) {
            if (::write(fd, data + (done & (kChunk - 1)), kRequest) !=
                static_cast<ssize_t>(kRequest)) {
                state.SkipWithError("short write");
            }
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

#ifdef ZANTH_HAVE_POCO
void BM_Write_PocoFileOutputStream(benchmark::State& state)
{
    const std::streamsize request = static_cast<std::streamsize>(state.range(0));
    const char* data = reinterpret_cast<const char*>(SourceData().data());
    for (auto _ : state) {
        state.PauseTiming();
        Files::Get().EmptyWriteFile();
        state.ResumeTiming();
        Poco::FileOutputStream out(Files::Get().WritePath());
        for (std::size_t done = 0; done < kFileSize; done += request) {
            out.write(data + (done & (kChunk - 1)), request);
        }
        out.close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
#endif

// --- Code generator -----------------------------------------------------------------

// Instruction lengths (1 to 7 bytes) adding up to 64 MiB, and a pool of bytes to
// take them from; every emitter gets the same sequence. Two sequences: random
// lengths (the emitter's dispatch on the length is mispredicted most of the time and
// costs as much as the emission), and a repeating run of the seven lengths (as a
// loop emitting the same code shape would produce; the dispatch is predicted).
struct Instructions
{
    std::vector<unsigned char> random;
    std::vector<unsigned char> repeating;
    std::vector<unsigned char> pool;

    static const Instructions& Get()
    {
        static const Instructions instructions = [] {
            Instructions result;
            std::mt19937 random(7);
            std::size_t total = 0;
            while (total < kCodeSize) {
                const unsigned char k = static_cast<unsigned char>(random() % 7 + 1);
                result.random.push_back(k);
                total += k;
            }
            const unsigned char run[] = {1, 3, 7, 2, 5, 4, 6};
            total = 0;
            for (std::size_t i = 0; total < kCodeSize; ++i) {
                result.repeating.push_back(run[i % 7]);
                total += run[i % 7];
            }
            result.pool.resize(4096 + 8);
            for (auto& byte : result.pool) {
                byte = static_cast<unsigned char>(random());
            }
            return result;
        }();
        return instructions;
    }
    // range value 0: the random sequence, 1: the repeating one.
    static const std::vector<unsigned char>& Lengths(int64_t which)
    {
        return which == 0 ? Get().random : Get().repeating;
    }
};

std::size_t CodeBytes(const std::vector<unsigned char>& lengths)
{
    std::size_t total = 0;
    for (unsigned char k : lengths) {
        total += k;
    }
    return total;
}

void BM_Code_ZCCodeGenerator(benchmark::State& state)
{
    const Instructions& code = Instructions::Get();
    const std::vector<unsigned char>& lengths = Instructions::Lengths(state.range(0));
    const unsigned int step = static_cast<unsigned int>(state.range(1));
    for (auto _ : state) {
        ZANTH::ZCCodeGenerator generator;
        generator.Init(static_cast<unsigned int>(kCodeSize) + 2 * step + 4096, step);
        std::size_t at = 0;
        for (unsigned char k : lengths) {
            const unsigned char* b = code.pool.data() + (at & 4095);
            switch (k) {
            case 1:
                generator.Write(b[0]);
                break;
            case 2:
                generator.Write(b[0], b[1]);
                break;
            case 3:
                generator.Write(b[0], b[1], b[2]);
                break;
            case 4:
                generator.Write(b[0], b[1], b[2], b[3]);
                break;
            case 5:
                generator.Write(b[0], b[1], b[2], b[3], b[4]);
                break;
            case 6:
                generator.Write(b[0], b[1], b[2], b[3], b[4], b[5]);
                break;
            default:
                generator.Write(b[0], b[1], b[2], b[3], b[4], b[5], b[6]);
                break;
            }
            at += k;
        }
        benchmark::DoNotOptimize(generator.GetCodePtr());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CodeBytes(lengths)));
}

#ifdef ZANTH_HAVE_XBYAK
void BM_Code_XbyakAutoGrow(benchmark::State& state)
{
    const Instructions& code = Instructions::Get();
    const std::vector<unsigned char>& lengths = Instructions::Lengths(state.range(0));
    for (auto _ : state) {
        Xbyak::CodeGenerator generator(4096, Xbyak::AutoGrow);
        std::size_t at = 0;
        for (unsigned char k : lengths) {
            generator.db(code.pool.data() + (at & 4095), k);
            at += k;
        }
        benchmark::DoNotOptimize(generator.getCurr());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CodeBytes(lengths)));
}
#endif

void BM_Code_VectorPushBack(benchmark::State& state)
{
    const Instructions& code = Instructions::Get();
    const std::vector<unsigned char>& lengths = Instructions::Lengths(state.range(0));
    for (auto _ : state) {
        std::vector<std::uint8_t> buffer;
        std::size_t at = 0;
        for (unsigned char k : lengths) {
            const unsigned char* b = code.pool.data() + (at & 4095);
            for (unsigned char i = 0; i < k; ++i) {
                buffer.push_back(b[i]);
            }
            at += k;
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CodeBytes(lengths)));
}

constexpr double kMinTime = 2.0;

} // namespace

BENCHMARK(BM_Read_TFileReadBuffer)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_Read_TFileReadBuffer_InPlace)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_Read_fread)->Arg(64)->Arg(64 * 1024)->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_Read_read2_1MiB)->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_Read_read2)
    ->ArgNames({"request", "offset"})
    ->Args({64 * 1024, 0})
    ->Args({1024 * 1024, 4})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
#ifdef ZANTH_HAVE_POCO
BENCHMARK(BM_Read_PocoFileInputStream)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
#endif

BENCHMARK(BM_Write_TFileWriteBuffer)
    ->ArgNames({"request", "full", "bytes"})
    ->Args({64, 1, static_cast<int64_t>(kFileSize)})
    ->Args({64 * 1024, 1, static_cast<int64_t>(kFileSize)})
    ->Args({64 * 1024, 0, static_cast<int64_t>(kFileSize)})
    ->Args({64, 0, static_cast<int64_t>(kSmallWriteSize)})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_Write_fwrite)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
BENCHMARK(BM_Write_write2_1MiB)->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
BENCHMARK(BM_Write_write2_64KiB)->Unit(benchmark::kMillisecond)->MinTime(kMinTime);
#ifdef ZANTH_HAVE_POCO
BENCHMARK(BM_Write_PocoFileOutputStream)
    ->Arg(64)
    ->Arg(64 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(kMinTime);
#endif

BENCHMARK(BM_Code_ZCCodeGenerator)
    ->ArgNames({"repeating", "step"})
    ->Args({0, 64 * 1024})
    ->Args({1, 64 * 1024})
    ->Args({0, 1 << 20})
    ->Args({1, 1 << 20})
    ->Unit(benchmark::kMillisecond);
#ifdef ZANTH_HAVE_XBYAK
BENCHMARK(BM_Code_XbyakAutoGrow)
    ->ArgName("repeating")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_Code_VectorPushBack)
    ->ArgName("repeating")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
