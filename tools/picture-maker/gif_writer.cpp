#include "gif_writer.h"

#include <gif_lib.h>

#include <cstring>

namespace pictures {

namespace {

struct Closer {
    GifFileType* file;
    ~Closer() {
        if (file) {
            int error = 0;
            EGifCloseFile(file, &error);
        }
    }
};

} // namespace

bool writeAnimatedGif(const QString& path, const std::vector<QImage>& frames, int delayMs) {
    if (frames.empty())
        return false;
    const int w = frames.front().width(), h = frames.front().height();
    int error = 0;
    Closer gif{EGifOpenFileName(path.toLocal8Bit().constData(), false, &error)};
    if (!gif.file)
        return false;
    EGifSetGifVersion(gif.file, true);
    if (EGifPutScreenDesc(gif.file, w, h, 8, 0, nullptr) == GIF_ERROR)
        return false;

    // Loop for ever.
    unsigned char loop[3] = {1, 0, 0};
    EGifPutExtensionLeader(gif.file, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif.file, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif.file, 3, loop);
    EGifPutExtensionTrailer(gif.file);

    const int transparent = 255;
    for (const QImage& source : frames) {
        const QImage frame = source.convertToFormat(QImage::Format_ARGB32);
        const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
        std::vector<GifByteType> red(n), green(n), blue(n), index(n);
        for (int y = 0; y < h; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                red[i] = static_cast<GifByteType>(qRed(line[x]));
                green[i] = static_cast<GifByteType>(qGreen(line[x]));
                blue[i] = static_cast<GifByteType>(qBlue(line[x]));
            }
        }
        int colours = 255;
        GifColorType palette[256] = {};
        if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &colours,
                              red.data(), green.data(), blue.data(), index.data(),
                              palette) == GIF_ERROR)
            return false;
        for (int y = 0; y < h; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
            for (int x = 0; x < w; ++x)
                if (qAlpha(line[x]) < 128)
                    index[static_cast<size_t>(y) * w + x] = transparent;
        }
        ColorMapObject* map = GifMakeMapObject(256, palette);
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_BACKGROUND;
        control.DelayTime = delayMs / 10;
        control.TransparentColor = transparent;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif.file, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension);
        const bool ok = EGifPutImageDesc(gif.file, 0, 0, w, h, false, map) != GIF_ERROR;
        GifFreeMapObject(map);
        if (!ok)
            return false;
        for (int y = 0; y < h; ++y)
            if (EGifPutLine(gif.file, index.data() + static_cast<size_t>(y) * w, w) == GIF_ERROR)
                return false;
    }
    return true;
}

} // namespace pictures
