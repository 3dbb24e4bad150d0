// Compression of sealed entry blocks: LZ4 against Zstandard on blocks of whole log lines of
// about 64 KiB, as a queue would seal them once they are full. For each compressor setting and
// input it reports the ratio (input bytes over compressed bytes) and the input megabytes
// (10^6 bytes) per second of this thread's CPU time, compressing and decompressing; every block
// must come back byte for byte, else the run stops with an error. Inputs: the real-world access
// logs of tests/data/corpus one after another, a generated NCSA Combined log and a generated
// W3C log with all 22 fields (about 50 MB each, made once per process).
//
// Run it optimised: cmake --preset release && cmake --build --preset release --target
// BlockCompressionBench && build/release/bench/BlockCompressionBench

#include "LogGenerator.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <lz4.h>
#include <lz4hc.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <zdict.h>
#include <zstd.h>

namespace kavel::bench {
namespace {

constexpr std::size_t BlockBytes = 64 * 1024;
constexpr std::size_t GeneratedBytes = 50'000'000;
constexpr std::size_t DictionaryBytes = 16 * 1024;

// Cuts bytes into blocks of whole lines: a block ends at the first line end at or past
// BlockBytes (a longer line makes a block of its own), the last block with the bytes.
std::vector<std::string_view> CutBlocks(std::string_view bytes) {
    std::vector<std::string_view> blocks;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.size();
        if (bytes.size() - start > BlockBytes) {
            const std::size_t newline = bytes.find('\n', start + BlockBytes - 1);
            if (newline != std::string_view::npos)
                end = newline + 1;
        }
        blocks.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return blocks;
}

// One input: its bytes, their blocks, and a dictionary trained on the lines of its first blocks
// (an eighth of them, one block at least and sixteen at most: the first MiB of a busy log).
struct BlockedLog {
    std::string Bytes;
    std::vector<std::string_view> Blocks;
    std::string Dictionary;
    std::string DictionaryError;

    explicit BlockedLog(std::string bytes)
        : Bytes(std::move(bytes))
        , Blocks(CutBlocks(Bytes)) {
        const std::size_t trained = std::clamp<std::size_t>(Blocks.size() / 8, 1, 16);
        if (Blocks.size() < trained)
            return;
        const std::string_view samples(
            Bytes.data(),
            static_cast<std::size_t>(Blocks[trained - 1].data() + Blocks[trained - 1].size() - Bytes.data()));
        std::vector<std::size_t> sampleSizes;
        for (std::size_t start = 0; start < samples.size();) {
            const std::size_t newline = samples.find('\n', start);
            const std::size_t end = newline == std::string_view::npos ? samples.size() : newline + 1;
            sampleSizes.push_back(end - start);
            start = end;
        }
        Dictionary.resize(DictionaryBytes);
        const std::size_t size =
            ZDICT_trainFromBuffer(Dictionary.data(), Dictionary.size(), samples.data(), sampleSizes.data(),
                                  static_cast<unsigned>(sampleSizes.size()));
        if (ZDICT_isError(size)) {
            DictionaryError = ZDICT_getErrorName(size);
            Dictionary.clear();
        } else {
            Dictionary.resize(size);
        }
    }
};

// The real-world access logs, every file of the corpus one after the other in name order.
const BlockedLog& CorpusLog() {
    static const BlockedLog log([] {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& file : std::filesystem::directory_iterator(KAVEL_CORPUS_DIR, error))
            if (file.is_regular_file() && file.path().filename().string().starts_with("logfile_"))
                files.push_back(file.path());
        std::sort(files.begin(), files.end());
        std::string bytes;
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!bytes.empty() && bytes.back() != '\n')
                bytes += '\n';
        }
        return bytes;
    }());
    return log;
}

// About GeneratedBytes of the generator's lines; the line count comes from the mean length of
// the first thousand, which a longer run of the same seed repeats.
template <class Generate>
std::string GeneratedLog(Generate generate) {
    std::size_t probeBytes = 0;
    for (const std::string& line : generate(1000))
        probeBytes += line.size() + 1;
    std::string bytes;
    bytes.reserve(GeneratedBytes + GeneratedBytes / 10);
    for (const std::string& line : generate(GeneratedBytes / (probeBytes / 1000))) {
        bytes += line;
        bytes += '\n';
    }
    return bytes;
}

const BlockedLog& CombinedLog() {
    static const BlockedLog log(GeneratedLog([](std::size_t count) { return CombinedLines(count); }));
    return log;
}

const BlockedLog& W3cLog() {
    static const BlockedLog log(GeneratedLog([](std::size_t count) { return W3cLines(count); }));
    return log;
}

// A compressor setting with its state made once and reused for every block, as the thread
// that seals blocks would hold it.
class Codec {
public:
    virtual ~Codec() = default;
    virtual std::size_t Bound(std::size_t size) const = 0;
    // Returns the compressed size, 0 when it failed.
    virtual std::size_t Compress(std::string_view block, char* out, std::size_t capacity) = 0;
    // Returns the decompressed size, or a size no block has when it failed.
    virtual std::size_t Decompress(std::string_view packed, char* out, std::size_t capacity) = 0;
};

class Lz4Codec : public Codec {
public:
    std::size_t Bound(std::size_t size) const override {
        return static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size)));
    }
    std::size_t Compress(std::string_view block, char* out, std::size_t capacity) override {
        const int size = LZ4_compress_default(block.data(), out, static_cast<int>(block.size()),
                                              static_cast<int>(capacity));
        return size > 0 ? static_cast<std::size_t>(size) : 0;
    }
    std::size_t Decompress(std::string_view packed, char* out, std::size_t capacity) override {
        const int size = LZ4_decompress_safe(packed.data(), out, static_cast<int>(packed.size()),
                                             static_cast<int>(capacity));
        return size >= 0 ? static_cast<std::size_t>(size) : SIZE_MAX;
    }
};

// LZ4's high-compression mode: slower to compress, the same decoder.
class Lz4HcCodec : public Lz4Codec {
public:
    explicit Lz4HcCodec(int level)
        : Level_(level)
        , State_(static_cast<std::size_t>(LZ4_sizeofStateHC())) {}
    std::size_t Compress(std::string_view block, char* out, std::size_t capacity) override {
        const int size =
            LZ4_compress_HC_extStateHC(State_.data(), block.data(), out, static_cast<int>(block.size()),
                                       static_cast<int>(capacity), Level_);
        return size > 0 ? static_cast<std::size_t>(size) : 0;
    }

private:
    int Level_;
    std::vector<char> State_;
};

struct ZstdFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
    void operator()(ZSTD_CDict* dictionary) const { ZSTD_freeCDict(dictionary); }
    void operator()(ZSTD_DDict* dictionary) const { ZSTD_freeDDict(dictionary); }
};

// Zstandard at a level, with one compression and one decompression context; with a
// dictionary when one is given.
class ZstdCodec : public Codec {
public:
    ZstdCodec(int level, std::string_view dictionary)
        : Level_(level)
        , Compressor_(ZSTD_createCCtx())
        , Decompressor_(ZSTD_createDCtx()) {
        if (!dictionary.empty()) {
            Packer_.reset(ZSTD_createCDict(dictionary.data(), dictionary.size(), level));
            Unpacker_.reset(ZSTD_createDDict(dictionary.data(), dictionary.size()));
        }
    }
    std::size_t Bound(std::size_t size) const override { return ZSTD_compressBound(size); }
    std::size_t Compress(std::string_view block, char* out, std::size_t capacity) override {
        const std::size_t size =
            Packer_ ? ZSTD_compress_usingCDict(Compressor_.get(), out, capacity, block.data(), block.size(),
                                               Packer_.get())
                    : ZSTD_compressCCtx(Compressor_.get(), out, capacity, block.data(), block.size(), Level_);
        return ZSTD_isError(size) ? 0 : size;
    }
    std::size_t Decompress(std::string_view packed, char* out, std::size_t capacity) override {
        const std::size_t size =
            Unpacker_ ? ZSTD_decompress_usingDDict(Decompressor_.get(), out, capacity, packed.data(),
                                                   packed.size(), Unpacker_.get())
                      : ZSTD_decompressDCtx(Decompressor_.get(), out, capacity, packed.data(), packed.size());
        return ZSTD_isError(size) ? SIZE_MAX : size;
    }

private:
    int Level_;
    std::unique_ptr<ZSTD_CCtx, ZstdFree> Compressor_;
    std::unique_ptr<ZSTD_DCtx, ZstdFree> Decompressor_;
    std::unique_ptr<ZSTD_CDict, ZstdFree> Packer_;
    std::unique_ptr<ZSTD_DDict, ZstdFree> Unpacker_;
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each iteration compresses every block of the log, then decompresses every block into a
// cleared buffer and compares it with the input.
void SealBlocks(benchmark::State& state, const BlockedLog& log, Codec& codec) {
    if (log.Blocks.empty()) {
        state.SkipWithError("no input");
        return;
    }
    // Every block but the last ends at its first line end at or past BlockBytes.
    for (std::size_t i = 0; i + 1 < log.Blocks.size(); ++i) {
        const std::string_view block = log.Blocks[i];
        if (block.size() < BlockBytes || block.find('\n', BlockBytes - 1) != block.size() - 1) {
            state.SkipWithError("a block does not end at its first line end past 64 KiB");
            return;
        }
    }
    std::vector<std::size_t> packedAt;
    std::size_t capacity = 0;
    for (std::string_view block : log.Blocks) {
        packedAt.push_back(capacity);
        capacity += codec.Bound(block.size());
    }
    std::vector<char> packed(capacity);
    std::vector<std::size_t> packedSizes(log.Blocks.size());
    std::string unpacked(log.Bytes.size(), '\0');

    double compressSeconds = 0;
    double decompressSeconds = 0;
    std::size_t packedBytes = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        for (std::size_t i = 0; i < log.Blocks.size(); ++i)
            packedSizes[i] =
                codec.Compress(log.Blocks[i], packed.data() + packedAt[i], codec.Bound(log.Blocks[i].size()));
        const double compressed = ThreadCpuSeconds();
        bool whole = true;
        for (std::size_t i = 0; i < log.Blocks.size(); ++i) {
            const std::string_view block = log.Blocks[i];
            char* out = unpacked.data() + (block.data() - log.Bytes.data());
            whole &= codec.Decompress({packed.data() + packedAt[i], packedSizes[i]}, out, block.size()) ==
                     block.size();
        }
        const double decompressed = ThreadCpuSeconds();
        compressSeconds += compressed - start;
        decompressSeconds += decompressed - compressed;

        packedBytes = 0;
        for (std::size_t size : packedSizes) {
            whole &= size > 0;
            packedBytes += size;
        }
        if (!whole || unpacked != log.Bytes) {
            state.SkipWithError("a block did not come back byte for byte");
            break;
        }
        std::fill(unpacked.begin(), unpacked.end(), '\0');
    }
    const double inputMB = static_cast<double>(log.Bytes.size()) * 1e-6;
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ratio"] = static_cast<double>(log.Bytes.size()) / static_cast<double>(packedBytes);
    state.counters["compress_MBps"] = inputMB * iterations / compressSeconds;
    state.counters["decompress_MBps"] = inputMB * iterations / decompressSeconds;
    state.counters["input_MB"] = inputMB;
    state.counters["blocks"] = static_cast<double>(log.Blocks.size());
}

struct Setting {
    const char* Name;
    std::unique_ptr<Codec> (*Make)(const BlockedLog& log);
};

const Setting Settings[] = {
    {"lz4", [](const BlockedLog&) -> std::unique_ptr<Codec> { return std::make_unique<Lz4Codec>(); }},
    {"lz4hc_4", [](const BlockedLog&) -> std::unique_ptr<Codec> { return std::make_unique<Lz4HcCodec>(4); }},
    {"lz4hc_9", [](const BlockedLog&) -> std::unique_ptr<Codec> { return std::make_unique<Lz4HcCodec>(9); }},
    {"zstd_1",
     [](const BlockedLog&) -> std::unique_ptr<Codec> { return std::make_unique<ZstdCodec>(1, ""); }},
    {"zstd_3",
     [](const BlockedLog&) -> std::unique_ptr<Codec> { return std::make_unique<ZstdCodec>(3, ""); }},
    {"zstd_1_dict16k",
     [](const BlockedLog& log) -> std::unique_ptr<Codec> {
         return log.Dictionary.empty() ? nullptr : std::make_unique<ZstdCodec>(1, log.Dictionary);
     }},
};

struct Input {
    const char* Name;
    const BlockedLog& (*Load)();
};

const Input Inputs[] = {
    {"corpus", CorpusLog}, {"combined_50MB", CombinedLog}, {"w3c_all_fields_50MB", W3cLog}};

const bool Registered = [] {
    for (const Input& input : Inputs)
        for (const Setting& setting : Settings)
            benchmark::RegisterBenchmark(
                (std::string("BM_BlockCompression/") + input.Name + "/" + setting.Name).c_str(),
                [input, setting](benchmark::State& state) {
                    const BlockedLog& log = input.Load();
                    const std::unique_ptr<Codec> codec = setting.Make(log);
                    if (!codec) {
                        state.SkipWithError(("no dictionary: " + log.DictionaryError).c_str());
                        return;
                    }
                    SealBlocks(state, log, *codec);
                })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
    return true;
}();

} // namespace
} // namespace kavel::bench

BENCHMARK_MAIN();
