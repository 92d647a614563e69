#include "runtime/form.h"

#include "runtime/error.h"
#include "runtime/handler.h"
#include "runtime/qt/widgets.h"
#include "support/case_names.h"
#include "support/reports.h"
#include "support/temp_tree.h"

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "support/test_layout.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using rt::ControlClass;
using rt::ControlRow;
using testsupport::Reports;

constexpr std::array controls{
    testsupport::testButton,
    testsupport::testBox,
    testsupport::testImage,
    ControlRow{.name = "Tick", .kind = ControlClass::Timer, .parent = "Test", .interval = 10},
};
constexpr rt::FormLayout layout{.name = "Test",
                                .caption = "测试",
                                .clientWidth = 6000,
                                .clientHeight = 4500,
                                .controls = controls};

struct Fixture : testing::Test {
    Reports reports;
    rt::Form form{layout};
    int windowClicks = 0;
    void SetUp() override {
        form.onClick([this] { ++windowClicks; });
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.widget()));
    }
    QWidget* child(const char* name) { return form.widget()->findChild<QWidget*>(name); }
};

using FormClicks = Fixture;

struct ClickCase {
    const char* what;
    const char* target; // null: the window itself
    QPoint at;          // in the target's coordinates
    int windowClicks;
};

class WindowClick : public Fixture, public testing::WithParamInterface<ClickCase> {};

TEST_P(WindowClick, OnlyTheWindowsOwnBackgroundCounts) {
    const ClickCase& c = GetParam();
    QWidget* target = c.target ? child(c.target) : form.widget();
    ASSERT_NE(target, nullptr);
    QTest::mouseClick(target, Qt::LeftButton, {}, c.at);
    EXPECT_EQ(windowClicks, c.windowClicks);
}

INSTANTIATE_TEST_SUITE_P(Targets, WindowClick,
                         testing::Values(ClickCase{"StripAboveTheBox", nullptr, {50, 5}, 1},
                                         ClickCase{"RightOfTheBox", nullptr, {180, 200}, 1},
                                         ClickCase{"InsideTheBox", "Box", {100, 120}, 0},
                                         ClickCase{"OnTheImage", "Img", {10, 10}, 0},
                                         ClickCase{"OnTheButton", "Button", {10, 10}, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(FormClicks, OnlyThePrimaryButtonClicks) {
    QTest::mouseClick(form.widget(), Qt::RightButton, {}, {50, 5});
    QTest::mouseClick(form.widget(), Qt::MiddleButton, {}, {50, 5});
    EXPECT_EQ(windowClicks, 0);
}

TEST_F(FormClicks, APressOnAControlReleasedOnTheBackgroundIsNoClick) {
    QTest::mousePress(child("Box"), Qt::LeftButton, {}, {10, 10});
    QTest::mouseRelease(form.widget(), Qt::LeftButton, {}, {50, 5});
    EXPECT_EQ(windowClicks, 0);
}

TEST_F(FormClicks, AButtonClickRunsItsHandler) {
    int clicks = 0;
    form.onClick("Button", [&] { ++clicks; });
    QTest::mouseClick(child("Button"), Qt::LeftButton);
    child("Button")->setFocus();
    QTest::keyClick(child("Button"), Qt::Key_Space);
    EXPECT_EQ(clicks, 2);
}

TEST_F(FormClicks, ClosingTheWindowEndsTheProgram) {
    rt::Form other{layout};
    other.show();
    form.widget()->close();
    EXPECT_TRUE(rt::programEnded());
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(other.isVisible());
}

TEST(Form, TimersStartWhenLoadedAfterTheLoadHandlerAndKeepRunningWhileHidden) {
    Reports reports;
    rt::Form form{layout};
    std::vector<std::string> events;
    form.onLoad([&] { events.push_back("load"); });
    form.onTimer("Tick", [&] {
        if (events.size() < 4)
            events.push_back("tick");
    });
    QTest::qWait(30);
    EXPECT_TRUE(events.empty()); // nothing before load
    form.load();
    form.load(); // once only
    form.hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return events.size() >= 4; }, 2000));
    EXPECT_EQ(events, (std::vector<std::string>{"load", "tick", "tick", "tick"}));
}

TEST(Form, AFailingLoadIsReportedAndTheTimersStillStart) {
    Reports reports;
    rt::Form form{layout};
    int ticks = 0;
    form.onLoad([] { throw rt::Error(rt::ErrorNumber::FileNotFound, "E:\\VB\\dq4.gif"); });
    form.onTimer("Tick", [&] { ++ticks; });
    form.load();
    EXPECT_EQ(reports.count(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > 0; }, 2000));
    EXPECT_GT(ticks, 0);
}

TEST(Form, OuterSizeIsTheFrameAroundTheClientAreaAndFollowsResizing) {
    rt::Form form{layout};
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.widget()));
    const float frameW = form.width() - 6000.0f;
    const float frameH = form.height() - 4500.0f;
    EXPECT_GE(frameW, 0.0f);
    EXPECT_GE(frameH, 0.0f);
    form.widget()->resize(800, 520);
    EXPECT_EQ(form.width(), 12000.0f + frameW);
    EXPECT_EQ(form.height(), 7800.0f + frameH);
}

struct MoveCase {
    float left;
    double top;
    std::optional<QPoint> pixels;
};

class ImageMove : public testing::TestWithParam<MoveCase> {};

TEST_P(ImageMove, PlacesTheImageInPixelsOrRaisesOverflow) {
    rt::Form form{layout};
    rt::Image img = form.image("Img");
    QWidget* widget = form.widget()->findChild<QWidget*>("Img");
    const MoveCase& c = GetParam();
    if (c.pixels) {
        img.move(c.left, c.top);
        EXPECT_EQ(widget->pos(), *c.pixels);
        EXPECT_EQ(widget->size(), QSize(49, 49));
    } else {
        try {
            img.move(c.left, c.top);
            FAIL() << "no error";
        } catch (const rt::Error& e) {
            EXPECT_EQ(e.number(), rt::ErrorNumber::Overflow);
        }
        EXPECT_EQ(widget->pos(), QPoint(20, 20)); // where it was
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ImageMove,
    testing::Values(MoveCase{8200, 2250, QPoint(547, 150)},
                    MoveCase{8180.0166015625f, 2050.3331667063435, QPoint(545, 137)},
                    MoveCase{-4000, -1000, QPoint(-267, -67)},
                    MoveCase{std::numeric_limits<float>::infinity(), 0, std::nullopt},
                    MoveCase{0, std::numeric_limits<double>::quiet_NaN(), std::nullopt},
                    MoveCase{3e38f, 0, std::nullopt}),
    [](const auto& info) { return casenames::of(info.param.left, "_", info.param.top); });

TEST(Form, UnknownControlNamesAreRefused) {
    rt::Form form{layout};
    EXPECT_THROW(form.image("Box"), std::logic_error);
    EXPECT_THROW(form.pictureBox("Nope"), std::logic_error);
    EXPECT_THROW(form.onClick("Img", [] {}), std::logic_error);
}

// A scenery covers the box (160 × 160 pixels, its client 156 × 156 inside a
// 2-pixel border), its aspect kept and centred; one of the box's own size is
// drawn pixel for pixel. The quadrants of each picture are red, green, blue
// and white, so its centre must land at the box's centre.
struct FitCase {
    const char* what;
    QSize picture;
};

class SceneryFit : public testing::TestWithParam<FitCase> {};

TEST_P(SceneryFit, CoversTheBoxCentredWithItsAspectKept) {
    testsupport::TempTree tree;
    const QSize size = GetParam().picture;
    QImage picture(size, QImage::Format_RGB32);
    const int w = size.width() / 2, h = size.height() / 2;
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.fillRect(0, 0, w, h, Qt::red);
    painter.fillRect(w, 0, size.width() - w, h, Qt::green);
    painter.fillRect(0, h, w, size.height() - h, Qt::blue);
    painter.end();
    ASSERT_TRUE(picture.save(QString::fromStdString((tree.vb() / "fit.png").string())));

    rt::Form form{layout};
    form.pictureBox("Box").setPicture(rt::loadPicture("E:\\VB\\fit.png"));
    auto* client = form.widget()->findChild<QWidget*>("Box")->findChildren<QWidget*>().front();
    const QImage shot = client->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(156, 156));
    const QRgb teal = qRgb(0, 192, 192);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            ASSERT_NE(shot.pixel(x, y), teal) << "uncovered at " << x << "," << y;
    EXPECT_EQ(shot.pixel(70, 70), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(86, 70), qRgb(0, 255, 0));
    EXPECT_EQ(shot.pixel(70, 86), qRgb(0, 0, 255));
    EXPECT_EQ(shot.pixel(86, 86), qRgb(255, 255, 255));
    if (size == QSize(160, 160)) { // pixel for pixel, under the border
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                ASSERT_EQ(shot.pixel(x, y), picture.pixel(x + 2, y + 2));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SceneryFit,
                         testing::Values(FitCase{"TheBoxsOwn", {160, 160}},
                                         FitCase{"Wide", {400, 100}}, FitCase{"Tall", {50, 200}},
                                         FitCase{"Small", {20, 20}},
                                         FitCase{"Photo", {4000, 3000}}),
                         [](const auto& info) { return std::string(info.param.what); });

} // namespace
