// Texture making from a layer's colour and transparency sources, the
// shader texture records, and the deletion of OpenGL names in the share
// group they were made in.
//
// Pictures are scaled with gluScaleImage: 24-bit images as GL_RGB, 8-bit
// ones as GL_LUMINANCE (one byte a texel), rows read with the image's own
// stride. Sizes are worked out in 64 bits and checked before allocating.
// A name whose group has died is dropped, never deleted in another group.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstring>

#include "output/voogldrv/face.h"
#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/face.h"

namespace vo::opengl {

namespace {

// A picture of w x h texels of 1 or 3 bytes, rows packed.
struct Picture {
  uint8_t *bytes = nullptr;
  int32_t width = 0, height = 0, channels = 0;
  void Free() {
    if (bytes != nullptr) VoDeallocate(bytes);
    bytes = nullptr;
  }
  uint8_t At(size_t texel, int channel) const {
    return bytes[texel * channels + (channels == 1 ? 0 : channel)];
  }
};

uint8_t *Bytes(int32_t width, int32_t height, int32_t channels) {
  const uint64_t n =
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * static_cast<uint64_t>(channels);
  if (width <= 0 || height <= 0 || n > 0xFFFFFFFFull) return nullptr;
  return static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(n)));
}

bool Solid(Picture *p, int32_t w, int32_t h, const float colour[3]) {
  p->bytes = Bytes(w, h, 3);
  if (p->bytes == nullptr) return false;
  p->width = w, p->height = h, p->channels = 3;
  uint8_t rgb[3];
  for (int i = 0; i < 3; ++i) {
    const float v = colour[i] * 255.0f;
    rgb[i] = v <= 0.0f ? 0 : (v >= 255.0f ? 255 : static_cast<uint8_t>(v));
  }
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (size_t t = 0; t < n; ++t) std::memcpy(p->bytes + 3 * t, rgb, 3);
  return true;
}

// Scales the image to w x h; its rows are read with their own stride.
bool Scaled(Picture *p, const VtImage *image, int32_t w, int32_t h) {
  const int32_t bpp = image->bits == 8 ? 1 : 3;
  const GLenum format = bpp == 1 ? GL_LUMINANCE : GL_RGB;
  p->bytes = Bytes(w, h, bpp);
  if (p->bytes == nullptr) return false;
  p->width = w, p->height = h, p->channels = bpp;
  const int64_t tight = static_cast<int64_t>(image->width) * bpp;
  if (image->width == w && image->height == h) {
    // Scaling to the same size copies: the rows are taken as they are.
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(p->bytes + static_cast<size_t>(y) * static_cast<size_t>(tight),
                  image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row),
                  static_cast<size_t>(tight));
    return true;
  }
  const uint8_t *data = image->data;
  uint8_t *copy = nullptr;
  int32_t row_length = 0;
  if (image->bytes_per_row != tight) {
    if (image->bytes_per_row % bpp == 0) {
      row_length = image->bytes_per_row / bpp;
    } else {
      copy = Bytes(image->width, image->height, bpp);
      if (copy == nullptr) {
        p->Free();
        return false;
      }
      for (int32_t y = 0; y < image->height; ++y)
        std::memcpy(copy + static_cast<size_t>(y) * static_cast<size_t>(tight),
                    image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row),
                    static_cast<size_t>(tight));
      data = copy;
    }
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, row_length);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  const GLint failed = gluScaleImage(format, image->width, image->height, GL_UNSIGNED_BYTE, data, w, h,
                                     GL_UNSIGNED_BYTE, p->bytes);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  if (copy != nullptr) VoDeallocate(copy);
  if (failed != 0) p->Free();
  return failed == 0;
}

bool PictureOf(Picture *p, const VtTextureSource &s, int32_t w, int32_t h) {
  if (s.kind == 3 || s.kind == 4) return s.image != nullptr && Scaled(p, s.image, w, h);
  return Solid(p, w, h, s.colour);
}

// Combines the colour and transparency pictures into RGBA texels.
void Combine(const Picture &colour, const Picture &transparency, uint32_t kind, uint8_t *out) {
  const size_t n = static_cast<size_t>(transparency.width) * static_cast<size_t>(transparency.height);
  for (size_t t = 0; t < n; ++t, out += 4) {
    for (int i = 0; i < 3; ++i) out[i] = colour.At(t, i);
    if (kind == 4) {
      out[3] = transparency.At(t, 0);
      continue;
    }
    // The mean of the transparency channels weighs colour over them.
    const double mean = (transparency.At(t, 0) + transparency.At(t, 1) + transparency.At(t, 2)) / 3.0;
    for (int i = 0; i < 3; ++i)
      out[i] = static_cast<uint8_t>((out[i] * mean + transparency.At(t, i) * (255.0 - mean)) / 255.0);
    out[3] = static_cast<uint8_t>(mean);
  }
}

// The colour picture as RGB texels.
void Expand(const Picture &colour, uint8_t *out) {
  const size_t n = static_cast<size_t>(colour.width) * static_cast<size_t>(colour.height);
  for (size_t t = 0; t < n; ++t)
    for (int i = 0; i < 3; ++i) *out++ = colour.At(t, i);
}

// Places a w x h picture of `channels` bytes at (1, 1) of a zeroed texture.
void Bordered(const uint8_t *picture, int32_t w, int32_t h, int32_t channels, uint8_t *texture, int32_t tw) {
  const size_t row = static_cast<size_t>(w) * static_cast<size_t>(channels);
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(
        texture + (static_cast<size_t>(y + 1) * static_cast<size_t>(tw) + 1) * static_cast<size_t>(channels),
        picture + static_cast<size_t>(y) * row, row);
}

void Filters(const VtOpenGLContext *c, bool decal, GLuint name) {
  GLint filter = 0;
  if (decal || c->perspective_hint == 1) {
    filter = GL_NEAREST;
  } else if (c->perspective_hint == 2) {
    filter = GL_LINEAR;
  } else if (c->perspective_hint == 0) {
    GLint mag = 0, min = 0;
    glBindTexture(GL_TEXTURE_2D, 0);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
    return;
  }
  if (filter == 0) return;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
}

int32_t SourceSide(const VtTextureSource &s, bool width) {
  if ((s.kind != 3 && s.kind != 4) || s.image == nullptr) return 0;
  return width ? s.image->width : s.image->height;
}

// Runs f with a context of the group current; false when the group died.
template <class F>
bool InGroup(int32_t group, F f) {
  const VtOpenGLContext *c = Context();
  if (c != nullptr && CurrentGroup(c) == group) {
    f();
    return true;
  }
  if (group < 0 || !ogldrv::GroupLives(group) || ogldrv::GroupMakeCurrent(group) != 0) return false;
  f();
  (void)ogldrv::GroupRestore();
  return true;
}

}  // namespace

int32_t TextureSide(int64_t side, uint32_t limit) {
  const int64_t m = limit / 2;
  const int64_t v = side < m ? side : m;
  if (v < 2) return 1;
  int64_t p = 1;
  while (p < v) p <<= 1;
  return static_cast<int32_t>(p);
}

void SourceFree(VtTextureSource *s) {
  if (s->image != nullptr) (void)VoImageDestroy(s->image);
  s->image = nullptr;
}

uint32_t TextureMake(VtOpenGLContext *c, VtTextureSource colour, VtTextureSource transparency, bool decal,
                     int32_t *width, int32_t *height) {
  GLint most = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &most);
  const uint32_t limit = most > 0 && static_cast<uint32_t>(most) < c->texture_size
                             ? static_cast<uint32_t>(most)
                             : c->texture_size;
  int64_t w = SourceSide(colour, true), h = SourceSide(colour, false);
  const int64_t tw0 = SourceSide(transparency, true), th0 = SourceSide(transparency, false);
  if (tw0 > w) w = tw0;
  if (th0 > h) h = th0;
  if (w == 0 && h == 0) w = h = 64;
  const int32_t tw = TextureSide(w, limit), th = TextureSide(h, limit);
  const int32_t pw = decal ? tw - 2 : tw, ph = decal ? th - 2 : th;
  const bool alpha = transparency.kind != 1;
  const int32_t channels = alpha ? 4 : 3;
  uint8_t *texels = Bytes(tw, th, channels);
  if (texels == nullptr) return 0;
  std::memset(texels, 0, static_cast<size_t>(tw) * static_cast<size_t>(th) * static_cast<size_t>(channels));
  if (pw > 0 && ph > 0) {
    Picture cp, tp;
    uint8_t *combined = decal ? Bytes(pw, ph, channels) : texels;
    const bool made = combined != nullptr && PictureOf(&cp, colour, pw, ph) &&
                      (!alpha || PictureOf(&tp, transparency, pw, ph));
    if (made) {
      if (alpha)
        Combine(cp, tp, transparency.kind, combined);
      else
        Expand(cp, combined);
      if (decal) Bordered(combined, pw, ph, channels, texels, tw);
    }
    if (decal && combined != nullptr) VoDeallocate(combined);
    cp.Free();
    tp.Free();
    if (!made) {
      VoDeallocate(texels);
      return 0;
    }
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  const GLint wrap = decal ? GL_CLAMP : GL_REPEAT;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, channels, tw, th, 0, alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, texels);
  Filters(c, decal, name);
  VoDeallocate(texels);
  // What was sent before no longer tells which texture is bound.
  c->current_record = nullptr;
  *width = tw;
  *height = th;
  return name;
}

int32_t CurrentGroup(const VtOpenGLContext *c) {
  if (c->frame_open != 0) return c->frame_group;  // -1: the application's own context
  return ogldrv::ContextIsCurrent() ? ogldrv::FrameShareGroup() : kNoContext;
}

void TexturesDelete(int32_t group, const uint32_t *names, uint32_t count) {
  if (count == 0) return;
  const bool deleted = InGroup(group, [&] {
    for (uint32_t i = 0; i < count; ++i)
      if (glIsTexture(names[i]) == GL_TRUE) glDeleteTextures(1, &names[i]);
  });
  if (!deleted) Post(VO_CLASS_DEBUG, messages::kOpenGLNamesDropped, kModule, "textures", count, group);
}

void ListDelete(int32_t group, uint32_t list) {
  const bool deleted = InGroup(group, [&] {
    if (glIsList(list) == GL_TRUE) glDeleteLists(list, 1);
  });
  if (!deleted)
    Post(VO_CLASS_DEBUG, messages::kOpenGLNamesDropped, kModule, "display list", uint32_t{1}, group);
}

VtStatus ShaderTextureRelease(VtOpenGLContext *c, VtShaderTexture *t) {
  VtShaderTexture **at = &c->shader_textures;
  while (*at != nullptr && *at != t) at = &(*at)->next;
  if (*at == nullptr) return VO_STATUS_UNAVAILABLE;
  *at = t->next;
  if (t->texture != 0) TexturesDelete(t->group, &t->texture, 1);
  VoDeallocate(t);
  return 0;
}

void ShaderTexturesReleaseAll(VtOpenGLContext *c) {
  while (c->shader_textures != nullptr) (void)ShaderTextureRelease(c, c->shader_textures);
}

VtShaderTexture *ShaderTextureGet(VtOpenGLContext *c, VtShader *shader, VtStatus *status) {
  *status = 0;
  const int32_t group = CurrentGroup(c);
  if (shader == nullptr || group == kNoContext) return nullptr;
  VtShaderTexture *t = c->shader_textures;
  while (t != nullptr && t->shader != shader) t = t->next;
  if (t != nullptr && t->group == group) return t;
  if (t != nullptr) (void)ShaderTextureRelease(c, t);  // made for another group
  VtImage *image = ImageArgument(shader);
  bool owned = false;
  if (image == nullptr) {
    image = ImageFromFile(shader);
    owned = image != nullptr;
  }
  if (image == nullptr) return nullptr;
  t = static_cast<VtShaderTexture *>(VoAllocate(sizeof(VtShaderTexture)));
  int32_t w = 0, h = 0;
  const uint32_t name = t != nullptr ? TextureMake(c, VtTextureSource{3, {0, 0, 0}, image},
                                                   VtTextureSource{1, {0, 0, 0}, nullptr}, false, &w, &h)
                                     : 0;
  if (name == 0) {
    if (t != nullptr) VoDeallocate(t);
    if (owned) (void)VoImageDestroy(image);
    *status = VO_STATUS_NO_MEMORY;
    return nullptr;
  }
  *t = VtShaderTexture{c->shader_textures,
                       shader,
                       name,
                       image->width,
                       image->height,
                       static_cast<float>(image->width) / static_cast<float>(image->height),
                       group};
  c->shader_textures = t;
  if (owned) (void)VoImageDestroy(image);
  return t;
}

}  // namespace vo::opengl

namespace vo {

VtStatus VoOpenGLShaderInvalidate(VtShader *shader) {
  VtOpenGLContext *c = opengl::Context();
  if (shader == nullptr || c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtShaderTexture *t = c->shader_textures;
  while (t != nullptr && t->shader != shader) t = t->next;
  return t != nullptr ? opengl::ShaderTextureRelease(c, t) : VO_STATUS_UNAVAILABLE;
}

}  // namespace vo
