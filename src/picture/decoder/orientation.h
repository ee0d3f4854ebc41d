// How a picture file says it is to be turned to be shown: the EXIF
// Orientation, 1 (as stored) to 8, read from the bytes a decoder has. A
// file without one, or whose metadata is damaged or claims more bytes than
// the file has, is shown as stored: 1.
#pragma once

#include <cstddef>

// An APP1 "Exif" segment before the picture data.
int JpegOrientation(const unsigned char *file, size_t size);
// An eXIf chunk before the picture data, as current browsers read it.
int PngOrientation(const unsigned char *file, size_t size);
// An EXIF chunk of the RIFF container, as current browsers read it.
int WebpOrientation(const unsigned char *file, size_t size);
