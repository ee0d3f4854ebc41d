// Loads a picture file into a new OpenGL texture without letting a broken
// file hurt the viewer: the bytes are decoded in a short-lived child process
// with limits on CPU time, wall time and memory, and only the decoded pixels
// come back.
#pragma once

// Returns the new texture's name (flipped so that t = 0 is the picture's
// bottom edge), or 0 when the file is not a regular file, cannot be decoded,
// or its decoder crashes or runs past a limit. Needs a current GL context.
unsigned int LoadGuardedTexture(const char *file);
