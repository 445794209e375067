// The object file's bytes: the ISAAC generator and the byte permutation it
// draws, the header and its time-seeded words, and the checksums.
#include <cstdlib>
#include <random>

#include "io/voobject/isaac.h"
#include "io/voobject/object_fixture.h"

namespace vo::test {
namespace {

using object::ByteTablesBuild;
using object::IsaacGenerate;
using object::IsaacInitialise;
using object::IsaacState;

TEST(ObjectPermutation, IsaacGivesThePublishedWordsAndTheTablesArePermutations) {
  IsaacState s{};
  IsaacInitialise(&s);  // 256 zero seeds
  IsaacGenerate(&s);    // the published vector prints the generation after initialisation
  EXPECT_EQ(s.result[0], 0xf650e4c8u);
  EXPECT_EQ(s.result[1], 0xe448e96du);
  EXPECT_EQ(s.result[2], 0x98db2fb4u);
  EXPECT_EQ(s.result[3], 0xf5fad54fu);

  uint32_t seeds[256] = {};
  uint8_t forward[256], inverse[256];
  ByteTablesBuild(&s, seeds, forward, inverse);
  const uint8_t first[8] = {243, 141, 34, 33, 121, 233, 181, 36};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(forward[i], first[i]) << i;

  std::mt19937 random(112);
  for (int set = 0; set < 100; ++set) {
    for (uint32_t &w : seeds) w = random();
    ByteTablesBuild(&s, seeds, forward, inverse);
    bool seen[256] = {};
    for (int x = 0; x < 256; ++x) {
      EXPECT_FALSE(seen[forward[x]]) << "set " << set;
      seen[forward[x]] = true;
      EXPECT_EQ(inverse[forward[x]], x);
    }
  }
}

using ObjectFormatTest = ObjectTest;

TEST_F(ObjectFormatTest, TheHeaderHoldsTheMagicVersionFlagsAndTheTimeSeededWords) {
  MemoryFile one, two;
  auto records = [](MemoryFile *f) {
    VtObjectValue v = ObjectValue(VO_OBJECT_DOUBLE);
    v.value.d = 2.5;
    return WriteValue(f, v);
  };
  ASSERT_EQ(Write(&one, records), 0u);
  const uint8_t head[16] = {'V', 'o', 'O', 'b', 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 1};
  ASSERT_GT(one.bytes.size(), 1040u);
  EXPECT_EQ(std::memcmp(one.bytes.data(), head, 16), 0);
  // The sample generator seeded with 1 draws 16838, 5758, 10113, 17515,
  // 31051, 5627; each pair is swapped.
  const uint32_t seeds[6] = {0x167e, 0x41c6, 0x446b, 0x2781, 0x15fb, 0x794b};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(BigEndianWord(one.bytes, 16 + 4 * i), seeds[i]) << i;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(BigEndianWord(one.bytes, 16 + 4 * i) >> 15, 0u) << i;

  const int64_t two_seconds = 2;
  platform::CalendarSecondsFix(&two_seconds);
  ASSERT_EQ(Write(&two, records), 0u);
  ASSERT_EQ(one.bytes.size(), two.bytes.size());
  size_t first_difference = 0;
  while (first_difference < one.bytes.size() && one.bytes[first_difference] == two.bytes[first_difference])
    ++first_difference;
  EXPECT_EQ(first_difference, 18u);  // the first seed word's low half: 0x167e then another
  EXPECT_NE(std::memcmp(one.bytes.data() + 1040, two.bytes.data() + 1040, one.bytes.size() - 1040), 0);
  std::vector<VtObjectValue> a, b;
  // The seeds come from a generator of the file's own: the application's
  // rand() sequence goes on as if no file had been written.
  std::srand(5);
  const int first = std::rand();
  std::srand(5);
  MemoryFile three;
  ASSERT_EQ(Write(&three, records), 0u);
  EXPECT_EQ(std::rand(), first);
  ASSERT_EQ(ReadAll(&one, &a), 0u);
  ASSERT_EQ(ReadAll(&two, &b), 0u);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(a[0].value.d, 2.5);
  EXPECT_EQ(b[0].value.d, 2.5);
}

void ZeroSeeds(uint32_t, uint32_t *seeds) { std::memset(seeds, 0, 256 * sizeof(uint32_t)); }

TEST_F(ObjectFormatTest, ChecksumsCoverThePermutedBytesAndCatchAFlippedByte) {
  // A hand-made file without permutation: an empty type table, then the end
  // record, checksum 13 + (9 << 3) + (2 << 7) = 341.
  MemoryFile plain;
  const uint8_t head[16] = {'V', 'o', 'O', 'b', 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0};
  plain.bytes.assign(head, head + 16);
  plain.bytes.resize(1040 + 4, 0);
  const uint8_t end[16] = {0, 0, 0, 9, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0x01, 0x55};
  plain.bytes.insert(plain.bytes.end(), end, end + 16);
  EXPECT_EQ(ReadAll(&plain, nullptr), 0u);
  plain.bytes.back() ^= 1;
  EXPECT_EQ(ReadAll(&plain, nullptr), 2u);

  // With every seed 0 the permutation starts 243, 141, 34, ... (0 -> f3,
  // 9 -> ef, 2 -> 22).
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_OBJECT_SEED, reinterpret_cast<VtProc>(&ZeroSeeds)), 0u);
  MemoryFile permuted;
  ASSERT_EQ(Write(&permuted, [](MemoryFile *) { return VtStatus{0}; }), 0u);
  const uint8_t written[16] = {0xf3, 0xf3, 0xf3, 0xef, 0xf3, 0xf3, 0xf3, 0x22,
                               0xf3, 0xf3, 0xf3, 0xf3, 0xf3, 0xbd, 0xb0, 0x85};
  ASSERT_GE(permuted.bytes.size(), 16u);
  EXPECT_EQ(std::memcmp(permuted.bytes.data() + permuted.bytes.size() - 16, written, 16), 0);
  EXPECT_EQ(ReadAll(&permuted, nullptr), 0u);
  const size_t records_at = permuted.bytes.size() - 16;

  // A colour, then an integer: a flipped byte of the colour's second float
  // fails the record, unless the reader ignores colours.
  MemoryFile colour;
  ASSERT_EQ(Write(&colour,
                  [](MemoryFile *f) {
                    VtObjectValue c = ObjectValue(VO_OBJECT_COLOUR);
                    c.value.floats[0] = 0.25f, c.value.floats[1] = 0.5f, c.value.floats[2] = 1.0f;
                    VtObjectValue i = ObjectValue(VO_OBJECT_INT32);
                    i.value.i = -7;
                    return WriteValue(f, c) | WriteValue(f, i);
                  }),
            0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&colour, &read), 0u);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].value.floats[1], 0.5f);
  colour.bytes[records_at + 4 + 8 + 6] ^= 0x10;  // type word, first item, inside the second float
  read.clear();
  EXPECT_EQ(ReadAll(&colour, &read), 2u);
  EXPECT_TRUE(read.empty());
  ASSERT_EQ(VoDataObjectIgnore(VO_OBJECT_COLOUR, 1), 0u);
  read.clear();
  EXPECT_EQ(ReadAll(&colour, &read), VO_OBJECT_NOT_SAVED);  // passed over, the integer taken
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].type, uint32_t{VO_OBJECT_INT32});
  EXPECT_EQ(read[0].value.i, -7);
}

}  // namespace
}  // namespace vo::test
