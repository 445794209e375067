// The object file format, and where ours departs from the format this
// library's object files were first described with.
//
// All numbers are 32-bit words stored big-endian; a double is two words, the
// high word first; a float is its bit pattern.
//
//   offset 0     "VoOb"
//   offset 4     version 3 (a reader refuses a later one)
//   offset 8     second header word 1 (kept, not interpreted)
//   offset 12    substitution flag (1: everything after the seeds is permuted)
//   offset 16    256 seed words, each 0 to 32,767
//   offset 1040  type count N (at most 999), then N entries of type id,
//                version (at most 999) and fixed size (0: a length word)
//   records      each a nested item and a checksum word; the last is the
//                end record, type 9 holding one type-2 item of value 0
//
// Nested item: type word (bits 0-23 the type id, bit 24 the reference
// flag), the length word when the type's fixed size is 0 or the item is
// held by reference, the reference id when held by reference (1 a null
// object, an id met before the object stored then, a new id the object
// whose payload follows), then the payload.
//
// The seeds come from the C standard's sample generator (next = next x
// 1103515245 + 12345, word = (next / 65536) mod 32768), seeded with the
// seconds since 1970 and private to the file being written, swapped in
// pairs; the seed hook may change them before they build the ISAAC-drawn
// byte permutation. The checksum starts at 13 and adds byte i (as stored)
// shifted left by i mod 24; writers and readers restart it at every
// checksummed value.
//
// Changes to the first description, all so that a reader that does not
// know a type keeps its place, and none of them touching the magic, the
// header, the permutation, the checksums or any payload:
// - A type's fixed size is what its payload takes: count x (4 + the
//   element's fixed size) over its fields when every field is a fixed type
//   held by value (each element carries its own type word: a colour takes
//   24 bytes, a matrix 192, the end of list 8), the element size for the
//   scalars 1-5, and 0 (a length word) for every type with a field held by
//   reference or of variable size, or with an encoder of its own. (First
//   described: the sum of the fields' sizes without their type words.)
// - The length word counts the bytes after the reference id; it is written
//   as 0 and patched, so an item that ends at its id has length 0. (First
//   described: a placeholder of 4 left in such items, while a full item
//   counted from after its id.)
// - An item held by reference always carries a length word, since whether
//   its payload follows depends on what the file held before.
// - A type without reference ids (flag 2) writes its items without the
//   reference flag, so that their type word never promises an id.
// - Passing over a record of an unknown type, and draining a reader at
//   close, skip exactly the length; a decoder that reads past its item's
//   length fails the record instead of eating the next one.
// - A typed value holding an address (VtGenericPtr) is written as one word,
//   0 for null (read back as null) and 1 for an address, which is not saved.
#pragma once

#include <cstdint>

namespace vo::object {

constexpr uint8_t kMagic[4] = {'V', 'o', 'O', 'b'};
constexpr uint32_t kFileVersion = 3;
constexpr uint32_t kSecondWord = 1;
constexpr uint32_t kSeedCount = 256;
constexpr uint32_t kHeaderBytes = 16 + 4 * kSeedCount;  // 1040: what is never permuted

// The C standard's sample generator that draws the seeds.
struct SampleGenerator {
  uint32_t next;
  uint32_t Draw() {
    next = next * 1103515245u + 12345u;
    return (next / 65536u) % 32768u;
  }
};

}  // namespace vo::object
