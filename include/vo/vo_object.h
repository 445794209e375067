/*
 * Object files (module voobject, 112): the value record of VoObjectWrite and
 * VoObjectRead, the data-object type ids and flags, the procedure types of
 * the stream hooks and of the codecs of applications' own types, and the
 * module's control and callback codes.
 *
 * Streams are named by a caller's word (VtGenericPtr); with the default hooks
 * it is a file from VoFileOpen. Every operation answers 0, 2 (a failure) or
 * 0x20000000 (a record passed over or a value not saved, the rest read).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_OBJECT_H
#define VO_OBJECT_H

#include <stddef.h>
#include <stdint.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An open object stream as encoders and decoders receive it. */
typedef struct VtObjectStream VtObjectStream;

/* The value record: the type id (low 24 bits; the reference flag may be set
 * on writing), a pad word, 128 bytes of value (16 doubles; the value word, a
 * pointer, at offset 8) and the by-reference flag word at 136, which makes
 * VoObjectWrite write a type the record writer does not know by reference
 * (the value word holding the object) rather than by value (the value word
 * holding the value's address). VoObjectRead sets it when the record was an
 * object held by reference. */
typedef struct VtObjectValue {
  uint32_t type;
  uint32_t pad;
  union {
    uint8_t bytes[128];
    uint32_t words[32];
    int32_t i;
    uint32_t u;
    float f;
    double d;
    float floats[32];
    double doubles[16];
    void *p;
    char *s;
    uint16_t *ws;
  } value;
  uint32_t by_reference;
  uint32_t pad2;
} VtObjectValue;

/* The layout is checked where the language has the means: C++11 and C11.
 * A C99 compiler has neither _Static_assert nor _Alignof, and the record is
 * the same there. */
#if defined(__cplusplus)
#define VO_OBJECT_ASSERT static_assert
#define VO_OBJECT_ALIGNOF alignof
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define VO_OBJECT_ASSERT _Static_assert
#define VO_OBJECT_ALIGNOF _Alignof
#endif
#ifdef VO_OBJECT_ASSERT
VO_OBJECT_ASSERT(sizeof(VtObjectValue) == 144, "object value size");
VO_OBJECT_ASSERT(offsetof(VtObjectValue, type) == 0 && offsetof(VtObjectValue, pad) == 4 &&
                     offsetof(VtObjectValue, value) == 8 && VO_OBJECT_ALIGNOF(VtObjectValue) == 8,
                 "object value head");
VO_OBJECT_ASSERT(offsetof(VtObjectValue, by_reference) == 136, "object value flag");
#undef VO_OBJECT_ASSERT
#undef VO_OBJECT_ALIGNOF
#endif

/* Built-in data-object type ids. */
enum VtDataObjectTypeId {
  VO_OBJECT_INT32 = 1,
  VO_OBJECT_NAT32 = 2,
  VO_OBJECT_WORD = 3, /* written as VO_OBJECT_NAT32 */
  VO_OBJECT_FLOAT = 4,
  VO_OBJECT_DOUBLE = 5,
  VO_OBJECT_STRING = 6,         /* char *, value word the string */
  VO_OBJECT_WIDE_STRING = 7,    /* uint16_t *, value word the string */
  VO_OBJECT_END = 9,            /* end of list */
  VO_OBJECT_VECTOR = 10,        /* three floats */
  VO_OBJECT_POINT = 11,         /* three floats */
  VO_OBJECT_COLOUR = 12,        /* three floats */
  VO_OBJECT_BOUNDS = 13,        /* six floats */
  VO_OBJECT_DOUBLE_POINT = 14,  /* three doubles */
  VO_OBJECT_DOUBLE_VECTOR = 15, /* three doubles */
  VO_OBJECT_FLOAT2 = 16,        /* two floats */
  VO_OBJECT_FLOAT4 = 17,        /* four floats */
  VO_OBJECT_DOUBLE4 = 18,       /* four doubles */
  VO_OBJECT_MATRIX = 19,        /* sixteen doubles */
  VO_OBJECT_DOUBLE4_B = 20,     /* four doubles */
  VO_OBJECT_FLOAT4_B = 21,      /* four floats */
  VO_OBJECT_TRANSFORM = 22,
  VO_OBJECT_TYPED_VALUE = 25, /* a VtTypedValue */
  VO_OBJECT_SHADER = 30,
  VO_OBJECT_MATERIAL = 31,
  VO_OBJECT_VIEW = 32,
  VO_OBJECT_PRIMITIVE_LIST = 33,
  VO_OBJECT_SHADER_LIST = 34,
  VO_OBJECT_RESERVED = 36, /* a by-reference type the library does not register */
  VO_OBJECT_IMAGE = 37
};

/* Bit 24 of a type word: the value is an object held by pointer, stored once
 * per file and named by a reference id after that. */
#define VO_OBJECT_REFERENCE 0x01000000u
#define VO_OBJECT_TYPE_MASK 0x00FFFFFFu

/* Flag words of VoDataObjectSetFlags. */
#define VO_OBJECT_FLAG_NO_REFERENCE_IDS 2u /* records always carry their payload */
#define VO_OBJECT_FLAG_DECODER_CREATES 4u  /* the decoder makes the object and enters it */

/* The warning of a record passed over or a value not saved. */
#define VO_OBJECT_NOT_SAVED 0x20000000u

/* Controls and callbacks of module 112. */
#define VO_CONTROL_OBJECT_PROPERTY_LIST 0x700001u  /* VtGenericPtr: the property-code list */
#define VO_CONTROL_OBJECT_PROPERTY_COUNT 0x700002u /* VtNat32: its length */
#define VO_CALLBACK_OBJECT_WRITE 0x700001u         /* VtObjectWriteHook */
#define VO_CALLBACK_OBJECT_READ 0x700002u          /* VtObjectReadHook */
#define VO_CALLBACK_OBJECT_SEED 0x700003u          /* VtObjectSeedHook */

/* Stream hooks: the write hook takes the bytes, their count and the stream
 * id; the read hook fills the buffer, or with a null buffer skips the count
 * forward. Both answer 0, or 2 when not every byte moved. */
typedef VtStatus (*VtObjectWriteHook)(void *buffer, uint32_t count, void *stream_id);
typedef VtStatus (*VtObjectReadHook)(void *buffer, uint32_t count, void *stream_id);
/* The seed hook sees the header version word and the 256 seed words of a
 * file as they were written (or read), and may change them in place: the
 * changed words build the byte permutation. */
typedef void (*VtObjectSeedHook)(uint32_t version, uint32_t *seeds);

/* Codecs of a data-object type. type_id is the type the outermost value of
 * the call began with; type_word is the item's own. The value is the address
 * of a value (by-value types) or the object itself (types written by
 * reference; a type with flag 4 gets the address of the pointer slot). */
typedef VtStatus (*VtDataObjectEncoder)(uint32_t type_id, uint32_t type_word, void *value,
                                        VtObjectStream *stream);
typedef VtStatus (*VtDataObjectDecoder)(uint32_t type_id, uint32_t type_word, void *destination,
                                        uint32_t version, VtObjectStream *stream);
/* The allocator is asked for the type's element size; the default one
 * answers a zero-filled block from VoAllocate (null for size 0). */
typedef void *(*VtDataObjectAllocator)(uint32_t size);
typedef void (*VtDataObjectDeallocator)(void *block);

#ifdef __cplusplus
}
#endif

#endif /* VO_OBJECT_H */
