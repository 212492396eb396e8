#pragma once
// Writes a GIF file with giflib from the same description the decoder gives, for the wait
// picture's generator and for tests.

#include "app/waitpicture/GifAnimation.h"

#include <string>

namespace vornel::app {

// Frames with an image are written with their extensions before them; the extensions of
// frames without image are written after the last image. Colour tables are padded to a power
// of two. False when giflib refuses the data or the file.
bool WriteGifFile(const std::string& path, const GifAnimation& animation);

} // namespace vornel::app
