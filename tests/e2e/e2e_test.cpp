// The real program on a private X server: it starts with Form1 alone, draws
// its captions as real glyphs, loads scenery, switches windows on a click on
// the background, and ends with exit status 0 from its exit button.
// Screenshots are kept in the build tree's e2e-shots/ for a look.

#include "x_session.h"

#include <QDir>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace e2e;

const std::string form1Name = "地球公转 Tavelin";
const std::string form2Name = "地球公转1 Tavelin";

void keep(const QImage& shot, const char* name) {
    QDir().mkpath(ORBITALE_SHOTS);
    shot.save(QStringLiteral(ORBITALE_SHOTS "/%1.png").arg(QLatin1String(name)));
}

// Dark pixels: the strokes of a caption's glyphs.
int darkPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    return n;
}

// Some glyph strokes on a light button face.
bool showsCaption(const QImage& area) {
    const int dark = darkPixels(area);
    return dark > 20 && dark < area.width() * area.height() / 2;
}

// The program started, and its Form1 found; `at` is the window being driven.
struct Started {
    Program program;
    std::string form1;
    QRect at;

    explicit Started(const std::string& tracePath = {})
        : program(ORBITALE_EXECUTABLE, tracePath) {
        if (!waitForWindows(form1Name, 1, 20000))
            return;
        form1 = visibleWindows(form1Name).front();
        at = geometry(form1);
    }
    void enlarge(const std::string& window) {
        run("xdotool windowsize " + window + " 800 520");
        for (int i = 0; i < 100 && geometry(window).size() != QSize(800, 520); ++i)
            pause(50);
        at = geometry(window);
    }
    void clickAt(int x, int y) { click(at.x() + x, at.y() + y); }
    QColor colourAt(const QImage& shot, int x, int y) const {
        return shot.pixelColor(at.x() + x, at.y() + y);
    }
    // The screen once the pixel at (x, y) of the window being driven passes
    // `test`, or after `ms` if it never does.
    QImage when(int x, int y, const std::function<bool(const QColor&)>& test, int ms = 10000) {
        return screenshotWhen([&](const QImage& shot) { return test(colourAt(shot, x, y)); }, ms);
    }
};

// Sets environment variables for the programs started while it lives, and
// restores them afterwards.
class Environment {
public:
    Environment() = default;
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    ~Environment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    // Unsets `name` when `value` is null.
    void set(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name.c_str(), value, 1);
        else
            ::unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

const QColor teal(0, 192, 192);

TEST(EndToEnd, StartsWithForm1AloneAndDrawsItsCaptionsAsGlyphs) {
    Started app;
    ASSERT_FALSE(app.form1.empty()) << "Form1 did not appear";
    EXPECT_EQ(windowName(app.form1), "地球公转 Tavelin 2006.11.");
    EXPECT_EQ(app.at.size(), QSize(312, 213));
    EXPECT_TRUE(visibleWindows(form2Name).empty());

    app.enlarge(app.form1);
    const int tops[] = {296, 336, 376};
    const auto caption = [&](const QImage& shot, int i) {
        return shot.copy(app.at.x() + 704 + 4, app.at.y() + tops[i] + 4, 73 - 8, 25 - 8);
    };
    // Waits for the window to be drawn at its new size: until then the
    // buttons' place shows the dark screen behind.
    const QImage shot = screenshotWhen(
        [&](const QImage& s) {
            for (int i = 0; i < 3; ++i)
                if (!showsCaption(caption(s, i)))
                    return false;
            return app.colourAt(s, 300, 60) == teal;
        },
        10000);
    keep(shot, "form1-start");
    EXPECT_EQ(app.colourAt(shot, 300, 60), teal);

    QImage captions[3];
    for (int i = 0; i < 3; ++i) {
        captions[i] = caption(shot, i);
        EXPECT_TRUE(showsCaption(captions[i])) << "button " << i << " shows no caption";
    }
    // 宇宙太空 and 蓝天白云 have four characters each: with a missing font
    // they would draw as the same four boxes.
    EXPECT_NE(captions[0], captions[1]);
}

TEST(EndToEnd, SceneryButtonsSwitchingAndExit) {
    Started app;
    ASSERT_FALSE(app.form1.empty()) << "Form1 did not appear";
    app.enlarge(app.form1);

    app.clickAt(740, 308); // 宇宙太空
    QImage shot = app.when(300, 60, [](const QColor& c) { return c.value() < 90; });
    keep(shot, "form1-space");
    const QColor space = app.colourAt(shot, 300, 60);
    EXPECT_LT(space.value(), 90) << "outer space should be dark";

    app.clickAt(760, 40); // the window's own background
    ASSERT_TRUE(waitForWindows(form2Name, 1, 10000)) << "Form2 did not appear";
    EXPECT_TRUE(waitForWindows(form1Name, 0, 5000)) << "Form1 was not hidden";
    const std::string form2 = visibleWindows(form2Name).front();
    EXPECT_EQ(windowName(form2), "地球公转1 Tavelin 2006.11.");

    app.enlarge(form2);
    app.clickAt(740, 300); // 首都北京
    shot = app.when(232, 267, [](const QColor& c) { return c.red() > 120 && c.green() < 80; });
    keep(shot, "form2-beijing");
    const QColor wall = app.colourAt(shot, 232, 267); // the gate's red wall
    EXPECT_GT(wall.red(), 120);
    EXPECT_LT(wall.green(), 80);

    app.clickAt(760, 40);
    ASSERT_TRUE(waitForWindows(form1Name, 1, 10000)) << "Form1 did not come back";
    EXPECT_TRUE(waitForWindows(form2Name, 0, 5000)) << "Form2 was not hidden";
    app.at = geometry(app.form1);
    shot = app.when(300, 60, [&](const QColor& c) { return c == space; });
    keep(shot, "form1-back");
    EXPECT_EQ(app.colourAt(shot, 300, 60), space) << "Form1 kept its scenery";

    app.clickAt(740, 388); // 退出
    EXPECT_EQ(app.program.waitForExit(10000), 0);
}

std::string shell(const std::string& command) {
    return run(command + " 2>&1; echo \"exit $?\"");
}

TEST(EndToEnd, OnesOwnPictureShowsAtTheNextClick) {
    const std::string data = std::string(ORBITALE_BUILD_DIR) + "/e2e-own-pictures";
    ASSERT_EQ(shell("rm -rf '" + data + "'").substr(0, 6), "exit 0");
    Environment environment;
    environment.set("XDG_DATA_HOME", data.c_str());
    Started app;
    ASSERT_FALSE(app.form1.empty()) << "Form1 did not appear";
    app.enlarge(app.form1);
    const auto sky = [](const QColor& c) { return c.blue() > 150 && c.value() > 150; };
    app.clickAt(740, 348); // 蓝天白云, ours
    EXPECT_TRUE(sky(app.colourAt(app.when(300, 60, sky), 300, 60)));

    // Outer space copied in as one's own blue sky, while the program runs.
    ASSERT_EQ(shell("mkdir -p '" + data +
                    "/orbitale/drives/E/VB' && cp '" ORBITALE_BUILD_DIR
                    "/share/orbitale/drives/E/VB/xxgdt.jpg' '" +
                    data + "/orbitale/drives/E/VB/ltby1.jpg'")
                  .substr(0, 6),
              "exit 0");
    app.clickAt(740, 348);
    const QImage shot = app.when(300, 60, [](const QColor& c) { return c.value() < 90; });
    keep(shot, "form1-own-sky");
    EXPECT_LT(app.colourAt(shot, 300, 60).value(), 90) << "one's own picture is not shown";
    app.clickAt(740, 388); // 退出
    EXPECT_EQ(app.program.waitForExit(10000), 0);
}

TEST(EndToEnd, AnInstalledTreeWorksWhereverItIsMoved) {
    const std::string base = std::string(ORBITALE_BUILD_DIR) + "/e2e-install";
    ASSERT_EQ(shell("rm -rf '" + base + "' && cmake --install '" ORBITALE_BUILD_DIR "' --prefix '" +
                    base + "/first' >/dev/null && mv '" + base + "/first' '" + base + "/moved'")
                  .substr(0, 6),
              "exit 0");
    {
        Program moved(base + "/moved/bin/orbitale");
        ASSERT_TRUE(waitForWindows(form1Name, 1, 15000)) << "the moved program shows no Form1";
        // An error report would be a window titled "Orbitale", shown before
        // Form1 is.
        EXPECT_TRUE(visibleWindows("^Orbitale$").empty()) << "the moved program reported an error";
    }
    // And without its Earth it does report, so the check above can fail.
    ASSERT_EQ(::unlink((base + "/moved/share/orbitale/drives/E/VB/dq3.gif").c_str()), 0);
    Program broken(base + "/moved/bin/orbitale");
    EXPECT_TRUE(waitForWindows("^Orbitale$", 1, 15000)) << "no report of the missing Earth";
}

TEST(EndToEnd, TheProgramWritesNoFilesAndConnectsOnlyToTheDisplay) {
    if (run("command -v strace").empty())
        GTEST_SKIP() << "strace is not installed";
    const std::string trace = std::string(ORBITALE_BUILD_DIR) + "/e2e-strace.log";
    // LeakSanitizer cannot work under ptrace; the other runs check leaks.
    const std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    ::setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "detect_leaks=0").c_str(), 1);
    {
        Started app(trace);
        ASSERT_FALSE(app.form1.empty()) << "Form1 did not appear";
        app.enlarge(app.form1);
        app.clickAt(740, 308); // 宇宙太空
        app.when(300, 60, [](const QColor& c) { return c.value() < 90; });
        app.clickAt(760, 40); // to Form2
        ASSERT_TRUE(waitForWindows(form2Name, 1, 10000));
        app.enlarge(visibleWindows(form2Name).front());
        app.clickAt(740, 300); // 首都北京
        app.when(232, 267, [](const QColor& c) { return c.red() > 120 && c.green() < 80; });
        app.clickAt(740, 380); // 退出
        EXPECT_EQ(app.program.waitForExit(10000), 0);
    }
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
    std::ifstream log(trace);
    int lines = 0;
    for (std::string line; std::getline(log, line); ++lines) {
        const bool failed = line.find(" = -1 ") != std::string::npos;
        const bool writes = line.find("O_WRONLY") != std::string::npos ||
                            line.find("O_RDWR") != std::string::npos ||
                            line.find("O_CREAT") != std::string::npos ||
                            line.find("O_TRUNC") != std::string::npos;
        const bool changes =
            line.find("mkdir") != std::string::npos || line.find("rename") != std::string::npos ||
            line.find("unlink") != std::string::npos || line.find("truncate(") != std::string::npos;
        if ((writes && line.find("\"/dev/null\"") == std::string::npos && !failed) ||
            (changes && !failed))
            ADD_FAILURE() << "writes: " << line;
        if (line.find("connect(") != std::string::npos &&
            line.find(".X11-unix/X") == std::string::npos)
            ADD_FAILURE() << "connects elsewhere than the display: " << line;
        if (line.find("AF_INET") != std::string::npos)
            ADD_FAILURE() << "uses the network: " << line;
    }
    EXPECT_GT(lines, 20) << "the trace recorded nothing";
}

struct LocaleCase {
    const char* name;
    const char* lang; // LANG, or null for unset; LC_ALL and LC_CTYPE are unset
};

void PrintTo(const LocaleCase& c, std::ostream* out) {
    *out << "LANG=" << (c.lang ? c.lang : "(unset)");
}

class TitleInLocale : public testing::TestWithParam<LocaleCase> {};

// Window managers, taskbars and tools read the title from either property;
// both must carry the Chinese caption whatever the locale.
TEST_P(TitleInLocale, BothTitlePropertiesCarryTheChineseCaption) {
    Environment environment;
    environment.set("LC_ALL", nullptr);
    environment.set("LC_CTYPE", nullptr);
    environment.set("LANG", GetParam().lang);
    Started app;
    ASSERT_FALSE(app.form1.empty()) << "Form1 did not appear";
    const std::string value = " = \"地球公转 Tavelin 2006.11.\"";
    for (const char* property : {"WM_NAME", "_NET_WM_NAME"}) {
        const std::string shown = windowProperty(app.form1, property);
        EXPECT_TRUE(shown.size() > value.size() &&
                    shown.compare(shown.size() - value.size(), value.size(), value) == 0)
            << shown;
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, TitleInLocale,
                         testing::Values(LocaleCase{"LangUnset", nullptr}, LocaleCase{"C", "C"},
                                         LocaleCase{"Utf8", "C.UTF-8"}),
                         [](const testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (run("command -v xdotool").empty()) {
        std::fprintf(stderr, "e2e: xdotool is missing (install the xdotool package)\n");
        return 1;
    }
    XServer server;
    if (!server.running() || !server.alive()) {
        std::fprintf(stderr, "e2e: could not start Xvfb (install the xvfb package)\n");
        return 1;
    }
    // The program gets no session bus: neither the one of the session the
    // tests run in, nor one started on demand (with dbus-x11 installed, the
    // bus library would launch one and record it under ~/.dbus). A test that
    // needs a bus starts its own.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    // As in a desktop session: the session's runtime folder exists already,
    // so the toolkit has no reason to make one.
    const std::string runtime = std::string(ORBITALE_BUILD_DIR) + "/e2e-runtime";
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // No picture of the person running the tests takes the place of ours.
    ::setenv("XDG_DATA_HOME", (std::string(ORBITALE_BUILD_DIR) + "/e2e-no-own-pictures").c_str(),
             1);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const int status = RUN_ALL_TESTS();
    if (!server.alive()) {
        std::fprintf(stderr, "e2e: our Xvfb ended during the tests\n");
        return 1;
    }
    return status;
}
