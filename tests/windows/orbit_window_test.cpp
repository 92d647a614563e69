// Each window's Timer1 moves its ImgEarth along the orbit of the window's
// own outer size, shown or hidden.

#include "runtime/qt/widgets.h"
#include "windows/form1.h"
#include "windows/form2.h"

#include "support/reports.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace orbitale;

// Where the tick puts the Earth, in pixels, for the angle it used.
QPoint expectedPixels(const rt::Form& form, double t) {
    const double x = 4000 * orbit::orbitCos(t) + static_cast<double>(form.width()) * 0.35;
    const double y = static_cast<double>(form.height()) * 0.25 - 2000 * orbit::orbitSin(t);
    return {static_cast<int>(std::lround(static_cast<float>(x) / 15.0)),
            static_cast<int>(std::lround(y / 15.0))};
}

template <typename F> void checkTicks(bool hidden) {
    testsupport::Reports reports;
    F form;
    QWidget* top = form.widget();
    QWidget* earth = top->findChild<QWidget*>("ImgEarth");
    form.widget()->resize(800, 520);
    form.show();
    EXPECT_EQ(earth->pos(), F::windowName == "Form1" ? QPoint(600, 224) : QPoint(592, 232));
    form.load();
    if (hidden)
        form.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.orbitState().t > 0.25; }, 3000));
    const double used = form.orbitState().t - 0.1;
    EXPECT_EQ(earth->pos(), expectedPixels(form, used));
    EXPECT_EQ(earth->size(), QSize(49, 49));
    EXPECT_EQ(form.isVisible(), !hidden);
    EXPECT_EQ(reports.count(), 0u);
}

TEST(OrbitWindow, Form1TicksMoveItsEarth) {
    checkTicks<Form1>(false);
}
TEST(OrbitWindow, Form2TicksMoveItsEarth) {
    checkTicks<Form2>(false);
}
TEST(OrbitWindow, AHiddenWindowKeepsTicking) {
    checkTicks<Form1>(true);
}

TEST(OrbitWindow, TwoWindowsHaveIndependentOrbits) {
    testsupport::Reports reports;
    Form1 one;
    Form2 two;
    one.load();
    ASSERT_TRUE(QTest::qWaitFor([&] { return one.orbitState().t > 0.35; }, 3000));
    EXPECT_EQ(two.orbitState().t, 0.0); // not loaded: its timer has not started
    two.load();
    ASSERT_TRUE(QTest::qWaitFor([&] { return two.orbitState().t > 0.05; }, 3000));
    EXPECT_GT(one.orbitState().t, two.orbitState().t);
}

} // namespace
