// The live view's cost: one 500 ms tick with a full channel table and both
// drawings, the drawings alone, and the memory of a long run fed from real
// receiver logs (no growth expected).
//
//   bench_live_view --benchmark_filter=.      (QT_QPA_PLATFORM defaults to offscreen)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChannelChart.h"
#include "Main.h"
#include "MainWindow.h"
#include "SkyPlot.h"

namespace {

std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[4];
    std::snprintf(tail, sizeof tail, "%02X", sum & 0xFF);
    return "$" + body + "*" + tail;
}

void Feed(std::string line) {
    ParseNMEA(line.data());
}

// One epoch of a receiver tracking twelve satellites with a 3D fix.
const std::vector<std::string>& FullEpoch() {
    static const std::vector<std::string> epoch = {
        Sentence("GPRMC,095326.450,A,2503.5000,N,12130.5678,E,10.0,54.70,070709,,,A"),
        Sentence("GPGGA,095326.450,2503.5000,N,12130.5678,E,1,12,0.9,123.4,M,15.0,M,,"),
        Sentence("GPGSA,A,3,01,03,05,07,09,11,13,15,17,19,21,23,1.6,0.9,1.3"),
        Sentence("GPGSV,3,1,12,01,80,010,45,03,60,040,42,05,40,070,39,07,20,100,35"),
        Sentence("GPGSV,3,2,12,09,10,130,30,11,85,160,47,13,65,190,44,15,45,220,40"),
        Sentence("GPGSV,3,3,12,17,25,250,36,19,05,280,25,21,55,310,41,23,35,340,38"),
    };
    return epoch;
}

// A pseudo-terminal whose slave side the library holds open, so that the
// tick takes its connected branch. Nothing is ever read from it.
struct OpenPort {
    int master = -1;
    OpenPort() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        COM_Open(ptsname(master), "9600");
    }
    ~OpenPort() {
        COM_Close();
        if (master >= 0) close(master);
    }
};

void EnsureWindows() {
    if (MainForm != nullptr) return;
    CreateApplicationWindows();
    MainForm->Timer1->stop();  // ticks are driven by the benchmark
    MainMDIChild->ReportDrawingFailure = [](const QString& m) {
        std::fprintf(stderr, "%s\n", qPrintable(m));
    };
}

long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The process's peak resident size so far (VmHWM), in kB; -1 if unknown.
long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = -1;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> kb;
            break;
        }
        status.ignore(1 << 20, '\n');
    }
    return kb;
}

void BM_TickFullTable(benchmark::State& state) {
    EnsureWindows();
    OpenPort port;
    for (auto _ : state) {
        for (const std::string& line : FullEpoch()) Feed(line);
        MainForm->Timer1Timer();
    }
    state.SetLabel(GetComPort_connected_Status() == 1 ? "connected" : "NOT connected");
}
BENCHMARK(BM_TickFullTable)->Unit(benchmark::kMicrosecond);

void BM_TickWithoutNewData(benchmark::State& state) {
    EnsureWindows();
    OpenPort port;
    for (auto _ : state) MainForm->Timer1Timer();
}
BENCHMARK(BM_TickWithoutNewData)->Unit(benchmark::kMicrosecond);

void BM_RenderChannelChart(benchmark::State& state) {
    EnsureWindows();
    for (const std::string& line : FullEpoch()) Feed(line);
    GetChStatus();
    ParseNMEAInfo info;
    GetParseNMEAInfo(&info);
    for (auto _ : state) benchmark::DoNotOptimize(ChannelChart::Render(info, false));
}
BENCHMARK(BM_RenderChannelChart)->Unit(benchmark::kMicrosecond);

void BM_RenderSkyPlot(benchmark::State& state) {
    EnsureWindows();
    for (const std::string& line : FullEpoch()) Feed(line);
    GetChStatus();
    ParseNMEAInfo info;
    GetParseNMEAInfo(&info);
    for (auto _ : state) benchmark::DoNotOptimize(SkyPlot::Render(info));
}
BENCHMARK(BM_RenderSkyPlot)->Unit(benchmark::kMicrosecond);

// 20,000 ticks, each fed the next sentences of the real logs up to their next
// RMC, with the window's events (repaints) processed as the program does.
void BM_LongRunMemory(benchmark::State& state) {
    EnsureWindows();
    OpenPort port;
    std::vector<std::string> lines;
    for (const auto& entry : std::filesystem::directory_iterator(ZORVIK_NMEA_LOG_DIR)) {
        if (entry.path().extension() != ".nmea") continue;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            if (!line.empty() && line.front() == '$') lines.push_back(line);
        }
    }
    if (lines.empty()) {
        state.SkipWithError("no logs in " ZORVIK_NMEA_LOG_DIR);
        return;
    }
    const int ticks = static_cast<int>(state.range(0));
    std::size_t next = 0;
    auto run = [&](int count) {
        for (int t = 0; t < count; ++t) {
            for (int fed = 0; fed < 40; ++fed) {
                const std::string& line = lines[next];
                next = (next + 1) % lines.size();
                Feed(line);
                if (line.compare(3, 3, "RMC") == 0) break;
            }
            MainForm->Timer1Timer();
            if (t % 10 == 0) QCoreApplication::processEvents();
        }
    };
    for (auto _ : state) {
        run(2000);  // warm-up: caches, fonts, the backing store
        const long before = ResidentKb();
        const long peak_before = PeakResidentKb();
        run(ticks);
        const long after = ResidentKb();
        const long peak_after = PeakResidentKb();
        state.counters["rss_before_kb"] = static_cast<double>(before);
        state.counters["rss_after_kb"] = static_cast<double>(after);
        state.counters["rss_growth_kb"] = static_cast<double>(after - before);
        state.counters["hwm_before_kb"] = static_cast<double>(peak_before);
        state.counters["hwm_after_kb"] = static_cast<double>(peak_after);
    }
    state.counters["ticks"] = ticks;
}
BENCHMARK(BM_LongRunMemory)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
