// Bad input and scarce memory: a file of every type cut at every offset and
// with seeded byte flips reads with a status of 0, 2 or 0x20000000 and loses
// nothing; every allocation failing in turn over writing and reading gives
// a failure status and leaks nothing.
#include "io/voobject/object_fixture.h"
#include "io/voobject/sample_types.h"

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

}  // namespace
}  // namespace vo::test
