// What a file holds beyond its first bytes, for the kinds of picture its
// first bytes can't tell apart from others (kinds.cpp).
#pragma once

#include "picture/bytes.h"

// How much of a file is looked through for an SVG drawing's root element:
// room for an XML declaration, the comments drawing programs write, and a
// document type with the entities some of them declare.
constexpr int kMarkupLookBytes = 8192;

// Whether it is XML whose root element is <svg> (within its first
// kMarkupLookBytes bytes).
bool HoldsSvgDrawing(const ByteSource &file);

// Whether a TIFF file is a camera's RAW photo: Canon's CR2 mark at byte 8;
// else a DNGVersion tag, or a Make tag naming a maker of RAW cameras, in its
// first directory (a few hundred bytes at most are read).
bool HoldsCameraRaw(const ByteSource &file);
