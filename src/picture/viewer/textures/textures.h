// Textures from the pixels a decoder handed over: rows tightly packed,
// bottom row first, 1 to 4 channels (protocol.h).
#pragma once

#include <vector>

#include "picture/protocol.h"
#include "picture/viewer/textures/mipmaps.h"

// Makes `count` textures of one picture, as SOIL makes a texture of its
// pixels, into names[0] ... names[count - 1] (0 where one can't be made).
// A picture longer than the window is high (more than twice a face's
// largest size on the screen) also gets a mipmap chain, and trilinear
// minification. Several share one copy of the pixels where the GL can
// (texture views of GL 4.3), as the faces of one picture given for several
// do; else each holds its own. Needs a current GL context.
// Where `changing` (an animation, whose image changes), each has its own
// copy, whatever the GL.
void MakeTextures(const unsigned char *pixels, int width, int height,
                  int channels, unsigned names[], int count,
                  bool changing = false);

// The same in two steps, for the show's frames (ahead.h), each a part of
// the work: the mipmaps a picture gets (none where it is not longer than
// the window is high), and one texture of it and them.
std::vector<MipmapLevel> MipmapsFor(const unsigned char *pixels, int width,
                                    int height, int channels);
unsigned MakeTexture(const unsigned char *pixels, int width, int height,
                     int channels, const std::vector<MipmapLevel> &mipmaps);

// Puts a new image into texture `name` (an animation's next frame): in
// place where it is as large as the image there and has no mipmaps, else
// as its only level. Its parameters stay.
void ReplaceTextureImage(unsigned name, const unsigned char *pixels, int width,
                         int height, int channels);

// The minifying filter that suits the bound texture: GL_LINEAR_MIPMAP_LINEAR
// where it has mipmaps, else GL_LINEAR.
int MinifyingFilter();

// The GL's largest texture, across and down (kFallbackMaxSide where it
// does not say): a picture larger is decoded smaller.
int LargestTexture();

// How large pictures come back (protocol.h) for this GL, on a screen
// `screenHeight` pixels high.
ShownSize ShownSizeOn(int screenHeight);
