/*
 * The post-process stage (module voshpost, 68): its controls, execute codes
 * and the mode words of post-process classes (shader type 0x440001).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_POSTPROCESS_H
#define VO_POSTPROCESS_H

#include <vo/vo_types.h>

/* The shader type of post-process classes. */
#define VO_SHADER_POSTPROCESS 0x440001u

/* Controls. */
#define VO_CONTROL_PP_FLARE_CONSTANT 0x440001u /* VtFloat, 1000.0 */
#define VO_CONTROL_PP_RENDER_CODE 0x440002u    /* VtEnum, 0x440000 (none) */
#define VO_CONTROL_PP_POST_CODE 0x440003u      /* VtEnum, 0x440000 (none) */
#define VO_CONTROL_PP_VIEW_1 0x440004u         /* VtGenericPtr, null */
#define VO_CONTROL_PP_VIEW_2 0x440005u         /* VtGenericPtr, null */
#define VO_CONTROL_PP_BUFFER_1 0x440006u       /* VtGenericPtr, null */
#define VO_CONTROL_PP_BUFFER_2 0x440007u       /* VtGenericPtr, null */
#define VO_CONTROL_PP_FIELD_ORDER 0x440008u    /* VtEnum, 0x440002 */
#define VO_CONTROL_PP_FILTER 0x440009u         /* VtGenericPtr, null: combine-filter override */
#define VO_CONTROL_PP_QUIET 0x44000au          /* VtBoolean, 1 */
#define VO_CONTROL_PP_LIGHTS_SELECT 0x44000bu  /* type 39, 1 */
#define VO_CONTROL_PP_TWO_VIEW_MODE 0x44000cu  /* VtEnum, 0x440003 */

/* Execute codes. */
#define VO_EXECUTE_PP_NONE 0x440000u
#define VO_EXECUTE_PP_RUN 0x440001u       /* the list through each class's slot 2 */
#define VO_EXECUTE_PP_RUN_IMAGE 0x440002u /* the list through each class's slot 3 */
#define VO_EXECUTE_PP_FLARE_LIGHTS 0x440003u
#define VO_EXECUTE_PP_RENDER_AND_POST 0x440004u
#define VO_EXECUTE_PP_TWO_VIEW 0x440005u
#define VO_EXECUTE_PP_ANTIALIAS 0x440006u

/* Mode words: the second word of a post-process class's instance data.
 * Masked with VO_PP_WAY_MASK: the way of running; with VO_PP_BUFFER_MASK:
 * VO_PP_SEPARATE_OUTPUT when the class writes a buffer apart from its
 * input. */
#define VO_PP_WAY_MASK 0x44000fu
#define VO_PP_BUFFER_MASK 0x4400f0u
#define VO_PP_KERNEL 0x440001u
#define VO_PP_GATHER 0x440002u
#define VO_PP_DIRECT 0x440003u
#define VO_PP_SEPARATE_OUTPUT 0x440020u
#define VO_PP_MODE_DIRECT_IN_PLACE 0x440013u
#define VO_PP_MODE_KERNEL_SEPARATE 0x440021u
#define VO_PP_MODE_GATHER_SEPARATE 0x440022u
#define VO_PP_MODE_DIRECT_SEPARATE 0x440023u

/* Field orders of the interlace class (control 0x440008): which buffer
 * gives the even output rows. */
#define VO_PP_FIELDS_SECOND_EVEN 0x440001u /* even rows from "buffer2", odd from "buffer1" */
#define VO_PP_FIELDS_FIRST_EVEN 0x440002u  /* even rows from "buffer1", odd from "buffer2" */

/* Bits of a screen buffer's 8-bit plane that selective antialiasing uses. */
#define VO_PP_STENCIL_SEED 0x80u     /* a seed pixel (with 0x20 and 0x10) */
#define VO_PP_STENCIL_DONE 0x40u     /* processed in this pass */
#define VO_PP_STENCIL_DISAGREE 0x20u /* its samples disagreed: look at its neighbours */
#define VO_PP_STENCIL_FLAGGED 0x10u  /* flagged by the seed */
#define VO_PP_STENCIL_REQUEST 0x08u  /* a neighbour in another band asked for it */
#define VO_PP_STENCIL_FLAGS 0xF8u    /* all of the above */

/* A combine-filter override (control 0x440009) that skips the combine of
 * the two-view render: 0xFFFFFFFF, or all ones at 64 bits. */
#define VO_POSTPROCESS_NO_COMBINE ((void *)(uintptr_t)0xFFFFFFFFu)

/* The value of VoPostprocessPollInterrupt when an interrupt was seen. */
#define VO_PP_INTERRUPTED 64u

#endif /* VO_POSTPROCESS_H */
