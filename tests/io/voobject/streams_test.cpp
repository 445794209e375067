// Streams and blobs: memory streams growing and bounded, opening and
// closing by id, short reads, the module's controls and hooks, and the
// compression of blobs.
#include <zlib.h>

#include <algorithm>

#include "io/voobject/object.h"
#include "io/voobject/object_fixture.h"

namespace vo::test {
namespace {

using ObjectStreamTest = ObjectTest;

TEST_F(ObjectStreamTest, MemoryStreamsGrowByTheWritePlus51200AndReadNoFurtherThanTheirEnd) {
  VtObjectStream *s = object::StreamCreate(1, true);
  ASSERT_NE(s, nullptr);
  uint8_t piece[1000];
  std::vector<size_t> capacities;
  for (int i = 0; i < 120; ++i) {
    std::memset(piece, i, sizeof piece);
    ASSERT_EQ(object::BytesWrite(s, piece, sizeof piece), 0u);
    if (capacities.empty() || capacities.back() != s->capacity) capacities.push_back(s->capacity);
  }
  // 51,200 first; then each time fewer than 1,024 bytes would stay free:
  // + 1,000 + 51,200.
  EXPECT_EQ(capacities, (std::vector<size_t>{51200, 103400, 155600}));
  ASSERT_EQ(s->used, 120000u);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(s->base[1000 * i + 999], i) << i;
  object::StreamRelease(s);

  // A reader over a buffer of 8 bytes it was handed (and then owns).
  VtObjectStream *parent = object::StreamCreate(0, false);
  auto *buffer = static_cast<uint8_t *>(VoAllocate(8));
  std::memset(buffer, 0x5A, 8);
  VtObjectStream *child = object::ChildCreate(parent, buffer, 8);
  ASSERT_NE(child, nullptr);
  child->substitution = 0;
  uint8_t out[12];
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(VoDataObjectReadBytes(out, 12, child), 2u);
  EXPECT_EQ(out[0], 0);  // nothing copied
  EXPECT_EQ(VoDataObjectReadBytes(out, 8, child), 0u);
  EXPECT_EQ(out[7], 0x5A);
  EXPECT_EQ(VoDataObjectReadBytes(out, 1, child), 2u);
  object::StreamRelease(child);
  object::StreamRelease(parent);
}

TEST_F(ObjectStreamTest, StreamIdsOpenOnceCloseOnceAndAShortReadSticks) {
  EXPECT_EQ(VoObjectOpen(nullptr, 2), 2u);
  MemoryFile f;
  ASSERT_EQ(VoObjectOpen(&f, 2), 0u);
  EXPECT_EQ(VoObjectOpen(&f, 1), 2u);  // the first stream could never be closed
  VtObjectValue v = ObjectValue(VO_OBJECT_BOUNDS);
  v.value.floats[5] = 6;
  EXPECT_EQ(VoObjectWrite(&f, &v), 0u);
  EXPECT_EQ(VoObjectRead(&f, &v), 2u);  // a writer
  EXPECT_EQ(VoObjectClose(&f), 0u);
  EXPECT_EQ(VoObjectClose(&f), 2u);
  EXPECT_EQ(VoObjectWrite(&f, &v), 2u);

  // The hook delivers the header and part of the record only.
  f.short_after = f.bytes.size() - 20;
  ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
  VtObjectValue r = ObjectValue(0);
  EXPECT_EQ(VoObjectRead(&f, &r), 2u);
  EXPECT_EQ(r.type, 0u);
  EXPECT_EQ(VoObjectClose(&f), 2u);  // the stream's status kept it; no drain

  // A header that does not begin "VoOb", or names a later version.
  for (size_t at : {size_t{0}, size_t{7}}) {
    MemoryFile bad = f;
    bad.at = 0;
    bad.short_after = SIZE_MAX;
    bad.bytes[at] ^= at == 0 ? 0x20 : 0x04;  // "voOb", version 7
    EXPECT_EQ(VoObjectOpen(&bad, 1), 2u);
    EXPECT_EQ(VoObjectClose(&bad), 2u);
  }
  // A header read only when asked for a specific value.
  f.at = 0;
  f.short_after = SIZE_MAX;
  ASSERT_EQ(VoObjectOpen(&f, 0), 0u);
  VtBounds b{};
  EXPECT_EQ(VoObjectReadSpecific(&f, VO_OBJECT_BOUNDS, &b), 0u);
  EXPECT_EQ(b.zmax, 6.0f);
  EXPECT_EQ(VoObjectRead(&f, &r), 0u);
  EXPECT_EQ(r.type, uint32_t{VO_OBJECT_END});
  EXPECT_EQ(VoObjectRead(&f, &r), 2u);  // past the end record: refused, the file not blamed
  EXPECT_EQ(VoObjectClose(&f), 0u);
}

// A write hook that refuses every write once `writes_left` is spent.
int g_writes_left = 0;
VtStatus WriteUntilSpent(void *buffer, uint32_t n, void *id) {
  if (g_writes_left-- <= 0) return 2;
  return MemoryWrite(buffer, n, id);
}

TEST_F(ObjectStreamTest, AWriterThatLostARecordLeavesNoEndAndItsFileFailsToReadBack) {
  auto three = [](MemoryFile *f) {
    VtStatus st = 0;
    for (int i = 0; i < 3; ++i) {
      VtObjectValue v = ObjectValue(VO_OBJECT_INT32);
      v.value.i = 10 + i;
      st |= VoObjectWrite(f, &v);
    }
    return st;
  };
  MemoryFile whole;
  ASSERT_EQ(Write(&whole, three), 0u);
  std::vector<VtObjectValue> all;
  ASSERT_EQ(ReadAll(&whole, &all), 0u);
  ASSERT_EQ(all.size(), 3u);

  // The hook fails at each of its calls in turn (the header, a record, the
  // end record): the writer's close answers 2 and the file, holding whole
  // records at most, never reads back as valid.
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, reinterpret_cast<VtProc>(&WriteUntilSpent)), 0u);
  g_writes_left = 1000;
  MemoryFile counted;
  ASSERT_EQ(Write(&counted, three), 0u);
  const int calls = 1000 - g_writes_left;
  ASSERT_GT(calls, 2);
  for (int spent = 0; spent < calls; ++spent) {
    SCOPED_TRACE(testing::Message() << "the hook failing after " << spent << " writes");
    MemoryFile f;
    g_writes_left = spent;
    EXPECT_EQ(Write(&f, three), 2u);
    std::vector<VtObjectValue> left;
    EXPECT_EQ(ReadAll(&f, &left) & 2u, 2u);
    for (size_t i = 0; i < left.size(); ++i) EXPECT_EQ(left[i].value.i, all[i].value.i);
  }
  UseMemoryHooks();
}

TEST_F(ObjectStreamTest, ControlsAndHooksAnswerAndReplaceTheirValues) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_OBJECT_PROPERTY_COUNT, &v), 0u);
  EXPECT_EQ(v.value.u, 6u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_OBJECT_PROPERTY_LIST, &v), 0u);
  const auto *codes = static_cast<const uint32_t *>(v.value.p);
  EXPECT_EQ(codes[0], 0x10au);
  EXPECT_EQ(codes[5], 0x40au);
  uint32_t mine[2] = {0x101, 0x102};
  VtTypedValue set = TypedPointer(mine);
  EXPECT_EQ(VoControlSet(VO_CONTROL_OBJECT_PROPERTY_LIST, &set), 0u);
  set = TypedNat32(2);
  EXPECT_EQ(VoControlSet(VO_CONTROL_OBJECT_PROPERTY_COUNT, &set), 0u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_OBJECT_PROPERTY_LIST, &v), 0u);
  EXPECT_EQ(v.value.p, mine);
  EXPECT_NE(VoControlGet(0x700003, &v), 0u);

  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_OBJECT_READ), reinterpret_cast<VtProc>(&MemoryRead));
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_OBJECT_SEED), nullptr);
  EXPECT_NE(VoCallBackSet(VO_CALLBACK_OBJECT_WRITE, nullptr), 0u);
  EXPECT_NE(VoCallBackSet(0x700004, reinterpret_cast<VtProc>(&MemoryRead)), 0u);
  EXPECT_EQ(VoCallBackGet(VO_CALLBACK_OBJECT_WRITE), reinterpret_cast<VtProc>(&MemoryWrite));
}

TEST_F(ObjectStreamTest, BlobsCompressAndInflateOnlyToTheirWholeLength) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{16}, size_t{70000}}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
    void *packed = nullptr;
    uint32_t packed_length = 0;
    ASSERT_EQ(VoDataObjectCompress(data.data(), static_cast<uint32_t>(n), &packed, &packed_length), 0u);
    ASSERT_NE(packed, nullptr);
    EXPECT_LE(packed_length, compressBound(n));
    std::vector<uint8_t> back(n + 1, 0xEE);
    EXPECT_EQ(VoDataObjectDecompress(packed, packed_length, back.data(), static_cast<uint32_t>(n)), 0u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back[n], 0xEE);
    // A destination longer than the stream, and a stream cut short.
    EXPECT_EQ(VoDataObjectDecompress(packed, packed_length, back.data(), static_cast<uint32_t>(n + 1)), 2u);
    EXPECT_EQ(VoDataObjectDecompress(packed, packed_length - 1, back.data(), static_cast<uint32_t>(n)), 2u);
    if (n > 0) {
      EXPECT_EQ(VoDataObjectDecompress(packed, packed_length, back.data(), static_cast<uint32_t>(n - 1)), 2u);
    }
    VoDeallocate(packed);
  }
  void *packed = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(VoDataObjectCompress(nullptr, 4, &packed, &length), 2u);
  const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[8];
  EXPECT_EQ(VoDataObjectDecompress(const_cast<uint8_t *>(junk), 8, out, 8), 2u);
}

}  // namespace
}  // namespace vo::test
