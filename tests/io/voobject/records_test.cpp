// Records through a memory hook: every built-in type and value-area rule,
// typed values, the registry and applications' own types, objects shared by
// reference, older versions, and records a reader does not know.
#include "io/voobject/object_fixture.h"
#include "io/voobject/sample_types.h"

namespace vo::test {
namespace {

using ObjectRecordTest = ObjectTest;

// The value records of every built-in scalar and fixed type, with floats
// and doubles of awkward bit patterns.
std::vector<VtObjectValue> EveryFixedValue() {
  std::vector<VtObjectValue> out;
  VtObjectValue v = ObjectValue(VO_OBJECT_INT32);
  v.value.i = -5;
  out.push_back(v);
  v = ObjectValue(VO_OBJECT_NAT32);
  v.value.u = 0xFFFFFFFFu;
  out.push_back(v);
  v = ObjectValue(VO_OBJECT_WORD);
  v.value.u = 0x01020304u;
  out.push_back(v);
  v = ObjectValue(VO_OBJECT_FLOAT);
  v.value.u = 0x7fa00001u;  // a NaN with a payload
  out.push_back(v);
  v = ObjectValue(VO_OBJECT_DOUBLE);
  const uint64_t nan = 0x7ff4000000000001ull;
  std::memcpy(&v.value.d, &nan, 8);
  out.push_back(v);
  for (uint32_t id = VO_OBJECT_VECTOR; id <= VO_OBJECT_FLOAT4_B; ++id) {
    v = ObjectValue(id);
    for (uint32_t w = 0; w < 32; ++w) v.value.words[w] = 0x3f800000u + id * 4096 + w;
    out.push_back(v);
  }
  return out;
}

// The bytes of the value area the record reader fills for a type.
size_t FilledBytes(uint32_t id) {
  switch (id) {
    case VO_OBJECT_DOUBLE:
    case VO_OBJECT_FLOAT2: return 8;
    case VO_OBJECT_VECTOR:
    case VO_OBJECT_POINT:
    case VO_OBJECT_COLOUR: return 12;
    case VO_OBJECT_BOUNDS:
    case VO_OBJECT_DOUBLE_POINT:
    case VO_OBJECT_DOUBLE_VECTOR: return 24;
    case VO_OBJECT_FLOAT4:
    case VO_OBJECT_FLOAT4_B: return 16;
    case VO_OBJECT_DOUBLE4:
    case VO_OBJECT_DOUBLE4_B: return 32;
    case VO_OBJECT_MATRIX: return 128;
    default: return 4;
  }
}

TEST_F(ObjectRecordTest, EveryFixedTypeReadsBackBitExactIntoItsPartOfTheValueArea) {
  const std::vector<VtObjectValue> values = EveryFixedValue();
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    VtStatus st = 0;
                    for (const VtObjectValue &v : values) st |= WriteValue(m, v);
                    return st;
                  }),
            0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const uint32_t id = values[i].type;
    SCOPED_TRACE(id);
    EXPECT_EQ(read[i].type, id == VO_OBJECT_WORD ? uint32_t{VO_OBJECT_NAT32} : id);
    const size_t n = FilledBytes(id);
    EXPECT_EQ(std::memcmp(&read[i].value, &values[i].value, n), 0);
    for (size_t b = n; b < 128; ++b) EXPECT_EQ(read[i].value.bytes[b], 0) << b;
  }
}

TEST_F(ObjectRecordTest, StringsAndWideStringsReadBackAsNewBlocksNullAndEmptyKept) {
  const char16_t wide[] = u"w\u00e9de\u4e2d";
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    VtStatus st = 0;
                    for (const char *text : {static_cast<const char *>(nullptr), "", "hello, object"}) {
                      VtObjectValue v = ObjectValue(VO_OBJECT_STRING);
                      v.value.s = const_cast<char *>(text);
                      st |= WriteValue(m, v);
                    }
                    VtObjectValue w = ObjectValue(VO_OBJECT_WIDE_STRING);
                    w.value.ws = reinterpret_cast<uint16_t *>(const_cast<char16_t *>(wide));
                    st |= WriteValue(m, w);
                    w.value.ws = nullptr;
                    return st | WriteValue(m, w);
                  }),
            0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), 5u);
  EXPECT_EQ(read[0].value.s, nullptr);
  ASSERT_NE(read[1].value.s, nullptr);
  EXPECT_STREQ(read[1].value.s, "");
  EXPECT_STREQ(read[2].value.s, "hello, object");
  ASSERT_NE(read[3].value.ws, nullptr);
  EXPECT_EQ(std::memcmp(read[3].value.ws, wide, sizeof wide), 0);
  EXPECT_EQ(read[4].value.ws, nullptr);
  for (const VtObjectValue &v : read) VoDataObjectGetDeallocator(v.type)(v.value.p);
}

TEST_F(ObjectRecordTest, TypedValuesKeepTheirCodesAndValuesAndUnsavableOnesAreMarked) {
  std::vector<VtTypedValue> typed;
  auto add = [&](uint32_t type, auto fill) {
    VtTypedValue t{};
    t.type = type;
    fill(t);
    typed.push_back(t);
  };
  add(VtVoid, [](VtTypedValue &) {});
  add(VtInt32, [](VtTypedValue &t) { t.value.i = -40; });
  add(VtNat32, [](VtTypedValue &t) { t.value.u = 40; });
  add(VtFloat, [](VtTypedValue &t) { t.value.u = 0xffc00007u; });
  add(VtDouble, [](VtTypedValue &t) { t.value.d = -0.0; });
  add(VtEnum, [](VtTypedValue &t) { t.value.i = 3; });
  add(VtBoolean, [](VtTypedValue &t) { t.value.u = 1; });
  add(VtColourType, [](VtTypedValue &t) { t.value.v[0] = 0.1f, t.value.v[1] = 0.2f, t.value.v[2] = 0.3f; });
  add(VtVector, [](VtTypedValue &t) { t.value.v[0] = 1, t.value.v[1] = -1, t.value.v[2] = 0.5f; });
  add(VtPoint, [](VtTypedValue &t) { t.value.v[0] = 7, t.value.v[1] = 8, t.value.v[2] = 9; });
  add(VtString, [](VtTypedValue &t) { t.value.s = "label"; });
  add(VtGenericPtr, [](VtTypedValue &t) { t.value.p = nullptr; });
  add(VtFunc, [](VtTypedValue &t) { t.value.fn = reinterpret_cast<VtProc>(&MemoryRead); });
  add(VtFlags, [](VtTypedValue &t) { t.value.u = 0x80000001u; });
  add(VtBoundsType, [](VtTypedValue &t) {
    for (int i = 0; i < 6; ++i) t.value.v[i] = static_cast<float>(i) - 2.5f;
  });
  add(VtShaderColour, [](VtTypedValue &t) { t.value.p = nullptr; });  // a colour driven by no shader
  const size_t saved = typed.size();
  int address = 0;
  add(VtGenericPtr,
      [&](VtTypedValue &t) { t.value.p = &address; });     // not saved: half an address means nothing
  add(VtComplex, [](VtTypedValue &t) { t.value.d = 1; });  // a code outside the table

  MemoryFile f;
  std::vector<VtStatus> written;
  ASSERT_EQ(VoObjectOpen(&f, 2), 0u);
  for (VtTypedValue &t : typed) {
    VtObjectValue v = ObjectValue(VO_OBJECT_TYPED_VALUE);
    v.value.p = &t;
    written.push_back(VoObjectWrite(&f, &v));
  }
  ASSERT_EQ(VoObjectClose(&f), 0u);
  ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
  for (size_t i = 0; i < typed.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "typed value " << i << " code " << typed[i].type);
    const VtStatus expected = i < saved ? 0 : VO_OBJECT_NOT_SAVED;
    EXPECT_EQ(written[i], expected);
    VtObjectValue v = ObjectValue(0);
    ASSERT_EQ(VoObjectRead(&f, &v), expected);
    ASSERT_EQ(v.type, uint32_t{VO_OBJECT_TYPED_VALUE});
    auto *t = static_cast<VtTypedValue *>(v.value.p);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->type, typed[i].type);
    if (typed[i].type == VtString) {
      EXPECT_STREQ(t->value.s, "label");
      VoDeallocate(const_cast<char *>(t->value.s));
    } else if (typed[i].type == VtFunc || i >= saved) {
      EXPECT_EQ(t->value.bits, 0u);  // nothing read back
    } else {
      EXPECT_EQ(std::memcmp(&t->value, &typed[i].value, sizeof t->value), 0);
    }
    VoDataObjectGetDeallocator(VO_OBJECT_TYPED_VALUE)(t);
  }
  EXPECT_EQ(VoObjectClose(&f), 0u);

  // A colour driven by an address that is no shader fails its record; the
  // file does not hold it, and lacking its end it does not read back whole.
  VtTypedValue foreign{};
  foreign.type = VtShaderColour;
  foreign.value.p = &address;
  MemoryFile g;
  ASSERT_EQ(VoObjectOpen(&g, 2), 0u);
  VtObjectValue v = ObjectValue(VO_OBJECT_TYPED_VALUE);
  v.value.p = &foreign;
  EXPECT_EQ(VoObjectWrite(&g, &v), 2u);
  EXPECT_EQ(VoObjectClose(&g), 2u);
  std::vector<VtObjectValue> none;
  EXPECT_EQ(ReadAll(&g, &none), 2u);
  EXPECT_TRUE(none.empty());
}

void NodeFree(Node *n) {
  if (n == nullptr) return;
  VoDeallocate(n->name);
  VoDeallocate(n);
}

TEST_F(ObjectRecordTest, TheRegistryRefusesUnknownExistingAndBadlyFittedTypes) {
  const uint32_t one = 1, zero = 0;
  const uint32_t unknown = 999;
  EXPECT_EQ(VoDataObjectCreate(VO_OBJECT_COLOUR, 1, 0, nullptr, nullptr, nullptr, nullptr, 4), 2u);  // exists
  EXPECT_EQ(VoDataObjectCreate(300, 1, 1, &unknown, &one, &zero, &one, 4), 2u);  // an unregistered field type
  const uint32_t doubles = VO_OBJECT_DOUBLE, two = 2;
  EXPECT_EQ(VoDataObjectCreate(300, 1, 1, &doubles, &two, &zero, &one, 12), 2u);  // 16 bytes in 12
  EXPECT_EQ(VoDataObjectCreate(300, 1000, 0, nullptr, nullptr, nullptr, nullptr, 4),
            2u);  // a version over 999
  EXPECT_EQ(VoDataObjectSetFlags(301, 2), 2u);
  EXPECT_EQ(VoDataObjectIgnore(301, 1), 2u);
  EXPECT_EQ(VoDataObjectGetDeallocator(301), nullptr);
  EXPECT_EQ(VoDataObjectGetUserData(301), 0u);
  EXPECT_EQ(VoDataObjectCreate(300, 1, 1, &doubles, &two, &zero, &one, 16), 0u);
  EXPECT_EQ(VoDataObjectSetUserData(300, 0xABCD), 0u);
  EXPECT_EQ(VoDataObjectGetUserData(300), 0xABCDu);
  MemoryFile f;
  ASSERT_EQ(VoObjectOpen(&f, 2), 0u);
  VtObjectValue v = ObjectValue(302);  // never registered
  EXPECT_EQ(VoObjectWrite(&f, &v), 2u);
  EXPECT_EQ(VoObjectClose(&f), 0u);
}

TEST_F(ObjectRecordTest, AnObjectWrittenTwiceIsStoredOnceAndReadBackAsOnePointer) {
  ASSERT_EQ(RegisterNodes(), 0u);
  char name[] = "shared";
  Node node{42, name};
  Pair both{&node, &node}, half{&node, nullptr};
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    VtObjectValue v = ObjectValue(200);
                    v.value.p = &both;
                    VtStatus st = WriteValue(m, v);
                    v.value.p = &half;
                    return st | WriteValue(m, v);
                  }),
            0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), 2u);
  auto *p = static_cast<Pair *>(read[0].value.p);
  auto *q = static_cast<Pair *>(read[1].value.p);
  ASSERT_NE(p->a, nullptr);
  EXPECT_EQ(p->a, p->b);
  EXPECT_EQ(q->a, p->a);
  EXPECT_EQ(q->b, nullptr);
  EXPECT_EQ(p->a->value, 42);
  EXPECT_STREQ(p->a->name, "shared");
  NodeFree(p->a);
  VoDeallocate(p);
  VoDeallocate(q);
}

// Type 700: one word through codecs of its own; the encoder fails once.
int g_encoder_failures = 0;
VtStatus WordEncode(uint32_t, uint32_t, void *value, VtObjectStream *s) {
  if (g_encoder_failures > 0) return --g_encoder_failures, 2u;
  return VoDataObjectWriteBytes(value, 4, s);
}
VtStatus WordDecode(uint32_t, uint32_t, void *destination, uint32_t, VtObjectStream *s) {
  return VoDataObjectReadBytes(destination, 4, s);
}

TEST_F(ObjectRecordTest, ObjectsHeldByReferenceKeepTheirTypeAndAFailedRecordLeavesNoIdBehind) {
  ASSERT_EQ(RegisterNodes(), 0u);
  ASSERT_EQ(VoDataObjectCreate(700, 1, 0, nullptr, nullptr, nullptr, nullptr, 4), 0u);
  ASSERT_EQ(VoDataObjectSetEncoder(700, &WordEncode), 0u);
  ASSERT_EQ(VoDataObjectSetDecoder(700, &WordDecode), 0u);
  uint32_t word = 0x12345678u;
  MemoryFile f;
  ASSERT_EQ(VoObjectOpen(&f, 2), 0u);
  VtObjectValue v = ObjectValue(700);
  v.by_reference = 1;
  v.value.p = &word;
  g_encoder_failures = 1;
  EXPECT_EQ(VoObjectWrite(&f, &v), 2u);
  EXPECT_EQ(VoObjectWrite(&f, &v), 0u);  // stored in full: the failed record gave its id back
  EXPECT_EQ(VoObjectWrite(&f, &v), 0u);  // now its id alone
  VtObjectValue n = ObjectValue(kNode);  // the same address claimed as a node: an id of another type
  n.by_reference = 1;
  n.value.p = &word;
  EXPECT_EQ(VoObjectWrite(&f, &n), 0u);
  EXPECT_EQ(VoObjectClose(&f), 2u);  // the failed write is not forgotten

  f.at = 0;
  ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
  VtObjectValue first = ObjectValue(0), second = ObjectValue(0), third = ObjectValue(0);
  ASSERT_EQ(VoObjectRead(&f, &first), 0u);
  ASSERT_EQ(VoObjectRead(&f, &second), 0u);
  EXPECT_EQ(*static_cast<uint32_t *>(first.value.p), 0x12345678u);
  EXPECT_EQ(second.value.p, first.value.p);
  EXPECT_EQ(VoObjectRead(&f, &third), 2u);
  EXPECT_EQ(third.value.p, nullptr);
  EXPECT_EQ(VoObjectClose(&f), 2u);
  VoDeallocate(first.value.p);
}

class ObjectRestartTest : public ObjectTest {
 protected:
  // A second run of the library: the registry starts again from the
  // built-in types.
  void Restart() {
    TearDown();
    SetUp();
  }
};

TEST_F(ObjectRestartTest, AFileOfAnOlderVersionReadsWithTheNewerFieldsZero) {
  const uint32_t ints[2] = {VO_OBJECT_INT32, VO_OBJECT_INT32}, counts[2] = {1, 1}, offsets[2] = {0, 4};
  const uint32_t first[2] = {1, 1}, later[2] = {1, 2};
  ASSERT_EQ(VoDataObjectCreate(300, 1, 1, ints, counts, offsets, first, 4), 0u);
  MemoryFile f;
  int32_t old_value = 17;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    VtObjectValue v = ObjectValue(300);
                    v.value.p = &old_value;
                    return WriteValue(m, v);
                  }),
            0u);
  Restart();
  ASSERT_EQ(VoDataObjectCreate(300, 2, 2, ints, counts, offsets, later, 8), 0u);
  std::vector<VtObjectValue> read;
  ASSERT_EQ(ReadAll(&f, &read), 0u);
  ASSERT_EQ(read.size(), 1u);
  const auto *got = static_cast<const int32_t *>(read[0].value.p);
  EXPECT_EQ(got[0], 17);
  EXPECT_EQ(got[1], 0);
  VoDeallocate(read[0].value.p);
}

TEST_F(ObjectRestartTest, RecordsOfTypesTheReaderLacksArePassedOverAndDrainedExactly) {
  ASSERT_EQ(RegisterNodes(), 0u);
  char name[] = "node";
  Node node{5, name};
  Pair pair{&node, &node};
  MemoryFile f;
  ASSERT_EQ(Write(&f,
                  [&](MemoryFile *m) {
                    VtObjectValue v = ObjectValue(200);
                    v.value.p = &pair;
                    VtObjectValue n = ObjectValue(201);  // by reference: an id-only record, then a null one
                    n.by_reference = 1;
                    n.value.p = &node;
                    VtStatus st = WriteValue(m, v) | WriteValue(m, n);
                    n.value.p = nullptr;
                    st |= WriteValue(m, n);
                    VtObjectValue c = ObjectValue(VO_OBJECT_COLOUR);
                    c.value.floats[2] = 3;
                    VtObjectValue d = ObjectValue(VO_OBJECT_DOUBLE);
                    d.value.d = 0.125;
                    return st | WriteValue(m, c) | WriteValue(m, d);
                  }),
            0u);
  // Closed early, the reader drains every record by its length.
  f.at = 0;
  ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
  EXPECT_EQ(VoObjectClose(&f), 0u);

  Restart();  // a reader that knows neither type
  std::vector<VtObjectValue> read;
  EXPECT_EQ(ReadAll(&f, &read), VO_OBJECT_NOT_SAVED);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].type, uint32_t{VO_OBJECT_COLOUR});
  EXPECT_EQ(read[0].value.floats[2], 3.0f);
  EXPECT_EQ(read[1].value.d, 0.125);
  f.at = 0;
  ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
  EXPECT_EQ(VoObjectClose(&f), 0u);
}

// A type whose encoder writes bytes of the caller's choosing (big-endian
// words), read back field by field: a string item of type word 6 inside.
std::vector<uint32_t> g_crafted;
VtStatus CraftedEncode(uint32_t, uint32_t, void *, VtObjectStream *s) {
  std::vector<uint8_t> bytes;
  for (uint32_t w : g_crafted)
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(w >> shift));
  return VoDataObjectWriteBytes(bytes.data(), static_cast<uint32_t>(bytes.size()), s);
}

// A decoder that reads two words whatever the length says.
VtStatus GreedyDecode(uint32_t, uint32_t, void *destination, uint32_t, VtObjectStream *s) {
  return VoDataObjectReadBytes(destination, 8, s);
}

TEST_F(ObjectRecordTest, ItemsThatLieAboutTheirSizeFailTheirRecord) {
  const uint32_t string = VO_OBJECT_STRING, one = 1, zero = 0;
  ASSERT_EQ(VoDataObjectCreate(500, 1, 1, &string, &one, &zero, &one, sizeof(char *)), 0u);
  ASSERT_EQ(VoDataObjectSetEncoder(500, &CraftedEncode), 0u);
  ASSERT_EQ(VoDataObjectCreate(501, 1, 0, nullptr, nullptr, nullptr, nullptr, 8), 0u);
  ASSERT_EQ(VoDataObjectSetEncoder(501, &CraftedEncode), 0u);
  ASSERT_EQ(VoDataObjectSetDecoder(501, &GreedyDecode), 0u);
  struct Case {
    uint32_t type;
    std::vector<uint32_t> words;
    VtStatus expected;
  };
  const Case cases[] = {
      {500, {6, 8, 4, 0x61626300}, 0},             // "abc": a well-formed string item
      {500, {6, 8, 100, 0x61626300}, 2},           // 100 bytes claimed, 4 in the item
      {500, {6, 8, 4, 0x61626364}, 2},             // "abcd" without its terminator
      {500, {6, 0xFFFFFFF0u, 0xFFFFFFF0u, 0}, 2},  // lengths far past the record and the file
      {501, {0x11111111}, 2},                      // the decoder reads past its 4 bytes
      {501, {0x11111111, 0x22222222}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " words " << c.words.size() << " -> "
                                    << c.expected);
    g_crafted = c.words;
    MemoryFile f;
    ASSERT_EQ(Write(&f,
                    [&](MemoryFile *m) {
                      char *unused = nullptr;
                      VtObjectValue v = ObjectValue(c.type);
                      v.value.p = &unused;
                      VtObjectValue i = ObjectValue(VO_OBJECT_INT32);
                      return WriteValue(m, v) | WriteValue(m, i);
                    }),
              0u);
    f.at = 0;
    ASSERT_EQ(VoObjectOpen(&f, 1), 0u);
    VtObjectValue v = ObjectValue(0);
    EXPECT_EQ(VoObjectRead(&f, &v), c.expected);
    if (c.expected == 0) {
      void *block = v.value.p;
      if (c.type == 500) {
        EXPECT_STREQ(*static_cast<char **>(block), "abc");
        VoDeallocate(*static_cast<char **>(block));
      }
      VoDeallocate(block);
      VtObjectValue next = ObjectValue(0);
      EXPECT_EQ(VoObjectRead(&f, &next), 0u);  // the next record is where it should be
      EXPECT_EQ(next.type, uint32_t{VO_OBJECT_INT32});
    } else {
      EXPECT_EQ(v.value.p, nullptr);  // nothing half-read handed out
    }
    EXPECT_EQ(VoObjectClose(&f), c.expected);
  }
}

}  // namespace
}  // namespace vo::test
