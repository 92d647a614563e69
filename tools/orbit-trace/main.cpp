// orbit-trace WIDTH HEIGHT TICKS
//
// Runs the Earth's tick on a stand-in window of the given outer size (twips,
// single precision) and prints one line per tick: the tick's number, the
// angle it used, the x and y it computed, and the left and top it moved the
// image to.

#include "console.h"
#include "orbit/orbit.h"
#include "runtime/error.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

class StandInWindow final : public orbit::OrbitWindow {
public:
    StandInWindow(float width, float height)
        : m_width(width)
        , m_height(height) {}
    float outerWidth() override { return m_width; }
    float outerHeight() override { return m_height; }
    void moveEarth(float left, double top) override {
        m_left = left;
        m_top = top;
    }
    float left() const { return m_left; }
    double top() const { return m_top; }

private:
    float m_width;
    float m_height;
    float m_left = 9000; // where the Earth stands before its first tick
    double m_top = 3360;
};

std::optional<float> parseSize(const char* text) {
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<unsigned long long> parseCount(const char* text) {
    if (*text < '0' || *text > '9')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE)
        return std::nullopt;
    return value;
}

int usage() {
    std::fputs("usage: orbit-trace WIDTH HEIGHT TICKS  (outer window size in twips, "
               "number of ticks)\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    tools::useUtf8Output();
    if (argc != 4)
        return usage();
    const auto width = parseSize(argv[1]);
    const auto height = parseSize(argv[2]);
    const auto ticks = parseCount(argv[3]);
    if (!width || !height || !ticks)
        return usage();

    StandInWindow window(*width, *height);
    orbit::OrbitState state;
    for (unsigned long long n = 1; n <= *ticks; ++n) {
        const double t = state.t;
        try {
            orbit::tick(state, window);
        } catch (const rt::Error& error) {
            std::fprintf(stderr, "orbit-trace: tick %llu: %s\n", n, error.what());
            return 1;
        }
        std::printf("%llu %.17g %.17g %.17g %.9g %.17g\n", n, t, state.x, state.y,
                    static_cast<double>(window.left()), window.top());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
