// Both windows, freshly built, against their stored layouts.

#include "runtime/qt/widgets.h"
#include "windows/form1.h"
#include "windows/form2.h"
#include "windows/layouts.h"

#include "support/reports.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace orbitale;

struct Window {
    const char* name;
    const rt::FormLayout* layout;
    std::unique_ptr<rt::Form> (*make)();
};

const Window windows[] = {
    {"Form1", &form1Layout, [] { return std::unique_ptr<rt::Form>(std::make_unique<Form1>()); }},
    {"Form2", &form2Layout, [] { return std::unique_ptr<rt::Form>(std::make_unique<Form2>()); }},
};

class FreshWindow : public testing::TestWithParam<Window> {
protected:
    testsupport::Reports reports;
    std::unique_ptr<rt::Form> form = GetParam().make();
    QWidget* top() const { return form->widget(); }
};

TEST_P(FreshWindow, HasItsCaptionAndStoredClientSize) {
    EXPECT_EQ(top()->windowTitle().toStdString(), GetParam().layout->caption);
    EXPECT_EQ(top()->size(), QSize(312, 213));
    EXPECT_EQ(top()->objectName().toStdString(), GetParam().layout->name);
}

TEST_P(FreshWindow, HasEveryControlAtItsPixelGeometryUnderItsParent) {
    for (const rt::ControlRow& row : GetParam().layout->controls) {
        SCOPED_TRACE(std::string(row.name));
        const QString name = QString::fromUtf8(row.name.data(), row.name.size());
        if (row.kind == rt::ControlClass::Timer) {
            auto* timer = top()->findChild<QTimer*>(name);
            ASSERT_NE(timer, nullptr);
            EXPECT_EQ(timer->interval(), 100);
            EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
            continue;
        }
        auto* widget = top()->findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(),
                  QRect(row.left / 15, row.top / 15, row.width / 15, row.height / 15));
        EXPECT_EQ(widget->window(), top());
        if (row.parent == GetParam().layout->name) {
            EXPECT_EQ(widget->parentWidget(), top());
        } else {
            // Inside the picture box's client area, within its border.
            const QWidget* box = top()->findChild<QWidget*>("Picture1");
            EXPECT_EQ(widget->parentWidget()->parentWidget(), box);
        }
        if (row.kind == rt::ControlClass::CommandButton) {
            auto* button = qobject_cast<QPushButton*>(widget);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->text().toStdString(), row.caption);
        }
    }
}

TEST_P(FreshWindow, KeepsTheStoredOrderOfTheWindowsControls) {
    std::vector<std::string> expected;
    for (const rt::ControlRow& row : GetParam().layout->controls)
        if (row.parent == GetParam().layout->name && row.kind != rt::ControlClass::Timer)
            expected.push_back(std::string(row.name));
    std::vector<std::string> actual;
    for (QObject* child : top()->children())
        if (child->isWidgetType())
            actual.push_back(child->objectName().toStdString());
    EXPECT_EQ(actual, expected);
}

TEST_P(FreshWindow, ShowsATealBoxAndNoPictures) {
    auto& earthForm = static_cast<EarthForm&>(*form);
    EXPECT_TRUE(earthForm.picture1().picture().isNull());
    EXPECT_TRUE(earthForm.imgEarth().picture().isNull());
    top()->resize(800, 520);
    const QImage shot = top()->grab().toImage();
    const QWidget* box = top()->findChild<QWidget*>("Picture1");
    const QPoint inside = box->mapTo(top(), QPoint(300, 100));
    EXPECT_EQ(shot.pixelColor(inside), QColor(0, 192, 192));
    // The Earth holds no picture yet: where it stands, the box shows through.
    const QWidget* earth = top()->findChild<QWidget*>("ImgEarth");
    EXPECT_EQ(shot.pixelColor(earth->mapTo(top(), QPoint(24, 24))), QColor(0, 192, 192));
}

TEST_P(FreshWindow, TabGoesFromThePictureBoxDownTheButtons) {
    std::vector<std::pair<int, std::string>> byTab;
    for (const rt::ControlRow& row : GetParam().layout->controls)
        if (row.tabIndex >= 0)
            byTab.emplace_back(row.tabIndex, std::string(row.name));
    std::sort(byTab.begin(), byTab.end());

    top()->resize(800, 520);
    top()->show();
    top()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(top()));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), byTab[0].second);
    for (size_t i = 1; i < byTab.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), byTab[i].second);
    }
    // The buttons go down the column in tab order.
    int lastTop = -1;
    for (size_t i = 1; i < byTab.size(); ++i) {
        const int y = top()->findChild<QWidget*>(QString::fromStdString(byTab[i].second))->y();
        EXPECT_GT(y, lastTop);
        lastTop = y;
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, FreshWindow, testing::ValuesIn(windows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
