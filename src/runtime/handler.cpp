#include "runtime/handler.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>
#include <new>

namespace rt {

namespace {

// Thrown by endProgram to unwind the handler that called it.
struct EndOfProgram {};

bool g_ended = false;
bool g_reporting = false;

void showReport(const Error& error) {
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
                    QMessageBox::Ok);
    QString details;
    if (!error.file().empty())
        details += QStringLiteral("文件：%1").arg(QString::fromStdString(error.file()));
    if (!error.lookedAt().empty() && error.lookedAt() != error.file())
        details += QStringLiteral("\n查找位置：%1").arg(QString::fromStdString(error.lookedAt()));
    if (!details.isEmpty())
        box.setInformativeText(details);
    box.exec();
    g_reporting = false;
}

ErrorReporter& reporter() {
    static ErrorReporter current;
    return current;
}

void report(const Error& error) {
    try {
        if (reporter())
            reporter()(error);
        else
            showReport(error);
    } catch (...) {
        std::fprintf(stderr, "Orbitale: %s\n", error.what());
    }
}

} // namespace

std::string reportText(const Error& error) {
    return error.what();
}

void runHandler(const std::function<void()>& handler) noexcept {
    if (g_ended || !handler)
        return;
    try {
        handler();
    } catch (const EndOfProgram&) {
    } catch (const Error& error) {
        report(error);
    } catch (const std::bad_alloc&) {
        report(Error(ErrorNumber::OutOfMemory));
    } catch (const std::exception& fault) {
        std::fprintf(stderr, "Orbitale: %s\n", fault.what());
        report(Error(ErrorNumber::Internal));
    } catch (...) {
        report(Error(ErrorNumber::Internal));
    }
}

ErrorReporter setErrorReporter(ErrorReporter replacement) {
    ErrorReporter previous = std::move(reporter());
    reporter() = std::move(replacement);
    return previous;
}

void endProgram() {
    g_ended = true;
    if (qApp) {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->hide();
        QCoreApplication::exit(0);
    }
    throw EndOfProgram{};
}

bool programEnded() {
    return g_ended;
}

void resetProgramEnd() {
    g_ended = false;
}

} // namespace rt
