/*
 * The OpenGL back end (module voopengl, 111): its controls and execute
 * code, the flags of primitive invalidation, the per-primitive record kept
 * in primitive property 322, the procedure table of primitives that an
 * application draws itself, and the procedures the back end takes from an
 * outside render-context component (module 13, call-backs 0xd000a-0xd000f).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_OPENGL_H
#define VO_OPENGL_H

#include <stddef.h>
#include <stdint.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtPrimitive;
struct VtReference;
struct VtTransform;
struct VtOpenGLMaterialCache;

/* Controls (set stores the value unchecked; 258 outside the range). */
#define VO_CONTROL_OPENGL_DISPLAY_LIST 0x6f0001u   /* VtEnum, 0: immediate, 1 display lists, 2 no strips */
#define VO_CONTROL_OPENGL_DRAW_STYLE 0x6f0002u     /* VtEnum, 1: 0 flat, 1 smooth, 2 wire, 3 smoothed wire */
#define VO_CONTROL_OPENGL_RENDER_CONTEXT 0x6f0003u /* VtEnum, 1: outside context 1 or 2, other none */
#define VO_CONTROL_OPENGL_LIGHTING 0x6f0004u       /* VtEnum, 2: 0 none, 1 head light, 2 the light list */
#define VO_CONTROL_OPENGL_COLOUR_MODE 0x6f0005u    /* VtEnum, 2: 1 plain colour, 2 full material */
#define VO_CONTROL_OPENGL_TRANSPARENCY 0x6f0006u   /* VtEnum, 0: 0 stipple or alpha test, 1 blended, 2 none */
#define VO_CONTROL_OPENGL_PERSPECTIVE 0x6f0007u    /* VtEnum, 1: 1 fastest, 2 nicest, other no hint */
#define VO_CONTROL_OPENGL_RESERVED 0x6f0008u       /* VtGenericPtr, always null */
#define VO_CONTROL_OPENGL_LIST_THRESHOLD 0x6f0009u /* VtNat32, 20 polygons */
#define VO_CONTROL_OPENGL_BACKGROUND 0x6f000au     /* VtColour, black */
#define VO_CONTROL_OPENGL_DECAL_TEXTURES 0x6f000bu /* VtBoolean, 1 */
#define VO_CONTROL_OPENGL_TEXTURES 0x6f000cu       /* VtBoolean, 1 */
#define VO_CONTROL_OPENGL_NO_SWAP 0x6f000du        /* VtBoolean, 0; refused (2) inside a frame */
#define VO_CONTROL_OPENGL_CLEAR_MASK 0x6f000eu     /* VtFlags, 3; refused (2) inside a frame */
#define VO_CONTROL_OPENGL_TEXTURE_SIZE 0x6f000fu   /* VtNat32, 512 */
#define VO_CONTROL_OPENGL_BACKGROUND_DRAW 0x6f0010u /* VtEnum, 1: draw graduated and image backgrounds */
#define VO_CONTROL_OPENGL_DECAL_MODE 0x6f0011u      /* VtEnum, 2: 0 first layer, 1 a pass each, 2 deferred */

/* Execute code: renders the current scene. */
#define VO_EXECUTE_OPENGL_RENDER 0x6f0001u

/* Flags of VoOpenGLPrimitiveInvalidate. */
#define VO_OPENGL_INVALID_GEOMETRY 0x1u    /* display list, triangulated copy, inverse transform */
#define VO_OPENGL_INVALID_MATERIAL 0x2u    /* the material cache */
#define VO_OPENGL_INVALID_TRANSFORM 0x4u   /* as geometry */
#define VO_OPENGL_INVALID_CLASS 0x8u       /* what a procedural class cached */
#define VO_OPENGL_INVALID_APPEARANCE 0x10u /* the material; with display lists (mode 1) the list too */
#define VO_OPENGL_INVALID_DEAD 0x7u        /* the record dies */
#define VO_OPENGL_INVALID_ALL 0x1fu        /* terminate */

/* Flags handed to a procedural class's draw slot and answered by its
 * query slot. */
#define VO_OPENGL_DRAW_LIT 0x2u             /* the lighting mode is not 0 */
#define VO_OPENGL_DRAW_COLOUR_MATERIAL 0x4u /* colour material is on */
#define VO_OPENGL_DRAW_TEXTURE_COORDS 0x8u  /* texture coordinates are to be drawn */

/* The per-vertex texture-coordinate procedure handed to draw slots:
 * (inverse transform or null, position, normal, out s, t, r, q). */
typedef VtStatus (*VtOpenGLTexCoordProc)(struct VtTransform *inverse, const float *position,
                                         const float *normal, float *s, float *t, float *r, float *q);

/* The slots of a procedural class. */
typedef VtStatus (*VtOpenGLDrawProc)(struct VtPrimitive *primitive, uintptr_t user_data, uint32_t flags,
                                     VtOpenGLTexCoordProc texture_coordinates, struct VtTransform *inverse);
typedef VtStatus (*VtOpenGLInvalidateProc)(struct VtPrimitive *primitive, uintptr_t user_data,
                                           uint32_t flags);
typedef VtStatus (*VtOpenGLReleaseProc)(struct VtPrimitive *primitive, uintptr_t user_data);
typedef uint32_t (*VtOpenGLQueryProc)(struct VtPrimitive *primitive, uintptr_t user_data);

#define VO_OPENGL_SLOT_DRAW 0u
#define VO_OPENGL_SLOT_INVALIDATE 1u
#define VO_OPENGL_SLOT_RELEASE 2u
#define VO_OPENGL_SLOT_QUERY 3u

typedef struct VtOpenGLProceduralClass {
  VtOpenGLDrawProc draw;
  VtOpenGLInvalidateProc invalidate;
  VtOpenGLReleaseProc release;
  VtOpenGLQueryProc query;
} VtOpenGLProceduralClass;

/* The value of primitive property 322 (VO_PRIM_GL_PROPS), one per drawn
 * primitive; copies of the primitive share it. */
typedef struct VtOpenGLPrimitiveData {
  uint32_t display_list;    /* OpenGL display-list name, 0 when none */
  int32_t list_group;       /* the share group the list was made in */
  struct VtReference *copy; /* triangulated copy made for drawing */
  uint32_t copy_made;
  uint32_t references; /* 1 when made; copies of the primitive share the record */
  struct VtOpenGLMaterialCache *material_cache;
  uint32_t inverse_looked_up;
  uint32_t pad;
  struct VtTransform *inverse;               /* inverse of the primitive's transform, or null */
  VtOpenGLProceduralClass *procedural_class; /* or null */
  uintptr_t user_data;                       /* the word given with the class */
  struct VtOpenGLPrimitiveData *prev;        /* the module's list of live records */
  struct VtOpenGLPrimitiveData *next;
} VtOpenGLPrimitiveData;

/* The outside render-context component's procedures (module 13). */
typedef void *(*VtRenderContextCreateProc)(void);                                           /* 0xd000a */
typedef VtStatus (*VtRenderContextReleaseProc)(void *context);                              /* 0xd000b */
typedef VtStatus (*VtRenderContextSetProc)(struct VtPrimitive *primitive, uintptr_t value); /* 0xd000c */
typedef uintptr_t (*VtRenderContextGetProc)(struct VtPrimitive *primitive);                 /* 0xd000d */
typedef VtStatus (*VtRenderContextParameterProc)(void *context, int32_t code,
                                                 const VtTypedValue *value); /* 0xd000e, value type 4 */
typedef VtStatus (*VtRenderContextSpareProc)(void);                          /* 0xd000f, never called */

#define VO_CALLBACK_RENDER_CONTEXT_CREATE 0xd000au
#define VO_CALLBACK_RENDER_CONTEXT_RELEASE 0xd000bu
#define VO_CALLBACK_RENDER_CONTEXT_SET 0xd000cu
#define VO_CALLBACK_RENDER_CONTEXT_GET 0xd000du
#define VO_CALLBACK_RENDER_CONTEXT_PARAMETER 0xd000eu
#define VO_CALLBACK_RENDER_CONTEXT_SPARE 0xd000fu

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(VtOpenGLProceduralClass) == 4 * sizeof(void *), "procedural class layout");
static_assert(offsetof(VtOpenGLProceduralClass, release) == 2 * sizeof(void *), "procedural class layout");
static_assert(offsetof(VtOpenGLPrimitiveData, copy) == 8 && offsetof(VtOpenGLPrimitiveData, references) == 20,
              "OpenGL primitive record layout");
static_assert(offsetof(VtOpenGLPrimitiveData, material_cache) == 24 &&
                  offsetof(VtOpenGLPrimitiveData, inverse) == 40,
              "OpenGL primitive record layout");
static_assert(offsetof(VtOpenGLPrimitiveData, user_data) == 56 && sizeof(VtOpenGLPrimitiveData) == 80,
              "OpenGL primitive record layout");
#endif

#endif /* VO_OPENGL_H */
