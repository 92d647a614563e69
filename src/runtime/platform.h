#pragma once

// What the toolkit asks of the operating system. Toolkit-internal.

#include "runtime/error.h"

#include <QByteArray>

#include <string>
#include <string_view>

namespace rt {

// Raises errors about one file, naming it as the program does and where it
// was looked for.
class FileError {
public:
    FileError(std::string_view name, std::string where)
        : m_name(name)
        , m_where(std::move(where)) {}
    [[noreturn]] void raise(ErrorNumber number) const { throw Error(number, m_name, m_where); }

private:
    std::string m_name;
    std::string m_where;
};

// Reads the whole regular file at `where`, at most `limit` bytes (more is
// OutOfMemory). Anything else at the path (a directory, a FIFO, a socket, a
// device) is refused before it is opened, so that nothing can block or never
// end: FileAccess. No file there: FileNotFound.
QByteArray readWholeFile(const std::string& where, const FileError& fail, std::size_t limit);

} // namespace rt
