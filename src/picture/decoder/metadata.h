// What a picture file's metadata says about showing it, read by a decoder
// from the whole file in memory: which way up it is shown. Metadata that is
// damaged, cut short or claims more bytes than the file has counts as
// missing.
#pragma once

#include "picture/bytes.h"
#include "picture/kinds.h"

// The EXIF Orientation, 1 (as stored) to 8, of a file that keeps its
// metadata `where`: in a JPEG an APP1 "Exif" segment, in a PNG an eXIf chunk
// and in a WebP an EXIF chunk (both as current browsers read them), before
// the picture data. 1 where there is none.
int OrientationOf(MetadataIn where, const ByteSource &file);

// The Orientation tag (0x0112, one SHORT) of the first directory of TIFF
// structured data, as EXIF is; 1 where there is none.
int ExifOrientation(const unsigned char *tiff, size_t size);
