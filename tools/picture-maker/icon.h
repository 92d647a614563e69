#pragma once

#include <QImage>
#include <QString>

namespace pictures {

// The program's icon: the Earth on its orbit around a small Sun.
QImage renderIcon(int size);

// Writes a Windows icon with 32 x 32 and 16 x 16 images in 16 colours and a
// 32 x 32 image in two colours.
bool writeWindowsIcon(const QString& path);

} // namespace pictures
