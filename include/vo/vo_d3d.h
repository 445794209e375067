/* The Direct3D back end (module vod3d, 25651): its controls, execute codes,
 * the device identifier record that the DirectX version check fills, and
 * the reporter procedure of VoD3DInfo. The back end draws into a window of
 * the library's virtual desktop through its software DirectDraw/Direct3D
 * layer; bitmaps are the desktop's VtBitmap. */
#ifndef VO_D3D_H
#define VO_D3D_H

#include <stddef.h>
#include <stdint.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Controls (VoControlSet / VoControlGet); the type of each is given. */
#define VO_CONTROL_D3D_RESERVED 0x64330001u          /* VtGenericPtr: set ignored, get null */
#define VO_CONTROL_D3D_QUIET 0x64330002u             /* VtBoolean (false) */
#define VO_CONTROL_D3D_WINDOW 0x64330003u            /* VtGenericPtr: the VtWindow to draw into */
#define VO_CONTROL_D3D_HARDWARE_ONLY 0x64330004u     /* VtBoolean (false) */
#define VO_CONTROL_D3D_INSTANCE 0x64330005u          /* VtGenericPtr (null) */
#define VO_CONTROL_D3D_COLOUR_LIFT 0x64330006u       /* VtFloat (1.0) */
#define VO_CONTROL_D3D_AMBIENT_FACTOR 0x64330007u    /* VtFloat (1.0) */
#define VO_CONTROL_D3D_DIFFUSE_FACTOR 0x64330008u    /* VtFloat (1.0) */
#define VO_CONTROL_D3D_SPECULAR_FACTOR 0x64330009u   /* VtFloat (0.25) */
#define VO_CONTROL_D3D_POWER 0x6433000au             /* VtFloat (4.0) */
#define VO_CONTROL_D3D_VERTEX_MODE 0x6433000bu       /* VtEnum (1) */
#define VO_CONTROL_D3D_CULL_MODE 0x6433000cu         /* VtEnum (3) */
#define VO_CONTROL_D3D_FILL_MODE 0x6433000du         /* VtEnum (3) */
#define VO_CONTROL_D3D_SHADE_MODE 0x6433000eu        /* VtEnum (2) */
#define VO_CONTROL_D3D_TEXTURE_BLEND 0x6433000fu     /* VtEnum (2) */
#define VO_CONTROL_D3D_TEXTURE 0x64330010u           /* VtGenericPtr: a VtBitmap or null */
#define VO_CONTROL_D3D_NORMAL_COLOUR_X 0x64330011u   /* VtColour ((1, 0, 0)) */
#define VO_CONTROL_D3D_NORMAL_COLOUR_Y 0x64330012u   /* VtColour ((0, 1, 0)) */
#define VO_CONTROL_D3D_NORMAL_COLOUR_Z 0x64330013u   /* VtColour ((0, 0, 1)) */
#define VO_CONTROL_D3D_BACKGROUND_COLOUR 0x64330014u /* VtColour ((1, 1, 1)) */

/* Execute codes (VoExecute). */
#define VO_EXECUTE_D3D_NOTHING 0x64330001u
#define VO_EXECUTE_D3D_WINDOW_CREATE 0x64330002u
#define VO_EXECUTE_D3D_RENDER 0x64330003u
#define VO_EXECUTE_D3D_WINDOW_DESTROY 0x64330004u

/* Vertex modes (VO_CONTROL_D3D_VERTEX_MODE); any other value is mode 1. */
#define VO_D3D_VERTEX_LIT 1u     /* lit colours */
#define VO_D3D_VERTEX_HSV 2u     /* lit colours quantised in HSV */
#define VO_D3D_VERTEX_NORMAL 3u  /* colours from the normal */
#define VO_D3D_VERTEX_REFLECT 4u /* reflection-map texture coordinates */
#define VO_D3D_VERTEX_FACING 5u  /* facing ramp in u and v */
#define VO_D3D_VERTEX_RAMP 6u    /* facing ramp in u, the item's ramp row in v */

/* The DirectDraw device identifier (1064 bytes). The texts need not end in
 * a zero. */
typedef struct VtD3DDeviceIdentifier {
  char driver[512];
  char description[512];
  uint32_t driver_version_low;  /* the 64-bit driver version, low word */
  uint32_t driver_version_high; /* high word: product << 16 | version */
  uint32_t vendor_id;
  uint32_t device_id;
  uint32_t subsys_id;
  uint32_t revision;
  uint32_t guid_data1;
  uint16_t guid_data2;
  uint16_t guid_data3;
  uint8_t guid_data4[8];
} VtD3DDeviceIdentifier;

/* What VoD3DInfo calls once per pair of texts. */
typedef void (*VtD3DInfoProc)(void *user, const char *name, const char *value);

#ifdef __cplusplus
}

static_assert(sizeof(VtD3DDeviceIdentifier) == 1064, "device identifier layout");
static_assert(offsetof(VtD3DDeviceIdentifier, description) == 512 &&
                  offsetof(VtD3DDeviceIdentifier, driver_version_low) == 1024 &&
                  offsetof(VtD3DDeviceIdentifier, vendor_id) == 1032 &&
                  offsetof(VtD3DDeviceIdentifier, revision) == 1044 &&
                  offsetof(VtD3DDeviceIdentifier, guid_data1) == 1048 &&
                  offsetof(VtD3DDeviceIdentifier, guid_data4) == 1056,
              "device identifier layout");
#endif

#endif
