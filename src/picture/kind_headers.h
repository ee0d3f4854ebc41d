// What picture files' headers say, for the table of kinds (kinds.h): each
// kind's declared size (0 x 0 where it can't be told), and the channels its
// pixels have as SOIL's readers count them (0 where the header is broken).
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/bytes.h"

// A picture's size, as a header declares it.
struct PictureSize {
  uint64_t width = 0, height = 0;
  uint64_t pixels() const { return width * height; }
};

// Reads a header's `n` bytes from `at`; what lies past the file's end reads
// as zero.
void ReadHeader(const ByteSource &file, uint64_t at, unsigned char *out,
                size_t n);

PictureSize PngSize(const ByteSource &file);
PictureSize JpegSize(const ByteSource &file);
PictureSize GifSize(const ByteSource &file);
PictureSize BmpSize(const ByteSource &file);
PictureSize PsdSize(const ByteSource &file);
PictureSize DdsSize(const ByteSource &file);
PictureSize WebpSize(const ByteSource &file);
PictureSize IspeSize(const ByteSource &file);
PictureSize JxlSize(const ByteSource &file);
int PngChannels(const ByteSource &file);
int JpegChannels(const ByteSource &file);
int BmpChannels(const ByteSource &file);
int PsdChannels(const ByteSource &file);
int DdsChannels(const ByteSource &file);
int HdrChannels(const ByteSource &file);
int TgaChannels(const ByteSource &file);
