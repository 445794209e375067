// The object I/O module's records: the module record, the stream record
// and the data-object type record, and the procedures the module's files
// share.
//
// Invariants a reader must know:
// - Every failure is the bare status 2; 0x20000000 marks a record passed
//   over or a value not saved (the rest of the value is good).
// - A reading stream never reads past its limit (the end of the item being
//   decoded); the byte reader refuses such a read whole.
// - Objects read by reference are entered in the shared-object table with
//   their type id; those made by a record that then fails are taken out and
//   freed, so that no half-read object is ever handed out or lost.
#pragma once

#include <cstdint>
#include <cstdio>

#include <vo/vo_object.h>

#include "io/voobject/isaac.h"
#include "kernel/vosystem/face.h"

namespace vo::object {

constexpr VtStatus kFailed = 2;  // every failure, and the bit that marks one in a gathered status
constexpr VtStatus kNotSaved = VO_OBJECT_NOT_SAVED;
constexpr uint32_t kModule = VO_MODULE_OBJECT_IO;
constexpr uint32_t kMemoryStep = 51200;  // a memory stream's first size and growth beyond the write
constexpr uint32_t kChecksumSeed = 13;
constexpr uint32_t kNullId = 1;         // the reference id of a null object
constexpr uint32_t kMostTypes = 999;    // in a file's type table
constexpr uint32_t kMostVersion = 999;  // of a type
constexpr uint64_t kNoLimit = UINT64_MAX;
// Deflate's ceiling, bytes out per compressed byte: a compressed length
// that cannot fill what a record declares is refused before the room for
// it is allocated.
constexpr uint64_t kMostInflation = 1032;
constexpr size_t kReadPiece = size_t{1} << 20;  // the first piece of a block read as it arrives

inline bool Failed(VtStatus s) { return (s & kFailed) != 0; }

struct DataObjectType;

// A codec of the library's own (the built-in scalar, string and typed-value
// types); an application's encoder set later replaces it for writing.
using BuiltinEncoder = VtStatus (*)(const DataObjectType *t, uint32_t type_id, void *value,
                                    VtObjectStream *s);
using BuiltinDecoder = VtStatus (*)(const DataObjectType *t, uint32_t type_id, void *destination,
                                    uint32_t version, VtObjectStream *s);

struct DataObjectType {
  uint32_t element_size;
  uint32_t fixed_size;  // in the file: what the payload takes; 0 = a length word
  uint32_t id;
  uint32_t version;
  uint32_t tagged;
  uint32_t field_count;
  uint32_t *field_types;  // the five field arrays, one block
  uint32_t *field_counts;
  uint32_t *field_offsets;
  uint32_t *field_versions;
  DataObjectType **field_records;
  VtDataObjectEncoder encoder;
  VtDataObjectDecoder decoder;
  VtDataObjectAllocator allocator;
  VtDataObjectDeallocator deallocator;
  uintptr_t user_data;
  uint32_t flags;
  uint32_t ignore;
  uint32_t shared_reference;  // the last reference read was to an object read before
  BuiltinEncoder builtin_encoder;
  BuiltinDecoder builtin_decoder;
};

// The module record (one per process; a worker's copy shares the stream
// table, the registry and the property-code list).
struct ObjectState {
  VtObjectWriteHook write_hook;
  VtObjectReadHook read_hook;
  VtObjectSeedHook seed_hook;
  VtHashTable *streams;  // stream id -> stream
  uint32_t in_place;
  uint32_t *property_codes;
  uint32_t property_count;
  uint32_t default_codes[6];
  VtHashTable *registry;  // type id -> DataObjectType
  uint32_t type_count;
  uint32_t is_copy;
  // The memory stream a primitive list's mesh file goes to or comes from
  // while the mesh module's byte procedures are swapped for ours.
  VtObjectStream *mesh_stream;
};

// Objects a record made (by reference, or for a pointer slot), so that a
// record that fails can give them back. id 0: not in the shared table; a
// null type: owned by another object since (taken out of the table, not
// freed).
struct MadeObject {
  uintptr_t id;
  void *object;
  const DataObjectType *type;
  bool decoded;  // its payload was decoded whole, of the file's version below
  uint32_t version;
};
struct MadeObjects {
  MadeObject *entries;
  uint32_t count;
  uint32_t capacity;
};

}  // namespace vo::object

struct VtObjectStream {
  uint32_t kind;  // 0 hook or file stream, 1 memory stream
  std::FILE *file;
  uint8_t *base;
  uint8_t *cursor;
  uint64_t used;    // bytes written or read so far
  size_t capacity;  // memory streams
  uint32_t writer;
  uint32_t swap;
  uint32_t sum;
  uint32_t sum_seed;
  uint64_t sum_position;
  uint32_t sums_on;
  uint64_t value_start;
  VtHashTable *shared;        // writing: object -> id; reading: id -> object
  VtHashTable *shared_types;  // reading: id -> type id
  uint32_t last_id_issued;
  uint32_t last_id_read;
  vo::object::IsaacState isaac;
  uint8_t forward[256];
  uint8_t inverse[256];
  uint32_t version;
  uint32_t second;
  uint32_t substitution;
  uint32_t child;
  void *id;
  uint32_t header_pending;
  uint32_t end_met;
  VtStatus sticky;
  VtHashTable *file_types;  // type id -> (fixed size << 32) | version | kFileTypeKnown
  uint64_t limit;           // reading: the used count no read may pass
  VtObjectStream *root;     // the stream a child works for (itself for a stream of its own)
  vo::object::MadeObjects made;
};

namespace vo::object {

constexpr uintptr_t kFileTypeKnown = 0x80000000u;

// module.cpp
ObjectState *State();

// stream.cpp: records, bytes, words and checksums.
VtObjectStream *StreamCreate(uint32_t kind, bool writer);
// A memory stream for one record in the parent's direction, over the
// caller's buffer (which it then owns) or a new one.
VtObjectStream *ChildCreate(VtObjectStream *parent, uint8_t *buffer, size_t capacity);
void StreamRelease(VtObjectStream *s);
VtStatus BytesWrite(VtObjectStream *s, const void *bytes, size_t n);
VtStatus BytesRead(VtObjectStream *s, void *bytes, size_t n);
// n bytes read into a new block from VoAllocate (null for n = 0); a block
// past 1 MiB grows as its bytes arrive. Nothing is kept on a failure.
VtStatus BlockRead(VtObjectStream *s, size_t n, uint8_t **block);
VtStatus Skip(VtObjectStream *s, uint64_t n);
// Passes bytes already permuted to the stream's file or write hook.
VtStatus RawWrite(VtObjectStream *s, const void *bytes, size_t n);
VtStatus WordWrite(VtObjectStream *s, uint32_t w);
VtStatus WordRead(VtObjectStream *s, uint32_t *w);
VtStatus DoubleWrite(VtObjectStream *s, double d);
VtStatus DoubleRead(VtObjectStream *s, double *d);
// Rewrites the word written at the used count `at` of a memory writer.
void WordPatch(VtObjectStream *s, uint64_t at, uint32_t w);
void SumRestart(VtObjectStream *s);
// The checksum of bytes as they stand in the file.
uint32_t Checksum(const uint8_t *bytes, size_t n);
// Enters an object read under a new reference id (id 0: an object made for a
// slot without one) in the shared-object table and in the list of what the
// current record made.
VtStatus SharedEnter(VtObjectStream *s, uint32_t id, void *object, const DataObjectType *type);
// Adds to the list of what the current record made (on writing: the
// objects it entered in the table).
VtStatus MadeAppend(VtObjectStream *s, uintptr_t id, void *object, const DataObjectType *type);

// types.cpp: the registry.
VtStatus RegistryCreate(ObjectState *st);
// A type with a codec of the library's own (*made, when given, gets its
// record).
VtStatus BuiltinCreate(uint32_t id, uint32_t size, BuiltinEncoder encode, BuiltinDecoder decode,
                       DataObjectType **made = nullptr);
// scene_types.cpp: the types of the scene objects (transform, shader,
// material, view, shader list, image); primitive_list.cpp: the primitive
// list.
VtStatus SceneTypesRegister();
VtStatus PrimitiveListRegister();
void RegistryDestroy(ObjectState *st);
DataObjectType *TypeFind(uint32_t id);
void *TypeAllocate(const DataObjectType *t);
// Frees what a value of the type owns (strings, the text of a typed value,
// by-value fields) without freeing the value itself; objects held by
// reference are not its own.
void ValueContentsRelease(const DataObjectType *t, void *value);
void ValueRelease(const DataObjectType *t, void *value);
// What a decoder of the file's version wrote into a value (strings, typed
// values' strings), given back and cleared whatever made the value's block;
// fields the file does not hold and objects held by reference are left.
void DecodedContentsRelease(const DataObjectType *t, void *value, uint32_t version);

// codec.cpp: nested items and fields.
VtStatus ItemWrite(VtObjectStream *s, uint32_t type_id, uint32_t word, void *value);
VtStatus ItemRead(VtObjectStream *s, uint32_t type_id, uint32_t word, void *destination);

// What a file's type table (or, for a type it lacks, the registry) says of
// a type, and the head of an item of it.
struct ItemHead {
  uint32_t word;
  bool slot;             // the destination is a pointer slot (the type word's reference flag)
  DataObjectType *type;  // null when not registered
  uint32_t version;      // the file's version of the type
  uint64_t length;       // payload bytes after the reference id
  bool reference;
  uint32_t id;
};
// Reads the length word and reference id that follow a type word; expected
// is the word the reader asked for (its reference flag says whether the
// destination is a pointer slot).
VtStatus HeadRead(VtObjectStream *s, uint32_t word, uint32_t expected, ItemHead *head);
// Decodes an item's payload whose head is read.
VtStatus PayloadRead(VtObjectStream *s, uint32_t type_id, const ItemHead &head, void *destination);
bool TypeReferenced(const DataObjectType *t, uint32_t word);
// Gives back the objects made since the record began.
void MadeRelease(VtObjectStream *s);
// The position in the list of what the current record made, and whether
// the object was made since that position.
uint32_t MadeMark(const VtObjectStream *s);
bool MadeSince(const VtObjectStream *s, uint32_t mark, const void *object);
// The object now belongs to another object read (which frees it): a
// failing record takes it out of the table without freeing it.
void MadeDisown(VtObjectStream *s, const void *object);
// Marks a made object as decoded whole, of the file's version of its type:
// a record that fails later gives back what its payload holds.
void MadeDecoded(VtObjectStream *s, const void *object, uint32_t version);

// file.cpp
VtStatus HeaderRead(VtObjectStream *s);
VtStatus StreamsCreate(ObjectState *st);
// Releases every stream still open (at terminate) and the table.
void StreamsDestroy(ObjectState *st);

}  // namespace vo::object
