#include "runtime/handler.h"

#include "runtime/backend.h"

#include <cstdio>
#include <new>
#include <string>

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

namespace {

// Cuts at a character's start, never inside one.
std::size_t characterStart(const std::string& text, std::size_t at) {
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

} // namespace

ReportParts reportParts(const Error& error) {
    ReportParts parts;
    parts.heading = "运行时错误 '" + std::to_string(static_cast<int>(error.number())) + "':\n\n" +
                    error.description();
    if (!error.file().empty())
        parts.details = "文件：" + error.file();
    if (!error.lookedAt().empty() && error.lookedAt() != error.file()) {
        constexpr std::size_t most = 240;
        parts.details += "\n查找位置：";
        std::size_t from = 0;
        for (bool first = true; from <= error.lookedAt().size(); first = false) {
            std::size_t end = error.lookedAt().find('\n', from);
            if (end == std::string::npos)
                end = error.lookedAt().size();
            std::string place = error.lookedAt().substr(from, end - from);
            if (place.size() > most)
                place = place.substr(0, characterStart(place, most / 2)) + "…" +
                        place.substr(characterStart(place, place.size() - most / 2));
            // Later places stand under the first, past the label.
            parts.details += (first ? "" : "\n　　　　　") + place;
            from = end + 1;
        }
    }
    return parts;
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
