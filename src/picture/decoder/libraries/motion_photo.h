// A Motion Photo: a JPEG that Pixel and Galaxy phones write with the short
// clip of the moment before and after the shot inside it, after the
// picture. Google's XMP says where (its container's directory: the clip's
// item and its length, the clip last in the file; or the older
// MicroVideoOffset, its distance from the end); Samsung's phones put it
// after a "MotionPhoto_Data" marker in the trailer after the picture. Only
// a clip found so, lying inside the file and starting as an MP4 does, is
// taken.
#pragma once

#include <cstddef>

struct ClipInside {
  size_t at = 0, size = 0; // none: 0 bytes
};

// The clip inside a JPEG in memory, or none.
ClipInside MotionPhotoClip(const unsigned char *file, size_t size);
