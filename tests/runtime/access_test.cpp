// A window from the keyboard and through a screen reader's eyes, and where
// an error report stands.

#include "runtime/form.h"
#include "runtime/handler.h"
#include "runtime/qt/widgets.h"
#include "support/reports.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

#include "support/test_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

using rt::ControlClass;
using rt::ControlRow;

constexpr std::array controls{
    testsupport::testButton,
    testsupport::testBox,
    testsupport::testImage,
};
constexpr rt::FormLayout layout{.name = "Test",
                                .caption = "测试窗口",
                                .clientWidth = 6000,
                                .clientHeight = 4500,
                                .controls = controls,
                                .description = "测试用的窗口"};

struct Shown : testing::Test {
    testsupport::Reports reports;
    rt::Form form{layout};
    int windowClicks = 0;
    int buttonClicks = 0;
    void SetUp() override {
        form.onClick([this] { ++windowClicks; });
        form.onClick("Button", [this] { ++buttonClicks; });
        form.show();
        form.widget()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.widget()));
    }
    QWidget* child(const char* name) { return form.widget()->findChild<QWidget*>(name); }
};

// --- keys ------------------------------------------------------------------------

struct KeyCase {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int buttonClicks;
};

class ButtonKey : public Shown, public testing::WithParamInterface<KeyCase> {};

TEST_P(ButtonKey, PressesTheFocusedButtonOrNot) {
    child("Button")->setFocus();
    QTest::keyClick(child("Button"), GetParam().key, GetParam().modifiers);
    EXPECT_EQ(buttonClicks, GetParam().buttonClicks);
    EXPECT_EQ(windowClicks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ButtonKey,
    testing::Values(KeyCase{"Return", Qt::Key_Return, Qt::NoModifier, 1},
                    KeyCase{"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, 1},
                    KeyCase{"Space", Qt::Key_Space, Qt::NoModifier, 1},
                    KeyCase{"ShiftReturn", Qt::Key_Return, Qt::ShiftModifier, 0},
                    KeyCase{"Letter", Qt::Key_A, Qt::NoModifier, 0},
                    KeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier, 0}),
    [](const auto& info) { return std::string(info.param.what); });

struct TabCase {
    const char* what;
    const char* focused;
    Qt::KeyboardModifiers modifiers;
    int windowClicks;
    const char* focusAfter;
};

class TabKey : public Shown, public testing::WithParamInterface<TabCase> {};

// Ctrl+Tab is the window's Click from wherever the focus is, and the focus
// stays; a plain Tab only moves the focus.
TEST_P(TabKey, CtrlTabRunsTheWindowsClickPlainTabMovesTheFocus) {
    const TabCase& c = GetParam();
    child(c.focused)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, c.modifiers);
    EXPECT_EQ(windowClicks, c.windowClicks);
    EXPECT_EQ(buttonClicks, 0);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(c.focusAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TabKey,
    testing::Values(TabCase{"CtrlTabOnTheBox", "Box", Qt::ControlModifier, 1, "Box"},
                    TabCase{"CtrlTabOnTheButton", "Button", Qt::ControlModifier, 1, "Button"},
                    TabCase{"TabOnTheBox", "Box", Qt::NoModifier, 0, "Button"}),
    [](const auto& info) { return std::string(info.param.what); });

struct HeldCase {
    const char* what;
    const char* keys; // p: the key goes down, r: the keyboard repeats it
    int windowClicks;
};

class HeldCtrlTab : public Shown, public testing::WithParamInterface<HeldCase> {};

// The keyboard repeats a held key as a release and a press that both say so.
TEST_P(HeldCtrlTab, SwitchesOncePerPress) {
    QWidget* box = child("Box");
    box->setFocus();
    for (const char* k = GetParam().keys; *k; ++k) {
        const bool repeat = *k == 'r';
        if (k != GetParam().keys)
            QTest::simulateEvent(box, false, Qt::Key_Tab, Qt::ControlModifier, {}, repeat);
        QTest::simulateEvent(box, true, Qt::Key_Tab, Qt::ControlModifier, {}, repeat);
    }
    QTest::simulateEvent(box, false, Qt::Key_Tab, Qt::ControlModifier, {}, false);
    EXPECT_EQ(windowClicks, GetParam().windowClicks);
}

INSTANTIATE_TEST_SUITE_P(Keys, HeldCtrlTab,
                         testing::Values(HeldCase{"Pressed", "p", 1},
                                         HeldCase{"HeldDown", "prrrrrr", 1},
                                         HeldCase{"HeldThenPressedAgain", "prrrprr", 2},
                                         HeldCase{"PressedThrice", "ppp", 3}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(Shown, CtrlTabGoesThroughTheHandlerBoundary) {
    form.onClick([] { throw rt::Error(rt::ErrorNumber::FileNotFound, "E:\\VB\\dq4.gif"); });
    QTest::keyClick(child("Box"), Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(reports.count(), 1u);
    EXPECT_EQ(reports.errors()[0].file(), "E:\\VB\\dq4.gif");
}

// --- the focus ring ------------------------------------------------------------------

// Contrast ratio of two colours, as accessibility guidance defines it.
double luminance(QColor c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(Shown, TheFocusedPictureBoxShowsARingThatStandsOut) {
    QWidget* box = child("Box");
    child("Button")->setFocus();
    const QImage unfocused = box->grab().toImage();
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    const QImage focused = box->grab().toImage();
    const QColor teal(0, 192, 192);
    const QColor window = form.widget()->palette().color(QPalette::Window);
    EXPECT_EQ(focused.pixelColor(box->width() / 2, box->height() / 2), teal);
    // Both pixels of the ring, on all four sides.
    const int w = box->width(), h = box->height();
    const QPoint ring[] = {{w / 2, 0}, {w / 2, 1}, {w / 2, h - 1}, {w / 2, h - 2},
                           {0, h / 2}, {1, h / 2}, {w - 1, h / 2}, {w - 2, h / 2}};
    for (const QPoint p : ring) {
        SCOPED_TRACE(testing::Message() << p.x() << "," << p.y());
        const QColor on = focused.pixelColor(p);
        EXPECT_GE(contrast(on, unfocused.pixelColor(p)), 3.0) << "no change from the border";
        EXPECT_GE(contrast(on, teal), 3.0);
        EXPECT_GE(contrast(on, window), 3.0);
    }
    EXPECT_NE(focused.pixelColor(2, h / 2), focused.pixelColor(1, h / 2)) << "ring too wide";
}

// --- what a screen reader reads -----------------------------------------------------

struct AccessCase {
    const char* control; // null: the window
    QAccessible::Role role;
    const char* name;
    const char* description; // the start of it
};

class Accessible : public Shown, public testing::WithParamInterface<AccessCase> {};

TEST_P(Accessible, EachControlHasARoleANameAndADescription) {
    const AccessCase& c = GetParam();
    QWidget* widget = c.control ? child(c.control) : form.widget();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), c.role);
    EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(c.name));
    EXPECT_TRUE(a->text(QAccessible::Description).startsWith(QString::fromUtf8(c.description)))
        << a->text(QAccessible::Description).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Accessible,
    testing::Values(AccessCase{nullptr, QAccessible::Window, "测试窗口", "测试用的窗口"},
                    AccessCase{"Box", QAccessible::Graphic, "画面", "测试画面；尚未载入图片"},
                    AccessCase{"Img", QAccessible::Graphic, "图像", "测试图像；尚未载入图片"},
                    AccessCase{"Button", QAccessible::Button, "按钮", "按下按钮"}),
    [](const auto& info) {
        return std::string(info.param.control ? info.param.control : "Window");
    });

// --- error reports ------------------------------------------------------------------

// What the report showed, read while it is on screen, then closed.
struct Seen {
    QRect frame;
    bool applicationModal = false;
    QString details;
    int detailsWidth = 0;
    QFont font;
    bool plainText = false;
};

Seen reportFor(const std::function<void()>& handler, rt::detail::FormWidget* owner) {
    Seen seen;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.frame = box->frameGeometry();
        seen.applicationModal = box->windowModality() == Qt::ApplicationModal;
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            seen.details = label->text();
            seen.detailsWidth = label->contentsRect().width();
            seen.font = label->font();
            seen.plainText = label->textFormat() == Qt::PlainText;
        }
        box->done(0);
    });
    poll.start();
    rt::runHandler(handler, owner);
    return seen;
}

struct TwoWindows : testing::Test {
    rt::Form first{layout};
    rt::Form second{layout};
    void SetUp() override {
        first.widget()->setGeometry(0, 0, 300, 200);
        second.widget()->setGeometry(450, 350, 300, 200);
        first.show();
        second.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(second.widget()));
    }
};

// Where a box of the report's size stands centred over `window`, kept on
// the screen as dialogs are.
QRect centredOver(const QWidget* window, QSize size) {
    QRect r(QPoint(0, 0), size);
    r.moveCenter(window->frameGeometry().center());
    const QRect screen = window->screen()->availableGeometry();
    r.moveLeft(std::max(screen.left(), std::min(r.left(), screen.right() - r.width() + 1)));
    r.moveTop(std::max(screen.top(), std::min(r.top(), screen.bottom() - r.height() + 1)));
    return r;
}

void fail() {
    throw rt::Error(rt::ErrorNumber::FileNotFound, "E:\\VB\\dq3.gif");
}

TEST_F(TwoWindows, AReportIsCentredOverTheWindowWhoseHandlerRaisedIt) {
    const Seen seen = reportFor(fail, second.widget());
    ASSERT_TRUE(seen.frame.isValid()) << "no report was shown";
    EXPECT_TRUE(seen.applicationModal);
    const QPoint off =
        seen.frame.center() - centredOver(second.widget(), seen.frame.size()).center();
    EXPECT_LE(off.manhattanLength(), 2) << off.x() << "," << off.y();
}

TEST_F(TwoWindows, WhileThatWindowIsHiddenTheReportStandsOverTheVisibleOne) {
    second.hide();
    const Seen seen = reportFor(fail, second.widget());
    ASSERT_TRUE(seen.frame.isValid()) << "no report was shown";
    const QPoint off =
        seen.frame.center() - centredOver(first.widget(), seen.frame.size()).center();
    EXPECT_LE(off.manhattanLength(), 2) << off.x() << "," << off.y();
}

// The report's file names, laid out as the label lays them out: every line
// but the last of a name ends at a folder separator.
TEST_F(TwoWindows, ALongPathWrapsAtFolderBoundariesOnly) {
    const std::string deep =
        "/home/someone/a-rather-long-folder-name/another-quite-long-folder/yet-another-folder-"
        "with-a-long-name/share/orbitale/drives/E/VB/dq3.gif";
    const Seen seen = reportFor(
        [&] {
            throw rt::Error(rt::ErrorNumber::FileNotFound,
                            "E:\\VB\\some-very-long-folder-name\\and-another-one\\dq3.gif", deep);
        },
        first.widget());
    ASSERT_FALSE(seen.details.isEmpty());
    int wrapped = 0;
    for (const QString& line : seen.details.split(u'\n')) {
        QTextLayout text(line, seen.font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        text.setTextOption(option);
        text.beginLayout();
        for (QTextLine l = text.createLine(); l.isValid(); l = text.createLine())
            l.setLineWidth(seen.detailsWidth);
        text.endLayout();
        for (int i = 0; i + 1 < text.lineCount(); ++i) {
            const QTextLine l = text.lineAt(i);
            const QString shown = line.mid(l.textStart(), l.textLength());
            const QString end = shown.right(2);
            EXPECT_TRUE(end == QStringLiteral("/\u200B") || end == QStringLiteral("\\\u200B"))
                << "a line ends inside a name: " << shown.toStdString();
            ++wrapped;
        }
    }
    EXPECT_GT(wrapped, 0) << "nothing wrapped: the check above saw nothing";
}

TEST_F(TwoWindows, AFileNameIsShownAsItIsNotAsMarkup) {
    const Seen seen =
        reportFor([] { throw rt::Error(rt::ErrorNumber::FileNotFound, "E:\\VB\\<b>x</b>.gif"); },
                  first.widget());
    QString shown = seen.details;
    shown.remove(QChar(0x200B)).remove(QChar(0x2060));
    EXPECT_TRUE(shown.contains(QStringLiteral("<b>x</b>")));
    EXPECT_TRUE(seen.plainText) << "the label would read the name as markup";
}

} // namespace
