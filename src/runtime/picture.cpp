#include "runtime/picture.h"

#include "runtime/error.h"
#include "runtime/picture_data.h"
#include "runtime/platform.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <cstring>

namespace rt {

Picture::Picture(std::shared_ptr<const PictureData> data, std::string_view fileName)
    : m_data(std::move(data))
    , m_fileName(fileName) {}

int Picture::width() const {
    return m_data ? m_data->frames.front().width() : 0;
}

int Picture::height() const {
    return m_data ? m_data->frames.front().height() : 0;
}

int Picture::frameCount() const {
    return m_data ? static_cast<int>(m_data->frames.size()) : 0;
}

namespace {

// Frames that ask for less than 20 ms (0 or 10 ms in a GIF) stay 100 ms, as
// browsers have them.
constexpr int shortestDelay = 20;
constexpr int delayForShort = 100;

// The image plugins say what they found wrong only as log warnings (a JPEG
// with damaged data still decodes, filled with grey): while a picture is
// decoded, such a warning marks the file as corrupt, and is not printed.
class DecoderWarnings {
public:
    DecoderWarnings()
        : m_previous(qInstallMessageHandler(&DecoderWarnings::handle)) {
        s_seen = false;
        s_previous = m_previous;
    }
    ~DecoderWarnings() { qInstallMessageHandler(m_previous); }
    DecoderWarnings(const DecoderWarnings&) = delete;
    DecoderWarnings& operator=(const DecoderWarnings&) = delete;
    bool seen() const { return s_seen; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (context.category && std::strncmp(context.category, "qt.gui.imageio", 14) == 0) {
            s_seen = true;
            return;
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    QtMessageHandler m_previous;
    static inline bool s_seen = false;
    static inline QtMessageHandler s_previous = nullptr;
};

// A picture file cut short decodes in part without complaint from Qt, so
// the formats without their own check must end as they should: a GIF with
// its trailer, a JPEG with its end-of-image marker after its last scan.
bool endsCompletely(const QByteArray& bytes, const QByteArray& format) {
    qsizetype end = bytes.size();
    while (end > 0 && (bytes[end - 1] == '\0' || bytes[end - 1] == '\n' || bytes[end - 1] == '\r'))
        --end;
    if (format == "gif")
        return end > 0 && bytes[end - 1] == '\x3b';
    if (format == "jpeg") {
        const qsizetype scan = bytes.lastIndexOf(QByteArrayView("\xff\xda", 2));
        const qsizetype eoi = bytes.lastIndexOf(QByteArrayView("\xff\xd9", 2));
        return scan >= 0 && eoi > scan;
    }
    return true;
}

std::shared_ptr<PictureData> decode(QByteArray bytes, const FileError& fail) {
    if (bytes.isEmpty())
        fail.raise(ErrorNumber::InvalidPicture);
    const DecoderWarnings warnings;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(static_cast<int>(frameBudgetBytes >> 20));

    const QByteArray format = reader.format();
    if (format != "gif" && format != "jpeg" && format != "png" && format != "bmp")
        fail.raise(ErrorNumber::InvalidPicture);
    if (!endsCompletely(bytes, format))
        fail.raise(ErrorNumber::InvalidPicture);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || warnings.seen())
        fail.raise(ErrorNumber::InvalidPicture);
    const std::size_t frameBytes =
        static_cast<std::size_t>(size.width()) * static_cast<std::size_t>(size.height()) * 4;
    if (frameBytes > frameBudgetBytes)
        fail.raise(ErrorNumber::OutOfMemory);

    auto data = std::make_shared<PictureData>();
    std::size_t used = 0;
    do {
        // Refused before it is decoded: one more frame would be too many.
        used += frameBytes;
        if (used > pictureBudgetBytes || data->frames.size() >= pictureFrameLimit)
            fail.raise(ErrorNumber::OutOfMemory);
        QImage frame;
        if (!reader.read(&frame) || frame.isNull() || warnings.seen())
            fail.raise(ErrorNumber::InvalidPicture);
        const int delay = reader.nextImageDelay();
        frame.convertTo(QImage::Format_ARGB32_Premultiplied);
        if (frame.isNull())
            fail.raise(ErrorNumber::OutOfMemory);
        data->frames.push_back(std::move(frame));
        data->delays.push_back(delay < shortestDelay ? delayForShort : delay);
    } while (format == "gif" && reader.canRead());
    return data;
}

} // namespace

Picture loadPicture(std::string_view fileName) {
    const std::string where = picturePath(fileName);
    const FileError fail(fileName, where);
    try {
        return Picture(decode(readWholeFile(where, fail, pictureBudgetBytes), fail), fileName);
    } catch (const std::bad_alloc&) {
        fail.raise(ErrorNumber::OutOfMemory);
    }
}

} // namespace rt
