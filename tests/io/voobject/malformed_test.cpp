// Bad input and scarce memory: a file of every type cut at every offset and
// with seeded byte flips reads with a status of 0, 2 or 0x20000000 and loses
// nothing; every allocation failing in turn over writing and reading gives
// a failure status and leaks nothing; a record of a type stored by value
// only that the file marks as held by reference is refused.
#include <set>
#include <string>

#include "io/voobject/isaac.h"
#include "io/voobject/object.h"
#include "io/voobject/object_fixture.h"
#include "io/voobject/sample_types.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

// Writes one record of every type the module knows and of the test's own.
VtStatus EveryRecord(MemoryFile *f) {
  static char first[] = "first", second[] = "second";
  static Node a{1, first}, b{2, second};
  static Pair pair{&a, &b}, same{&b, &b};
  static const char16_t wide[] = u"wide";
  static VtTypedValue typed[4];
  typed[0].type = VtString, typed[0].value.s = "typed";
  typed[1].type = VtColourType, typed[1].value.v[1] = 0.5f;
  typed[2].type = VtDouble, typed[2].value.d = 1e300;
  typed[3].type = VtBoundsType, typed[3].value.v[4] = -1;
  VtStatus st = 0;
  for (uint32_t id = VO_OBJECT_INT32; id <= VO_OBJECT_FLOAT4_B; ++id) {
    if (id == 8 || id == VO_OBJECT_END || id == VO_OBJECT_STRING || id == VO_OBJECT_WIDE_STRING) continue;
    VtObjectValue v = ObjectValue(id);
    for (uint32_t w = 0; w < 32; ++w) v.value.words[w] = id * 0x01010101u + w;
    st |= ObjectTest::WriteValue(f, v);
  }
  VtObjectValue s = ObjectValue(VO_OBJECT_STRING);
  s.value.s = second;
  st |= ObjectTest::WriteValue(f, s);
  s = ObjectValue(VO_OBJECT_WIDE_STRING);
  s.value.ws = reinterpret_cast<uint16_t *>(const_cast<char16_t *>(wide));
  st |= ObjectTest::WriteValue(f, s);
  for (VtTypedValue &t : typed) {
    VtObjectValue v = ObjectValue(VO_OBJECT_TYPED_VALUE);
    v.value.p = &t;
    st |= ObjectTest::WriteValue(f, v);
  }
  for (Pair *p : {&pair, &same}) {
    VtObjectValue v = ObjectValue(kPair);
    v.value.p = p;
    st |= ObjectTest::WriteValue(f, v);
  }
  for (Node *n : {&a, static_cast<Node *>(nullptr)}) {
    VtObjectValue v = ObjectValue(kNode);
    v.by_reference = 1;
    v.value.p = n;
    st |= ObjectTest::WriteValue(f, v);
  }
  return st;
}

class ObjectMalformedTest : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    ASSERT_EQ(RegisterNodes(), 0u);
  }
  // Reads the file as a reader would; every status must be one a caller
  // can act on, and no single allocation may exceed what a small file can
  // fill (64 MB for files of at most 64 KiB).
  static void ExpectReadableOrRefused(MemoryFile *f, const char *what, size_t at) {
    constexpr uint64_t kMostAllocated = uint64_t{64} << 20;
    ASSERT_LE(f->bytes.size(), size_t{64} << 10);
    std::vector<VtObjectValue> read;
    VtStatus st = 0;
    EXPECT_LT(LargestAllocationOf([&] { st = ReadAll(f, &read); }), kMostAllocated) << what << " at " << at;
    EXPECT_EQ(st & ~(2u | VO_OBJECT_NOT_SAVED), 0u) << what << " at " << at;
    ReadFree(read);
  }
};

TEST_F(ObjectMalformedTest, ACutOrFlippedFileReadsOrIsRefusedWithoutCrashOrLoss) {
  MemoryFile valid;
  ASSERT_EQ(Write(&valid, &EveryRecord), 0u);
  std::vector<VtObjectValue> whole;
  ASSERT_EQ(ReadAll(&valid, &whole), 0u);
  EXPECT_EQ(whole.size(), 27u);  // 17 fixed, 2 strings, 4 typed values, 2 pairs, 2 nodes
  ReadFree(whole);

  // Mostly past the seeds, where records live; one flip in ten anywhere.
  EveryCutAndFlip(valid, 3000, 38, true, &ExpectReadableOrRefused);
}

TEST_F(ObjectMalformedTest, EveryAllocationFailingInTurnGivesAFailureAndLeaksNothing) {
  MemoryFile valid;
  ASSERT_EQ(Write(&valid, &EveryRecord), 0u);
  EveryAllocationFails([] {
    MemoryFile f;
    return Write(&f, &EveryRecord);
  });
  EveryAllocationFails([&valid] {
    MemoryFile f = valid;
    std::vector<VtObjectValue> read;
    const VtStatus st = ReadAll(&f, &read);
    ReadFree(read);
    return st;
  });
}

// An application's type that holds a wide string between two numbers, and
// an allocator of its own that sets defaults (it need not clear a block).
struct Labelled {
  int32_t count;
  uint16_t *text;
  int32_t check;
};
constexpr uint32_t kLabelled = 210;

void *LabelledAllocate(uint32_t size) {
  auto *l = static_cast<Labelled *>(VoAllocate(size));
  if (l != nullptr) *l = Labelled{-1, nullptr, -1};
  return l;
}

// Frees what reads handed out: wide strings, labelled blocks and their
// texts, each object held by reference once however often it came.
void LabelledFree(const std::vector<VtObjectValue> &read) {
  std::set<void *> objects;
  for (const VtObjectValue &v : read) {
    if (v.by_reference != 0) {
      if (v.value.p != nullptr && objects.insert(v.value.p).second) {
        if (v.type == kLabelled) VoDeallocate(static_cast<Labelled *>(v.value.p)->text);
        if (v.type == VO_OBJECT_WIDE_STRING) VoDeallocate(*static_cast<void **>(v.value.p));
        VoDeallocate(v.value.p);
      }
    } else if (v.type == VO_OBJECT_WIDE_STRING) {
      VoDeallocate(v.value.p);
    } else if (v.type == kLabelled && v.value.p != nullptr) {
      VoDeallocate(static_cast<Labelled *>(v.value.p)->text);
      VoDeallocate(v.value.p);
    }
  }
}

// Seeded texts of 0 to 4 characters for three labelled values, the first
// by value, the others by reference (the second written again, so that it
// is a reference; then a null), and three wide strings; *words gets each
// record's type word.
VtStatus LabelledRecords(MemoryFile *m, std::mt19937 &random, std::vector<uint32_t> *words) {
  static std::u16string texts[6];
  static Labelled values[3];
  for (std::u16string &t : texts) t.assign(random() % 5, static_cast<char16_t>(u'a' + random() % 26));
  auto record = [&](uint32_t word, void *value) {
    VtObjectValue v = ObjectValue(word & VO_OBJECT_TYPE_MASK);
    v.value.p = value;
    v.by_reference = (word & VO_OBJECT_REFERENCE) != 0 ? 1 : 0;
    words->push_back(word);
    return ObjectTest::WriteValue(m, v);
  };
  words->clear();
  VtStatus st = 0;
  for (int i = 0; i < 3; ++i) {
    values[i] = Labelled{i, reinterpret_cast<uint16_t *>(texts[i].data()), static_cast<int32_t>(random())};
    st |= record(kLabelled | (i > 0 ? VO_OBJECT_REFERENCE : 0), &values[i]);
  }
  st |=
      record(kLabelled | VO_OBJECT_REFERENCE, &values[1]) | record(kLabelled | VO_OBJECT_REFERENCE, nullptr);
  for (int i = 3; i < 6; ++i) st |= record(VO_OBJECT_WIDE_STRING, texts[i].data());
  return st;
}

// The records read one by one with VoObjectReadSpecific, in the order the
// file holds them; what each read handed out, as value records.
VtStatus SpecificReadAll(MemoryFile *f, const std::vector<uint32_t> &words, std::vector<VtObjectValue> *out) {
  f->at = 0;
  VtStatus st = VoObjectOpen(f, 3);
  for (uint32_t word : words) {
    alignas(8) uint8_t value[sizeof(Labelled)] = {};
    const VtStatus r = VoObjectReadSpecific(f, word, value);
    st |= r;
    if ((r & 2) != 0) break;
    VtObjectValue v = ObjectValue(word & VO_OBJECT_TYPE_MASK);
    v.by_reference = (word & VO_OBJECT_REFERENCE) != 0 ? 1 : 0;
    std::memcpy(&v.value.p, value, sizeof v.value.p);
    if (word == kLabelled) {  // read into place: only its text was handed out
      v.type = VO_OBJECT_WIDE_STRING;
      v.value.p = reinterpret_cast<Labelled *>(value)->text;
    }
    out->push_back(v);
  }
  return st | VoObjectClose(f);
}

// Every path a decoded wide string takes: read whole, cut short or flipped
// after it (a later field of its record fails, or the record's checksum),
// held by reference and met again by its id, read by value, through
// VoObjectRead and through VoObjectReadSpecific, with the type's default
// allocator and with one of the application's. Whatever a read hands out
// is freed by its caller; nothing else may stay allocated.
TEST_F(ObjectMalformedTest, EveryReadOfWideStringsGivesBackWhatItDoesNotHandOut) {
  const uint32_t types[3] = {VO_OBJECT_INT32, VO_OBJECT_WIDE_STRING, VO_OBJECT_INT32}, counts[3] = {1, 1, 1};
  const uint32_t offsets[3] = {offsetof(Labelled, count), offsetof(Labelled, text),
                               offsetof(Labelled, check)};
  const uint32_t versions[3] = {1, 1, 1};
  ASSERT_EQ(VoDataObjectCreate(kLabelled, 1, 3, types, counts, offsets, versions, sizeof(Labelled)), 0u);
  for (const bool own_allocator : {false, true}) {
    ASSERT_EQ(VoDataObjectSetAllocator(kLabelled, own_allocator ? &LabelledAllocate : nullptr), 0u);
    std::mt19937 random(78);
    for (int round = 0; round < 300; ++round) {
      std::vector<uint32_t> words;
      MemoryFile f;
      ASSERT_EQ(Write(&f, [&](MemoryFile *m) { return LabelledRecords(m, random, &words); }), 0u);
      const size_t from = 1040, span = f.bytes.size() - from;
      if (round % 3 == 0)
        f.bytes.resize(from + random() % span);
      else if (round % 3 == 1)
        f.bytes[from + random() % span] ^= static_cast<uint8_t>(1u << (random() % 8));
      for (const bool specific : {false, true}) {
        const LiveAllocations before = AllocationsLive();
        std::vector<VtObjectValue> read;
        const VtStatus st = specific ? SpecificReadAll(&f, words, &read) : ReadAll(&f, &read);
        if (round % 3 == 2) {
          EXPECT_EQ(st, 0u) << round;
        }
        LabelledFree(read);
        EXPECT_EQ(AllocationsLive().blocks, before.blocks)
            << "seed 78, round " << round << (own_allocator ? ", own allocator" : "")
            << (specific ? ", read specific" : "");
      }
      if (HasFailure()) return;
    }
  }
}

// A value record filled with a pattern no read writes, to see that a
// failing read leaves every byte of it alone.
VtObjectValue Untouched() {
  VtObjectValue v;
  std::memset(&v, 0x5A, sizeof v);
  return v;
}

// One VoObjectRead of the file, which must fail with exactly 2, without a
// diagnostic and with the value as it was.
void ExpectFailsLeavingTheValue(MemoryFile *f, size_t cut) {
  f->at = 0;
  ASSERT_EQ(VoObjectOpen(f, 1), 0u) << cut;
  g_posted.clear();
  VtObjectValue v = Untouched();
  const VtObjectValue before = v;
  EXPECT_EQ(VoObjectRead(f, &v), 2u) << "cut at " << cut;
  EXPECT_EQ(std::memcmp(&v, &before, sizeof v), 0) << "cut at " << cut;
  EXPECT_TRUE(g_posted.empty()) << "cut at " << cut;
  EXPECT_NE(VoObjectClose(f), 0u) << cut;
}

// Object streams answer 0, 2 or 0x20000000: a record that cannot be read
// whole is a failure, not a partial success, even when a record was passed
// over before it or what is left of its length could not be skipped.
TEST_F(ObjectMalformedTest, ARecordRunningPastTheEndOfTheFileAnswersTwoAndLeavesTheValueAlone) {
  // Without permutation and with an empty type table: a string record
  // (type 6, variable) whose length word promises 1,000 bytes, of which the
  // file holds the 7 of the string "ab" (its length word 3 and 3 bytes).
  MemoryFile past;
  auto word = [&past](uint32_t w) {
    for (int shift = 24; shift >= 0; shift -= 8) past.bytes.push_back(static_cast<uint8_t>(w >> shift));
  };
  past.bytes = {'V', 'o', 'O', 'b'};
  for (uint32_t w : {3u, 1u, 0u}) word(w);
  for (int i = 0; i < 256; ++i) word(0);
  for (uint32_t w : {0u, uint32_t{VO_OBJECT_STRING}, 1000u, 3u}) word(w);
  past.bytes.insert(past.bytes.end(), {'a', 'b', 0});
  ExpectFailsLeavingTheValue(&past, past.bytes.size());

  // A file as written, cut anywhere inside a string record that follows a
  // double the reader passes over (ignored).
  static char text[] = "a string long enough to be cut in many places";
  MemoryFile valid;
  size_t start = 0, end = 0;
  ASSERT_EQ(Write(&valid,
                  [&](MemoryFile *f) {
                    VtObjectValue d = ObjectValue(VO_OBJECT_DOUBLE);
                    d.value.d = 0.25;
                    VtStatus st = WriteValue(f, d);
                    start = f->bytes.size();
                    VtObjectValue str = ObjectValue(VO_OBJECT_STRING);
                    str.value.s = text;
                    st |= WriteValue(f, str);
                    end = f->bytes.size();
                    return st;
                  }),
            0u);
  ASSERT_GT(end - start, sizeof text);
  ASSERT_EQ(VoDataObjectIgnore(VO_OBJECT_DOUBLE, 1), 0u);
  for (size_t cut = start; cut < end; ++cut) {
    MemoryFile f;
    f.bytes.assign(valid.bytes.begin(), valid.bytes.begin() + static_cast<long>(cut));
    ExpectFailsLeavingTheValue(&f, cut);
  }
}

// A file's records from `starts` on, as a reader that skips the header
// (VoObjectOpen mode 0, no permutation) reads them: the permutation undone
// and each record's checksum taken again.
void ChecksumRenew(std::vector<uint8_t> *record) {
  const uint32_t sum = object::Checksum(record->data(), record->size() - 4);
  for (int i = 0; i < 4; ++i) (*record)[record->size() - 4 + i] = static_cast<uint8_t>(sum >> (24 - 8 * i));
}
std::vector<std::vector<uint8_t>> Plain(const MemoryFile &f, const std::vector<size_t> &starts) {
  uint32_t seeds[256];
  for (size_t i = 0; i < 256; ++i) seeds[i] = BigEndianWord(f.bytes, 16 + 4 * i);
  object::IsaacState isaac{};
  uint8_t forward[256], inverse[256];
  object::ByteTablesBuild(&isaac, seeds, forward, inverse);
  std::vector<std::vector<uint8_t>> records;
  for (size_t k = 0; k < starts.size(); ++k) {
    std::vector<uint8_t> &r = records.emplace_back();
    for (size_t i = starts[k]; i < (k + 1 < starts.size() ? starts[k + 1] : f.bytes.size()); ++i)
      r.push_back(inverse[f.bytes[i]]);
    if (r.size() >= 4) ChecksumRenew(&r);
  }
  return records;
}

// Every type the writer stores only by value, one record of it marked by
// the file as held by reference (bit 24, with the length word and reference
// id such a record carries and a right checksum), then an int32 of 77 and
// the end: the marked record is refused with 2 and the diagnostic, the value
// record untouched and nothing left allocated, and the records after it read.
TEST_F(ObjectMalformedTest, AByValueRecordMarkedByReferenceIsRefusedAndTheNextRecordsRead) {
  static char text[] = "a string the file marks by reference";
  static const char16_t wide[] = u"wide";
  for (uint32_t id = VO_OBJECT_INT32; id <= VO_OBJECT_FLOAT4_B; ++id) {
    if (id == VO_OBJECT_WORD || id == 8) continue;
    std::vector<size_t> starts;
    MemoryFile written;
    ASSERT_EQ(Write(&written,
                    [&](MemoryFile *f) {
                      VtObjectValue v = ObjectValue(id), seventy_seven = ObjectValue(VO_OBJECT_INT32);
                      for (uint32_t w = 0; w < 32; ++w) v.value.words[w] = id * 0x01010101u + w;
                      if (id == VO_OBJECT_STRING) v.value.s = text;
                      if (id == VO_OBJECT_WIDE_STRING)
                        v.value.ws = reinterpret_cast<uint16_t *>(const_cast<char16_t *>(wide));
                      seventy_seven.value.i = 77;
                      VtStatus st = WriteValue(f, seventy_seven);  // the header and type table first
                      starts.push_back(f->bytes.size());
                      if (id != VO_OBJECT_END) st |= WriteValue(f, v);  // else a copy of the closing end
                      starts.push_back(f->bytes.size());
                      st |= WriteValue(f, seventy_seven);
                      starts.push_back(f->bytes.size());
                      return st;
                    }),
              0u);
    std::vector<std::vector<uint8_t>> plain = Plain(written, starts);
    if (id == VO_OBJECT_END) plain[0] = plain[2];
    // The type word with bit 24, the payload's length, the id 2, the
    // payload (after a string's own length word) and the checksum.
    const std::vector<uint8_t> &r = plain[0];
    const bool has_length = id == VO_OBJECT_STRING || id == VO_OBJECT_WIDE_STRING;
    const std::vector<uint8_t> payload(r.begin() + (has_length ? 8 : 4), r.end() - 4);
    MemoryFile marked;
    for (uint32_t w : {BigEndianWord(r, 0) | VO_OBJECT_REFERENCE, uint32_t(payload.size()), 2u})
      for (int shift = 24; shift >= 0; shift -= 8) marked.bytes.push_back(static_cast<uint8_t>(w >> shift));
    marked.bytes.insert(marked.bytes.end(), payload.begin(), payload.end());
    marked.bytes.resize(marked.bytes.size() + 4);
    ChecksumRenew(&marked.bytes);
    for (size_t k = 1; k < 3; ++k) marked.bytes.insert(marked.bytes.end(), plain[k].begin(), plain[k].end());

    const LiveAllocations before = AllocationsLive();
    ASSERT_EQ(VoObjectOpen(&marked, 0), 0u);
    g_posted.clear();
    VtObjectValue got = Untouched(), next = ObjectValue(0), end = ObjectValue(0);
    const VtObjectValue untouched = got;
    EXPECT_EQ(VoObjectRead(&marked, &got), 2u) << "type " << id;
    EXPECT_EQ(std::memcmp(&got, &untouched, sizeof got), 0) << "type " << id;
    EXPECT_EQ(vo_test::WithMessage(messages::kObjectRecordRefused).size(), 1u) << "type " << id;
    EXPECT_EQ(VoObjectRead(&marked, &next) | VoObjectRead(&marked, &end), 0u) << "type " << id;
    EXPECT_EQ(next.value.i, 77) << "type " << id;
    EXPECT_EQ(end.type, uint32_t{VO_OBJECT_END}) << "type " << id;
    (void)VoObjectClose(&marked);
    EXPECT_EQ(AllocationsLive().blocks, before.blocks) << "type " << id;
  }
}

}  // namespace
}  // namespace vo::test
