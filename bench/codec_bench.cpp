// Codec benchmark: our block codec against zlib, libdeflate and LZ4.
//
// Every file of the corpus is compressed as one block, the way the payload holds an
// entry, and every codec works on the same files in the same run so that the figures
// can be compared with each other. The corpus comes from $WQ2_CORPUS (default
// /tmp/game-corpus/corpus); its top-level folders are the groups (bmp, wav, text, exe,
// comp). "comp" holds already-compressed files, which the payload builder stores as
// they are; two whole-corpus figures follow from that:
//   compressible  every file outside comp/, each decoded from its block
//   payload       every file, each entry stored when its block would not be smaller
//                 than the file (as the payload builder decides, per codec), stored
//                 entries counted at memcpy speed
//
// Encode benchmarks run first, one per codec and group; their output is kept and every
// block is decoded once and compared with the original before any decode benchmark uses
// it, so a run is also a round-trip check of the whole corpus at every level. A failed
// round trip ends the program with a message. Decode benchmarks time the decoding only;
// blocks a filtered run has not encoded yet are encoded untimed first.
//
// Speeds are bytes of input per second for encoding and bytes of output per second for
// decoding (Google Benchmark's bytes_per_second, process CPU time). After the run a
// Markdown summary is printed, and also written to $WQ2_BENCH_SUMMARY when that is set.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#define ZLIB_CONST
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "block_decoder.h"
#include "block_encoder.h"

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------
// Corpus

struct CorpusFile {
    std::string name;  // path relative to the corpus root
    std::vector<uint8_t> data;
};

struct FileSet {
    std::string name;
    std::vector<size_t> files;  // indexes into g_files
    uint64_t bytes = 0;
    bool payload = false;       // store entries whose block would not be smaller
};

std::vector<CorpusFile> g_files;
std::vector<FileSet> g_groups;    // the corpus's top-level folders
FileSet g_compressible;           // every group but the already-compressed one
FileSet g_payload;                // the whole corpus as a payload would hold it
size_t g_largestFile = 0;

// Already-compressed formats; the payload builder stores these, so they are left out of
// the "compressible" figures.
constexpr const char* kIncompressibleGroup = "comp";
constexpr const char* kGroupOrder[] = {"bmp", "wav", "text", "exe", "comp"};

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()), size)) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return data;
}

void LoadCorpus(const fs::path& root) {
    if (!fs::is_directory(root)) throw std::runtime_error(root.string() + " is not a directory");
    std::vector<std::string> groupNames;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.is_directory()) groupNames.push_back(entry.path().filename().string());
    }
    // Known groups in their usual order, then anything else by name.
    auto rank = [](const std::string& name) {
        const auto* it = std::find_if(std::begin(kGroupOrder), std::end(kGroupOrder),
                                      [&](const char* known) { return name == known; });
        return static_cast<size_t>(it - std::begin(kGroupOrder));
    };
    std::sort(groupNames.begin(), groupNames.end(), [&](const std::string& a, const std::string& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });

    g_compressible.name = "compressible";
    g_payload.name = "payload";
    g_payload.payload = true;
    for (const std::string& groupName : groupNames) {
        std::vector<fs::path> paths;
        for (const auto& entry : fs::recursive_directory_iterator(root / groupName)) {
            if (entry.is_regular_file()) paths.push_back(entry.path());
        }
        if (paths.empty()) continue;
        std::sort(paths.begin(), paths.end());
        FileSet group;
        group.name = groupName;
        for (const fs::path& path : paths) {
            CorpusFile file;
            file.name = fs::relative(path, root).generic_string();
            file.data = ReadWholeFile(path);
            group.bytes += file.data.size();
            group.files.push_back(g_files.size());
            g_largestFile = std::max(g_largestFile, file.data.size());
            g_files.push_back(std::move(file));
        }
        for (size_t index : group.files) {
            if (groupName != kIncompressibleGroup) g_compressible.files.push_back(index);
            g_payload.files.push_back(index);
        }
        if (groupName != kIncompressibleGroup) g_compressible.bytes += group.bytes;
        g_payload.bytes += group.bytes;
        g_groups.push_back(std::move(group));
    }
    if (g_files.empty()) throw std::runtime_error("no files under " + root.string());
}

// ---------------------------------------------------------------------------------
// Codecs

struct Block {
    std::vector<uint8_t> bytes;  // may be longer than the block (room for the worst case)
    size_t size = 0;
};

class Codec {
public:
    explicit Codec(std::string name) : name_(std::move(name)) {}
    virtual ~Codec() = default;
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    const std::string& Name() const { return name_; }

    // Gives `block` room for the worst-case encoding of `size` bytes before the timed
    // loop, so that encode timings hold no buffer growth nor first-touch page faults.
    virtual void Prepare(size_t size, Block& block) = 0;
    // Encodes one file as one block; throws when the codec fails.
    virtual void Compress(const uint8_t* data, size_t size, Block& block) = 0;
    // Decodes a whole block into exactly `size` bytes; false on any fault.
    virtual bool Decompress(const Block& block, uint8_t* out, size_t size) = 0;
    // As Decompress, for the round-trip check: says what went wrong, or "" when the
    // block decoded to `size` bytes.
    virtual std::string Check(const Block& block, uint8_t* out, size_t size) {
        return Decompress(block, out, size) ? "" : "decoder reported an error";
    }

private:
    std::string name_;
};

class OurCodec final : public Codec {
public:
    OurCodec(std::string name, wq2::CompressionLevel level) : Codec(std::move(name)), level_(level) {}

    // CompressBlock hands back a buffer of its own; its allocation is part of its cost.
    void Prepare(size_t, Block&) override {}

    void Compress(const uint8_t* data, size_t size, Block& block) override {
        block.bytes = wq2::CompressBlock(data, size, level_);
        block.size = block.bytes.size();
    }

    bool Decompress(const Block& block, uint8_t* out, size_t size) override {
        return wq2::DecompressBounded(out, size, block.bytes.data(), block.size).status ==
               wq2::DecodeStatus::Ok;
    }

    std::string Check(const Block& block, uint8_t* out, size_t size) override {
        const wq2::DecodeResult result = wq2::DecompressBounded(out, size, block.bytes.data(), block.size);
        std::ostringstream text;
        if (result.status != wq2::DecodeStatus::Ok) {
            text << wq2::DecodeStatusText(result.status) << " after " << result.written
                 << " bytes written, " << result.consumed << " read";
        } else if (result.written != size) {
            text << "Ok but " << result.written << " bytes written";
        } else if (result.consumed != block.size) {
            // The encoder closes the block with the end code; anything after it is waste.
            text << "end code after " << result.consumed << " of " << block.size << " block bytes";
        }
        return text.str();
    }

private:
    wq2::CompressionLevel level_;
};

// Raw deflate through zlib: the stream compress2 makes, without its 2-byte header and
// Adler-32 trailer (our blocks carry no checksum either). One stream is reset per file
// instead of being set up anew, as a program compressing many files would do.
class ZlibCodec final : public Codec {
public:
    ZlibCodec(std::string name, int level) : Codec(std::move(name)) {
        if (deflateInit2(&deflate_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK ||
            inflateInit2(&inflate_, -15) != Z_OK) {
            throw std::runtime_error("zlib initialisation failed");
        }
    }
    ~ZlibCodec() override {
        deflateEnd(&deflate_);
        inflateEnd(&inflate_);
    }

    void Prepare(size_t size, Block& block) override {
        block.bytes.resize(deflateBound(&deflate_, static_cast<uLong>(size)));
    }

    void Compress(const uint8_t* data, size_t size, Block& block) override {
        deflateReset(&deflate_);
        deflate_.next_in = data;
        deflate_.avail_in = static_cast<uInt>(size);
        deflate_.next_out = block.bytes.data();
        deflate_.avail_out = static_cast<uInt>(block.bytes.size());
        if (deflate(&deflate_, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("zlib deflate failed");
        block.size = deflate_.total_out;
    }

    bool Decompress(const Block& block, uint8_t* out, size_t size) override {
        inflateReset(&inflate_);
        inflate_.next_in = block.bytes.data();
        inflate_.avail_in = static_cast<uInt>(block.size);
        inflate_.next_out = out;
        inflate_.avail_out = static_cast<uInt>(size);
        return inflate(&inflate_, Z_FINISH) == Z_STREAM_END && inflate_.total_out == size;
    }

private:
    z_stream deflate_{};
    z_stream inflate_{};
};

// Raw deflate through libdeflate (whole-buffer API, no checksum).
class LibdeflateCodec final : public Codec {
public:
    LibdeflateCodec(std::string name, int level)
        : Codec(std::move(name)),
          compressor_(libdeflate_alloc_compressor(level)),
          decompressor_(libdeflate_alloc_decompressor()) {
        if (compressor_ == nullptr || decompressor_ == nullptr) {
            throw std::runtime_error("libdeflate initialisation failed");
        }
    }
    ~LibdeflateCodec() override {
        libdeflate_free_compressor(compressor_);
        libdeflate_free_decompressor(decompressor_);
    }

    void Prepare(size_t size, Block& block) override {
        block.bytes.resize(libdeflate_deflate_compress_bound(compressor_, size));
    }

    void Compress(const uint8_t* data, size_t size, Block& block) override {
        block.size = libdeflate_deflate_compress(compressor_, data, size, block.bytes.data(), block.bytes.size());
        if (block.size == 0) throw std::runtime_error("libdeflate compression failed");
    }

    bool Decompress(const Block& block, uint8_t* out, size_t size) override {
        return libdeflate_deflate_decompress(decompressor_, block.bytes.data(), block.size, out, size,
                                             nullptr) == LIBDEFLATE_SUCCESS;
    }

private:
    libdeflate_compressor* compressor_;
    libdeflate_decompressor* decompressor_;
};

// LZ4 block format. level 0: LZ4_compress_default ("lz4 -1"); otherwise LZ4HC at that
// level, with one state reused for every file (same output as LZ4_compress_HC, without
// its allocation per call).
class Lz4Codec final : public Codec {
public:
    Lz4Codec(std::string name, int level) : Codec(std::move(name)), level_(level) {
        if (level_ > 0) state_.resize(static_cast<size_t>(LZ4_sizeofStateHC()));
    }

    void Prepare(size_t size, Block& block) override {
        block.bytes.resize(static_cast<size_t>(LZ4_compressBound(static_cast<int>(size))));
    }

    void Compress(const uint8_t* data, size_t size, Block& block) override {
        const char* source = reinterpret_cast<const char*>(data);
        char* destination = reinterpret_cast<char*>(block.bytes.data());
        const int capacity = static_cast<int>(block.bytes.size());
        const int written =
            level_ > 0
                ? LZ4_compress_HC_extStateHC(state_.data(), source, destination, static_cast<int>(size),
                                             capacity, level_)
                : LZ4_compress_default(source, destination, static_cast<int>(size), capacity);
        if (written <= 0) throw std::runtime_error("LZ4 compression failed");
        block.size = static_cast<size_t>(written);
    }

    bool Decompress(const Block& block, uint8_t* out, size_t size) override {
        return LZ4_decompress_safe(reinterpret_cast<const char*>(block.bytes.data()), reinterpret_cast<char*>(out),
                                   static_cast<int>(block.size),
                                   static_cast<int>(size)) == static_cast<int>(size);
    }

private:
    int level_;
    std::vector<uint64_t> state_;  // LZ4HC wants a pointer-aligned state
};

// The floor every decoder is measured against: the block is the file itself.
class CopyCodec final : public Codec {
public:
    CopyCodec() : Codec("memcpy") {}
    void Prepare(size_t size, Block& block) override { block.bytes.resize(size); }
    void Compress(const uint8_t* data, size_t size, Block& block) override {
        if (size > 0) std::memcpy(block.bytes.data(), data, size);
        block.size = size;
    }
    bool Decompress(const Block& block, uint8_t* out, size_t size) override {
        if (block.size != size) return false;
        if (size > 0) std::memcpy(out, block.bytes.data(), size);
        return true;
    }
};

// One codec at one setting, with the blocks it has made for the corpus.
struct CodecRun {
    std::unique_ptr<Codec> codec;
    std::string legend;            // what it is, for the summary
    bool encodeBench = false;
    bool decodeBench = false;
    std::vector<Block> blocks;     // per corpus file
    std::vector<uint8_t> done;     // per corpus file: 0 nothing, 1 encoded, 2 round trip checked
    std::string broken;            // why this codec cannot run, once it failed
};

std::vector<std::unique_ptr<CodecRun>> g_codecs;

void AddCodec(std::unique_ptr<Codec> codec, std::string legend, bool encodeBench, bool decodeBench) {
    auto run = std::make_unique<CodecRun>();
    run->codec = std::move(codec);
    run->legend = std::move(legend);
    run->encodeBench = encodeBench;
    run->decodeBench = decodeBench;
    g_codecs.push_back(std::move(run));
}

void SetUpCodecs() {
    using wq2::CompressionLevel;
    AddCodec(std::make_unique<OurCodec>("ours-fast", CompressionLevel::Fast), "our codec, level fast", true, false);
    AddCodec(std::make_unique<OurCodec>("ours-default", CompressionLevel::Default), "our codec, level default", true,
             true);
    AddCodec(std::make_unique<OurCodec>("ours-max", CompressionLevel::Max), "our codec, level max", true, true);
    AddCodec(std::make_unique<Lz4Codec>("lz4-1", 0), "lz4 -1: LZ4_compress_default", true, false);
    AddCodec(std::make_unique<Lz4Codec>("lz4hc-9", 9),
             "lz4 -9: LZ4HC level 9 (LZ4_compress_HC_extStateHC); decoded by LZ4_decompress_safe", true, true);
    AddCodec(std::make_unique<ZlibCodec>("zlib-6", 6),
             "gzip -6 by zlib: raw deflate level 6 (compress2's stream without header and Adler-32); decoded by inflate",
             true, true);
    AddCodec(std::make_unique<ZlibCodec>("zlib-9", 9), "gzip -9 by zlib: raw deflate level 9", true, false);
    AddCodec(std::make_unique<LibdeflateCodec>("libdeflate-6", 6),
             "gzip -6 by libdeflate: raw deflate level 6; decoded by libdeflate_deflate_decompress", true, true);
    AddCodec(std::make_unique<LibdeflateCodec>("libdeflate-9", 9), "gzip -9 by libdeflate: raw deflate level 9",
             true, false);
    AddCodec(std::make_unique<CopyCodec>(), "memcpy of the original bytes (the floor)", false, true);
    for (auto& run : g_codecs) {
        run->blocks.resize(g_files.size());
        run->done.assign(g_files.size(), 0);
    }
}

bool IsStored(const CodecRun& run, size_t file) {
    // The payload builder keeps an entry as it is unless its block is smaller.
    return run.blocks[file].size >= g_files[file].data.size();
}

// ---------------------------------------------------------------------------------
// Round-trip check

[[noreturn]] void RoundTripFailed(const CodecRun& run, size_t file, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nROUND TRIP FAILED: %s on %s (%zu bytes, block of %zu bytes): %s\n",
                 run.codec->Name().c_str(), g_files[file].name.c_str(), g_files[file].data.size(),
                 run.blocks[file].size, why.c_str());
    std::exit(EXIT_FAILURE);
}

// Decodes the block of `file` into a buffer filled with the complement of the expected
// bytes, so a byte the decoder fails to write cannot pass by chance, and checks a guard
// after the end.
void CheckRoundTrip(CodecRun& run, size_t file) {
    constexpr size_t kGuard = 64;
    constexpr uint8_t kGuardByte = 0x5A;
    static std::vector<uint8_t> out;
    const std::vector<uint8_t>& original = g_files[file].data;
    const size_t size = original.size();
    out.resize(size + kGuard);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(~original[i]);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(size), out.end(), kGuardByte);

    std::string why;
    try {
        why = run.codec->Check(run.blocks[file], out.data(), size);
    } catch (const std::exception& e) {
        why = std::string("decoder threw: ") + e.what();
    }
    if (why.empty()) {
        const auto mismatch = std::mismatch(original.begin(), original.end(), out.begin());
        if (mismatch.first != original.end()) {
            why = "decoded bytes differ from offset " + std::to_string(mismatch.first - original.begin());
        } else if (std::any_of(out.begin() + static_cast<std::ptrdiff_t>(size), out.end(),
                               [](uint8_t b) { return b != kGuardByte; })) {
            why = "decoder wrote past the end of the output";
        }
    }
    if (!why.empty()) RoundTripFailed(run, file, why);
    run.done[file] = 2;
}

// Makes sure every file of `set` has a checked block (encoding it untimed when an encode
// benchmark did not). Returns false, with the reason in run.broken, if the codec fails.
bool EnsureBlocks(CodecRun& run, const FileSet& set) {
    if (!run.broken.empty()) return false;
    try {
        for (size_t file : set.files) {
            if (run.done[file] == 0) {
                const std::vector<uint8_t>& data = g_files[file].data;
                run.codec->Prepare(data.size(), run.blocks[file]);
                run.codec->Compress(data.data(), data.size(), run.blocks[file]);
                run.done[file] = 1;
            }
            if (run.done[file] == 1) CheckRoundTrip(run, file);
        }
    } catch (const std::exception& e) {
        run.broken = std::string("encoder failed: ") + e.what();
        return false;
    }
    return true;
}

struct SizeTotals {
    uint64_t original = 0;
    uint64_t compressed = 0;  // every file as a block
    uint64_t payload = 0;     // files whose block would not be smaller kept as they are
    size_t stored = 0;
};

SizeTotals Sizes(const CodecRun& run, const FileSet& set) {
    SizeTotals totals;
    for (size_t file : set.files) {
        const uint64_t size = g_files[file].data.size();
        totals.original += size;
        totals.compressed += run.blocks[file].size;
        if (IsStored(run, file)) {
            totals.payload += size;
            ++totals.stored;
        } else {
            totals.payload += run.blocks[file].size;
        }
    }
    return totals;
}

double Percent(uint64_t part, uint64_t whole) { return whole == 0 ? 0.0 : 100.0 * double(part) / double(whole); }

// ---------------------------------------------------------------------------------
// Benchmarks

void EncodeBenchmark(benchmark::State& state, CodecRun* run, const FileSet* set) {
    if (!run->broken.empty()) {
        state.SkipWithError(run->broken.c_str());
        return;
    }
    for (size_t file : set->files) run->codec->Prepare(g_files[file].data.size(), run->blocks[file]);
    try {
        for (auto _ : state) {
            for (size_t file : set->files) {
                const std::vector<uint8_t>& data = g_files[file].data;
                run->codec->Compress(data.data(), data.size(), run->blocks[file]);
            }
            benchmark::ClobberMemory();
        }
    } catch (const std::exception& e) {
        run->broken = std::string("encoder failed: ") + e.what();
        state.SkipWithError(run->broken.c_str());
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(set->bytes));
    for (size_t file : set->files) run->done[file] = 1;
    EnsureBlocks(*run, *set);  // round trip of what was just encoded

    const SizeTotals sizes = Sizes(*run, *set);
    state.counters["ratio_pct"] = Percent(sizes.compressed, sizes.original);
    state.counters["payload_pct"] = Percent(sizes.payload, sizes.original);
    state.counters["stored"] = static_cast<double>(sizes.stored);
}

void DecodeBenchmark(benchmark::State& state, CodecRun* run, const FileSet* set) {
    if (!EnsureBlocks(*run, *set)) {
        state.SkipWithError(run->broken.c_str());
        return;
    }
    static std::vector<uint8_t> out;
    out.resize(g_largestFile);  // touched once here, reused by every file
    const bool payload = set->payload;
    Codec& codec = *run->codec;
    for (auto _ : state) {
        for (size_t file : set->files) {
            const std::vector<uint8_t>& data = g_files[file].data;
            if (payload && IsStored(*run, file)) {
                std::memcpy(out.data(), data.data(), data.size());
            } else if (!codec.Decompress(run->blocks[file], out.data(), data.size())) {
                state.SkipWithError(("decode failed on " + g_files[file].name).c_str());
                break;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(set->bytes));
    if (payload) state.counters["stored"] = static_cast<double>(Sizes(*run, *set).stored);
}

std::vector<const FileSet*> DecodeSets() {
    std::vector<const FileSet*> sets;
    for (const FileSet& group : g_groups) sets.push_back(&group);
    if (!g_compressible.files.empty()) sets.push_back(&g_compressible);
    sets.push_back(&g_payload);
    return sets;
}

constexpr int kDecodeRepetitions = 3;

void RegisterBenchmarks() {
    for (auto& run : g_codecs) {
        if (!run->encodeBench) continue;
        for (const FileSet& group : g_groups) {
            auto* bench = benchmark::RegisterBenchmark(("encode/" + run->codec->Name() + "/" + group.name).c_str(),
                                                       EncodeBenchmark, run.get(), &group);
            bench->Unit(benchmark::kMillisecond);
            // The optimal parse is slow; one pass over the group is plenty of data.
            if (run->codec->Name() == "ours-max") bench->Iterations(1);
        }
    }
    for (auto& run : g_codecs) {
        if (!run->decodeBench) continue;
        for (const FileSet* set : DecodeSets()) {
            // Decoding is quick and easily disturbed by anything else on the machine:
            // the median of a few repetitions steadies it.
            benchmark::RegisterBenchmark(("decode/" + run->codec->Name() + "/" + set->name).c_str(), DecodeBenchmark,
                                         run.get(), set)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(kDecodeRepetitions)
                ->DisplayAggregatesOnly(true);
        }
    }
}

// ---------------------------------------------------------------------------------
// Summary

// Console output as usual, and the speed of every run kept for the summary.
class CollectingReporter final : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration) {
                speeds_[run.run_name.function_name].push_back(it->second.value);
            } else if (run.aggregate_name == "median") {
                // With aggregates shown alone the single runs never reach a reporter.
                medians_[run.run_name.function_name] = it->second.value;
            }
        }
    }

    // Median over repetitions, in bytes per second; 0 when the benchmark did not run.
    double Speed(const std::string& name) const {
        if (const auto median = medians_.find(name); median != medians_.end()) return median->second;
        const auto it = speeds_.find(name);
        if (it == speeds_.end() || it->second.empty()) return 0.0;
        std::vector<double> values = it->second;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

private:
    std::map<std::string, std::vector<double>> speeds_;
    std::map<std::string, double> medians_;
};

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string MBps(double bytesPerSecond) { return bytesPerSecond > 0 ? Fixed(bytesPerSecond / 1e6, 1) : "–"; }

void TableHeader(std::ostream& out, const std::string& first, const std::vector<std::string>& columns) {
    out << "| " << first << " |";
    for (const std::string& column : columns) out << ' ' << column << " |";
    out << "\n|---|";
    for (size_t i = 0; i < columns.size(); ++i) out << "---:|";
    out << '\n';
}

void TableRow(std::ostream& out, const std::string& first, const std::vector<std::string>& cells) {
    out << "| " << first << " |";
    for (const std::string& cell : cells) out << ' ' << cell << " |";
    out << '\n';
}

// Speed over several groups from their separate timings: total bytes / total time.
double CombinedSpeed(const CollectingReporter& reporter, const std::string& prefix,
                     const std::vector<const FileSet*>& sets) {
    double seconds = 0;
    uint64_t bytes = 0;
    for (const FileSet* set : sets) {
        const double speed = reporter.Speed(prefix + set->name);
        if (speed <= 0) return 0.0;
        seconds += double(set->bytes) / speed;
        bytes += set->bytes;
    }
    return seconds > 0 ? double(bytes) / seconds : 0.0;
}

std::string CpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos && colon + 2 <= line.size()) return line.substr(colon + 2);
        }
    }
    return "unknown";
}

void WriteSummary(std::ostream& out, const CollectingReporter& reporter) {
    std::vector<const FileSet*> groups;
    std::vector<const FileSet*> compressibleGroups;
    for (const FileSet& group : g_groups) {
        groups.push_back(&group);
        if (group.name != kIncompressibleGroup) compressibleGroups.push_back(&group);
    }
    const std::vector<const FileSet*> decodeSets = DecodeSets();

    out << "\n## Codec benchmark summary\n\n";
    out << "Corpus: " << g_files.size() << " files, " << Fixed(double(g_payload.bytes) / 1e6, 1) << " MB (";
    for (size_t i = 0; i < groups.size(); ++i) {
        out << (i ? ", " : "") << groups[i]->name << ' ' << groups[i]->files.size() << " files "
            << Fixed(double(groups[i]->bytes) / 1e6, 1) << " MB";
    }
    out << "). One block per file. MB = 10^6 bytes; speeds from process CPU time; decode figures are the "
           "median of "
        << kDecodeRepetitions << " repetitions, encode figures one measurement per group (ours-max: one pass).\n";
    out << "CPU: " << CpuModel() << ". ";
    out << "Libraries: zlib " << zlibVersion() << ", libdeflate " << LIBDEFLATE_VERSION_STRING << ", lz4 "
        << LZ4_versionString() << ".\n\n";

    std::vector<std::string> decodeColumns;
    for (const FileSet* set : decodeSets) decodeColumns.push_back(set->name);

    out << "### Decode speed, MB/s of output\n\n";
    out << "compressible: every file outside " << kIncompressibleGroup
        << "/; payload: every file, entries whose block would not be smaller stored and copied.\n\n";
    TableHeader(out, "decoder (blocks from)", decodeColumns);
    for (const auto& run : g_codecs) {
        if (!run->decodeBench) continue;
        std::vector<std::string> cells;
        for (const FileSet* set : decodeSets) cells.push_back(MBps(reporter.Speed("decode/" + run->codec->Name() + "/" + set->name)));
        TableRow(out, run->codec->Name(), cells);
    }

    out << "\n### Decode speed ratios\n\n";
    TableHeader(out, "ratio", decodeColumns);
    const char* pairs[][2] = {{"ours-max", "libdeflate-6"}, {"ours-max", "lz4hc-9"},     {"ours-max", "zlib-6"},
                              {"ours-default", "libdeflate-6"}, {"ours-default", "lz4hc-9"}};
    for (const auto& pair : pairs) {
        std::vector<std::string> cells;
        for (const FileSet* set : decodeSets) {
            const double ours = reporter.Speed(std::string("decode/") + pair[0] + "/" + set->name);
            const double theirs = reporter.Speed(std::string("decode/") + pair[1] + "/" + set->name);
            cells.push_back(ours > 0 && theirs > 0 ? Fixed(ours / theirs, 2) + "x" : "–");
        }
        TableRow(out, std::string(pair[0]) + " / " + pair[1], cells);
    }

    std::vector<std::string> encodeColumns;
    for (const FileSet* group : groups) encodeColumns.push_back(group->name);
    encodeColumns.push_back("compressible");
    encodeColumns.push_back("all");

    out << "\n### Encode speed, MB/s of input\n\n";
    out << "compressible and all: total bytes over the total time of the groups' runs.\n\n";
    TableHeader(out, "encoder", encodeColumns);
    for (const auto& run : g_codecs) {
        if (!run->encodeBench) continue;
        const std::string prefix = "encode/" + run->codec->Name() + "/";
        std::vector<std::string> cells;
        for (const FileSet* group : groups) cells.push_back(MBps(reporter.Speed(prefix + group->name)));
        cells.push_back(MBps(CombinedSpeed(reporter, prefix, compressibleGroups)));
        cells.push_back(MBps(CombinedSpeed(reporter, prefix, groups)));
        TableRow(out, run->codec->Name(), cells);
    }

    out << "\n### Compressed size, % of original\n\n";
    out << "all: every file compressed; payload: entries whose block would not be smaller stored "
           "(stored = how many).\n\n";
    std::vector<std::string> ratioColumns = encodeColumns;
    ratioColumns.push_back("payload");
    ratioColumns.push_back("stored");
    TableHeader(out, "encoder", ratioColumns);
    for (const auto& run : g_codecs) {
        if (!run->encodeBench) continue;
        std::vector<std::string> cells;
        const bool complete = std::all_of(run->done.begin(), run->done.end(), [](uint8_t d) { return d == 2; });
        for (const FileSet* group : groups) {
            const bool groupDone = std::all_of(group->files.begin(), group->files.end(),
                                               [&](size_t file) { return run->done[file] == 2; });
            cells.push_back(groupDone ? Fixed(Percent(Sizes(*run, *group).compressed, group->bytes), 2) : "–");
        }
        const bool compressibleDone = std::all_of(g_compressible.files.begin(), g_compressible.files.end(),
                                                  [&](size_t file) { return run->done[file] == 2; });
        cells.push_back(compressibleDone ? Fixed(Percent(Sizes(*run, g_compressible).compressed, g_compressible.bytes), 2)
                                         : "–");
        const SizeTotals all = Sizes(*run, g_payload);
        cells.push_back(complete ? Fixed(Percent(all.compressed, all.original), 2) : "–");
        cells.push_back(complete ? Fixed(Percent(all.payload, all.original), 2) : "–");
        cells.push_back(complete ? std::to_string(all.stored) : "–");
        TableRow(out, run->codec->Name(), cells);
    }

    out << "\nCodecs:\n";
    for (const auto& run : g_codecs) {
        out << "- " << run->codec->Name() << ": " << run->legend;
        if (!run->broken.empty()) out << " — NOT MEASURED: " << run->broken;
        out << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const char* corpusEnv = std::getenv("WQ2_CORPUS");
    const fs::path corpus = corpusEnv != nullptr && *corpusEnv != '\0' ? corpusEnv : "/tmp/game-corpus/corpus";
    try {
        LoadCorpus(corpus);
        SetUpCodecs();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "codec_bench: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "codec_bench: %zu files, %.1f MB from %s\n", g_files.size(), double(g_payload.bytes) / 1e6,
                 corpus.c_str());
    RegisterBenchmarks();

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::ostringstream summary;
    WriteSummary(summary, reporter);
    std::cout << summary.str() << std::flush;
    if (const char* path = std::getenv("WQ2_BENCH_SUMMARY"); path != nullptr && *path != '\0') {
        std::ofstream file(path);
        file << summary.str();
        if (!file) std::fprintf(stderr, "codec_bench: cannot write %s\n", path);
    }
    return 0;
}
