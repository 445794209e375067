/*
 * The shader kernel's shared vocabulary (module voshader, number 5): shader
 * type codes, entry slots, controls, the entry-procedure types, and the
 * records that renderers, shader libraries and the kernel read by layout:
 * shader classes (VtShaderPrototype), shader instances (VtShader), the shader
 * globals (VtShaderGlobals), light records (VtLightData) with their shadow
 * maps and area-light samplers, and the ray and hit records.
 *
 * Layout rules: every record is laid out for 64-bit code, pointers and
 * procedure words 8 bytes wide. Offsets of the shader globals are answered by
 * VoShaderFindGlobalOffset and equal offsetof here; libraries look them up
 * once and keep them. "xi", "yi", "xp", "yp", "xf" and "yf" are floats.
 * Colour, point and vector arguments travel in a VtTypedValue as three floats
 * from its value field on.
 *
 * Libraries fetch the globals per call with VoShaderGetGlobals (each worker
 * context has its own record), never keep a pointer taken at creation.
 *
 * This header is plain C (C99) and C++ compatible. <vo/vo_api.h> declares the
 * typedef names VtShader, VtMaterial, VtPrimitive, VtPolygon and VtReference.
 */
#ifndef VO_SHADER_H
#define VO_SHADER_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtShader;
struct VtMaterial;
struct VtPrimitive;
struct VtPolygon;
struct VtTransform;
struct VtTexture;
struct VtReference;

/* ------------------------------------------------------------------ */
/* Shader types, entry slots, controls                                 */
/* ------------------------------------------------------------------ */

#define VO_SHADER_COLOUR 0x50001u
#define VO_SHADER_REFLECTANCE 0x50002u
#define VO_SHADER_TRANSPARENCY 0x50003u
#define VO_SHADER_DISPLACEMENT 0x50004u
#define VO_SHADER_TEXTURE_SPACE 0x50005u
#define VO_SHADER_FOREGROUND 0x50006u
#define VO_SHADER_BACKGROUND 0x50007u
#define VO_SHADER_LIGHT 0x50008u
/* The second reflectance: the point shader of a material, a reflectance
 * class held in its own slot; it has no classes of its own. */
#define VO_SHADER_SECOND_REFLECTANCE 0x50009u
#define VO_SHADER_FILTER 0x5000au
#define VO_SHADER_TYPES 11u /* ten standard types and one extra */

/* Entry slots (VoShaderSetEntry, VoShaderGetEntry, VoShaderExecuteEntry). */
#define VO_SLOT_NONE 1u
#define VO_SLOT_EVALUATE 2u       /* (data) */
#define VO_SLOT_EVALUATE_IMAGE 3u /* (data), images in mode 3 */
#define VO_SLOT_PREPARE 4u        /* (data) */
#define VO_SLOT_INITIALISE 5u     /* (data) */
#define VO_SLOT_RELEASE 6u        /* (data) */
#define VO_SLOT_CREATE 7u         /* () -> data */
#define VO_SLOT_DESTROY 8u        /* (data) */
#define VO_SLOT_GET_ARG 9u        /* (data, index, out typed value) */
#define VO_SLOT_SET_ARG 10u       /* (data, index, typed value) */
#define VO_SLOT_PRERENDER 11u     /* (data) */
/* Extension entries: codes 100 to 144 and 146 (145 addresses nothing). */
#define VO_EXTENSION_FIRST 100u
#define VO_EXTENSION_LAST 146u
#define VO_EXTENSION_ENTRIES 46u

/* Controls (VoControlSet, VoControlGet). */
#define VO_CONTROL_SHADER_SHADOWS 0x50005u             /* VtBoolean, 1 */
#define VO_CONTROL_SHADER_RAY_SHADOWS 0x50006u         /* VtBoolean, 1 */
#define VO_CONTROL_SHADER_SHADOW_TRANSPARENCY 0x50007u /* VtFlags, 0 */
#define VO_CONTROL_SHADER_CLAMP 0x50008u               /* VtBoolean, 1 */
#define VO_CONTROL_SHADER_SECOND_LIGHT_PASS 0x5000bu   /* VtBoolean, 0 */
#define VO_CONTROL_SHADER_NOISE_FAMILY 0x50009u        /* VtEnum, 1 */
#define VO_CONTROL_SHADER_IMPULSES_PER_CELL 0x5000au   /* VtNat32, 1 */
#define VO_CONTROL_SHADER_LIGHTING_MODE 0x5000du       /* VtEnum, 1 */
#define VO_CONTROL_SHADER_CLAMP_MAXIMUM 0x5000eu       /* VtDouble, 1.0 */
/* VO_CONTROL_SHADER_SHADOW_TRANSPARENCY governs traced shadows (a light
 * casting shadows with "shadow resolution" 0 while ray shadows are on, and
 * area lights' samples): 0 lets every surface a shadow ray meets block the
 * light, so glass casts a black shadow; any other value looks through the
 * surface met: a transparency shader with alpha below 1 or a tint passes
 * light tinted by the surface's colour, and a glass or dielectric
 * reflectance passes its "transmission factor" times the surface's colour.
 * Bit 0x4 also sets up the hit's vertex state (texture coordinates) for
 * those shaders; bit 0x10 runs the surface's displacement shader at the
 * hit first. Shadow depth maps do not read it. */

/* ------------------------------------------------------------------ */
/* Entry procedures                                                    */
/* ------------------------------------------------------------------ */

typedef VtStatus (*VtShaderDataProc)(void *data);                                     /* slots 2-6, 8, 11 */
typedef void *(*VtShaderCreateProc)(void);                                            /* slot 7 */
typedef VtStatus (*VtShaderArgProc)(void *data, uint32_t index, VtTypedValue *value); /* 9, 10 */
/* Called by VoShaderLazyEvaluateShadeableColour with the flag word it set. */
typedef void (*VtShadeableCallback)(uint32_t *flag);
/* Height functions of the perturbed normals. */
typedef double (*VtHeightFunction3D)(const float *point, void *data);
typedef double (*VtHeightFunction2D)(double s, double t, void *data);

/* Noise families (control 0x50009). */
#define VO_NOISE_CLASSIC 0
#define VO_NOISE_PERLIN 1
#define VO_NOISE_SPARSE_CONVOLUTION 2

/* ------------------------------------------------------------------ */
/* Classes and instances                                               */
/* ------------------------------------------------------------------ */

/* What a class's display name begins with, recorded at registration so that
 * no per-point code compares names. */
#define VO_CLASS_NAME_OTHER 0u
#define VO_CLASS_NAME_NONE 1u       /* "none" */
#define VO_CLASS_NAME_GLASS 2u      /* "glass" */
#define VO_CLASS_NAME_DIELECTRIC 3u /* "dielectric" */
#define VO_CLASS_NAME_UV 4u         /* "uv" */

/* A shader class: one per registered class, kept in its type's list in
 * ascending byte order of display names. */
typedef struct VtShaderPrototype {
  struct VtShaderPrototype *previous;
  struct VtShaderPrototype *next;
  uint32_t type;
  const char *name; /* display name, in the class's string table */
  uint32_t parameterCount;
  const char **labels;         /* parameterCount label pointers, or null */
  uint32_t raytrace;           /* declared "raytrace" */
  uint32_t specialGlobals;     /* declared a texture-coordinate global */
  uint32_t globalsKnown;       /* globals registered when the class was made */
  uint32_t nameKind;           /* VO_CLASS_NAME_..., in the padding before the next pointer */
  unsigned char *globalUse;    /* globalsKnown bytes, 1 = used */
  VtShaderArgProc getArg;      /* slot 9 */
  VtShaderCreateProc create;   /* slot 7 */
  VtShaderDataProc initialise; /* slot 5 */
  VtShaderDataProc prerender;  /* slot 11 */
  VtShaderArgProc setArg;      /* slot 10 */
  /* Evaluate may run on several worker threads at once in a threaded pass
   * of the work farm: it must treat its instance data as read-only and keep
   * what it works out per call. A class that writes its instance data while
   * evaluating is unsafe there; control 0x520001 = 0 keeps one thread. */
  VtShaderDataProc evaluate;              /* slot 2 */
  VtShaderDataProc evaluateImage;         /* slot 3 */
  VtShaderDataProc destroy;               /* slot 8 */
  VtShaderDataProc prepare;               /* slot 4 */
  VtShaderDataProc release;               /* slot 6 */
  VtProc extension[VO_EXTENSION_ENTRIES]; /* codes 100-144, then 146 */
} VtShaderPrototype;

/* A shader instance. The first 32-bit word of its data is the prepared
 * flag. */
struct VtShader {
  struct VtShader *link; /* the light chain */
  VtShaderPrototype *cls;
  uint32_t type; /* as created: 0x50009 for a second reflectance */
  void *data;
  uint32_t references;
  uint32_t check; /* the library's own word (in what was padding): set while the shader is live */
};

/* The argument of VoShaderExecuteEntry for slots 9 and 10: the parameter
 * index in the first record's value word, the value in the second, 32 bytes
 * on. */
typedef struct VtShaderEntryArgs {
  VtTypedValue index;
  VtTypedValue value;
} VtShaderEntryArgs;

/* ------------------------------------------------------------------ */
/* Shader globals                                                      */
/* ------------------------------------------------------------------ */

struct VtLightData;

/* An evaluate entry chosen per polygon with the data it is called with. */
typedef struct VtShaderCall {
  VtShaderDataProc entry;
  void *data;
} VtShaderCall;

/* A shader wrapped by a filter shader: its own evaluate entry and data, and
 * the filter's "map func" value. */
typedef struct VtShaderFilterWrap {
  VtShaderDataProc entry;
  void *data;
  void *mapFunc;
} VtShaderFilterWrap;

typedef struct VtShaderGlobals {
  uint32_t header[8]; /* offset 0 names no global */
  /* The 48 standard globals. */
  struct VtPrimitive *prim;
  struct VtPolygon *poly;
  float *Ci;
  float *dPds;
  float *dPdt;
  float *dPdu;
  float *dPdv;
  float *N;
  float *P;
  float *Pw;
  float *Ti;
  struct VtScreenBuffer *Bi; /* post-process input buffer */
  struct VtScreenBuffer *Bo; /* post-process output buffer */
  float alpha;
  float Cb[3];
  float Co[3];
  float ds, dt, du, dv;
  float E[3];
  float I[3];
  float modI;
  float Ng[3];
  float s, t;
  float To[3];
  float u;
  float unitI[3];
  float v;
  float xi, yi, xs, ys;
  float kgauss, kmean, kabs, kmin, kmax;
  int32_t phong_power;
  int32_t specular_power;
  float xp, yp;
  float xf, yf;
  float Fwidth, Fheight;
  uint32_t reverse;
  /* Kernel fields. */
  uint32_t twoSided;
  uint32_t receivesShadows;
  uint32_t preLitAddLights;  /* primitive flag 0x100000 */
  uint32_t preLitSampleArea; /* primitive flag 0x200000 */
  uint32_t preLit;           /* primitive flag 0x80000 */
  uint32_t lightsEvaluated;
  uint32_t areaPassDone;
  uint32_t textureHandedness;
  float PStorage[3];
  float PwStorage[3];
  float NStorage[3];
  float CiStorage[3];
  float dPdsStorage[3];
  float dPdtStorage[3];
  struct VtShaderGlobals *stackTop; /* the last pushed copy */
  struct VtLightData *currentLights;
  struct VtLightData *litLights;
  float ambientColour[3];
  struct VtMaterial *material;
  struct VtShader *foreground;
  VtShaderCall foregroundCall;
  VtShaderCall textureSpaceCall;
  /* Byte offsets of vertex properties, negative when absent. */
  int32_t vertexPosition;     /* 0x401 */
  int32_t vertexColour;       /* 0x404 */
  int32_t vertexTransparency; /* 0x40b */
  int32_t vertexNormal;       /* 0x406 */
  int32_t vertexTexture;      /* 0x40a */
  int32_t vertexSurface;      /* 0x407 */
  int32_t vertexSurfaceWidth; /* 0x408 */
  int32_t vertexDerivatives;  /* 0x409 */
  int32_t vertexCurvature[5]; /* 0x414-0x418 */
  struct VtTransform *transform;
  float lightVector[3]; /* left by a kind-4 light class */
  float lightColour[3];
  float preLitScale;
  /* Per-polygon material set-up. */
  struct VtShader *textureSpace;
  VtShaderCall colourCall;
  VtShaderCall transparencyCall;
  VtShaderCall reflectanceCall;
  VtShaderCall displacementCall;
  VtShaderFilterWrap colourWrap;
  VtShaderFilterWrap reflectanceWrap;
  VtShaderFilterWrap displacementWrap;
} VtShaderGlobals;

#define VO_SHADER_GLOBALS_STANDARD 48u

/* ------------------------------------------------------------------ */
/* Lights                                                              */
/* ------------------------------------------------------------------ */

/* Light kinds. */
#define VO_LIGHT_AMBIENT 0
#define VO_LIGHT_DISTANT 1
#define VO_LIGHT_POINT 2
#define VO_LIGHT_SPOT 3
#define VO_LIGHT_GONIOMETRIC 4 /* and sky */
#define VO_LIGHT_EYE 5
#define VO_LIGHT_AREA 6
#define VO_LIGHT_PROJECTOR 7
#define VO_LIGHT_TRANSIENT 8

/* One cropped depth map: data covers the inclusive texel window. */
typedef struct VtShadowMap {
  float *data;
  int32_t x0, x1, y0, y1;
} VtShadowMap;

/* An area light's sampling operations (the area light's own names in the
 * comments). */
typedef struct VtAreaLightSampler {
  VtStatus (*prepare)(struct VtAreaLightSampler *sampler); /* build, once per image */
  VtStatus (*release)(struct VtAreaLightSampler *sampler); /* release, at image end */
  VtStatus (*begin)(struct VtAreaLightSampler *sampler, struct VtPrimitive *primitive,
                    struct VtPolygon *polygon, const float *point, const float *normal, uint32_t shadow,
                    void **handle);                                             /* select */
  VtStatus (*end)(void *handle);                                                /* free selection */
  VtStatus (*first)(void *handle, void *unused1, void *unused2, void **cursor); /* first sample */
  VtStatus (*finish)(void *handle, void *cursor);                               /* finish */
  VtStatus (*next)(void *handle, void *cursor, void *unused1, void *unused2, void *unused3,
                   uint32_t *more);                           /* refine */
  VtStatus (*fetch)(void *handle, void *cursor, void **item); /* the sample at the cursor */
} VtAreaLightSampler;

/* What begin hands out: the single-sample flag and a ring of samples. */
typedef struct VtAreaLightSelection {
  uint32_t singleSample;
  struct VtReference *samples;
} VtAreaLightSelection;

typedef struct VtAreaLightSample {
  VtColour colour;
  float direction[3]; /* unit, from the point toward the sample */
  float distance;
  float distanceSquared;
  float cosine; /* between the normal and the direction */
} VtAreaLightSample;

typedef double (*VtLightFallOffProc)(int32_t mode, void *data, double distance, double distanceSquared);
typedef double (*VtLightShadowProc)(const float *point, void *unused, const float *normal,
                                    struct VtLightData *light);

#define VO_LIGHT_CLASS_AREA_BYTES 256u

/* A light shader's instance data. Every light record, made by a light class
 * or by the kernel, is exactly sizeof(VtLightData). */
typedef struct VtLightData {
  uint32_t prepared;
  float position[3];
  float fromPoint[3];
  float toPoint[3];
  int32_t fallOffMode;
  VtProc classFallOff;
  VtProc fallOff;
  void *fallOffData;
  float coneAngle;
  float spotExponent;
  int32_t castsShadows;
  int32_t shadowResolution;
  struct VtPrimitive *areaGeometry;
  struct VtTexture *projectorTexture;
  float projectorOrigin[3];
  const VtShaderPrototype *lightClass;
  int32_t kind;
  struct VtLightData *self;
  int32_t shadowValid;
  float shadowHither;
  void *shadowViewValue;
  int32_t shadowMapSide;
  float pcfHalfWidth, pcfHalfHeight;
  float axisU[3];
  float axisV[3];
  float up[3];
  float shadowWindowSize;
  float shadowWindowInverse;
  float planeOffset;
  int32_t pcfSamplesX, pcfSamplesY;
  float pcfStepX, pcfStepY;
  float pcfJitterX, pcfJitterY;
  VtColour colour;
  float direction[3];
  float cosOuter, cosInner;
  struct VtLightData *nextCurrent;
  struct VtLightData *nextLit;
  int32_t lit;
  float toLight[3];
  float distanceSquared, distance;
  float nDotToLight;
  float axisDotToLight;
  float cosAxis;
  float intensity;
  VtColour colourAtPoint;
  VtLightShadowProc classShadow;
  VtLightShadowProc shadow;
  int32_t shadowMapBytes;
  VtShadowMap shadowMaps[6];
  float visibility;
  VtAreaLightSampler areaSampler;
  int32_t areaPrepared, areaStarted;
  /* Into the globals of the light's context, for kind-4 classes. */
  float **globalsPw;
  float *globalsLightVector;
  float *globalsLightColour;
  /* The light class's own words (VtBasicLightWords, VtAdvancedLightWords). */
  union {
    unsigned char bytes[VO_LIGHT_CLASS_AREA_BYTES];
    void *align;
  } classArea;
} VtLightData;

/* The class words of the built-in lights: arguments and derived values the
 * kernel does not read. */
typedef struct VtBasicLightWords {
  float intensity;
  VtColour colour;
  VtProc inverseFallOff;
  float coneDeltaAngle;
  int32_t shadowQuality;
  float shadowSoftness;
  VtColour power;
  float effectiveSoftness;
  float shadowBias;
  int32_t minimumSamples, maximumSamples;
  float colourTemperature;
  uint32_t intensityUnits; /* 1 undefined, 2 candela, 3 kilocandela */
  uint32_t scattering;
  uint32_t further;
} VtBasicLightWords;

/* The class words of the goniometric, sky, area and projector lights. */
typedef struct VtAdvancedLightWords {
  float intensity;
  VtColour colour;
  VtProc inverseFallOff;
  int32_t shadowQuality;
  float shadowSoftness;
  float shadowBias;
  uint32_t scattering;
  uint32_t built; /* area: the two build flags */
  uint32_t buildStarted;
  void *emitters;  /* area: the emitter table */
  float beam;      /* projector */
  void *classData; /* photometric data and the like */
} VtAdvancedLightWords;

/* ------------------------------------------------------------------ */
/* Ray and hit records                                                 */
/* ------------------------------------------------------------------ */

/* The settings record a ray's owner points at with its first word: the
 * kernel derives the ray's three flags from it. */
typedef struct VtRayOwnerSettings {
  uint32_t shadowSwitch;      /* with the create flag: a shadow ray */
  uint32_t transparentSwitch; /* through transparent surfaces */
  int32_t count;              /* 0: opaque only; positive: through transparent surfaces */
} VtRayOwnerSettings;

#define VO_RAY_TAG 171u

typedef struct VtRayRecord {
  void *owner;
  uint32_t tag; /* 171 */
  float origin[3];
  float direction[3];
  uint32_t shadowRay;
  uint32_t throughTransparent;
  uint32_t opaqueOnly;
  uint32_t ownerWords[3];
  float distance;              /* -1.0 when made */
  uint32_t shadowTransparency; /* control 0x50007 */
  uint32_t spare[2];
} VtRayRecord;

typedef struct VtHitHalf {
  float point[3];
  uint32_t words[10];
} VtHitHalf;

typedef struct VtHitRecord {
  VtHitHalf halves[2];
  uint32_t word;
  float distances[2];
  uint32_t last;
} VtHitRecord;

/* ------------------------------------------------------------------ */
/* Shade contexts                                                      */
/* ------------------------------------------------------------------ */

struct VtShadeContext; /* opaque: read and written through its accessors */

/* A ring node of shade contexts, one per polygon vertex. */
typedef struct VtShadeContextReference {
  struct VtShadeContextReference *next;
  struct VtShadeContext *context;
} VtShadeContextReference;

/* What a filter's sampling loop runs at each sample that passes its test:
 * shades the point of the context and leaves the value in it. */
typedef VtStatus (*VtFilterSampleProc)(struct VtShadeContext *context, VtShaderGlobals *globals);

#ifdef __cplusplus
}

static_assert(sizeof(VtShader) == 40 && offsetof(VtShader, data) == 24 &&
                  offsetof(VtShader, references) == 32,
              "shader record layout");
static_assert(offsetof(VtShaderPrototype, name) == 24 && offsetof(VtShaderPrototype, labels) == 40,
              "shader record layout");
static_assert(offsetof(VtShaderPrototype, getArg) == 72 && offsetof(VtShaderPrototype, extension) == 152,
              "shader record layout");
static_assert(sizeof(VtShaderPrototype) == 152 + 46 * 8, "shader record layout");
static_assert(sizeof(VtShaderEntryArgs) == 64 && offsetof(VtShaderEntryArgs, value) == 32,
              "shader record layout");
static_assert(offsetof(VtShaderGlobals, prim) == 32 && offsetof(VtShaderGlobals, Ti) == 112,
              "shader record layout");
static_assert(offsetof(VtShaderGlobals, Bi) == 120 && offsetof(VtShaderGlobals, Bo) == 128,
              "shader record layout");
static_assert(offsetof(VtShaderGlobals, alpha) == 136 && offsetof(VtShaderGlobals, Co) == 152,
              "shader record layout");
static_assert(offsetof(VtShaderGlobals, reverse) == 328 && offsetof(VtShaderGlobals, twoSided) == 332,
              "shader record layout");
static_assert(sizeof(VtShaderGlobals) <= 1008, "one globals record is one pool block");
static_assert(sizeof(VtShadowMap) == 24 && sizeof(VtAreaLightSampler) == 64, "shader record layout");
static_assert(offsetof(VtLightData, position) == 4 && offsetof(VtLightData, classFallOff) == 48,
              "shader record layout");
static_assert(offsetof(VtLightData, classArea) % 8 == 0, "shader record layout");
static_assert(sizeof(VtBasicLightWords) <= VO_LIGHT_CLASS_AREA_BYTES, "shader record layout");
static_assert(sizeof(VtAdvancedLightWords) <= VO_LIGHT_CLASS_AREA_BYTES, "shader record layout");
static_assert(sizeof(VtLightData) <= 1008, "light records come from a pool of sizeof(VtLightData) blocks");
static_assert(sizeof(VtRayRecord) == 8 + 17 * 4 + 4 && sizeof(VtHitRecord) == 30 * 4, "shader record layout");
static_assert(sizeof(VtRayOwnerSettings) == 12 && sizeof(VtAreaLightSample) == 36, "shader record layout");
#endif

#endif /* VO_SHADER_H */
