/*
 * Shared types of the mrvx20 rendering library: status words, typed values,
 * value-type codes, colours, bounds, module numbers and code helpers.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_TYPES_H
#define VO_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VO_EXPORT __attribute__((visibility("default")))
#else
#define VO_EXPORT
#endif

/* ------------------------------------------------------------------ */
/* Status words                                                        */
/* ------------------------------------------------------------------ */

/* The 32-bit status word of every operation; 0 is success. */
typedef uint32_t VtStatus;

#define VO_STATUS_OK 0x00000000u

/* Class bits. */
#define VO_CLASS_ERROR 0x40000000u
#define VO_CLASS_WARNING 0x20000000u
#define VO_CLASS_DEBUG 0x10000000u
#define VO_CLASS_PROGRESS 0x08000000u

/* Conditions (low bits). */
#define VO_COND_UNAVAILABLE 0x02u  /* module or operation not available */
#define VO_COND_NO_MEMORY 0x06u    /* out of memory */
#define VO_COND_BAD_ARGUMENT 0x12u /* bad argument, wrong object, unsupported code */
#define VO_COND_INTERRUPTED 0x40u  /* interrupted */
#define VO_COND_NOT_STARTED 0x82u  /* not initialised / not installed */

/* Common composite answers. */
#define VO_STATUS_NO_MEMORY (VO_CLASS_WARNING | VO_COND_NO_MEMORY)           /* 0x20000006 */
#define VO_STATUS_BAD_ARGUMENT (VO_CLASS_WARNING | VO_COND_BAD_ARGUMENT)     /* 0x20000012 */
#define VO_STATUS_NOT_INITIALISED (VO_CLASS_WARNING | VO_COND_NOT_STARTED)   /* 0x20000082 */
#define VO_STATUS_ERROR_NO_MEMORY (VO_CLASS_ERROR | VO_COND_NO_MEMORY)       /* 0x40000006 */
#define VO_STATUS_ERROR_BAD_ARGUMENT (VO_CLASS_ERROR | VO_COND_BAD_ARGUMENT) /* 0x40000012 */
#define VO_STATUS_DEBUG_NOT_STARTED (VO_CLASS_DEBUG | VO_COND_NOT_STARTED)   /* 0x10000082 */
#define VO_STATUS_UNAVAILABLE 2u   /* bare: a code of a missing module/procedure */
#define VO_STATUS_UNKNOWN_CODE 18u /* bare: a code the system module does not know */
#define VO_STATUS_NO_KERNEL 130u   /* bare: a control before the kernel exists */

/* ------------------------------------------------------------------ */
/* Value-type codes                                                    */
/* ------------------------------------------------------------------ */

enum VtValueType {
  VtVoid = 0,
  VtInt32 = 1,
  VtNat32 = 2,
  VtFloat = 3,
  VtDouble = 4,
  VtEnum = 5,
  VtBoolean = 6,
  VtColourType = 7, /* value type of a VtColour record */
  VtVector = 8,
  VtPoint = 9,
  VtString = 10,
  VtGenericPtr = 11,
  VtHandle = 12,      /* an opaque library object handle */
  VtInt32Array = 13,  /* the address of 32-bit integers */
  VtFloatArray = 14,  /* the address of floats */
  VtDoubleArray = 15, /* the address of doubles */
  VtWordAddress = 16, /* the address of one 32-bit integer or float */
  VtStatusType = 21,  /* value type of a VtStatus word */
  VtFunc = 22,
  VtData = 28,
  VtHPoint = 31,
  VtFlags = 39, /* a 32-bit flags word */
  VtDoublePoint = 42,
  VtDoubleVector = 43,
  VtBoundsType = 44, /* value type of a VtBounds record */
  VtNat8 = 45,
  VtComplex = 48,
  VtColour4 = 49,
  VtShaderColour = 52 /* a colour given as a shader (compatibility key) */
};

/* ------------------------------------------------------------------ */
/* Procedures and typed values                                         */
/* ------------------------------------------------------------------ */

/* A generic procedure as kept in callback slots and typed values; call sites
 * cast it to the procedure's real type. */
typedef void (*VtProc)(void);

/* A typed value: type code at offset 0, a pad word at 4 and a 24-byte value
 * area at 8; 32 bytes in all. Scalars, pointers and procedures sit at 8;
 * colours, points and vectors run three floats from 8 on, bounds six floats,
 * double points and vectors three doubles, so every value type travels by
 * value. Arrays of typed values (diagnostic arguments, property data records)
 * lie 32 bytes apart. Type code 0 means "no answer". */
typedef struct VtTypedValue {
  uint32_t type;
  uint32_t pad;
  union {
    int32_t i;
    uint32_t u;
    float f;
    double d;
    void *p;
    const char *s;
    VtProc fn;
    uint64_t bits;
    float v[6];
    double dv[3];
  } value;
} VtTypedValue;

/* ------------------------------------------------------------------ */
/* Small shared records                                                */
/* ------------------------------------------------------------------ */

/* Three floats red, green, blue. */
typedef struct VtColour {
  float red, green, blue;
} VtColour;

/* Six floats xmin, xmax, ymin, ymax, zmin, zmax. */
typedef struct VtBounds {
  float xmin, xmax, ymin, ymax, zmin, zmax;
} VtBounds;

/* ------------------------------------------------------------------ */
/* Module protocol                                                     */
/* ------------------------------------------------------------------ */

/* A module's query function: (query code, answer out) -> status (ignored). */
typedef VtStatus (*VtQueryFunction)(uint32_t query, VtTypedValue *answer);
typedef VtStatus (*VtControlSetProc)(uint32_t code, const VtTypedValue *value);
typedef VtStatus (*VtControlGetProc)(uint32_t code, VtTypedValue *value);
typedef VtStatus (*VtModuleProc)(void);
typedef VtStatus (*VtExecuteProc)(uint32_t code);
/* direction 0 get, 1 set; slot points to the procedure word. */
typedef VtStatus (*VtCallBackProc)(uint32_t direction, uint32_t code, VtProc *slot);
/* The progress callback, 0x1000c: (module number, a VtDouble percentage) -> status. */
typedef VtStatus (*VtProgressProc)(uint32_t module, VtTypedValue *percentage);
/* The error handler, callback 0x10000. */
typedef VtStatus (*VtErrorHandler)(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                                   VtTypedValue *args);

/* Query codes. */
enum VtModuleQuery {
  VO_QUERY_CONTROL_SET = 1,
  VO_QUERY_CONTROL_GET = 2,
  VO_QUERY_INTERFACE_LEVEL = 3,
  VO_QUERY_MODULE_NUMBER = 4,
  VO_QUERY_START = 5,
  VO_QUERY_REGISTRY_NAME = 6,
  VO_QUERY_MEMORY_RELEASE = 7,
  VO_QUERY_EXECUTE = 8,
  VO_QUERY_TERMINATE = 9,
  VO_QUERY_CALLBACKS_CHANGED = 10,
  VO_QUERY_BANNER = 11,
  VO_QUERY_CALLBACK = 12,
  VO_QUERY_VERSION = 13,
  VO_QUERY_BUILD_KIND = 14,
  VO_QUERY_BUILD_TIME = 15,
  VO_QUERY_OBSOLETE_FLAG = 16,
  VO_QUERY_COMPATIBILITY = 17
};

#define VO_INTERFACE_LEVEL 4
#define VO_MODULE_VERSION 0x04050000u
#define VO_BUILD_KIND "sod_"

/* Module numbers. */
enum VtModuleNumber {
  VO_MODULE_SYSTEM = 1,
  VO_MODULE_GEOMETRY = 2,
  VO_MODULE_POLYGONS = 3,
  VO_MODULE_INTERPRETER = 4,
  VO_MODULE_SHADER = 5,
  VO_MODULE_RAYTRACER = 7,
  VO_MODULE_VIEW = 9,
  VO_MODULE_WIREFRAME = 10,
  VO_MODULE_STANDARD_RENDERER = 12,
  VO_MODULE_TRANSFORMS = 15,
  VO_MODULE_SELECTION = 16,
  VO_MODULE_MEMORY = 17,
  VO_MODULE_GEOMETRY_OPERATORS = 22,
  VO_MODULE_HIDDEN_LINE = 25,
  VO_MODULE_DRIVER = 26,
  VO_MODULE_ADVANCED_RENDERER = 32,
  VO_MODULE_BMP = 38,
  VO_MODULE_TARGA = 39,
  VO_MODULE_PHOTOMETRY = 66,
  VO_MODULE_POSTPROCESS = 68,
  VO_MODULE_SCREEN_BUFFER = 69,
  VO_MODULE_MESH_IO = 70,
  VO_MODULE_SUPER_LITE = 73,
  VO_MODULE_LITE = 74,
  VO_MODULE_CLASSIC = 75,
  VO_MODULE_PRO = 76,
  VO_MODULE_JPEG = 79,
  VO_MODULE_COLOUR_UTILITIES = 81,
  VO_MODULE_MULTITHREAD = 82,
  VO_MODULE_NPR = 96,
  VO_MODULE_FILTER = 98,
  VO_MODULE_OPENGL = 111,
  VO_MODULE_OBJECT_IO = 112,
  VO_MODULE_OPENGL_DRIVERS = 116,
  VO_MODULE_QUICKTIME = 119,
  VO_MODULE_DIRECT3D = 25651
};

/* A control, callback, execute or operation code: (module << 16) | index. */
#define VO_CODE(module, index) ((((uint32_t)(module)) << 16) | ((uint32_t)(index)&0xFFFFu))
#define VO_CODE_MODULE(code) (((uint32_t)(code)) >> 16)
#define VO_CODE_INDEX(code) (((uint32_t)(code)) & 0xFFFFu)

/* System module controls. */
#define VO_CONTROL_MESSAGE_FILE 0x10001u  /* VtGenericPtr: the FILE of message texts (null) */
#define VO_CONTROL_ERROR_STREAM 0x10002u  /* VtGenericPtr: FILE for diagnostics (null: driver channel) */
#define VO_CONTROL_SEVERITY_MASK 0x10003u /* VtNat32: class bits printed (0xffffffff) */
#define VO_CONTROL_DEBUG_LEVEL 0x10004u
/* The journal: every exported call the application makes, written as a
 * script the command interpreter replays. It is written while bit 0 of the
 * flags is set and a file is named; the flags must be given as VtFlags,
 * the file as VtGenericPtr, the name as VtString (else 0x20000012). */
#define VO_CONTROL_JOURNAL_FILE 0x10005u  /* VtGenericPtr: the FILE written to, opened for writing (null) */
#define VO_CONTROL_JOURNAL_FLAGS 0x10006u /* VtFlags: bit 0 journal on (0) */
#define VO_CONTROL_STICKY_STATUS 0x10007u
#define VO_CONTROL_FREE_CHUNKS 0x10008u
#define VO_CONTROL_CHUNK_SIZE 0x10009u
#define VO_CONTROL_JOURNAL_NAME 0x1000au /* VtString: a name kept for the application, copied ("") */
#define VO_CONTROL_REPEAT_COUNT 0x1000bu
#define VO_CONTROL_TIMING 0x1000cu
#define VO_CONTROL_TIME_VALUE 0x1000du
#define VO_CONTROL_COMPACT_SUBPOOLS 0x1000eu
#define VO_CONTROL_BIG_CHUNK_SIZE 0x10011u
#define VO_CONTROL_COMPACT_THRESHOLD 0x10012u
#define VO_CONTROL_DRIVER_MODE 0x1a0011u

/* System callbacks. */
#define VO_CALLBACK_ERROR_HANDLER 0x10000u
#define VO_CALLBACK_JOURNAL_OUTPUT 0x10001u
#define VO_CALLBACK_POOL_CREATE 0x10002u
#define VO_CALLBACK_POOL_DESTROY 0x10003u
#define VO_CALLBACK_BLOCK_ALLOCATE 0x10004u
#define VO_CALLBACK_BLOCK_FREE 0x10005u
#define VO_CALLBACK_POOL_RELEASE 0x10006u
#define VO_CALLBACK_HEAP_CREATE 0x10007u
#define VO_CALLBACK_HEAP_DESTROY 0x10008u
#define VO_CALLBACK_HEAP_ALLOCATE 0x10009u
#define VO_CALLBACK_HEAP_FREE 0x1000au
#define VO_CALLBACK_SPARE 0x1000bu
#define VO_CALLBACK_PROGRESS 0x1000cu
#define VO_CALLBACK_PRE_EXECUTE 0x1000du
#define VO_CALLBACK_POST_EXECUTE 0x1000eu
#define VO_CALLBACK_HEAP_MERGE 0x10010u
#define VO_CALLBACK_HEAP_COMPACT 0x10011u

/* Driver framework services reached through callbacks. */
#define VO_CALLBACK_DRIVER_MESSAGE 0x1a0017u
#define VO_CALLBACK_DRIVER_INTERRUPT 0x1a001au

/* System execute codes. */
#define VO_EXECUTE_MODULES_REPORT 0x10001u

/* The mode of VoFileOpen: one access in the low four bits, plus any of the
 * two flags. A file opened so is a stdio FILE; VoFileClose closes it. A
 * failed open answers null and posts 362, 363 or 364 (365: no such access)
 * once the kernel is started. A journal records the open, so its replay
 * writes the same file; a FILE the application opened itself is not
 * replayed. */
#define VO_FILE_READ 1u    /* an existing file, read from its start ("rb") */
#define VO_FILE_WRITE 2u   /* made, or emptied when it exists ("wb") */
#define VO_FILE_APPEND 3u  /* made when missing, written at its end ("ab") */
#define VO_FILE_QUIET 16u  /* flag: a file that cannot be opened posts nothing */
#define VO_FILE_UPDATE 32u /* flag: read and written both ("rb+", "wb+", "ab+") */

#ifdef __cplusplus
}
#endif

#endif /* VO_TYPES_H */
