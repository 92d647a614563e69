// Both windows from the keyboard and through a screen reader: every control
// is named and described, Picture1 says which scenery it shows, and Ctrl+Tab
// switches windows as the background click does.

#include "app/project.h"
#include "runtime/registry.h"
#include "windows/form1.h"
#include "windows/form2.h"
#include "windows/layouts.h"

#include "support/reports.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace orbitale;

bool hasChinese(const QString& s) {
    return std::any_of(s.begin(), s.end(),
                       [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; });
}

QAccessibleInterface* accessible(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget);
}

struct Windows : testing::Test {
    testsupport::Reports reports;
    rt::Registry registry{project().windows};
    Form1& form1 = []() -> Form1& {
        Form1& f = rt::defaultInstance<Form1>();
        f.show();
        return f;
    }();
    Form2* form2() { return static_cast<Form2*>(registry.instance("Form2")); }

    void ctrlTab(rt::Form& form) {
        QWidget* window = form.widget();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QWidget* focus = window->focusWidget() ? window->focusWidget() : window;
        QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
    }
};

TEST_F(Windows, EveryWindowAndControlHasAChineseNameAndDescription) {
    rt::defaultInstance<Form2>();
    for (const rt::Form* form : {static_cast<rt::Form*>(&form1), static_cast<rt::Form*>(form2())}) {
        const rt::FormLayout& layout = form->name() == "Form1" ? form1Layout : form2Layout;
        QAccessibleInterface* window = accessible(form->widget());
        SCOPED_TRACE(std::string(form->name()));
        EXPECT_EQ(window->role(), QAccessible::Window);
        EXPECT_EQ(window->text(QAccessible::Name).toStdString(), layout.caption);
        EXPECT_TRUE(window->text(QAccessible::Description).contains(QStringLiteral("Ctrl+Tab")));
        for (const rt::ControlRow& row : layout.controls) {
            if (row.kind == rt::ControlClass::Timer)
                continue;
            SCOPED_TRACE(std::string(row.name));
            QWidget* control = form->widget()->findChild<QWidget*>(QString::fromUtf8(row.name));
            ASSERT_NE(control, nullptr);
            QAccessibleInterface* a = accessible(control);
            EXPECT_TRUE(hasChinese(a->text(QAccessible::Name)))
                << a->text(QAccessible::Name).toStdString();
            EXPECT_TRUE(hasChinese(a->text(QAccessible::Description)));
            EXPECT_FALSE(a->text(QAccessible::Description).contains(u'\n')) << "one line";
        }
    }
}

TEST_F(Windows, Picture1SaysWhichSceneryItShowsAndTheEarthWhichPicture) {
    QWidget* picture1 = form1.widget()->findChild<QWidget*>("Picture1");
    EXPECT_TRUE(accessible(picture1)
                    ->text(QAccessible::Description)
                    .contains(QStringLiteral("尚未载入图片")));
    EXPECT_TRUE(accessible(form1.widget()->findChild<QWidget*>("ImgEarth"))
                    ->text(QAccessible::Description)
                    .contains(QStringLiteral("dq3.gif")));
    // Pressed as a screen reader presses it: through the button's action.
    QAccessibleInterface* button = accessible(form1.widget()->findChild<QWidget*>("CmdYjtk"));
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return accessible(picture1)
                ->text(QAccessible::Description)
                .contains(QStringLiteral("xxgdt.jpg"));
        },
        2000));
    EXPECT_EQ(reports.count(), 0u);
}

TEST_F(Windows, CtrlTabSwitchesBothWaysAsTheBackgroundClickDoes) {
    ctrlTab(form1);
    ASSERT_NE(form2(), nullptr) << "Ctrl+Tab did not create Form2";
    EXPECT_FALSE(form1.isVisible());
    EXPECT_TRUE(form2()->isVisible());
    // From a button as well as from the picture box.
    form2()->widget()->findChild<QWidget*>("CmdSdbj")->setFocus();
    ctrlTab(*form2());
    EXPECT_TRUE(form1.isVisible());
    EXPECT_FALSE(form2()->isVisible());
    EXPECT_EQ(reports.count(), 0u);
}

} // namespace
