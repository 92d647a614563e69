// The cost of one tick beside the sine and cosine pair it is built on.
// Prints the ratio at the end; the goal is at most 2.

#include "orbit/orbit.h"

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

void Tick(benchmark::State& s) {
    StandIn window;
    orbit::OrbitState state;
    for (auto _ : s) {
        orbit::tick(state, window);
        benchmark::DoNotOptimize(window.top);
    }
}
BENCHMARK(Tick);

void SinCosPair(benchmark::State& s) {
    double t = 0;
    for (auto _ : s) {
        benchmark::DoNotOptimize(orbit::orbitSin(t));
        benchmark::DoNotOptimize(orbit::orbitCos(t));
        t = t + 0.1;
    }
}
BENCHMARK(SinCosPair);

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
    const double tick = reporter.ns("Tick");
    const double pair = reporter.ns("SinCosPair");
    if (tick > 0 && pair > 0)
        std::printf("tick: %.1f ns, sin+cos pair: %.1f ns, ratio %.2f (goal: at most 2)\n", tick,
                    pair, tick / pair);
    benchmark::Shutdown();
    return 0;
}
