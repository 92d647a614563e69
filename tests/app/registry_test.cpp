// The project descriptor and the default window instances.

#include "app/project.h"
#include "runtime/qt/widgets.h"
#include "runtime/registry.h"
#include "windows/form1.h"
#include "windows/form2.h"

#include "support/reports.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using namespace orbitale;

struct Instances : testing::Test {
    testsupport::Reports reports;
    rt::Registry registry{project().windows};
};

TEST(Project, StartsWithForm1AndNamesBothWindows) {
    const rt::ProjectDescriptor& p = project();
    EXPECT_EQ(p.name, "Orbitale");
    EXPECT_EQ(p.version, "1.00");
    EXPECT_EQ(p.locale, 0x0804);
    ASSERT_EQ(p.windows.size(), 2u);
    EXPECT_EQ(p.windows[0], "Form1");
    EXPECT_EQ(p.windows[1], "Form2");

    testsupport::Reports reports;
    rt::Registry registry{p.windows};
    rt::Form& first = p.startup();
    EXPECT_EQ(&first, registry.instance("Form1"));
    EXPECT_EQ(registry.instance("Form2"), nullptr);
}

TEST_F(Instances, SlotsStartEmptyAndTheFirstReferenceCreatesTheInstanceOnce) {
    EXPECT_EQ(registry.instance("Form1"), nullptr);
    EXPECT_EQ(registry.instance("Form2"), nullptr);
    Form1& one = rt::defaultInstance<Form1>();
    EXPECT_EQ(registry.instance("Form1"), &one);
    EXPECT_EQ(registry.instance("Form2"), nullptr);
    Form2& two = rt::defaultInstance<Form2>();
    EXPECT_EQ(&rt::defaultInstance<Form2>(), &two);
    EXPECT_EQ(&rt::defaultInstance<Form1>(), &one);
    EXPECT_NE(static_cast<void*>(&one), static_cast<void*>(&two));
}

TEST_F(Instances, ACreatedInstanceRunsItsTimerBeforeItIsShown) {
    Form2& two = rt::defaultInstance<Form2>();
    EXPECT_FALSE(two.isVisible());
    auto* timer = two.widget()->findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return two.orbitState().t > 0; }, 2000));
}

TEST_F(Instances, NoSecondTimerRunsUntilForm2IsReferenced) {
    rt::defaultInstance<Form1>();
    QTest::qWait(250);
    int runningTimers = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        for (QTimer* t : w->findChildren<QTimer*>("Timer1"))
            runningTimers += t->isActive() ? 1 : 0;
    EXPECT_EQ(runningTimers, 1);
}

TEST(Registry, RefusesAWindowTheProjectDoesNotHave) {
    const std::string_view only[] = {"Form1"};
    rt::Registry registry{only};
    EXPECT_THROW(rt::defaultInstance<Form2>(), std::logic_error);
}

} // namespace
