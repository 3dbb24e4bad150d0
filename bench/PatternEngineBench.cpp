// The two regular-expression engines Debian offers, side by side on the texts the quick filter
// searches: the cells of parsed accesses (generated lines and the shop corpus), whole raw lines,
// and hostile patterns whose backtracking grows exponentially with the line. RE2 is what the
// filter uses; PCRE2 (with its JIT, and match limits so that it ends at all) is measured when its
// development files are there.

#include "BenchWorkspace.h"
#include "LogGenerator.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "parsing/SuspiciousRequests.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <re2/re2.h>
#include <string>
#include <vector>

#ifdef KAVEL_BENCH_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace kavel::bench {
namespace {

struct Pattern {
    const char* Name;
    const char* Text;
    bool Literal;
    bool CaseSensitive;
};

// What people type into a log viewer's filter: words, a word in any case, alternatives,
// anchored cells, character classes, and a pattern that matches nowhere.
const Pattern Patterns[] = {
    {"word", "Googlebot", true, true},
    {"word_any_case", "googlebot", true, false},
    {"alternatives", "bot|crawl|spider", false, true},
    {"any_case_words", R"(\b(admin|login)\b)", false, false},
    {"anchored_cell", "^GET$", false, true},
    {"classes", R"(item\.php\?id=\d{3,})", false, true},
    {"image_suffix", R"(\.(jpg|png|gif)$)", false, true},
    {"no_match", R"(zq[0-9]+x)", false, true},
};

class Re2Engine {
public:
    static constexpr const char* Name = "re2";
    Re2Engine(const Pattern& pattern) {
        RE2::Options options;
        options.set_log_errors(false);
        options.set_literal(pattern.Literal);
        options.set_case_sensitive(pattern.CaseSensitive);
        Re_ = std::make_unique<RE2>(pattern.Text, options);
    }
    bool Ok() const { return Re_->ok(); }
    bool Search(std::string_view text) {
        return RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *Re_);
    }

private:
    std::unique_ptr<RE2> Re_;
};

#ifdef KAVEL_BENCH_PCRE2
class Pcre2Engine {
public:
    static constexpr const char* Name = "pcre2";
    Pcre2Engine(const Pattern& pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        std::uint32_t flags = PCRE2_UTF;
        if (pattern.Literal)
            flags |= PCRE2_LITERAL;
        if (!pattern.CaseSensitive)
            flags |= PCRE2_CASELESS;
        Code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.Text), PCRE2_ZERO_TERMINATED, flags,
                              &error, &offset, nullptr);
        if (Code_ == nullptr)
            return;
        pcre2_jit_compile(Code_, PCRE2_JIT_COMPLETE);
        Data_ = pcre2_match_data_create_from_pattern(Code_, nullptr);
        Context_ = pcre2_match_context_create(nullptr);
        // Without limits a catastrophic pattern runs for as long as the universe; these are
        // the lowest that keep ordinary patterns over long lines correct.
        pcre2_set_match_limit(Context_, 1000000);
        pcre2_set_depth_limit(Context_, 10000);
    }
    ~Pcre2Engine() {
        pcre2_match_context_free(Context_);
        pcre2_match_data_free(Data_);
        pcre2_code_free(Code_);
    }
    Pcre2Engine(const Pcre2Engine&) = delete;
    Pcre2Engine& operator=(const Pcre2Engine&) = delete;
    bool Ok() const { return Code_ != nullptr; }
    bool Search(std::string_view text) {
        const int result = pcre2_match(Code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                       PCRE2_NO_UTF_CHECK, Data_, Context_);
        if (result == PCRE2_ERROR_MATCHLIMIT || result == PCRE2_ERROR_DEPTHLIMIT ||
            result == PCRE2_ERROR_JIT_STACKLIMIT)
            ++LimitHits_;
        return result >= 0;
    }
    std::int64_t LimitHits() const { return LimitHits_; }

private:
    pcre2_code* Code_ = nullptr;
    pcre2_match_data* Data_ = nullptr;
    pcre2_match_context* Context_ = nullptr;
    std::int64_t LimitHits_ = 0;
};
#endif

// The texts of the cells of the accesses list, one vector per row, made once from parsed lines.
struct Rows {
    std::vector<std::vector<std::string>> Cells;
    std::vector<std::string> Lines;
};

Rows MakeRows(const std::vector<std::string>& lines) {
    BenchOptions options;
    FillLists();
    Server server;
    server.SetTimeDeleteAfter(1000000);
    const EntrySettings settings = EntrySettings::Of(Space());
    Rows rows;
    for (const std::string& line : lines) {
        std::unique_ptr<LogEntry> entry = MakeEntry(line, server, settings);
        if (!entry)
            continue;
        const AccessRecord& a = *entry->Access();
        rows.Cells.push_back({std::string(a.DateText()), std::string(a.HostName()), std::string(a.User()),
                              std::string(a.Method()), std::string(a.Page()),
                              std::to_string(a.Status) + ' ' + std::string(StatusText(a.Status)),
                              std::string(a.Referer()), std::string(a.UserAgent())});
        rows.Lines.push_back(line);
    }
    return rows;
}

const Rows& GeneratedRows() {
    static const Rows rows = MakeRows(CombinedLines(100000));
    return rows;
}

const Rows& CorpusRows() {
    static const Rows rows = [] {
        std::vector<std::string> lines;
        std::ifstream in(std::string(KAVEL_CORPUS_DIR) + "/logfile_shop_access_log.0", std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return MakeRows(lines);
    }();
    return rows;
}

// Every cell of every row searched, as the filter over all columns does; items are rows.
template <class Engine>
void SearchCells(benchmark::State& state, const Rows& rows) {
    const Pattern& pattern = Patterns[state.range(0)];
    state.SetLabel(pattern.Name);
    Engine engine(pattern);
    if (!engine.Ok() || rows.Cells.empty()) {
        state.SkipWithError("pattern or rows missing");
        return;
    }
    std::int64_t matched = 0;
    std::size_t index = 0;
    for (auto _ : state) {
        bool any = false;
        for (const std::string& cell : rows.Cells[index])
            if (engine.Search(cell)) {
                any = true;
                break;
            }
        matched += any ? 1 : 0;
        if (++index == rows.Cells.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["matched_share"] = static_cast<double>(matched) / static_cast<double>(state.iterations());
}

// The raw lines, one search each.
template <class Engine>
void SearchLines(benchmark::State& state, const Rows& rows) {
    const Pattern& pattern = Patterns[state.range(0)];
    state.SetLabel(pattern.Name);
    Engine engine(pattern);
    if (!engine.Ok() || rows.Lines.empty()) {
        state.SkipWithError("pattern or rows missing");
        return;
    }
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.Search(rows.Lines[index]));
        if (++index == rows.Lines.size())
            index = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Patterns that make a backtracking engine try exponentially many ways, over a line of the
// given length that almost matches (a run of "a" and a final "!"). The last one is no trouble
// for a backtracker that first looks for the required "b"; RE2 has to read the whole line.
// Argument: pattern index, line length.
const char* const HostilePatterns[] = {"(a+)+$", "(a|aa)+$", R"((\w+\s?)+$)", "(a+)+b"};

template <class Engine>
void Hostile(benchmark::State& state) {
    const Pattern pattern{HostilePatterns[state.range(0)], HostilePatterns[state.range(0)], false, true};
    state.SetLabel(pattern.Text);
    Engine engine(pattern);
    if (!engine.Ok()) {
        state.SkipWithError("pattern does not compile");
        return;
    }
    std::string line(static_cast<std::size_t>(state.range(1)), 'a');
    line += '!';
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.Search(line));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(line.size()));
#ifdef KAVEL_BENCH_PCRE2
    if constexpr (std::is_same_v<Engine, Pcre2Engine>)
        state.counters["limit_hits_share"] =
            static_cast<double>(engine.LimitHits()) / static_cast<double>(state.iterations());
#endif
}

template <class Engine>
void Compile(benchmark::State& state) {
    const Pattern& pattern = Patterns[state.range(0)];
    state.SetLabel(pattern.Name);
    for (auto _ : state) {
        Engine engine(pattern);
        benchmark::DoNotOptimize(engine.Ok());
    }
}

void PatternArgs(benchmark::internal::Benchmark* b) {
    for (int i = 0; i < static_cast<int>(std::size(Patterns)); ++i)
        b->Arg(i);
}

void HostileArgs(benchmark::internal::Benchmark* b) {
    for (int p = 0; p < static_cast<int>(std::size(HostilePatterns)); ++p)
        for (int length : {20, 30, 1000, 100000})
            b->Args({p, length});
}

template <class Engine>
void RegisterEngine() {
    const std::string name = Engine::Name;
    benchmark::RegisterBenchmark(("BM_CellsGenerated/" + name).c_str(), [](benchmark::State& s) {
        SearchCells<Engine>(s, GeneratedRows());
    })->Apply(PatternArgs);
    benchmark::RegisterBenchmark(("BM_CellsCorpus/" + name).c_str(), [](benchmark::State& s) {
        SearchCells<Engine>(s, CorpusRows());
    })->Apply(PatternArgs);
    benchmark::RegisterBenchmark(("BM_RawLines/" + name).c_str(), [](benchmark::State& s) {
        SearchLines<Engine>(s, GeneratedRows());
    })->Apply(PatternArgs);
    benchmark::RegisterBenchmark(("BM_Hostile/" + name).c_str(), Hostile<Engine>)
        ->Apply(HostileArgs)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_Compile/" + name).c_str(), Compile<Engine>)->Apply(PatternArgs);
}

} // namespace
} // namespace kavel::bench

int main(int argc, char** argv) {
    kavel::bench::RegisterEngine<kavel::bench::Re2Engine>();
#ifdef KAVEL_BENCH_PCRE2
    kavel::bench::RegisterEngine<kavel::bench::Pcre2Engine>();
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
