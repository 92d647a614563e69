// What the helper's confinement costs it before the first byte: the time
// decoder::confine() takes, measured inside a fresh child each time (a
// process is confined only once), beside the child's own start and end.

#include "decoder/sandbox.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace {

// Starts a child that confines itself or not, and returns how long it spent
// in confine(), in seconds; a negative value if the child failed.
double childSpends(bool confined) {
    int report[2];
    if (::pipe(report) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        // Standard output, the one thing a confined helper writes to.
        ::dup2(report[1], STDOUT_FILENO);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = !confined || decoder::confine();
        const double spent =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double sent = ok ? spent : -1;
        ::_exit(::write(STDOUT_FILENO, &sent, sizeof sent) == sizeof sent ? 0 : 1);
    }
    ::close(report[1]);
    double spent = -1;
    if (::read(report[0], &spent, sizeof spent) != sizeof spent)
        spent = -1;
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    return spent;
}

void confine(benchmark::State& state) {
    for (auto _ : state) {
        const double spent = childSpends(true);
        if (spent < 0) {
            state.SkipWithError("confine() failed");
            break;
        }
        state.SetIterationTime(spent);
    }
}
BENCHMARK(confine)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A whole child, started and ended, with and without the confinement.
void childUnconfined(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(childSpends(false));
}
BENCHMARK(childUnconfined)->Unit(benchmark::kMicrosecond);

void childConfined(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(childSpends(true));
}
BENCHMARK(childConfined)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
