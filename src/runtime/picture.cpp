#include "runtime/picture.h"

#include "runtime/drives.h"
#include "runtime/error.h"
#include "runtime/picture_data.h"
#include "runtime/platform.h"

#include <QImage>

namespace rt {

Picture::Picture(std::shared_ptr<const PictureData> data, std::string_view fileName)
    : m_data(std::move(data))
    , m_fileName(fileName) {}

int Picture::width() const {
    return m_data ? m_data->size.width() : 0;
}

int Picture::height() const {
    return m_data ? m_data->size.height() : 0;
}

int Picture::frameCount() const {
    return m_data ? static_cast<int>(m_data->frames.size()) : 0;
}

Picture loadPicture(std::string_view fileName) {
    const PicturePlace place = findPicture(fileName);
    const std::string& where = place.path;
    const FileError fail(fileName, where, place.lookedAt);
    if (place.problem != ErrorNumber{})
        fail.raise(place.problem);
    try {
        auto data = std::make_shared<PictureData>();
        FrameTarget into;
        into.picture = [&](const FrameShape& shape) {
            data->size = QSize(shape.width, shape.height);
        };
        into.frame = [&](const FrameShape& shape) -> std::uint32_t* {
            QImage& frame = data->frames.emplace_back(shape.width, shape.height,
                                                      QImage::Format_ARGB32_Premultiplied);
            if (frame.isNull())
                fail.raise(ErrorNumber::OutOfMemory);
            data->delays.push_back(shape.delay);
            return reinterpret_cast<std::uint32_t*>(frame.bits());
        };
        decodePictureFile(where, fail, into);
        // An animation's frames are composed on one screen, so they share
        // one size; anything else would not be one picture.
        for (const QImage& frame : data->frames)
            if (frame.size() != data->frames.front().size())
                fail.raise(ErrorNumber::InvalidPicture);
        return Picture(std::move(data), fileName);
    } catch (const std::bad_alloc&) {
        fail.raise(ErrorNumber::OutOfMemory);
    }
}

} // namespace rt
