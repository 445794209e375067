/*
 * Types of the kernel services: block pools and their callbacks, reference
 * lists, context variables, thread records and mutex words.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_KERNEL_H
#define VO_KERNEL_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtPool;

/* ------------------------------------------------------------------ */
/* Block pools: the procedures behind the kernel callbacks 0x10002 to  */
/* 0x1000a, 0x10010 and 0x10011. An application may replace any of     */
/* them with VoCallBackSet; "heap" is whatever its heap-create answers. */
/* ------------------------------------------------------------------ */

typedef struct VtPool *(*VtPoolCreateProc)(uint32_t tag, uint32_t element_size); /* 0x10002 */
typedef VtStatus (*VtPoolDestroyProc)(struct VtPool *pool);                      /* 0x10003 */
typedef void *(*VtBlockAllocateProc)(struct VtPool *pool);                       /* 0x10004 */
typedef VtStatus (*VtBlockFreeProc)(struct VtPool *pool, void *block);           /* 0x10005 */
typedef VtStatus (*VtPoolReleaseProc)(struct VtPool *pool);                      /* 0x10006 */
typedef void *(*VtHeapCreateProc)(struct VtPool *pool, uint32_t chunk_bytes);    /* 0x10007 */
typedef VtStatus (*VtHeapDestroyProc)(void *heap);                               /* 0x10008 */
typedef void *(*VtHeapAllocateProc)(uint32_t size, void *heap);                  /* 0x10009 */
typedef VtStatus (*VtHeapFreeProc)(void *heap, void *block);                     /* 0x1000a */
typedef VtStatus (*VtHeapMergeProc)(void *destination, void *source);            /* 0x10010 */
typedef VtStatus (*VtHeapCompactProc)(void *heap);                               /* 0x10011 */

/* ------------------------------------------------------------------ */
/* Reference lists                                                     */
/* ------------------------------------------------------------------ */

/* A ring node of 16 bytes: a list is named by its last node, whose next is
 * the first node; an empty list is a null handle. (<vo/vo_api.h> declares
 * the typedef name VtReference.) */
struct VtReference {
  struct VtReference *next;
  void *data;
};

/* Called with each node's data by the list destroy procedures. */
typedef VtStatus (*VtReferenceDestructor)(void *data);
/* Answers the data of a copied node (VoReferenceListCopy). */
typedef void *(*VtReferenceCopyProc)(void *data);

/* ------------------------------------------------------------------ */
/* Context variables, thread records and mutex words                   */
/* ------------------------------------------------------------------ */

/* Makes a copy of a module's state record for another context. */
typedef VtStatus (*VtContextCopyProc)(void *state, void **copy);
/* Frees a copy made by the copy procedure. */
typedef VtStatus (*VtContextFreeProc)(void *copy);
/* Called with its argument when a thread record is destroyed. */
typedef VtStatus (*VtThreadEndProc)(void *argument);

/* A mutex word: zero while free. */
typedef uint32_t VtMutexWord;

/* Kernel pool tags. */
#define VO_POOL_TAG_SMALL 0x10001u  /* 32-byte blocks */
#define VO_POOL_TAG_NODES 0x10002u  /* reference-list nodes */
#define VO_POOL_TAG_RANDOM 0x10003u /* random states */
#define VO_POOL_TAG_MARSHAL1 0x10004u
#define VO_POOL_TAG_MARSHAL2 0x10005u

#ifdef __cplusplus
}
#endif

#endif /* VO_KERNEL_H */
