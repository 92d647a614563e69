#include "runtime/picture.h"

#include "picture_data.h" // the backend's
#include "runtime/drives.h"
#include "runtime/error.h"
#include "runtime/platform.h"

namespace rt {

Picture::Picture(std::shared_ptr<const PictureData> data, std::string_view fileName)
    : m_data(std::move(data))
    , m_fileName(fileName) {}

int Picture::width() const {
    return m_data ? m_data->width() : 0;
}

int Picture::height() const {
    return m_data ? m_data->height() : 0;
}

int Picture::frameCount() const {
    return m_data ? m_data->frameCount() : 0;
}

int Picture::keptWidth() const {
    return m_data && m_data->frameCount() > 0 ? m_data->frameWidth(0) : 0;
}

int Picture::keptHeight() const {
    return m_data && m_data->frameCount() > 0 ? m_data->frameHeight(0) : 0;
}

std::uint64_t Picture::digest() const {
    // FNV-1a, a word at a time.
    std::uint64_t hash = 14695981039346656037u;
    const auto add = [&hash](std::uint32_t word) { hash = (hash ^ word) * 1099511628211u; };
    for (int i = 0; m_data && i < m_data->frameCount(); ++i) {
        const int w = m_data->frameWidth(i), h = m_data->frameHeight(i);
        add(static_cast<std::uint32_t>(w));
        add(static_cast<std::uint32_t>(h));
        add(static_cast<std::uint32_t>(m_data->delays[static_cast<std::size_t>(i)]));
        const std::uint32_t* pixels = m_data->frameBits(i);
        for (std::size_t n = 0; n < static_cast<std::size_t>(w) * static_cast<std::size_t>(h); ++n)
            add(pixels[n]);
    }
    return hash;
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
        into.picture = [&](const FrameShape& shape) { data->setSize(shape.width, shape.height); };
        into.frame = [&](const FrameShape& shape) -> std::uint32_t* {
            std::uint32_t* pixels = data->addFrame(shape.width, shape.height, shape.delay);
            if (!pixels)
                fail.raise(ErrorNumber::OutOfMemory);
            return pixels;
        };
        decodePictureFile(where, fail, into);
        // An animation's frames are composed on one screen, so they share
        // one size; anything else would not be one picture.
        if (!data->framesAlike())
            fail.raise(ErrorNumber::InvalidPicture);
        return Picture(std::move(data), fileName);
    } catch (const std::bad_alloc&) {
        fail.raise(ErrorNumber::OutOfMemory);
    }
}

} // namespace rt
