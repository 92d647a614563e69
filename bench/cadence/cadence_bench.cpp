// The cadence of the real Form1's Timer1: every period between ticks over a
// run of TICKS ticks (600 by default), their mean, the 95th percentile of
// how far each is from 100 ms, and the total drift.

#include "app/project.h"
#include "runtime/qt/widgets.h"
#include "runtime/registry.h"
#include "windows/form1.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 600;
    QApplication app(argc, argv);
    rt::Registry registry{orbitale::project().windows};
    orbitale::Form1& form = rt::defaultInstance<orbitale::Form1>();
    form.show();

    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> at;
    at.reserve(static_cast<size_t>(ticks) + 1);
    auto* timer = form.widget()->findChild<QTimer*>("Timer1");
    QObject::connect(timer, &QTimer::timeout, [&] {
        at.push_back(Clock::now());
        if (at.size() == static_cast<size_t>(ticks) + 1)
            QApplication::quit();
    });
    QApplication::exec();

    std::vector<double> periods, offsets;
    for (size_t i = 1; i < at.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count();
        periods.push_back(ms);
        offsets.push_back(std::fabs(ms - 100.0));
    }
    std::sort(offsets.begin(), offsets.end());
    double mean = 0;
    for (double p : periods)
        mean += p;
    mean /= static_cast<double>(periods.size());
    const double total = std::chrono::duration<double, std::milli>(at.back() - at.front()).count();
    const double drift = total - 100.0 * static_cast<double>(periods.size());
    const double p95 = offsets[static_cast<size_t>(0.95 * static_cast<double>(offsets.size() - 1))];
    std::printf("Form1 Timer1 over %zu ticks: mean period %.3f ms, p95 |period - 100 ms| %.3f ms, "
                "drift %+.3f ms (goals: mean 100.0 +- 0.1 ms, drift under 2 ms)\n",
                periods.size(), mean, p95, drift);
    return 0;
}
