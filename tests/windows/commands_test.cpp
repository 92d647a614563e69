// The windows' handlers: Earth pictures on Load, the scenery buttons, the
// switch between the windows through their default instances, and exit.

#include "runtime/qt/picture_data.h"
#include "runtime/qt/widgets.h"

#include "support/reports.h"
#include "support/temp_tree.h"
#include "windows/program_windows.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace orbitale;
using testsupport::Reports;
using testsupport::TempTree;

// The picture a control shows is the one in this file.
bool showsFile(const rt::Picture& shown, const char* fileName) {
    if (shown.isNull())
        return false;
    const rt::Picture expected = rt::loadPicture(fileName);
    return shown.frameCount() == expected.frameCount() &&
           shown.data()->frames.front() == expected.data()->frames.front();
}

void clickBackground(rt::Form& form) {
    form.widget()->resize(800, 520);
    QTest::mouseClick(form.widget(), Qt::LeftButton, {}, QPoint(760, 40));
}

void clickButton(rt::Form& form, const char* name) {
    auto* button = form.widget()->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

using Commands = testsupport::ProgramWindows;

TEST_F(Commands, EachWindowsLoadGivesItsEarthItsOwnPicture) {
    EXPECT_TRUE(showsFile(form1.imgEarth().picture(), "E:\\VB\\dq3.gif"));
    clickBackground(form1);
    ASSERT_NE(form2(), nullptr);
    EXPECT_TRUE(showsFile(form2()->imgEarth().picture(), "E:\\VB\\dq4.gif"));
    EXPECT_EQ(reports.count(), 0u);
}

TEST_F(Commands, TheEarthSpinsWhileShownAndItsCornersShowTheBoxBehind) {
    form1.widget()->resize(800, 520);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form1.widget()));
    QWidget* earth = form1.widget()->findChild<QWidget*>("ImgEarth");
    const QImage first = earth->grab().toImage();
    EXPECT_TRUE(QTest::qWaitFor([&] { return earth->grab().toImage() != first; }, 2000))
        << "the Earth does not spin";
    const QImage window = form1.widget()->grab().toImage();
    // At this window size the Earth's lower half is always on screen.
    const QPoint corner = earth->mapTo(form1.widget(), QPoint(1, 47));
    const QPoint middle = earth->mapTo(form1.widget(), QPoint(24, 24));
    ASSERT_TRUE(form1.widget()->rect().contains(corner));
    EXPECT_EQ(window.pixelColor(corner), QColor(0, 192, 192));
    EXPECT_NE(window.pixelColor(middle), QColor(0, 192, 192));
}

struct SceneryCase {
    const char* window;
    const char* button;
    const char* file;
};

class Scenery : public Commands, public testing::WithParamInterface<SceneryCase> {};

TEST_P(Scenery, AButtonLoadsItsPictureIntoPicture1AnewOnEveryClick) {
    const SceneryCase& c = GetParam();
    if (std::string_view(c.window) == "Form2")
        clickBackground(form1);
    EarthForm& form =
        std::string_view(c.window) == "Form1" ? static_cast<EarthForm&>(form1) : *form2();
    EXPECT_TRUE(form.picture1().picture().isNull());
    clickButton(form, c.button);
    const rt::Picture first = form.picture1().picture();
    EXPECT_TRUE(showsFile(first, c.file));
    clickButton(form, c.button);
    EXPECT_FALSE(form.picture1().picture() == first); // read again, a new picture
    EXPECT_TRUE(showsFile(form.picture1().picture(), c.file));
    EXPECT_EQ(reports.count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Buttons, Scenery,
                         testing::Values(SceneryCase{"Form1", "CmdYjtk", "E:\\VB\\xxgdt.jpg"},
                                         SceneryCase{"Form1", "CmdLtby", "E:\\VB\\ltby1.jpg"},
                                         SceneryCase{"Form2", "CmdSdbj", "E:\\VB\\bjtam.jpg"},
                                         SceneryCase{"Form2", "CmdGyfg", "E:\\VB\\qdh_nr.jpg"}),
                         [](const auto& info) {
                             return std::string(info.param.window) + "_" + info.param.button;
                         });

TEST_F(Commands, SwitchingCreatesForm2OnceAndKeepsEachWindowsStateAndScenery) {
    clickButton(form1, "CmdYjtk");
    EXPECT_EQ(form2(), nullptr);
    clickBackground(form1);
    Form2* two = form2();
    ASSERT_NE(two, nullptr);
    EXPECT_FALSE(form1.isVisible());
    EXPECT_TRUE(two->isVisible());
    clickButton(*two, "CmdSdbj");
    const rt::Picture earth2 = two->imgEarth().picture();
    const rt::Picture earth1 = form1.imgEarth().picture();

    for (int i = 0; i < 10; ++i) {
        clickBackground(*two);
        EXPECT_TRUE(form1.isVisible());
        EXPECT_FALSE(two->isVisible());
        clickBackground(form1);
        EXPECT_FALSE(form1.isVisible());
        EXPECT_TRUE(two->isVisible());
    }
    EXPECT_EQ(form2(), two);
    // No Earth was read again, and each window kept its scenery.
    EXPECT_TRUE(two->imgEarth().picture() == earth2);
    EXPECT_TRUE(form1.imgEarth().picture() == earth1);
    EXPECT_TRUE(showsFile(form1.picture1().picture(), "E:\\VB\\xxgdt.jpg"));
    EXPECT_TRUE(showsFile(two->picture1().picture(), "E:\\VB\\bjtam.jpg"));
    EXPECT_EQ(reports.count(), 0u);
}

TEST_F(Commands, AHiddenWindowsOrbitKeepsAdvancing) {
    clickBackground(form1); // Form1 hidden now
    const double t = form1.orbitState().t;
    EXPECT_TRUE(QTest::qWaitFor([&] { return form1.orbitState().t > t + 0.25; }, 3000));
    EXPECT_FALSE(form1.isVisible());
    EXPECT_GT(form2()->orbitState().t, 0.0);
}

TEST_F(Commands, ExitFromForm2EndsTheProgramWhileForm1IsHidden) {
    clickBackground(form1);
    ASSERT_FALSE(form1.isVisible());
    clickButton(*form2(), "CmdExit");
    EXPECT_TRUE(rt::programEnded());
    EXPECT_FALSE(form2()->isVisible());
    EXPECT_FALSE(form1.isVisible());
    // No handler runs any more: the timers' ticks do nothing.
    const double t = form1.orbitState().t;
    QTest::qWait(250);
    EXPECT_EQ(form1.orbitState().t, t);
}

TEST_F(Commands, ExitFromForm1EndsTheProgram) {
    clickButton(form1, "CmdExit");
    EXPECT_TRUE(rt::programEnded());
    EXPECT_FALSE(form1.isVisible());
    EXPECT_EQ(form2(), nullptr);
}

// With pictures missing: the handler stops, the target keeps its picture,
// the error is reported once, and the program goes on.
TEST(MissingPictures, AMissingSceneryKeepsWhatWasShownBefore) {
    TempTree tree;
    tree.copyShipped("dq3.gif");
    tree.copyShipped("xxgdt.jpg");
    Reports reports;
    rt::Registry registry{project().windows};
    Form1& form1 = rt::defaultInstance<Form1>();
    clickButton(form1, "CmdYjtk");
    const rt::Picture space = form1.picture1().picture();
    ASSERT_FALSE(space.isNull());
    clickButton(form1, "CmdLtby"); // ltby1.jpg is missing
    ASSERT_EQ(reports.count(), 1u);
    EXPECT_EQ(reports.errors()[0].number(), rt::ErrorNumber::FileNotFound);
    EXPECT_EQ(reports.errors()[0].file(), "E:\\VB\\ltby1.jpg");
    EXPECT_TRUE(form1.picture1().picture() == space);
}

TEST(MissingPictures, AFailedLoadOfForm2StillShowsForm2WithoutItsEarth) {
    TempTree tree;
    tree.copyShipped("dq3.gif");
    Reports reports;
    rt::Registry registry{project().windows};
    Form1& form1 = rt::defaultInstance<Form1>();
    form1.show();
    bool anyVisibleDuringReport = true;
    rt::setErrorReporter([&](const rt::Error& e) {
        anyVisibleDuringReport = form1.isVisible() || (registry.instance("Form2") &&
                                                       registry.instance("Form2")->isVisible());
        EXPECT_EQ(e.file(), "E:\\VB\\dq4.gif");
    });
    clickBackground(form1);
    EXPECT_FALSE(anyVisibleDuringReport);
    auto* form2 = static_cast<Form2*>(registry.instance("Form2"));
    ASSERT_NE(form2, nullptr);
    EXPECT_TRUE(form2->isVisible());
    EXPECT_TRUE(form2->imgEarth().picture().isNull());
    EXPECT_TRUE(form2->widget()->findChild<QTimer*>("Timer1")->isActive());
    rt::setErrorReporter({});
}

TEST(MissingPictures, AFailedEarthAtStartUpStillGivesForm1) {
    TempTree tree; // nothing in it
    Reports reports;
    rt::Registry registry{project().windows};
    rt::Form& first = project().startup();
    ASSERT_EQ(reports.count(), 1u);
    EXPECT_EQ(reports.errors()[0].file(), "E:\\VB\\dq3.gif");
    first.show();
    EXPECT_TRUE(first.isVisible());
    EXPECT_TRUE(static_cast<Form1&>(first).imgEarth().picture().isNull());
}

} // namespace
