#pragma once

#include <stdexcept>
#include <string>

namespace rt {

// The toolkit's run-time errors. The numbers are those the forms toolkit has
// always used for these conditions, so a report reads the same as ever.
enum class ErrorNumber : int {
    InvalidFloatingPoint = 5, // an invalid floating-point operation
    Overflow = 6,
    OutOfMemory = 7, // also: a picture larger than the decoding budget
    DivisionByZero = 11,
    Internal = 51,     // a fault in the program itself
    FileNotFound = 53, // missing file or dangling link
    FileAccess = 75,   // not a regular file, or it cannot be read
    InvalidPicture = 481,
};

// Simplified Chinese description of an error number, as shown to the user.
const char* describe(ErrorNumber number);

// An error raised by a toolkit operation. It ends the handler that raised it
// and is reported once at the handler boundary.
class Error : public std::runtime_error {
public:
    explicit Error(ErrorNumber number, std::string file = {}, std::string lookedAt = {});

    ErrorNumber number() const { return m_number; }
    const char* description() const { return describe(m_number); }
    // The file concerned, as the program named it (e.g. "E:\VB\dq3.gif").
    const std::string& file() const { return m_file; }
    // Where that file was looked for on this machine, when it differs: one
    // place a line, in the order looked at.
    const std::string& lookedAt() const { return m_lookedAt; }

private:
    ErrorNumber m_number;
    std::string m_file;
    std::string m_lookedAt;
};

} // namespace rt
