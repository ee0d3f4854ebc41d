#include "picture/viewer/textures.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <SOIL/SOIL.h>
#include <cstring>

#include "picture/decoding_limits.h"

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

struct Views {
  PFNGLTEXSTORAGE2DPROC storage = nullptr;
  PFNGLTEXTUREVIEWPROC view = nullptr;
};

// The GL's texture views, where it has them (and the immutable storage
// they need).
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

// SOIL's texture parameters: clamped at the edges, filtered linearly.
void likeSoil() {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// One texture of its own storage and `count - 1` views of it; false where
// the GL would not (nothing is left made then).
bool viewsOfOne(const Views &v, const unsigned char *pixels, int width,
                int height, int channels, unsigned names[], int count) {
  GLenum format = channels == 3 ? GL_RGB : GL_RGBA;
  GLenum sized = channels == 3 ? GL_RGB8 : GL_RGBA8;
  while (glGetError() != GL_NO_ERROR) {
  }
  glGenTextures(count, names);
  glBindTexture(GL_TEXTURE_2D, names[0]);
  v.storage(GL_TEXTURE_2D, 1, sized, width, height);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format,
                  GL_UNSIGNED_BYTE, pixels);
  likeSoil();
  for (int i = 1; i < count; i++) {
    v.view(names[i], GL_TEXTURE_2D, names[0], sized, 0, 1, 0, 1);
    glBindTexture(GL_TEXTURE_2D, names[i]);
    likeSoil();
  }
  if (glGetError() == GL_NO_ERROR)
    return true;
  glDeleteTextures(count, names);
  return false;
}

} // namespace

void MakeTextures(const unsigned char *pixels, int width, int height,
                  int channels, unsigned names[], int count) {
  TightRows tight;
  // Grey textures have no views: they are of the formats views leave out.
  static const Views views = viewsOfThisGl();
  if (count > 1 && channels >= 3 && views.storage && views.view &&
      viewsOfOne(views, pixels, width, height, channels, names, count))
    return;
  for (int i = 0; i < count; i++)
    names[i] = SOIL_create_OGL_texture(pixels, width, height, channels,
                                       SOIL_CREATE_NEW_ID, 0);
}

int LargestTexture() {
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  return largest > 0 ? largest : kFallbackMaxSide;
}
