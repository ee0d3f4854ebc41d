// Telling whether a MOV is a Live Photo's motion. An iPhone gives the photo
// and its MOV one content identifier (a UUID): in the photo's EXIF, in
// Apple's maker note (its tag 0x11), and in the MOV's metadata, under the
// key "com.apple.quicktime.content.identifier". Read from the files' bytes
// (untrusted: every read checked against the file's end), a few reads each.
#pragma once

#include <string>

#include "picture/bytes.h"

// The identifier in a JPEG's or HEIC's EXIF, or empty where it has none.
std::string PhotoContentIdentifier(const ByteSource &photo);

// The identifier in a MOV's metadata, or empty where it has none.
std::string MovContentIdentifier(const ByteSource &mov);

// Whether the MOV at `movPath` may be the motion of the photo at
// `photoPath`: unless both carry an identifier and the two differ.
bool SameMoment(const std::string &photoPath, const std::string &movPath);
