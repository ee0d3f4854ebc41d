// Files that are one photo, shown once: a camera's RAW and the JPEG or HEIC
// it made of the same shot, and an iPhone's Live Photo, a HEIC or JPEG and
// the MOV of its motion, both of the same name but for the ending.
#pragma once

#include <string>

#include "launcher/library_walk.h"

// A Live Photo named by itself: its MOV, the same name but for the ending
// (any case) in the same folder, of the same moment; empty for none.
std::string MotionBeside(const std::string &photo);

// A RAW photo and a JPEG or HEIC of the same name but for the ending (in
// any case) are one photo, shown once: from the JPEG or HEIC, the camera's
// own rendering of it. So are a Live Photo's HEIC or JPEG and its MOV,
// shown as the photo, the MOV its motion (in `motions`), unless their
// content identifiers say they are of two moments: then the MOV is a clip
// of its own. Leaves the others out of the listing of `folder`.
void OneOfEachPhoto(const std::string &folder, FolderListing &listing);
