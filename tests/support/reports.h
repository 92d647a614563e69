#pragma once

// Collects the errors the handler boundary reports, for the length of a test.

#include "runtime/handler.h"

#include <vector>

namespace testsupport {

class Reports {
public:
    Reports() {
        m_previous = rt::setErrorReporter([this](const rt::Error& e) { m_errors.push_back(e); });
    }
    ~Reports() {
        rt::setErrorReporter(std::move(m_previous));
        rt::resetProgramEnd();
    }
    const std::vector<rt::Error>& errors() const { return m_errors; }
    size_t count() const { return m_errors.size(); }

private:
    std::vector<rt::Error> m_errors;
    rt::ErrorReporter m_previous;
};

} // namespace testsupport
