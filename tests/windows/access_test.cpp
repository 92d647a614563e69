// Both windows through a screen reader's eyes: each window and every control
// is named and described in Chinese, and the window says how to switch.

#include "runtime/qt/widgets.h"
#include "windows/layouts.h"

#include "support/reports.h"
#include "windows/program_windows.h"

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

using Windows = testsupport::ProgramWindows;

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

} // namespace
