// Long runs in one process: a million ticks of a real window, ten thousand
// scenery loads of good and bad files; memory stays flat. (The sanitizer
// build runs these under LeakSanitizer too.)

#include "app/project.h"
#include "runtime/qt/widgets.h"
#include "runtime/registry.h"
#include "windows/form1.h"

#include "support/reports.h"
#include "support/temp_tree.h"

#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>

namespace {

using namespace orbitale;

// Under AddressSanitizer freed memory waits in quarantine, so the resident
// size grows by design; LeakSanitizer checks for leaks there instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool residentSizeTells = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool residentSizeTells = false;
#else
constexpr bool residentSizeTells = true;
#endif
#else
constexpr bool residentSizeTells = true;
#endif
namespace fs = std::filesystem;

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(LongRun, AMillionTicksOfAWindowLeaveItsEarthOnTheOrbit) {
    testsupport::Reports reports;
    Form1 form;
    form.widget()->resize(800, 520);
    QWidget* earth = form.widget()->findChild<QWidget*>("ImgEarth");
    const long before = residentKiB();
    for (int n = 0; n < 1'000'000; ++n)
        form.timer1Timer();
    EXPECT_EQ(reports.count(), 0u);
    EXPECT_NEAR(form.orbitState().t, 100'000.0, 1e-5);
    // Still on the ellipse around (0.35 W, 0.25 H), in pixels.
    const double cx = form.width() * 0.35 / 15, cy = form.height() * 0.25 / 15;
    const double dx = (earth->x() - cx) / (4000.0 / 15), dy = (earth->y() - cy) / (2000.0 / 15);
    EXPECT_NEAR(dx * dx + dy * dy, 1.0, 0.03);
    if (residentSizeTells) {
        EXPECT_LT(residentKiB() - before, 2048);
    }
}

// What can stand at E:\VB\xxgdt.jpg when 宇宙太空 is clicked.
struct Kind {
    const char* name;
    std::function<void(const testsupport::TempTree&, const fs::path&)> make;
    bool good;
};

TEST(LongRun, TenThousandSceneryLoadsOfGoodAndBadFiles) {
    testsupport::TempTree tree;
    tree.copyShipped("dq3.gif");
    const fs::path target = tree.vb() / "xxgdt.jpg";
    std::ifstream in(testsupport::TempTree::shipped() / "ltby1.jpg", std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), {});
    std::ifstream gifIn(testsupport::TempTree::shipped() / "dq4.gif", std::ios::binary);
    const std::string gif((std::istreambuf_iterator<char>(gifIn)), {});
    const auto put = [](const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    };
    const Kind kinds[] = {
        {"jpeg", [&](auto&, const fs::path& p) { put(p, jpeg); }, true},
        {"animated gif", [&](auto&, const fs::path& p) { put(p, gif); }, true},
        {"missing", [](auto&, const fs::path&) {}, false},
        {"directory", [](auto&, const fs::path& p) { fs::create_directory(p); }, false},
        {"fifo", [](auto&, const fs::path& p) { ::mkfifo(p.c_str(), 0644); }, false},
        {"truncated", [&](auto&, const fs::path& p) { put(p, jpeg.substr(0, jpeg.size() / 2)); },
         false},
        {"text", [&](auto&, const fs::path& p) { put(p, "no picture"); }, false},
        {"empty", [&](auto&, const fs::path& p) { put(p, ""); }, false},
    };

    testsupport::Reports reports;
    rt::Registry registry{project().windows};
    Form1& form = rt::defaultInstance<Form1>();
    auto* button = form.widget()->findChild<QPushButton*>("CmdYjtk");
    long warm = 0;
    size_t bad = 0;
    for (int n = 0; n < 10'000; ++n) {
        const Kind& kind = kinds[n % std::size(kinds)];
        std::error_code ec;
        fs::remove_all(target, ec);
        kind.make(tree, target);
        const rt::Picture before = form.picture1().picture();
        button->click();
        if (kind.good) {
            ASSERT_FALSE(form.picture1().picture() == before) << kind.name;
        } else {
            ++bad;
            ASSERT_TRUE(form.picture1().picture() == before) << kind.name;
        }
        if (n == 999)
            warm = residentKiB();
    }
    EXPECT_EQ(reports.count(), bad);
    if (residentSizeTells) {
        EXPECT_LT(residentKiB() - warm, 4096) << "memory grew over the run";
    }
}

TEST(HiddenWindow, ItsTicksMoveTheEarthButDrawNothing) {
    testsupport::Reports reports;
    Form1 form;
    form.widget()->resize(800, 520);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.widget()));
    int paints = 0;
    struct Counter : QObject {
        int* paints;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                ++*paints;
            return false;
        }
    } counter;
    counter.paints = &paints;
    for (QWidget* w : form.widget()->findChildren<QWidget*>())
        w->installEventFilter(&counter);
    form.widget()->installEventFilter(&counter);

    form.hide();
    QWidget* earth = form.widget()->findChild<QWidget*>("ImgEarth");
    const QPoint start = earth->pos();
    for (int n = 0; n < 20; ++n) {
        form.timer1Timer();
        QTest::qWait(5);
    }
    EXPECT_NE(earth->pos(), start);
    EXPECT_EQ(paints, 0);

    form.show(); // and shown, the same ticks do draw
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.widget()));
    for (int n = 0; n < 5; ++n) {
        form.timer1Timer();
        QTest::qWait(20);
    }
    EXPECT_GT(paints, 0);
}

} // namespace
