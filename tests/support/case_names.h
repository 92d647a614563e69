#pragma once

// Names for the cases of parameterised tests, made of what a test name may
// hold (letters, digits, '_'), so that each case has a readable name that
// stays the same from build to build.

#include <cctype>
#include <sstream>
#include <string>

namespace casenames {

// A value as it prints, with '.' as '_' and '-' as "minus":
// 7.5 gives "7_5", -4000 "minus4000", 3e+38 "3e38".
template <typename T> std::string of(const T& value) {
    std::ostringstream out;
    out << value;
    std::string name;
    for (const char c : out.str()) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (c == '-')
            name += "minus";
        else if (c != '+')
            name += '_';
    }
    return name;
}

// Two values joined by `between`: of(12000) + "x" + of(9000).
template <typename A, typename B> std::string of(const A& a, const char* between, const B& b) {
    return of(a) + between + of(b);
}

} // namespace casenames
