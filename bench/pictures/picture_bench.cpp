// How long a picture takes to give its verdict, and how much memory the
// program and its decoding helper take meanwhile: the largest photos that
// load, and files made to take time or memory, at the sizes found in the
// wild. Every load must give its verdict within a second, and neither
// process may pass 300 MiB.

#include "runtime/error.h"
#include "runtime/picture.h"
#include "support/picture_files.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// The pictures are made anew in a temporary folder, or kept in
// ORBITALE_BENCH_PICTURES where it is set (to try them by hand).
fs::path folder() {
    static const fs::path dir = [] {
        if (const char* kept = std::getenv("ORBITALE_BENCH_PICTURES")) {
            fs::create_directories(kept);
            return fs::path(kept);
        }
        std::string pattern = (fs::temp_directory_path() / "orbitale-bench-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    return dir;
}

// A GIF whose one 1 × 1 frame carries the compressed data of a whole noisy
// picture of side × side pixels after its only pixel.
std::string gifGoingOn(int side) {
    GifFrame noisy = solidFrame(side, side, 0);
    std::mt19937 random(7);
    for (auto& p : noisy.pixels)
        p = static_cast<unsigned char>(random() & 3);
    std::string gif = gifOf(side, side, {noisy});
    for (int i = 6; i < 10; ++i) // a 1 × 1 screen
        gif[static_cast<std::size_t>(i)] = i % 2 ? 0 : 1;
    const auto at = gif.find('\x2c', 13);
    for (int i = 5; i < 9; ++i) // and a 1 × 1 frame
        gif[at + static_cast<std::size_t>(i)] = i % 2 ? 1 : 0;
    return gif;
}

// A photo as cameras give it: the test picture with sensor noise, so that
// its file is as large and as slow to decode as a real one of its size.
QImage photo(int width, int height) {
    QImage image = testImage(width, height);
    std::mt19937 random(11);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(random() % 33) - 16;
            const auto c = [n](int v) { return std::clamp(v + n, 0, 255); };
            row[x] = qRgb(c(qRed(row[x])), c(qGreen(row[x])), c(qBlue(row[x])));
        }
    }
    return image;
}

struct Case {
    const char* name;
    std::function<std::string()> make;
    // The format's own command-line decoder decoding the whole file
    // (FILE stands for it), to set beside the program's load.
    std::vector<std::string> reference = {};
};

const Case cases[] = {
    {"photo 24 MP JPEG",
     [] { return jpegOf(photo(5712, 4284)); },
     {"djpeg", "-outfile", "/dev/null", "FILE"}},
    {"photo 24 MP JPEG, turned by its Exif orientation",
     [] { return withExifOrientation(jpegOf(photo(5712, 4284)), 6); },
     {"djpeg", "-outfile", "/dev/null", "FILE"}},
    {"photo 48 MP JPEG",
     [] { return jpegOf(photo(8000, 6000)); },
     {"djpeg", "-outfile", "/dev/null", "FILE"}},
    {"photo 200 MP JPEG",
     [] { return jpegOf(photo(16320, 12240)); },
     {"djpeg", "-outfile", "/dev/null", "FILE"}},
    {"photo 48 MP progressive JPEG",
     [] { return jpegOf(photo(8000, 6000), true); },
     {"djpeg", "-outfile", "/dev/null", "FILE"}},
    {"photo 24 MP PNG", [] { return pngOf(photo(5712, 4284)); }, {"pngtopnm", "FILE"}},
    {"photo 24 MP WebP",
     [] { return webpOf(photo(5712, 4284)); },
     {"dwebp", "-quiet", "-ppm", "-o", "/dev/null", "FILE"}},
    {"photo 24 MP TIFF",
     [] { return tiffOf(photo(5712, 4284), {.compression = 8}); },
     {"tifftopnm", "FILE"}},
    {"photo 24 MP HEIC",
     [] { return heicOf(photo(5712, 4284)); },
     {"heif-convert", "FILE", "/tmp/orbitale-bench-heif.y4m"}},
    {"photo 24 MP AVIF", [] { return avifOf({photo(5712, 4284)}); }},
    {"photo 4000x3000 JPEG", [] { return jpegOf(testImage(4000, 3000)); }},
    {"wallpaper 5120x2880 progressive JPEG", [] { return jpegOf(testImage(5120, 2880), true); }},
    {"16-bit PNG 2048x2048",
     [] { return pngOf(testImage(2048, 2048, true).convertToFormat(QImage::Format_RGBA64)); }},
    {"JPEG of 10000 scans", [] { return jpegWithScans(testImage(24, 24), 10000); }},
    {"JPEG of 100000 scans", [] { return jpegWithScans(testImage(24, 24), 100000); }},
    {"GIF going on for 4.5 MB", [] { return gifGoingOn(4300); }},
    {"GIF screen 2047x2047, 1x1 frames",
     [] { return gifOf(2047, 2047, std::vector<GifFrame>(4000, solidFrame(1, 1, 1))); }},
    {"PNG inflating to 1 GiB", [] { return pngInflatingTo(16, 16, std::size_t{1} << 30); }},
    {"RLE BMP of 60 MB of moves", [] { return rleBmpOfMoves(16, 16, 15'000'000); }},
};

struct Peak {
    long selfKiB = 0;
    long helperKiB = 0;
};

Peak peakOfOneLoad(const std::string& path) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            rt::loadPicture(path);
        } catch (const rt::Error&) {
        }
        rusage self{}, helper{};
        ::getrusage(RUSAGE_SELF, &self);
        ::getrusage(RUSAGE_CHILDREN, &helper);
        const Peak p{self.ru_maxrss, helper.ru_maxrss};
        ::_exit(::write(fds[1], &p, sizeof p) == sizeof p ? 0 : 1);
    }
    ::close(fds[1]);
    Peak p;
    if (::read(fds[0], &p, sizeof p) != sizeof p)
        p = {};
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return p;
}

// Runs the reference decoder on the file, its output thrown away: its time
// on the clock in ms and its peak memory in KiB.
std::pair<double, long> runReference(const std::vector<std::string>& command,
                                     const std::string& file) {
    std::vector<std::string> args = command;
    for (std::string& a : args)
        if (a == "FILE")
            a = file;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {-1, 0};
    return {took.count(), usage.ru_maxrss};
}

void load(benchmark::State& state, const Case* c) {
    const fs::path path = folder() / std::to_string(state.range(0));
    if (!fs::exists(path)) {
        const std::string bytes = c->make();
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string verdict = "ok";
    double bestLoad = 1e9;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        try {
            const rt::Picture p = rt::loadPicture(path.string());
            verdict = "ok " + std::to_string(p.width()) + "x" + std::to_string(p.height());
        } catch (const rt::Error& e) {
            verdict = "error " + std::to_string(static_cast<int>(e.number()));
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        bestLoad = std::min(bestLoad, took.count());
    }
    const Peak peak = peakOfOneLoad(path.string());
    if (!c->reference.empty()) {
        // The reference's best of three, its time and its peak memory.
        double best = 1e9;
        long peakKiB = 0;
        for (int run = 0; run < 3; ++run) {
            const auto [ms, kib] = runReference(c->reference, path.string());
            best = std::min(best, ms);
            peakKiB = kib;
        }
        state.counters["ref_ms"] = best;
        state.counters["ref_peak_MiB"] = static_cast<double>(peakKiB) / 1024;
        // Under 1: the program shows the picture sooner than its own decoder
        // decodes it whole.
        state.counters["time_vs_ref"] = bestLoad / best;
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    state.counters["program_peak_MiB"] = static_cast<double>(peak.selfKiB) / 1024;
    state.counters["helper_peak_MiB"] = static_cast<double>(peak.helperKiB) / 1024;
    state.SetLabel(verdict);
}

} // namespace

int main(int argc, char** argv) {
    int index = 0;
    for (const Case& c : cases)
        benchmark::RegisterBenchmark(c.name, load, &c)
            ->Arg(index++)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    if (!std::getenv("ORBITALE_BENCH_PICTURES"))
        fs::remove_all(folder(), ec);
    return 0;
}
