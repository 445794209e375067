/*
 * Types and codes of the work farm (module vomultit, number 82): jobs over a
 * region of rows, their work items, and the procedures a pass calls back.
 *
 * A work procedure running on a worker thread may shade, trace and read
 * controls, but not render with a scanline renderer (wireframe, standard,
 * hidden-line, advanced): such a render writes screen-space data into the
 * shared scene model and is refused there with status 2 (message 2844).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_MULTIT_H
#define VO_MULTIT_H

#include <vo/vo_driver.h>
#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Controls (VoControlSet / VoControlGet)                              */
/* ------------------------------------------------------------------ */

#define VO_CONTROL_MT_WORKERS 0x520001u       /* VtInt32: requested worker count, kept (-1) */
#define VO_CONTROL_MT_BAND_HEIGHT 0x520002u   /* VtNat32: rows per band of a banded job, at least 1 (16) */
#define VO_CONTROL_MT_THREADED_BAND 0x520003u /* VtNat32: least band of a threaded pass, at least 1 (4) */
#define VO_CONTROL_MT_JOB_SCHEME 0x520004u    /* VtEnum: 0 banded jobs, 1 even jobs (0) */
#define VO_CONTROL_MT_POLL_INTERVAL 0x520005u /* VtNat32: interrupt poll interval, even, at least 2 (32) */
#define VO_CONTROL_MT_DELIVER_ROWS 0x520006u  /* VtBoolean: threaded passes send rows to the driver (true) */

#define VO_MT_SCHEME_BANDED 0
#define VO_MT_SCHEME_EVEN 1

/* ------------------------------------------------------------------ */
/* Callback codes (VoCallBackGet; the work farm refuses every set)     */
/* ------------------------------------------------------------------ */

#define VO_CALLBACK_MT_LOCK_CREATE 0x520001u   /* VoMultiThreadLockCreate */
#define VO_CALLBACK_MT_RUN_ONCE 0x520002u      /* VoMultiThreadRunOnce */
#define VO_CALLBACK_MT_LOCK_DESTROY 0x520003u  /* VoMultiThreadLockDestroy */
#define VO_CALLBACK_MT_IMAGE_READ 0x52000au    /* VtMultiThreadImageReadProc */
#define VO_CALLBACK_MT_IS_ACTIVE 0x52000bu     /* VoMultiThreadIsActive */
#define VO_CALLBACK_MT_IMAGE_RELEASE 0x52000eu /* VtMultiThreadImageReleaseProc */

/* Codes of a job's operations. A supplier answers them; VoCallBackGet of
 * the same codes answers the operations of the built-in banded jobs. */
#define VO_MT_OP_ITERATOR_CREATE 0x520004u /* VtMultiThreadIteratorCreateProc */
#define VO_MT_OP_ITERATOR_FREE 0x520005u   /* VtMultiThreadIteratorFreeProc */
#define VO_MT_OP_FINISHED 0x520006u        /* VtMultiThreadFinishedProc */
#define VO_MT_OP_NEXT_ITEM 0x520007u       /* VtMultiThreadNextItemProc */
#define VO_MT_OP_RESET 0x520008u           /* VtMultiThreadResetProc */
#define VO_MT_OP_BAND_TEST 0x520009u       /* VtMultiThreadBandTestProc */

/* The one execute code of the module; it answers 2. */
#define VO_EXECUTE_MT 0x520001u

/* Message code of a work procedure call: work on this item. */
#define VO_MT_MESSAGE_WORK (-5)

/* ------------------------------------------------------------------ */
/* Records and procedures                                              */
/* ------------------------------------------------------------------ */

/* A region of the image and a work item alike: columns x0 to x1 and rows
 * y0 to y1, inclusive; 16 bytes. */
typedef struct VtMultiThreadItem {
  uint32_t x0, x1, y0, y1;
} VtMultiThreadItem;

/* The worker procedure of a pass: runs VoMultiThreadWorkerBegin, Loop and
 * End. On the calling thread its argument is null. */
typedef VtStatus (*VtMultiThreadWorkerProc)(void *argument);
/* Works on one item; message is VO_MT_MESSAGE_WORK. */
typedef VtStatus (*VtMultiThreadWorkProc)(int32_t message, const VtMultiThreadItem *item, void *argument);
/* Receives one finished row of pixels. */
typedef VtStatus (*VtMultiThreadRowProc)(uint32_t row, void *pixels);
/* A procedure that VoMultiThreadRunOnce and RunOncePerPass run. */
typedef VtStatus (*VtMultiThreadOnceProc)(void *argument);

/* A job's operations. The iterator is whatever create answers; the job
 * keeps its own copy of the caller's data and hands it to create. */
typedef VtStatus (*VtMultiThreadIteratorCreateProc)(const void *data, uint32_t size, void **iterator);
typedef VtStatus (*VtMultiThreadIteratorFreeProc)(void *iterator);
/* Non-zero when no item is left (always for a null iterator). */
typedef uint32_t (*VtMultiThreadFinishedProc)(void *iterator);
/* Writes the next item and moves on; 2 when there is none. */
typedef VtStatus (*VtMultiThreadNextItemProc)(void *iterator, VtMultiThreadItem *item);
/* Starts the items again from the first. */
typedef VtStatus (*VtMultiThreadResetProc)(void *iterator);
/* Non-zero when the job's bands are tall enough for a threaded pass. */
typedef uint32_t (*VtMultiThreadBandTestProc)(void *iterator);
/* Answers the operation of a code VO_MT_OP_..., or null. */
typedef VtProc (*VtMultiThreadSupplier)(uint32_t code);

/* Worker-side image requests (callbacks 0x52000a and 0x52000e). */
typedef VtImage *(*VtMultiThreadImageReadProc)(const char *name);
typedef VtStatus (*VtMultiThreadImageReleaseProc)(VtImage *image);

#ifdef __cplusplus
}
#endif

#endif /* VO_MULTIT_H */
