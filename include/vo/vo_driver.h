/*
 * The output-driver framework (module vodriver, number 26): raster points,
 * the procedure forms of the driver operations 0x1a0001-0x1a0038, the
 * sub-region record, the driver controls and the image record.
 *
 * A driver is described by a query function of the module form; the
 * framework answers its queries, builds a driver record from them and fills
 * every operation the driver leaves empty, so that every slot of a record
 * holds a procedure of its code's form below.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_DRIVER_H
#define VO_DRIVER_H

#include <stdio.h>

#include <vo/vo_draw.h>
#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A driver record, built by VoDriverCreate and owned by the framework. */
typedef struct VtDriverRecord VtDriverRecord;

/* A pixel position: two signed 32-bit integers. */
typedef struct VtRasterPoint {
  int32_t x, y;
} VtRasterPoint;

/* The region record of a sub-region: inclusive pixel bounds, then a word
 * that, when non-zero, makes the framework ignore the sub-region's blocks,
 * and a reserved word (0). */
typedef struct VtSubRegion {
  int32_t x0, x1, y0, y1;
  int32_t ignore;
  int32_t reserved;
} VtSubRegion;

/* An image in memory, owned by the framework's image list. 72 bytes. */
typedef struct VtImage {
  FILE *file;     /* the open stream while the image is read, else null */
  char *name;     /* the name it was read from (the framework's copy) */
  int32_t width;  /* pixels */
  int32_t height; /* pixels */
  uint8_t *data;  /* rows top to bottom, bytes_per_row bytes each */
  int32_t bits;   /* 24 (red, green, blue bytes) or 8 */
  /* The valid region, inclusive, which VoDriverCopyImage writes: x1 0 means
   * width - 1, y1 0 height - 1. A render into the image driver sets it to
   * the frame's rectangle, the viewport of a viewport render; set all four
   * to 0 to copy the whole image. */
  int32_t x0, x1;
  int32_t y0, y1;
  int32_t bytes_per_row;
  int32_t xoffset; /* added to pixel positions when copied to a driver */
  int32_t yoffset;
  int32_t mode; /* 0 true colour, 1 device pixels, 2 8-bit */
} VtImage;

#define VO_IMAGE_MODE_RGB 0
#define VO_IMAGE_MODE_DEVICE 1
#define VO_IMAGE_MODE_INDEXED 2

/* Procedure forms of the driver operations, one per argument signature.
 * One-byte arguments travel as uint32_t, open-role words as uintptr_t. */
typedef VtStatus (*VtDriverNoArgProc)(void);                       /* poll, open, close, ... */
typedef VtStatus (*VtDriverByteProc)(uint32_t byte);               /* 0x1a0008, 09, 1f */
typedef VtStatus (*VtDriverWordProc)(uintptr_t word);              /* 0x1a001b, 05, 15, 33, colour maps */
typedef VtStatus (*VtDriverTwoWordProc)(uintptr_t a, uintptr_t b); /* 0x1a0030, 34 */
typedef VtStatus (*VtDriverThreeWordProc)(uintptr_t a, uintptr_t b, uintptr_t c); /* 0x1a0021, 24 */
typedef VtStatus (*VtDriverFourWordProc)(uintptr_t a, uintptr_t b, uintptr_t c, uintptr_t d); /* 0x1a0025 */
typedef VtStatus (*VtDriverColourBytesProc)(const uint8_t *rgb);                       /* 0x1a000a, 0b */
typedef VtStatus (*VtDriverColourProc)(const VtColour *colour);                        /* 0x1a000c, 0d */
typedef VtStatus (*VtDriverFrameProc)(int32_t x0, int32_t x1, int32_t y0, int32_t y1); /* 0x1a0003 */
typedef VtStatus (*VtDriverImageProc)(VtImage *image);                                 /* 0x1a0018, 19 */
typedef VtStatus (*VtDriverRasterLineProc)(const VtRasterPoint *p0, const VtRasterPoint *p1); /* 0x1a001c */
typedef VtStatus (*VtDriverPointLineProc)(const float *p0, const float *p1); /* 0x1a001d, 1e */
typedef VtStatus (*VtDriverRasterPointProc)(const VtRasterPoint *p);         /* 0x1a0011 */
typedef VtStatus (*VtDriverPointProc)(const float *p);                       /* 0x1a0012, 13 */
typedef VtStatus (*VtDriverRowProc)(uint32_t y, void *pixels);               /* 0x1a000e, 0f, 10, 32 */
typedef int32_t (*VtDriverReadLineProc)(char *buffer, uint32_t size);        /* 0x1a0016 */
typedef VtStatus (*VtDriverMessageProc)(const char *text);                   /* 0x1a0017 */
typedef VtStatus (*VtDriverKindProc)(uint32_t kind);                         /* 0x1a0020 */
typedef VtStatus (*VtDriverColourMapEntriesProc)(uint32_t **entries, uint32_t count); /* 0x1a002d */
typedef VtStatus (*VtDriverColourMapImageProc)(VtImage **image);                      /* 0x1a002e */
typedef VtStatus (*VtDriverPrimitiveProc)(void *primitive);                           /* 0x1a002f */
typedef VtStatus (*VtDriverSubRegionProc)(const VtSubRegion *region);                 /* 0x1a0036 */
typedef VtStatus (*VtDriverBlockProc)(int32_t x, int32_t y, int32_t width, int32_t rows,
                                      const uint8_t *rgb); /* 0x1a0038 */
/* The image-read callback 0x1a0035: (file name) -> image or null. */
typedef VtImage *(*VtImageReadProc)(const char *name);
/* The operation look-up of a driver (its query 12): set flag, code, slot. */
typedef VtStatus (*VtDriverLookupProc)(uint32_t set, uint32_t code, VtProc *slot);

/* Operation codes (the driver callbacks of module 26). */
#define VO_DRIVER_OPEN 0x1a0001u
#define VO_DRIVER_CLOSE 0x1a0002u
#define VO_DRIVER_BEGIN_FRAME 0x1a0003u
#define VO_DRIVER_END_FRAME 0x1a0004u
#define VO_DRIVER_STROKE_BEGIN 0x1a0005u
#define VO_DRIVER_STROKE_END 0x1a0006u
#define VO_DRIVER_CLEAR 0x1a0007u
#define VO_DRIVER_COLOUR_BYTES 0x1a000au
#define VO_DRIVER_CLEAR_COLOUR_BYTES 0x1a000bu
#define VO_DRIVER_COLOUR 0x1a000cu
#define VO_DRIVER_CLEAR_COLOUR 0x1a000du
#define VO_DRIVER_ROW_DEVICE 0x1a000eu
#define VO_DRIVER_ROW_BYTES 0x1a000fu
#define VO_DRIVER_ROW_FLOAT 0x1a0010u
#define VO_DRIVER_PLOT_RASTER 0x1a0011u
#define VO_DRIVER_PLOT_WORLD 0x1a0012u
#define VO_DRIVER_PLOT_PROJECTED 0x1a0013u
#define VO_DRIVER_READ_LINE 0x1a0016u
#define VO_DRIVER_MESSAGE 0x1a0017u
#define VO_DRIVER_READ_IMAGE 0x1a0018u
#define VO_DRIVER_READ_HEADER 0x1a0019u
#define VO_DRIVER_POLL 0x1a001au
#define VO_DRIVER_LINE_RASTER 0x1a001cu
#define VO_DRIVER_LINE_WORLD 0x1a001du
#define VO_DRIVER_LINE_PROJECTED 0x1a001eu
#define VO_DRIVER_STYLE 0x1a001fu
#define VO_DRIVER_ACCEPT_OUTPUT 0x1a0020u
#define VO_DRIVER_DRAW 0x1a0022u
#define VO_DRIVER_REOPEN 0x1a0026u
#define VO_DRIVER_CONTROL_GET 0x1a0027u /* by-code access only */
#define VO_DRIVER_CONTROL_SET 0x1a0028u
#define VO_DRIVER_LOOKUP 0x1a0029u
#define VO_DRIVER_QUERY 0x1a002au
#define VO_DRIVER_COLOUR_MAP_ENTRIES 0x1a002du
#define VO_DRIVER_COLOUR_MAP_IMAGE 0x1a002eu
#define VO_DRIVER_PRIMITIVE_BEGIN 0x1a002fu
#define VO_DRIVER_ROW_FLOAT_RGBA 0x1a0032u
#define VO_DRIVER_IMAGE_READ 0x1a0035u /* the framework's image-read callback */
#define VO_DRIVER_SUB_REGION_BEGIN 0x1a0036u
#define VO_DRIVER_SUB_REGION_END 0x1a0037u
#define VO_DRIVER_WRITE_BLOCK 0x1a0038u

/* Output kinds of 0x1a0020. */
#define VO_DRIVER_OUTPUT_VECTOR 1
#define VO_DRIVER_OUTPUT_RASTER 2

/* Driver controls (VoControlSet/Get, VoDriverSetControl/GetControl). */
#define VO_CONTROL_DRIVER_NAME 0x1a0001u
#define VO_CONTROL_DRIVER_DESCRIPTION 0x1a0002u
#define VO_CONTROL_DRIVER_FILE_SUFFIX 0x1a0003u
#define VO_CONTROL_DRIVER_TITLE 0x1a0004u
#define VO_CONTROL_DRIVER_NBUFFERS 0x1a0005u
#define VO_CONTROL_DRIVER_BUFFER 0x1a0006u
#define VO_CONTROL_DRIVER_GAMMA 0x1a0007u
#define VO_CONTROL_DRIVER_CONVERSION 0x1a0008u
#define VO_CONTROL_DRIVER_WIDTH 0x1a0009u
#define VO_CONTROL_DRIVER_HEIGHT 0x1a000au
#define VO_CONTROL_DRIVER_BUFFERING 0x1a000bu
#define VO_CONTROL_DRIVER_CLEAR 0x1a000cu
#define VO_CONTROL_DRIVER_FILE 0x1a000du
#define VO_CONTROL_DRIVER_IMAGE 0x1a000eu
#define VO_CONTROL_DRIVER_XOFFSET 0x1a000fu
#define VO_CONTROL_DRIVER_YOFFSET 0x1a0010u
/* VO_CONTROL_DRIVER_MODE 0x1a0011 is in vo_types.h. */
#define VO_CONTROL_DRIVER_WINDOW 0x1a0012u
#define VO_CONTROL_DRIVER_COLOUR_MAP 0x1a0013u
#define VO_CONTROL_DRIVER_RGB_BASE 0x1a0014u
#define VO_CONTROL_DRIVER_RGB_SIZE 0x1a0015u
#define VO_CONTROL_DRIVER_RGB_R_MULT 0x1a0016u
#define VO_CONTROL_DRIVER_RGB_G_MULT 0x1a0017u
#define VO_CONTROL_DRIVER_RGB_B_MULT 0x1a0018u
#define VO_CONTROL_DRIVER_DITHER_AMP 0x1a0019u
#define VO_CONTROL_DRIVER_MAKE_CHILD 0x1a001au
#define VO_CONTROL_DRIVER_GREYSCALE_MIN 0x1a001bu
#define VO_CONTROL_DRIVER_COMPRESSION 0x1a001cu
#define VO_CONTROL_DRIVER_SET_AT_ORIGIN 0x1a001du
#define VO_CONTROL_DRIVER_PALETTE_CELLS 0x1a001eu
#define VO_CONTROL_DRIVER_CAPABILITY 0x1a001fu
#define VO_CONTROL_DRIVER_LOGICAL_UNITS 0x1a0020u
#define VO_CONTROL_DRIVER_SCALE 0x1a0021u
#define VO_CONTROL_DRIVER_RGB_R_MASK 0x1a0023u
#define VO_CONTROL_DRIVER_RGB_G_MASK 0x1a0024u
#define VO_CONTROL_DRIVER_RGB_B_MASK 0x1a0025u

/* The most pixels (width x height) an image file reader makes (VtNat32,
 * held by the framework itself): a file whose header declares more is
 * refused before its pixels are allocated. Values below 1 are refused with
 * 0x20000012. */
#define VO_CONTROL_IMAGE_PIXEL_LIMIT 0x1a0040u
#define VO_IMAGE_PIXEL_LIMIT_DEFAULT 0x10000000u /* 2^28 pixels */

/* Capability flags (VO_CONTROL_DRIVER_CAPABILITY, value type 39). */
#define VO_DRIVER_CAPABILITY_IMAGE 2u      /* the image driver */
#define VO_DRIVER_CAPABILITY_DEVICE 4u     /* shows device pixels: the display driver */
#define VO_DRIVER_CAPABILITY_SUB_REGION 8u /* renders sub-regions itself */

/* Bare answers of drivers: 256 refused, 258 not handled. */
#define VO_DRIVER_REFUSED 256u
#define VO_DRIVER_NOT_HANDLED 258u

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(VtRasterPoint) == 8, "raster point layout");
static_assert(sizeof(VtSubRegion) == 24 && offsetof(VtSubRegion, ignore) == 16, "sub-region layout");
static_assert(offsetof(VtImage, name) == 8 && offsetof(VtImage, width) == 16 && offsetof(VtImage, data) == 24,
              "image layout");
static_assert(offsetof(VtImage, bits) == 32 && offsetof(VtImage, bytes_per_row) == 52 &&
                  offsetof(VtImage, mode) == 64,
              "image layout");
static_assert(sizeof(VtImage) == 72, "image layout");
#endif

#endif /* VO_DRIVER_H */
