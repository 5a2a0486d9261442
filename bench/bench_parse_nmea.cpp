// ParseNMEA cost per sentence: on one fixed receiver epoch (RMC, GGA, GSA and
// a three-message GSV group) and on the long real log, each line in the
// reader's zero-filled line buffer (the link module's).
//
//   bench_parse_nmea                 Google Benchmark figures (ns per sentence)
//   bench_parse_nmea --loop N        parses the fixed epoch N times and exits
//   bench_parse_nmea --loop-log N    parses the long log N times and exits
//   bench_parse_nmea --count-log     prints the number of sentences of the long log
//                                    (the last three for bench/callgrind-parse.sh)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "LineAssembler.h"
#include "ZorvikDll.h"

namespace {

// The reader's line buffer, zero-filled behind the sentence.
struct Line {
    char text[zorvik::link::LineAssembler::kCapacity + 1];
};
constexpr std::size_t kLongestText = sizeof(Line::text) - 1;

Line make_line(const std::string& s) {
    Line l{};
    std::memcpy(l.text, s.data(), std::min(s.size(), kLongestText));
    return l;
}

const std::vector<Line>& epoch() {
    static const std::vector<Line> lines = {
        make_line("$GPRMC,145243.000,A,3401.9764,N,11744.8274,W,0.00,119.27,030610,,,D*70"),
        make_line("$GPGGA,145243.000,3401.9764,N,11744.8274,W,2,10,0.87,234.7,M,-33.2,M,0000,"
                  "0000*5F"),
        make_line("$GPGSA,A,3,14,09,22,18,19,24,06,21,03,31,,,1.58,0.87,1.31*0D"),
        make_line("$GPGSV,3,1,11,14,86,335,41,22,54,049,36,24,54,134,38,51,48,161,31*7F"),
        make_line("$GPGSV,3,2,11,19,36,273,30,06,28,224,27,03,27,237,25,18,25,076,36*70"),
        make_line("$GPGSV,3,3,11,31,19,169,29,21,16,136,28,09,11,039,34*48"),
    };
    return lines;
}

const std::vector<Line>& long_log() {
    static const std::vector<Line> lines = [] {
        std::vector<Line> out;
        std::ifstream in(ZORVIK_NMEA_LOG_DIR "/long-run-empty-fields.nmea", std::ios::binary);
        std::string s;
        while (std::getline(in, s)) {
            while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
            if (!s.empty() && s[0] == '$' && s.size() <= kLongestText) out.push_back(make_line(s));
        }
        return out;
    }();
    return lines;
}

// ParseNMEA leaves the caller's line as it is, so the same buffers serve
// every iteration.
void run(benchmark::State& state, const std::vector<Line>& source) {
    std::vector<Line> lines = source;
    if (lines.empty()) {
        state.SkipWithError("no lines");
        return;
    }
    for (auto _ : state) {
        for (Line& l : lines) ParseNMEA(l.text);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
    // An inverted rate is seconds per item; counting items in billions makes
    // it nanoseconds per sentence.
    state.counters["ns/sentence"] =
        benchmark::Counter(static_cast<double>(state.iterations() * lines.size()) / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ParseEpoch(benchmark::State& state) {
    run(state, epoch());
}
void BM_ParseLongLog(benchmark::State& state) {
    run(state, long_log());
}

void BM_Snapshot(benchmark::State& state) {
    ParseNMEAInfo info;
    for (auto _ : state) {
        GetParseNMEAInfo(&info);
        benchmark::DoNotOptimize(info);
    }
}

BENCHMARK(BM_ParseEpoch);
BENCHMARK(BM_ParseLongLog);
BENCHMARK(BM_Snapshot);

}  // namespace

int main(int argc, char** argv) {
    const bool loop_epoch = argc == 3 && std::strcmp(argv[1], "--loop") == 0;
    const bool loop_log = argc == 3 && std::strcmp(argv[1], "--loop-log") == 0;
    if (loop_epoch || loop_log) {
        const long n = std::strtol(argv[2], nullptr, 10);
        std::vector<Line> lines = loop_epoch ? epoch() : long_log();
        if (lines.empty()) return 1;
        for (long i = 0; i < n; ++i) {
            for (Line& l : lines) ParseNMEA(l.text);
        }
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--count-log") == 0) {
        std::printf("%zu\n", long_log().size());
        return long_log().empty() ? 1 : 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
