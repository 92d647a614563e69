#include "runtime/backend.h"
#include "runtime/qt/widgets.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <cstdio>

namespace rt::detail {

namespace {

bool g_reporting = false;

// A file name as a report shows it: it may wrap after each folder separator,
// never inside a name (unless one name alone is wider than the report).
QString breakableAtFolders(const QString& path) {
    // A zero-width space after each separator lets a line break there; a
    // word joiner between the characters of a name keeps it whole (names
    // have hyphens and spaces, where text would otherwise break).
    const QChar mayBreak(0x200B), joiner(0x2060);
    QString out;
    out.reserve(path.size() * 2);
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        out += c;
        if (c == u'/' || c == u'\\')
            out += mayBreak;
        else if (i + 1 < path.size() && path[i + 1] != u'/' && path[i + 1] != u'\\')
            out += joiner;
    }
    return out;
}

// The places a file was looked for, one a line as the error lists them. A
// place longer than a report can usefully show (a runaway XDG_DATA_HOME)
// keeps its start and its end, where the file's own name is.
QString placesAsShown(const std::string& lookedAt) {
    constexpr qsizetype most = 240;
    QStringList lines;
    for (QString place : QString::fromStdString(lookedAt).split(u'\n')) {
        if (place.size() > most)
            place = place.left(most / 2) + QStringLiteral("…") + place.right(most / 2);
        lines << breakableAtFolders(place);
    }
    // Later places stand under the first, past the label.
    return lines.join(QStringLiteral("\n　　　　　"));
}

// The window a report stands over: the one whose handler failed, or while
// that one is hidden (a switch that failed half-way, a Load before the first
// Show) whichever window of the program is on screen.
QWidget* reportParent(QWidget* owner) {
    if (owner)
        owner = owner->window();
    if (owner && owner->isVisible())
        return owner;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->windowType() == Qt::Window && window->isVisible() && !window->isMinimized())
            return window;
    return nullptr;
}

} // namespace

void showReport(const Error& error, FormWidget* form) {
    QWidget* owner = form;
    if (g_reporting || !qApp) {
        // A report is already on screen (or there is no screen): say it on
        // the terminal rather than pile up message boxes.
        std::fprintf(stderr, "Orbitale: %s\n", error.what());
        return;
    }
    g_reporting = true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Orbitale"),
                    QStringLiteral("运行时错误 '%1':\n\n%2")
                        .arg(static_cast<int>(error.number()))
                        .arg(QString::fromUtf8(error.description())),
                    QMessageBox::Ok, reportParent(owner));
    // Blocks the whole program, not only its window, as reports always have.
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText);
    QString details;
    if (!error.file().empty())
        details += QStringLiteral("文件：%1")
                       .arg(breakableAtFolders(QString::fromStdString(error.file())));
    if (!error.lookedAt().empty() && error.lookedAt() != error.file())
        details += QStringLiteral("\n查找位置：%1").arg(placesAsShown(error.lookedAt()));
    if (!details.isEmpty()) {
        box.setInformativeText(details);
        // A file name is shown as it is, never read as markup.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }
    box.exec();
    g_reporting = false;
}

void endEventLoop() {
    if (!qApp)
        return;
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}

} // namespace rt::detail
