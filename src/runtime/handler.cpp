#include "runtime/handler.h"

#include "runtime/backend.h"

#include <cstdio>
#include <new>

namespace rt {

namespace {

// Thrown by endProgram to unwind the handler that called it.
struct EndOfProgram {};

bool g_ended = false;

ErrorReporter& reporter() {
    static ErrorReporter current;
    return current;
}

void report(const Error& error, detail::FormWidget* owner) {
    try {
        if (reporter())
            reporter()(error);
        else
            detail::showReport(error, owner);
    } catch (...) {
        std::fprintf(stderr, "Orbitale: %s\n", error.what());
    }
}

} // namespace

std::string reportText(const Error& error) {
    return error.what();
}

void runHandler(const std::function<void()>& handler, detail::FormWidget* owner) noexcept {
    if (g_ended || !handler)
        return;
    try {
        handler();
    } catch (const EndOfProgram&) {
    } catch (const Error& error) {
        report(error, owner);
    } catch (const std::bad_alloc&) {
        report(Error(ErrorNumber::OutOfMemory), owner);
    } catch (const std::exception& fault) {
        std::fprintf(stderr, "Orbitale: %s\n", fault.what());
        report(Error(ErrorNumber::Internal), owner);
    } catch (...) {
        report(Error(ErrorNumber::Internal), owner);
    }
}

ErrorReporter setErrorReporter(ErrorReporter replacement) {
    ErrorReporter previous = std::move(reporter());
    reporter() = std::move(replacement);
    return previous;
}

void endProgram() {
    g_ended = true;
    detail::endEventLoop();
    throw EndOfProgram{};
}

bool programEnded() {
    return g_ended;
}

void resetProgramEnd() {
    g_ended = false;
}

} // namespace rt
