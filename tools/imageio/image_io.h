// Reading and writing image files as the library's 8-bit grey images.
#ifndef TOOLS_IMAGEIO_IMAGE_IO_H
#define TOOLS_IMAGEIO_IMAGE_IO_H

#include <string>

#include "platform/foundation/pel_buffer.h"

// Reads a PGM, PNG or JPEG file (chosen by its content) into an 8-bit grey image at offset
// (0, 0). Colour is converted to grey. Throws ccImageFileError on a missing, broken or
// truncated file.
ccPelBuffer<unsigned char> cfReadImage(const std::string& path);

#endif  // TOOLS_IMAGEIO_IMAGE_IO_H
