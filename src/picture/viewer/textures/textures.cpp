#include "picture/viewer/textures/textures.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <SOIL/SOIL.h>
#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/decoding_limits.h"
#include "picture/viewer/textures/mipmaps.h"

namespace {

// The pixels' rows are packed tightly, as SOIL's copy of them is; GL reads
// rows as starting on 4-byte boundaries unless told otherwise, which would
// shear every picture whose rows are not a multiple of 4 bytes and read past
// the end of the copy. The alignment is told for the upload and put back.
struct TightRows {
  GLint saved = 4;
  TightRows() {
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &saved);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  }
  ~TightRows() { glPixelStorei(GL_UNPACK_ALIGNMENT, saved); }
};

// The GL's texture views (GL 4.3), where it has them, and the immutable
// storage they need.
struct Views {
  PFNGLTEXSTORAGE2DPROC storage = nullptr;
  PFNGLTEXTUREVIEWPROC view = nullptr;
};

Views viewsOfThisGl() {
  Views v;
  const char *extensions =
      reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
  auto has = [&](const char *name) {
    return extensions != nullptr && std::strstr(extensions, name) != nullptr;
  };
  if (!has("GL_ARB_texture_view") || !has("GL_ARB_texture_storage"))
    return v;
  v.storage = reinterpret_cast<PFNGLTEXSTORAGE2DPROC>(glXGetProcAddressARB(
      reinterpret_cast<const GLubyte *>("glTexStorage2D")));
  v.view = reinterpret_cast<PFNGLTEXTUREVIEWPROC>(
      glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glTextureView")));
  return v;
}

// A face is at most about half the window's height on the screen (0.43 of
// it seen square-on, a little more at its near edge when turned). A
// picture more than twice that, longer than the window is high, is
// minified on every face, which linear filtering alone turns to noise and
// moire: it gets a mipmap chain, smaller copies of itself to be sampled
// from (a third more memory). Smaller pictures are sampled linearly, as
// they are.
bool wantsMipmaps(int width, int height) {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  int window = viewport[3] > 0 ? viewport[3] : 360;
  return std::max(width, height) > window;
}

GLenum formatOf(int channels) {
  const GLenum formats[] = {GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
  return formats[channels - 1];
}

// SOIL's texture parameters: clamped at the edges, filtered linearly; and
// trilinear minification where it has mipmaps.
void likeSoil(bool mipmapped) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// One texture of its own storage, with the picture and its mipmaps, and
// `count - 1` views of it; false where the GL would not (nothing is left
// made then).
bool viewsOfOne(const Views &v, const unsigned char *pixels, int width,
                int height, int channels,
                const std::vector<MipmapLevel> &mipmaps, unsigned names[],
                int count) {
  GLenum format = formatOf(channels),
         sized = channels == 3 ? GL_RGB8 : GL_RGBA8;
  GLsizei levels = GLsizei(1 + mipmaps.size());
  while (glGetError() != GL_NO_ERROR) {
  }
  glGenTextures(count, names);
  glBindTexture(GL_TEXTURE_2D, names[0]);
  v.storage(GL_TEXTURE_2D, levels, sized, width, height);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format,
                  GL_UNSIGNED_BYTE, pixels);
  for (size_t l = 0; l < mipmaps.size(); l++)
    glTexSubImage2D(GL_TEXTURE_2D, GLint(l + 1), 0, 0, mipmaps[l].width,
                    mipmaps[l].height, format, GL_UNSIGNED_BYTE,
                    mipmaps[l].pixels.data());
  likeSoil(!mipmaps.empty());
  for (int i = 1; i < count; i++) {
    v.view(names[i], GL_TEXTURE_2D, names[0], sized, 0, GLuint(levels), 0, 1);
    glBindTexture(GL_TEXTURE_2D, names[i]);
    likeSoil(!mipmaps.empty());
  }
  if (glGetError() == GL_NO_ERROR)
    return true;
  glDeleteTextures(count, names);
  return false;
}

// A texture of the picture and its mipmaps, in the formats SOIL gives a
// texture of those channels, with its parameters; 0 where it can't be made.
unsigned mipmappedTexture(const unsigned char *pixels, int width, int height,
                          int channels,
                          const std::vector<MipmapLevel> &mipmaps) {
  GLenum format = formatOf(channels);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  for (size_t l = 0; l < mipmaps.size(); l++)
    glTexImage2D(GL_TEXTURE_2D, GLint(l + 1), GLint(format), mipmaps[l].width,
                 mipmaps[l].height, 0, format, GL_UNSIGNED_BYTE,
                 mipmaps[l].pixels.data());
  likeSoil(true);
  return name;
}

} // namespace

void MakeTextures(const unsigned char *pixels, int width, int height,
                  int channels, unsigned names[], int count, bool changing) {
  std::vector<MipmapLevel> mipmaps =
      MipmapsFor(pixels, width, height, channels);
  // Grey textures have no views: they are of the formats views leave out.
  static const Views views = viewsOfThisGl();
  TightRows tight;
  if (count > 1 && channels >= 3 && !changing && views.storage && views.view &&
      viewsOfOne(views, pixels, width, height, channels, mipmaps, names, count))
    return;
  for (int i = 0; i < count; i++)
    names[i] = MakeTexture(pixels, width, height, channels, mipmaps);
}

std::vector<MipmapLevel> MipmapsFor(const unsigned char *pixels, int width,
                                    int height, int channels) {
  if (!wantsMipmaps(width, height))
    return {};
  return MipmapChain(pixels, width, height, channels);
}

unsigned MakeTexture(const unsigned char *pixels, int width, int height,
                     int channels, const std::vector<MipmapLevel> &mipmaps) {
  TightRows tight;
  return mipmaps.empty()
             ? SOIL_create_OGL_texture(pixels, width, height, channels,
                                       SOIL_CREATE_NEW_ID, 0)
             : mipmappedTexture(pixels, width, height, channels, mipmaps);
}

void ReplaceTextureImage(unsigned name, const unsigned char *pixels, int width,
                         int height, int channels) {
  TightRows tight;
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w = 0, h = 0, levels = 0, mipmapped = 0, internal = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT,
                           &internal);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &levels);
  if (levels > 0)
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &mipmapped);
  GLenum format = formatOf(channels);
  // The same size and channels (a grey photo's texture keeps only grey):
  // the image replaced in place.
  if (w == width && h == height && mipmapped == 0 &&
      internal == GLint(format)) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format,
                    GL_UNSIGNED_BYTE, pixels);
    return;
  }
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
}

int MinifyingFilter() {
  GLint width = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &width);
  return width > 0 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR;
}

ShownSize ShownSizeOn(int screenHeight) {
  return {LargestTexture(), screenHeight * kKeptPercentOfScreenHeight / 100};
}

int LargestTexture() {
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  return largest > 0 ? largest : kFallbackMaxSide;
}
