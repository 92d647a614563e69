// The cost of one tick beside the sine and cosine pair it is built on, with
// the fast trigonometry and with the portable one older processors use.
// Prints the ratios at the end; the goal is at most 2.

#include "orbit/orbit.h"
#include "orbit/trig.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct StandIn final : orbit::OrbitWindow {
    float outerWidth() override { return 12000; }
    float outerHeight() override { return 9000; }
    void moveEarth(float l, double t) override {
        left = l;
        top = t;
    }
    float left = 0;
    double top = 0;
};

// Runs a benchmark with the given trigonometry; skips it where that way is
// not available.
bool use(benchmark::State& s, orbit::Trig way) {
    if (orbit::useTrig(way))
        return true;
    s.SkipWithError("the fast trigonometry is not available here");
    return false;
}

void Tick(benchmark::State& s, orbit::Trig way) {
    if (!use(s, way))
        return;
    StandIn window;
    orbit::OrbitState state;
    for (auto _ : s) {
        orbit::tick(state, window);
        benchmark::DoNotOptimize(window.top);
    }
}
BENCHMARK_CAPTURE(Tick, fast, orbit::Trig::fast);
BENCHMARK_CAPTURE(Tick, portable, orbit::Trig::portable);

void SinCosPair(benchmark::State& s, orbit::Trig way) {
    if (!use(s, way))
        return;
    double t = 0;
    for (auto _ : s) {
        benchmark::DoNotOptimize(orbit::orbitSin(t));
        benchmark::DoNotOptimize(orbit::orbitCos(t));
        t = t + 0.1;
    }
}
BENCHMARK_CAPTURE(SinCosPair, fast, orbit::Trig::fast);
BENCHMARK_CAPTURE(SinCosPair, portable, orbit::Trig::portable);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                m_ns[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    double ns(const std::string& name) const {
        auto it = m_ns.find(name);
        return it == m_ns.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> m_ns;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* way : {"fast", "portable"}) {
        const double tick = reporter.ns(std::string("Tick/") + way);
        const double pair = reporter.ns(std::string("SinCosPair/") + way);
        if (tick > 0 && pair > 0)
            std::printf("%s trigonometry: tick %.1f ns, sin+cos pair %.1f ns, ratio %.2f (goal: "
                        "at most 2)\n",
                        way, tick, pair, tick / pair);
    }
    benchmark::Shutdown();
    return 0;
}
