#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace pictures {

// Writes an endlessly looping GIF animation; fully transparent pixels stay
// transparent. Every frame has its own 255-colour palette.
bool writeAnimatedGif(const QString& path, const std::vector<QImage>& frames, int delayMs);

} // namespace pictures
