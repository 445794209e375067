/*
 * Screen buffers (module voscrbuf, number 69): images in memory with colour,
 * alpha, depth and stencil channels, each with storage only on request and
 * each at its own precision, a region that row operations address, and the
 * compositing controls applied when rows are written.
 *
 * Other modules read a buffer's record by layout (the region, the size and
 * the channel descriptors), so both records are pinned below.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_SCREENBUF_H
#define VO_SCREENBUF_H

#include <stddef.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Type tag of a live buffer; 0 once it is destroyed. */
#define VO_SCREEN_BUFFER_TAG 69u

/* Channel bits (allocation masks, pixel and precision operations). */
#define VO_SB_COLOUR 1u
#define VO_SB_ALPHA 2u
#define VO_SB_DEPTH 4u
#define VO_SB_STENCIL 8u
#define VO_SB_ALL 15u

/* Precisions of a channel. */
#define VO_SB_FLOAT 0x450001u /* one 32-bit float per element */
#define VO_SB_RGBE 0x450002u  /* one shared-exponent word per pixel (colour only) */
#define VO_SB_BYTE 0x450003u  /* one unsigned byte per element */

/* Buffer controls (VoScreenBufferSetControl / GetControl). */
#define VO_SB_WIDTH 0x450001u           /* VtNat32, 20 */
#define VO_SB_HEIGHT 0x450002u          /* VtNat32, 20 */
#define VO_SB_ACCUMULATE 0x450003u      /* VtBoolean, false */
#define VO_SB_DEPTH_TEST 0x450004u      /* VtBoolean, false; needs depth storage */
#define VO_SB_ALPHA_BLEND 0x450005u     /* VtBoolean, false; needs alpha storage */
#define VO_SB_WEIGHT 0x450007u          /* VtFloat, 0.5 */
#define VO_SB_STENCIL_ON 0x450008u      /* VtBoolean, false; needs stencil storage */
#define VO_SB_STENCIL_REF 0x450009u     /* VtNat8, 1 */
#define VO_SB_STENCIL_MASK 0x45000au    /* VtNat8, 255 */
#define VO_SB_COMBINE 0x45000bu         /* VtEnum, 0x450001 */
#define VO_SB_STENCIL_TEST 0x45000du    /* VtEnum, 0x450000 */
#define VO_SB_STENCIL_OP 0x45000fu      /* VtEnum, 0x450004 */
#define VO_SB_STENCIL_FAIL_OP 0x450010u /* VtEnum, 0x450000 (stored only) */

/* Values of the enumerated controls. */
#define VO_SB_NONE 0x450000u            /* no combine; test always passes; keep */
#define VO_SB_WEIGHTED_ADD 0x450001u    /* combine: destination + source x weight */
#define VO_SB_RUNNING_AVERAGE 0x450002u /* combine: (n x destination + source) / (n + 1) */
#define VO_SB_ADD 0x450003u             /* combine: destination + source */
#define VO_SB_NEVER 0x450001u           /* stencil test: never passes */
#define VO_SB_EQUAL 0x450004u           /* stencil test: stencil byte = masked reference */
#define VO_SB_REPLACE 0x450004u         /* stencil operation: becomes the masked reference */
#define VO_SB_INCREMENT 0x450008u       /* stencil operation: plus one, wrapping at 256 */

/* Module control, call-backs and execute code of module 69. */
#define VO_CONTROL_SB_NO_FORWARD 0x450064u     /* VtBoolean: the target stores rows but forwards nothing */
#define VO_CALLBACK_SB_GET 0x450001u           /* VoScreenBufferGet */
#define VO_CALLBACK_SB_SET_CONTROL 0x450002u   /* VoScreenBufferSetControl */
#define VO_CALLBACK_SB_GET_CONTROL 0x450003u   /* VoScreenBufferGetControl */
#define VO_CALLBACK_SB_SET_PIXEL 0x450004u     /* VoScreenBufferSetPixel */
#define VO_CALLBACK_SB_GET_PIXEL 0x450005u     /* VoScreenBufferGetPixel */
#define VO_CALLBACK_SB_GET_DATA_MASK 0x450006u /* VoScreenBufferGetDataMask */
#define VO_EXECUTE_SB_RENDER_DEPTH 0x450001u   /* the depth pass into the target */

/* One channel: its elements per pixel (3 colour, 1 otherwise and for RGBE
 * colour), pixel count (0 without storage), precision, row stride in
 * elements and the owned pixel data, rows from row 0 upwards. 40 bytes. */
typedef struct VtScreenBufferChannel {
  uint32_t elements;
  uint32_t pad0;
  size_t count;
  uint32_t precision;
  uint32_t pad1;
  size_t stride;
  void *data;
} VtScreenBufferChannel;

typedef struct VtScreenBuffer VtScreenBuffer;

/* The procedures the compositing controls select (null: none). */
typedef void (*VtScreenBufferCombineProc)(float *destination, const float *source, float weight, uint32_t n);
typedef uint32_t (*VtScreenBufferStencilTestProc)(uint32_t stencil, uint32_t reference);
typedef void (*VtScreenBufferStencilOpProc)(uint8_t *stencil, uint32_t reference);

/* A screen buffer. 272 bytes. */
struct VtScreenBuffer {
  uint32_t tag;           /* 69 while live */
  uint32_t mask;          /* channels with storage */
  uint32_t width, height; /* pixels */
  uint32_t depth_test;
  uint32_t stencil;
  uint32_t stencil_test;
  uint8_t stencil_reference;
  uint8_t stencil_mask;
  uint8_t pad[2];
  uint32_t stencil_op;
  uint32_t stencil_fail_op;
  uint32_t accumulate;
  float weight;
  uint32_t combine;
  uint32_t alpha_blend;
  VtScreenBufferChannel channels[4]; /* colour, alpha, depth, stencil */
  uint32_t region[4];                /* x0, x1, y0, y1, inclusive */
  VtScreenBufferCombineProc combine_proc;
  VtScreenBufferStencilOpProc stencil_op_proc;
  VtScreenBufferStencilOpProc stencil_fail_proc;
  VtScreenBufferStencilTestProc stencil_test_proc;
  VtScreenBuffer *next;
};

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(VtScreenBufferChannel) == 40 && offsetof(VtScreenBufferChannel, count) == 8 &&
                  offsetof(VtScreenBufferChannel, stride) == 24 &&
                  offsetof(VtScreenBufferChannel, data) == 32,
              "screen buffer channel layout");
static_assert(offsetof(VtScreenBuffer, width) == 8 && offsetof(VtScreenBuffer, stencil_reference) == 28 &&
                  offsetof(VtScreenBuffer, weight) == 44 && offsetof(VtScreenBuffer, channels) == 56 &&
                  offsetof(VtScreenBuffer, region) == 216 && offsetof(VtScreenBuffer, next) == 272 - 8,
              "screen buffer layout");
static_assert(sizeof(VtScreenBuffer) == 272, "screen buffer layout");
#endif

#endif /* VO_SCREENBUF_H */
