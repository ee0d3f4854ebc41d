// The load at start: picture files into new OpenGL textures, without letting a
// broken or hostile file hurt the viewer: the files are decoded side by side in
// sandboxed decoder processes (decoders/), each picture within a CPU
// budget that fits the file (budget.h), and only the pixels come back; the
// textures are made here, as each picture arrives.
#pragma once

// Fills textures[i] with a new texture made from files[i] (flipped so that
// t = 0 is the picture's bottom edge), or with 0 when that file is not a
// regular file, cannot be decoded, or its decoder crashes or runs past a
// limit. Every file is tried; at most 16. Where `readBy` is given, readBy[i]
// is the reader (PictureReader, protocol.h) that read picture i, or
// kNoReader. Needs a current GL context.
void LoadTexturesAtStart(const char *const files[], unsigned int textures[],
                         int count, int readBy[] = nullptr);
