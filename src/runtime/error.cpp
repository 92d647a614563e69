#include "runtime/error.h"

#include <utility>

namespace rt {

const char* describe(ErrorNumber number) {
    switch (number) {
    case ErrorNumber::InvalidFloatingPoint:
        return "无效的浮点运算";
    case ErrorNumber::Overflow:
        return "溢出";
    case ErrorNumber::OutOfMemory:
        return "内存不足";
    case ErrorNumber::DivisionByZero:
        return "除数为零";
    case ErrorNumber::Internal:
        return "内部错误";
    case ErrorNumber::FileNotFound:
        return "文件未找到";
    case ErrorNumber::FileAccess:
        return "路径/文件访问错误";
    case ErrorNumber::InvalidPicture:
        return "图片无效";
    }
    return "应用程序定义的错误";
}

// The one-line text of an error, as reports and terminals show it.
static std::string whatText(ErrorNumber number, const std::string& file,
                            const std::string& lookedAt) {
    std::string text =
        "运行时错误 '" + std::to_string(static_cast<int>(number)) + "': " + describe(number);
    if (!file.empty())
        text += " — " + file;
    if (!lookedAt.empty() && lookedAt != file) {
        std::string places = lookedAt;
        for (std::size_t at = places.find('\n'); at != std::string::npos;
             at = places.find('\n', at))
            places.replace(at, 1, "; ");
        text += " (" + places + ")";
    }
    return text;
}

Error::Error(ErrorNumber number, std::string file, std::string lookedAt)
    : std::runtime_error(whatText(number, file, lookedAt))
    , m_number(number)
    , m_file(std::move(file))
    , m_lookedAt(std::move(lookedAt)) {}

} // namespace rt
