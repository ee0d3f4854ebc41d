// GdkPixbuf with its loaders, the reader for the pictures SOIL does not
// read. It is loaded into a decoder process only when one of its pictures
// needs it, and before the sandbox goes on (it opens its library, its loader
// list and its loader modules). PixbufRead and PixbufRelease are in
// readers.h.
#pragma once

// Loads GdkPixbuf and the loader modules for the picture kinds in `kinds`
// (bit 1 << kind). Returns the kinds it can read.
unsigned LoadPixbuf(unsigned kinds);
