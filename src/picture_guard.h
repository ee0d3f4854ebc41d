// Loads picture files into new OpenGL textures without letting a broken file
// hurt the viewer: the bytes are decoded in a short-lived child process with
// limits on CPU time, wall time and memory for each picture, and only the
// decoded pixels come back.
#pragma once

// Fills textures[i] with a new texture made from files[i] (flipped so that
// t = 0 is the picture's bottom edge), or with 0 when that file is not a
// regular file, cannot be decoded, or its decoder crashes or runs past a
// limit. Every file is tried. Needs a current GL context.
void LoadGuardedTextures(const char *const files[], unsigned int textures[],
                         int count);
