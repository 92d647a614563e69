#pragma once

// Pictures: what loadPicture returns and what an Image or a PictureBox shows.
// A Picture is a shared reference to decoded frames; assigning it to a
// control shares it, it never copies the pixels.

#include "decoder/decoder.h"

#include <memory>
#include <string>
#include <string_view>

namespace rt {

struct PictureData;

class Picture {
public:
    Picture() = default;

    bool isNull() const { return !m_data; }
    int width() const; // pixels; 0 for no picture
    int height() const;
    int frameCount() const; // more than one for an animation
    const PictureData* data() const { return m_data.get(); }
    // The name the program loaded it by ("E:\\VB\\xxgdt.jpg"): what a
    // screen reader is told the control shows.
    const std::string& fileName() const { return m_fileName; }

    friend bool operator==(const Picture& a, const Picture& b) { return a.m_data == b.m_data; }

private:
    friend Picture loadPicture(std::string_view fileName);
    Picture(std::shared_ptr<const PictureData> data, std::string_view fileName);
    std::shared_ptr<const PictureData> m_data;
    std::string m_fileName;
};

// Most memory one picture may take once decoded, all its frames together;
// most one frame may take (4 bytes a pixel: 16 megapixels); most frames of
// one animation; the largest file read.
inline constexpr std::size_t pictureBudgetBytes = decoder::pictureLimits.pictureBytes;
inline constexpr std::size_t frameBudgetBytes = decoder::pictureLimits.frameBytes;
inline constexpr int pictureFrameLimit = decoder::pictureLimits.frames;
inline constexpr std::size_t pictureFileLimit = decoder::pictureLimits.fileBytes;

// Reads and decodes a whole GIF, JPEG, PNG or BMP file, every frame of it,
// and closes the file. Decoding happens in a helper process with limits of
// its own; a verdict comes within a second whatever the file holds. Raises Error for a missing file
// (FileNotFound), for something at the path that is not a regular file or cannot be read
// (FileAccess), for a file that is no complete picture (InvalidPicture) and
// for one that would need more than pictureBudgetBytes, a frame of more
// than frameBudgetBytes, more than pictureFrameLimit frames or a file larger
// than pictureFileLimit (OutOfMemory).
Picture loadPicture(std::string_view fileName);

// Where a file name of the program is looked for on this machine: a drive
// letter maps into the installation:
// "E:\VB\dq3.gif" -> "<prefix>/share/orbitale/drives/E/VB/dq3.gif", where
// <prefix> is the folder above the one holding the executable. Backslashes
// separate folders; a name with "." or ".." parts maps to nothing (empty).
std::string picturePath(std::string_view fileName);

// The installation prefix found from the executable, and a way for tests and
// tools to set another one ("" returns to the executable's).
std::string installPrefix();
void overrideInstallPrefix(std::string prefix);

} // namespace rt
