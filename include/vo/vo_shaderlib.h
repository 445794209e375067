/*
 * The layouts every shader library shares: the heads of instance data that
 * the shared entry procedures (VoShaderOneArgumentSet, VoShaderColourArgumentGet,
 * VoShaderFileNameInstanceFree, VoPlasticReflectancePrepare, ...) read and
 * write. A class whose entries include a shared body starts its instance data
 * with the matching head; its own words follow.
 *
 * Every head starts with the prepared flag (0: the derived values must be
 * made again). Argument words are 8 bytes wide, so a handle or procedure
 * stored through a word body survives whole; a float argument is the word's
 * first 4 bytes. A shadeable colour is three floats and the word of the
 * shader that may stand in for it (null when none).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_SHADERLIB_H
#define VO_SHADERLIB_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtShader;
struct VtTexture;
struct VtImage;

/* One argument word of the word bodies: 8 bytes, copied whole by set. */
typedef union VtShaderWord {
  float f;
  int32_t i;
  uint32_t u;
  void *p;
  const char *s;
  VtProc fn;
  uint64_t bits;
} VtShaderWord;

/* The head of classes served by the One/Two/Three word bodies: argument
 * index k lives in word[k]. Classes of fewer arguments leave the later words
 * unused. */
typedef struct VtShaderWordArgs {
  int32_t prepared;
  int32_t pad;
  VtShaderWord word[3];
} VtShaderWordArgs;

/* The head of classes served by the colour bodies: one shadeable colour. */
typedef struct VtShaderColourArg {
  int32_t prepared;
  float colour[3];
  struct VtShader *shader;
} VtShaderColourArg;

/* The head of classes served by the file-name bodies: the file name the
 * block owns (null reads as "") and the texture or image of word 2. */
typedef struct VtShaderFileNameArgs {
  int32_t prepared;
  int32_t pad;
  char *fileName;
  union {
    struct VtTexture *texture;
    struct VtImage *image;
  } handle;
} VtShaderFileNameArgs;

/* The head of plastic-like reflectances (plastic, phong, radiosity
 * plastic): four factors, the shadeable specular colour, and the derived
 * power, whole power and specular tint. The fourth factor is the roughness
 * (the phong's exponent). */
typedef struct VtPlasticParams {
  int32_t prepared;
  float ambientFactor;
  float diffuseFactor;
  float specularFactor;
  float roughness;
  float specularColour[3];
  struct VtShader *specularShader;
  float power;
  int32_t integerPower;
  float tint[3];
} VtPlasticParams;

/* The head of every post-process class (shader type 0x440001): the
 * prepared flag, then the mode word the post-process stage runs the class
 * by (way of running masked with 0x44000f, buffer mode with 0x4400f0). */
typedef struct VtPostprocessHead {
  int32_t prepared;
  uint32_t mode;
} VtPostprocessHead;

/* The head of post-process classes served by the post-process word bodies:
 * argument index k lives in word[k]; the mode word is left as it is. */
typedef struct VtPostprocessWordArgs {
  int32_t prepared;
  uint32_t mode;
  VtShaderWord word[3];
} VtPostprocessWordArgs;

/* The blue marble colours of the lite and NPR libraries (served by the
 * word bodies): "scale" in word 0, "detail" (an integer) in word 1, and
 * 1 / scale made by VoBlueMarbleColourPrepare. */
typedef struct VtBlueMarbleParams {
  int32_t prepared;
  int32_t pad;
  VtShaderWord scale;  /* .f */
  VtShaderWord detail; /* .i, octaves */
  float k;             /* 1 / scale, 10000 when |scale| < 0.0001 */
} VtBlueMarbleParams;

/* The simple wood colours of the lite and NPR libraries: rings of spacing
 * "scale" around an axis, between a light and a dark shadeable colour;
 * VoSimpleWoodColourPrepare makes 1 / scale and the unit axis. */
typedef struct VtSimpleWoodParams {
  int32_t prepared;
  float scale;
  float colours[2][3]; /* light, dark */
  float point[3];      /* on the axis */
  float axis[3];
  float noise;
  struct VtShader *shaders[2]; /* standing in for the light and dark colours */
  float k;                     /* 1 / scale, 10000 when |scale| < 0.0001 */
  float unitAxis[3];           /* (0, 0, 1) for an axis shorter than 0.001 */
} VtSimpleWoodParams;

#ifdef __cplusplus
}

static_assert(sizeof(VtShaderWord) == 8, "shader library record layout");
static_assert(offsetof(VtBlueMarbleParams, scale) == offsetof(VtShaderWordArgs, word) &&
                  offsetof(VtBlueMarbleParams, detail) == offsetof(VtShaderWordArgs, word) + 8 &&
                  offsetof(VtBlueMarbleParams, k) == 24 && sizeof(VtBlueMarbleParams) == 32,
              "shader library record layout");
static_assert(offsetof(VtSimpleWoodParams, colours) == 8 && offsetof(VtSimpleWoodParams, point) == 32 &&
                  offsetof(VtSimpleWoodParams, noise) == 56 && offsetof(VtSimpleWoodParams, shaders) == 64 &&
                  offsetof(VtSimpleWoodParams, k) == 80 && sizeof(VtSimpleWoodParams) == 96,
              "shader library record layout");
static_assert(sizeof(VtPostprocessHead) == 8 && offsetof(VtPostprocessHead, mode) == 4,
              "shader library record layout");
static_assert(sizeof(VtPostprocessWordArgs) == 32 && offsetof(VtPostprocessWordArgs, mode) == 4 &&
                  offsetof(VtPostprocessWordArgs, word) == 8,
              "shader library record layout");
static_assert(sizeof(VtShaderWordArgs) == 32 && offsetof(VtShaderWordArgs, word) == 8,
              "shader library record layout");
static_assert(sizeof(VtShaderColourArg) == 24 && offsetof(VtShaderColourArg, colour) == 4 &&
                  offsetof(VtShaderColourArg, shader) == 16,
              "shader library record layout");
static_assert(sizeof(VtShaderFileNameArgs) == 24 && offsetof(VtShaderFileNameArgs, fileName) == 8 &&
                  offsetof(VtShaderFileNameArgs, handle) == 16,
              "shader library record layout");
static_assert(offsetof(VtPlasticParams, specularColour) == 20 &&
                  offsetof(VtPlasticParams, specularShader) == 32 && offsetof(VtPlasticParams, power) == 40 &&
                  offsetof(VtPlasticParams, tint) == 48 && sizeof(VtPlasticParams) == 64,
              "shader library record layout");
#endif

#endif /* VO_SHADERLIB_H */
