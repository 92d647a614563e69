// The program under a real X11 window manager (the one named on the command
// line, on a private Xvfb): a window shown again comes back where it was and
// at its size, the outer size the orbit reads follows the frame the window
// has now, and Ctrl+Tab switches windows as a click on the background does.

#include "x_session.h"

#include "runtime/form.h"
#include "runtime/layout.h"
#include "runtime/qt/widgets.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

using namespace e2e;

std::string g_wm;
std::string g_skip; // why the session could not start

struct Desktop : testing::Test {
    void SetUp() override {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
    }
};

const std::string form1Name = "地球公转 Tavelin";
const std::string form2Name = "地球公转1 Tavelin";

// The frame the window manager drew around a client window, by its
// _NET_FRAME_EXTENTS: left, right, top, bottom.
std::array<int, 4> frameExtents(const std::string& window) {
    const std::string out = run("xprop -id " + window + " _NET_FRAME_EXTENTS 2>/dev/null");
    std::array<int, 4> e{};
    const auto eq = out.find('=');
    if (eq == std::string::npos)
        return e;
    std::istringstream values(out.substr(eq + 1));
    char comma = 0;
    values >> e[0] >> comma >> e[1] >> comma >> e[2] >> comma >> e[3];
    return e;
}

// A window's client rectangle on the screen, as xwininfo reads it from X.
QRect clientOnScreen(const std::string& window) {
    std::istringstream out(run("xwininfo -id " + window));
    int x = 0, y = 0, w = 0, h = 0;
    for (std::string line; std::getline(out, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const int value = std::atoi(line.c_str() + colon + 1);
        if (line.find("Absolute upper-left X") != std::string::npos)
            x = value;
        else if (line.find("Absolute upper-left Y") != std::string::npos)
            y = value;
        else if (line.find("  Width") == 0)
            w = value;
        else if (line.find("  Height") == 0)
            h = value;
    }
    return {x, y, w, h};
}

QSize outerOnScreen(const std::string& window) {
    const QRect client = clientOnScreen(window);
    const auto e = frameExtents(window);
    return {client.width() + e[0] + e[1], client.height() + e[2] + e[3]};
}

// Where the Earth is in a window's picture: what is not the picture box's
// teal, within `inside`.
QRect earthIn(const QImage& image, const QRect& inside) {
    const QColor teal(0, 192, 192);
    QRect found;
    for (int y = inside.top(); y <= inside.bottom() && y < image.height(); ++y)
        for (int x = inside.left(); x <= inside.right() && x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - teal.red()) + std::abs(c.green() - teal.green()) +
                    std::abs(c.blue() - teal.blue()) >
                48)
                found |= QRect(x, y, 1, 1);
        }
    return found;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        QApplication::processEvents();
        if (done())
            return true;
        pause(50);
    }
    return false;
}

// --- the toolkit in this process, under the window manager --------------------

constexpr std::array controls{
    rt::ControlRow{.name = "Box",
                   .kind = rt::ControlClass::PictureBox,
                   .parent = "Test",
                   .width = 3000,
                   .height = 2250,
                   .tabIndex = 0,
                   .backColor = 0x00C0C000},
};
constexpr rt::FormLayout layout{.name = "Test",
                                .caption = "Orbitale desktop test",
                                .clientWidth = 4680,
                                .clientHeight = 3195,
                                .controls = controls};

// What the orbit reads, in pixels.
QSize outerSize(const rt::Form& form) {
    return {qRound(form.width() / 15), qRound(form.height() / 15)};
}

TEST_F(Desktop, TheOuterSizeFollowsTheFrameWhenMaximisedAndRestored) {
    if (g_wm == "mutter")
        GTEST_SKIP() << "mutter takes no title-bar double-click from xdotool through Xwayland; "
                        "there the Earth's orbit in the program shows the frame counted";
    rt::Form form{layout};
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.widget()));
    const std::string id = std::to_string(form.widget()->winId());
    ASSERT_TRUE(waitFor([&] { return frameExtents(id) != std::array<int, 4>{}; }, 5000))
        << "the window manager drew no frame";
    const QRect normal = clientOnScreen(id);

    // Hidden and shown, the window manager takes the frame away and puts it
    // back; maximised (as a user does it, by the title bar), it takes the
    // border away.
    const auto hideAndShow = [&] {
        form.hide();
        pause(200);
        form.show();
    };
    const auto toggleMaximised = [&] {
        const QRect client = clientOnScreen(id);
        run("xdotool mousemove " + std::to_string(client.x() + 60) + " " +
            std::to_string(client.y() - frameExtents(id)[2] / 2) +
            " click --repeat 2 --delay 80 1");
    };
    const struct {
        const char* what;
        std::function<void()> step;
        bool maximised;
    } steps[] = {{"shown again", hideAndShow, false},
                 {"maximised", toggleMaximised, true},
                 {"restored", toggleMaximised, false},
                 {"maximised again", toggleMaximised, true},
                 {"maximised, shown again", hideAndShow, true}};
    for (const auto& s : steps) {
        s.step();
        const auto atSize = [&] { return (clientOnScreen(id).width() > 800) == s.maximised; };
        ASSERT_TRUE(waitFor(atSize, 5000)) << s.what << ": not at its size";
        EXPECT_TRUE(waitFor([&] { return outerSize(form) == outerOnScreen(id); }, 3000))
            << s.what << ": the toolkit reads " << outerSize(form).width() << "x"
            << outerSize(form).height() << ", the frame is " << outerOnScreen(id).width() << "x"
            << outerOnScreen(id).height();
        if (!s.maximised) {
            EXPECT_EQ(clientOnScreen(id), normal) << s.what;
        }
    }
    form.hide();
}

// --- the real program -----------------------------------------------------------

std::string waitForWindow(const std::string& name) {
    if (!waitForWindows(name, 1, 15000))
        return {};
    return visibleWindows(name).front();
}

TEST_F(Desktop, WindowsComeBackWhereTheyWereAfterEverySwitch) {
    Program program(ORBITALE_EXECUTABLE);
    std::string form1 = waitForWindow(form1Name);
    ASSERT_FALSE(form1.empty()) << "Form1 did not appear";
    pause(500);
    // The user moves and enlarges Form1; the platform places Form2.
    run("xdotool windowsize " + form1 + " 800 520 windowmove " + form1 + " 120 90");
    pause(500);
    QRect place[2] = {clientOnScreen(form1), {}};
    std::fprintf(stderr, "[%s] Form1 at first: %d,%d %dx%d\n", g_wm.c_str(), place[0].x(),
                 place[0].y(), place[0].width(), place[0].height());

    // Five switches each way.
    for (int n = 1; n <= 10; ++n) {
        const int to = n % 2; // 1: Form2 comes, 0: Form1 comes back
        run("xdotool key --clearmodifiers ctrl+Tab");
        const std::string shown = waitForWindow(to ? form2Name : form1Name);
        ASSERT_FALSE(shown.empty()) << "switch " << n << ": no window shown";
        EXPECT_TRUE(waitForWindows(to ? form1Name : form2Name, 0, 5000))
            << "switch " << n << ": the other window stays";
        pause(400);
        const QRect at = clientOnScreen(shown);
        std::fprintf(stderr, "[%s] switch %d: %s at %d,%d %dx%d\n", g_wm.c_str(), n,
                     to ? "Form2" : "Form1", at.x(), at.y(), at.width(), at.height());
        if (n == 1) {
            // Form2 is placed by the platform; the user then moves it too.
            run("xdotool windowsize " + shown + " 640 460 windowmove " + shown + " 300 200");
            pause(500);
            place[1] = clientOnScreen(shown);
        } else {
            EXPECT_EQ(at, place[to]) << "switch " << n;
        }
    }

    // Back in Form1 at 800 x 520, the Earth goes all the way round within the
    // picture box: the orbit counts the frame and title bar, without which it
    // would rise above the box's top for part of every revolution.
    const QRect inside(2, 10, 680, 480); // Picture1 within its border
    int highest = inside.bottom();
    for (int shot = 0; shot < 75; ++shot) {
        const QImage image = windowImage(form1);
        if (shot == 0) {
            QDir().mkpath(ORBITALE_BUILD_DIR "/e2e-shots");
            image.save(QString::fromStdString(std::string(ORBITALE_BUILD_DIR "/e2e-shots/earth-") +
                                              g_wm + ".png"));
        }
        const QRect earth = earthIn(image, inside);
        ASSERT_FALSE(earth.isEmpty()) << "shot " << shot << ": no Earth in the box";
        EXPECT_TRUE(inside.adjusted(1, 1, -1, -1).contains(earth))
            << "shot " << shot << ": the Earth at " << earth.x() << "," << earth.y() << " "
            << earth.width() << "x" << earth.height() << " reaches the box's edge";
        highest = std::min(highest, earth.top());
        pause(100);
    }
    std::fprintf(stderr, "[%s] the Earth's highest top: %d (the box's inside begins at %d)\n",
                 g_wm.c_str(), highest, inside.top());
}

// From the keyboard alone: Tab to 蓝天白云, Return; its picture is missing,
// and the report stands over Form1 wherever the user put it.
TEST_F(Desktop, ReturnPressesAButtonAndTheReportStandsOverItsWindow) {
    const std::string base = std::string(ORBITALE_BUILD_DIR) + "/desktop-install";
    ASSERT_EQ(run("rm -rf '" + base + "' && cmake --install '" ORBITALE_BUILD_DIR "' --prefix '" +
                  base + "' >/dev/null 2>&1 && rm '" + base +
                  "/share/orbitale/drives/E/VB/ltby1.jpg' && echo ok"),
              "ok\n");
    Program program(base + "/bin/orbitale");
    const std::string form1 = waitForWindow(form1Name);
    ASSERT_FALSE(form1.empty()) << "Form1 did not appear";
    pause(500);
    run("xdotool windowsize " + form1 + " 500 400 windowmove " + form1 + " 420 260");
    pause(500);
    run("xdotool key --clearmodifiers Tab Tab Return");
    ASSERT_TRUE(waitForWindows("^Orbitale$", 1, 10000)) << "no report";
    pause(500);
    const std::string report = visibleWindows("^Orbitale$").front();
    const QRect over = clientOnScreen(form1);
    const QRect box = clientOnScreen(report);
    std::fprintf(stderr, "[%s] Form1 %d,%d %dx%d, report %d,%d %dx%d\n", g_wm.c_str(), over.x(),
                 over.y(), over.width(), over.height(), box.x(), box.y(), box.width(),
                 box.height());
    EXPECT_TRUE(over.contains(box)) << "the report is not over its window";
    // Centred over the window, give or take the two frames' title bars. A
    // Wayland compositor (mutter, KWin) places a window's reports itself,
    // centred on the frame, a little higher.
    if (!std::getenv("WAYLAND_DISPLAY")) {
        const QPoint off = box.center() - over.center();
        EXPECT_LE(std::abs(off.x()), 8) << off.x();
        EXPECT_LE(std::abs(off.y()), 30) << off.y();
    }
    QDir().mkpath(ORBITALE_BUILD_DIR "/e2e-shots");
    if (std::getenv("WAYLAND_DISPLAY")) // Xwayland's root holds no picture
        windowImage(form1).save(QString::fromStdString(
            std::string(ORBITALE_BUILD_DIR "/e2e-shots/report-form1-") + g_wm + ".png"));
    else
        screenshot().save(QString::fromStdString(
            std::string(ORBITALE_BUILD_DIR "/e2e-shots/report-") + g_wm + ".png"));
    run("xdotool key --clearmodifiers Return"); // closes the report
    EXPECT_TRUE(waitForWindows("^Orbitale$", 0, 5000)) << "the report stays";
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--wm=", 0) == 0)
            g_wm = argv[i] + 5;
    // --wm=session: the desktop session this runs in, as it is (KWin's or
    // GNOME's, started by hand: the test is then the session's command).
    const bool inSession = g_wm == "session";
    if (inSession && !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "desktop: --wm=session needs DISPLAY\n");
        return 1;
    }
    if (!inSession && (g_wm.empty() || run("command -v " + g_wm).empty())) {
        std::fprintf(stderr, "desktop: window manager '%s' is not installed\n", g_wm.c_str());
        return 77;
    }
    if (run("command -v xdotool").empty() || run("command -v xprop").empty()) {
        std::fprintf(stderr, "desktop: xdotool and x11-utils are needed\n");
        return 1;
    }
    // As in a desktop session: the session's runtime folder exists already.
    const std::string runtime = std::string(ORBITALE_BUILD_DIR) + "/e2e-runtime";
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // mutter is a Wayland session offering Xwayland, as GNOME runs it: the
    // program is started with both WAYLAND_DISPLAY and DISPLAY set. The
    // others are X11 window managers on a private Xvfb, with no Wayland
    // display whatever session this runs in.
    std::optional<XServer> server;
    std::optional<CompositorSession> session;
    std::optional<Program> wm;
    if (inSession) {
        // Its displays are set already.
    } else if (g_wm == "mutter") {
        session.emplace(std::vector<std::string>{"mutter", "--headless", "--wayland",
                                                 "--virtual-monitor", "1280x800"},
                        runtime);
        if (!session->running())
            g_skip = session->failure();
    } else {
        ::unsetenv("WAYLAND_DISPLAY");
        server.emplace();
        if (!server->running()) {
            std::fprintf(stderr, "desktop: could not start Xvfb\n");
            return 1;
        }
        wm.emplace(g_wm);
    }
    // The window manager is up once it names itself on the root window.
    for (int i = 0; g_skip.empty() && i < 100 &&
                    run("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") ==
                        std::string::npos;
         ++i)
        pause(100);
    pause(300);
    if (!g_skip.empty()) {
        // No display to make an application on: every test says why it skips.
        const int failed = RUN_ALL_TESTS();
        return failed ? failed : 77;
    }
    // This process is an X11 client; the program makes its own choice.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::unsetenv("QT_QPA_PLATFORM");
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
