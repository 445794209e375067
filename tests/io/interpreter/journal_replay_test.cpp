// The journal and the interpreter agree: a run with every argument form,
// journalled, then replayed with journaling on, writes the same body.

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <limits>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <vo/vo_api.h>

#include "io/interpreter/journal_files.h"

namespace {

using vo_test::Body;
using vo_test::Journal;
using vo_test::Load;
using vo_test::Typed;

VtStatus ApplicationHandler(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

// Runs a session with journaling on into the file at path, between a start
// and a stop of the library, and answers the journal's body.
std::string JournalledSession(const std::string &path, const std::function<void()> &session) {
  EXPECT_EQ(VoInitialise(), 0u);
  std::FILE *j = std::fopen(path.c_str(), "wb");
  Journal(j);
  session();
  Journal(nullptr);
  std::fclose(j);
  EXPECT_EQ(VoTerminate(), 0u);
  return Body(Load(path));
}

// Replays the journal at path with journaling on into the file at replay,
// and answers the replay journal's body and the interpreter's status.
std::pair<std::string, VtStatus> JournalledReplay(const std::string &path, const std::string &replay) {
  EXPECT_EQ(VoInitialise(), 0u);
  std::FILE *again = std::fopen(replay.c_str(), "wb");
  Journal(again);
  std::FILE *script = std::fopen(path.c_str(), "rb");
  const VtStatus st = VoInterpreterReadInput(path.c_str(), script);
  std::fclose(script);
  Journal(nullptr);
  std::fclose(again);
  EXPECT_EQ(VoTerminate(), 0u);
  return {Body(Load(replay)), st};
}

// A journal's body without its comment lines, which a replay does not write.
std::string Statements(const std::string &body) {
  std::string out;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("#", 0) != 0) out += line + "\n";
  return out;
}

void EveryForm() {
  // Strings with escapes, floats and doubles at their edges.
  VtTimer *timer = VoTimerGet("frame \"one\"\\\n\t\x01", nullptr);
  VoTimerStart(timer);
  VoDiagnosticArgDouble(1.0 / 3.0);
  VoDiagnosticArgDouble(std::numeric_limits<double>::infinity());
  VoDiagnosticArgDouble(-1e-300);
  VoDiagnosticArgDouble(std::nan(""));  // not written back: a comment
  // Negative zero keeps its sign in every place a float or double is read:
  // scalars, arrays and typed values ("-0" is no integer there).
  VoDiagnosticArgDouble(-0.0);
  (void)VoSqrtFast(-0.0f);
  float rgb[3] = {-0.0f, 0.5f, -0.0f}, hsv[3];
  VoColourRGBFloatToHSV(rgb, hsv);
  double matrix[16] = {-0.0, 1, 0, 0, 0, -0.0, 1, 0, 0, 0, 1, 0, 0, 0, 0, -0.0};
  (void)VoMatrixDeterminant(matrix);
  // Colours, points, bounds and each kind of typed value.
  VtShader *point = VoShaderCreate(0x50008, "point");
  VtTypedValue v = Typed(VtPoint);
  v.value.v[0] = 1e-38f;
  v.value.v[1] = 1.0f / 3.0f;
  v.value.v[2] = -2;
  VoShaderSetArg(point, "location", &v);
  v = Typed(VtColourType);
  v.value.v[0] = 0.25f;
  v.value.v[1] = 0.5f;
  v.value.v[2] = 1;
  VoShaderSetArg(point, "colour", &v);
  v = Typed(VtBoolean);
  v.value.u = 1;
  VoShaderSetArg(point, "shadows", &v);
  v = Typed(VtInt32);
  v.value.i = -7;
  VoShaderSetArg(point, "shadow resolution", &v);
  v = Typed(VtNat32);
  v.value.u = 3;
  VoControlSet(0x10004, &v);
  const VtBounds bounds = {-1, 1, -2, 2, -3, std::numeric_limits<float>::infinity()};
  VoSceneBoundsSet(&bounds);
  // Outputs, an in-out typed value and a handle array.
  VtTypedValue out = Typed(0);
  VoControlGet(0x10004, &out);
  int32_t major = 0, minor = 0;
  VoGetZRVersion(&major, &minor, nullptr);
  VtTypedValue inout = Typed(VtFloat);
  VoShaderGetArg(point, "intensity", &inout);
  v = Typed(VtFloat);
  v.value.f = -0.0f;
  VoShaderSetArg(point, "intensity", &v);
  VtBounds got;
  VoBoundsGet(&got);
  // Mesh data and a list of handles.
  static const int32_t counts[1] = {3};
  static const int32_t indices[3] = {0, 1, 2};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  float corners[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1.0f / 3.0f, 0}};
  VtTypedValue data = Typed(VtGenericPtr);
  data.value.p = corners;
  VtPrimitive *mesh[2] = {VoPrimitiveCreateMesh(1, nullptr, counts, indices, 1, ids, &data), nullptr};
  mesh[1] = VoPrimitiveCopy(mesh[0], nullptr);
  VoPrimitiveListSet(VoPrimitiveListCreate(2, mesh));
  // A property value is the address of its bytes whatever its type code: it
  // goes as data passed by its address, as a script must pass it.
  VtVertex *vertex = VoVertexCreate(mesh[0]);
  float at[3] = {1, 2, 3};
  VtTypedValue where = Typed(VtPoint);
  where.value.p = at;
  VoVertexSetProperty(mesh[0], vertex, VO_VERT_WORLD, &where);
  // An exported procedure by name; an application's own is a comment.
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoErrorHandlerDefault));
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&ApplicationHandler));
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, nullptr);
  VoShaderDestroy(point);
}

TEST(JournalReplay, EveryArgumentFormReadsBackToTheSameJournal) {
  const std::string first = ::testing::TempDir() + "forms_journal.txt";
  const std::string second = ::testing::TempDir() + "forms_replay.txt";
  const std::string body = JournalledSession(first, EveryForm);
  // Comments only for the application's procedure and the NaN.
  std::istringstream lines(body);
  int comments = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("#", 0) == 0) {
      ++comments;
      EXPECT_TRUE(line.find("nan") != std::string::npos || line.find("<procedure") != std::string::npos)
          << line;
    }
  EXPECT_EQ(comments, 2) << body;
  EXPECT_NE(body.find("VoCallBackSet 0x10000 VoErrorHandlerDefault"), std::string::npos) << body;
  EXPECT_NE(body.find("1e999"), std::string::npos) << body;
  EXPECT_NE(body.find("{VtFloat -0}"), std::string::npos) << body;
  const size_t set = body.find("VoVertexSetProperty");
  EXPECT_NE(body.find("{VtGenericPtr &", set), std::string::npos) << body;

  // The replay writes no comment for the lines that were comments.
  EXPECT_EQ(JournalledReplay(first, second).first, Statements(body));
}

}  // namespace

namespace {

std::FILE *Opened(const std::string &path, uint32_t mode) {
  return static_cast<std::FILE *>(VoFileOpen(path.c_str(), mode));
}

// Replays a journal as vo_run does: where the reading stopped before the
// end of the input (at a header after a stop, or after the journal went on
// in another file), the library is started again.
void Replay(const std::string &path) {
  ASSERT_EQ(VoInitialise(), 0u);
  std::FILE *script = std::fopen(path.c_str(), "rb");
  while (VoInterpreterReadInput(path.c_str(), script), !std::feof(script)) {
    if (VoModuleCheckStarted(1, 0) == 0) VoTerminate();
    ASSERT_EQ(VoInitialise(), 0u);
  }
  std::fclose(script);
  if (VoModuleCheckStarted(1, 0) == 0) VoTerminate();
}

}  // namespace

TEST(JournalReplay, AReplayDoesNotOpenTheFileItsJournalWentOnIn) {
  // Two sessions append to one journal; the first goes on in a second
  // journal, whose VoFileOpen it wrote, and the second opens an output whose
  // variable has the same name. The replay empties neither journal and
  // opens the output.
  const std::string dir = ::testing::TempDir();
  const std::string first = dir + "moved_first.txt", second = dir + "moved_second.txt",
                    out = dir + "moved_out.txt";
  std::remove(first.c_str());
  for (int session = 0; session < 2; ++session) {
    ASSERT_EQ(VoInitialise(), 0u);
    std::FILE *journal = Opened(first, 3);
    Journal(journal);
    VtTypedValue v = Typed(0);
    VoControlGet(VO_CONTROL_TIMING, &v);
    std::FILE *next = Opened(session == 0 ? second : out, 2);
    ASSERT_NE(next, nullptr);
    if (session == 0) {
      v = Typed(VtGenericPtr);
      v.value.p = next;
      VoJournalControlSet(VO_CONTROL_JOURNAL_FILE, &v);
      VoControlGet(VO_CONTROL_TIMING, &v);
    } else {
      VoFileClose(next);
    }
    ASSERT_EQ(VoTerminate(), 0u);
    std::fclose(journal);
    if (session == 0) std::fclose(next);
  }
  const std::string moved = Load(second), journal = Load(first);
  ASSERT_NE(moved.find("VoTerminate"), std::string::npos) << moved;
  ASSERT_NE(journal.find("# VoJournalControlSet 0x10005 {VtGenericPtr p2}"), std::string::npos) << journal;
  ASSERT_NE(journal.find("p2 = VoFileOpen \"" + out), std::string::npos) << journal;
  std::remove(out.c_str());
  Replay(first);
  EXPECT_EQ(Load(second), moved);
  EXPECT_EQ(Load(first), journal);
  EXPECT_TRUE(std::ifstream(out).good()) << "the second session's output was not opened";
}

namespace {

VtObjectValue Record(uint32_t type) {
  VtObjectValue v;
  std::memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

// Writes a record of every form of the value record's table to an object
// file, reads them back and uses what the reads handed out.
void ObjectRecords(const std::string &path) {
  void *out = VoFileOpen(path.c_str(), 2);
  VoObjectOpen(out, 2);
  std::vector<VtObjectValue> written;
  VtObjectValue v = Record(VO_OBJECT_INT32);
  v.value.i = -5;
  written.push_back(v);
  v = Record(VO_OBJECT_FLOAT);
  v.value.f = -0.0f;
  written.push_back(v);
  v = Record(VO_OBJECT_DOUBLE);
  v.value.d = 1.0 / 3.0;
  written.push_back(v);
  v = Record(VO_OBJECT_STRING);
  v.value.s = const_cast<char *>("a \"quoted\" name");
  written.push_back(v);
  v = Record(VO_OBJECT_COLOUR);
  v.value.floats[0] = 1;
  v.value.floats[2] = -0.0f;
  written.push_back(v);
  v = Record(VO_OBJECT_MATRIX);
  for (int i = 0; i < 16; ++i) v.value.doubles[i] = i % 5 == 0 ? 1 : -0.0;
  written.push_back(v);
  VtTypedValue typed = Typed(VtFloat);
  typed.value.f = -0.0f;
  v = Record(VO_OBJECT_TYPED_VALUE);
  v.value.p = &typed;
  written.push_back(v);
  VtMaterial *red = VoMaterialCreate();
  VtShader *plain = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  VtTypedValue colour = Typed(VtColourType);
  colour.value.v[0] = 1;
  VoShaderSetArg(plain, "colour", &colour);
  VoMaterialSetShader(red, plain);
  v = Record(VO_OBJECT_MATERIAL);
  v.value.p = red;
  written.push_back(v);
  written.push_back(v);  // the second time by its reference id
  for (const VtObjectValue &w : written) VoObjectWrite(out, &w);
  VoObjectClose(out);
  VoFileClose(out);

  void *in = VoFileOpen(path.c_str(), 1);
  VoObjectOpen(in, 1);
  std::vector<VtObjectValue> read(written.size() + 1);
  for (VtObjectValue &r : read) VoObjectRead(in, &r);  // the last one meets the end record
  VoObjectClose(in);
  VoFileClose(in);
  const uint32_t ids[1] = {VO_VERT_WORLD};
  float corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  VtTypedValue data = Typed(VtGenericPtr);
  data.value.p = corners;
  VtPrimitive *quad = VoPrimitiveCreatePolygon(4, 1, ids, &data);
  VoPrimitiveSetMaterial(quad, static_cast<VtMaterial *>(read[7].value.p));
  VoDeallocate(read[3].value.s);
  VoDeallocate(read[6].value.p);
  VoPrimitiveDestroy(quad);
}

}  // namespace

TEST(JournalReplay, ObjectFileRecordsAreJournalledAndReplay) {
  // Every record the table describes is written by value or by reference
  // and read back; the journal writes them all as statements (no comment),
  // a later call names what a read handed out, and a replay journals the
  // same statements. A record of a type without a row stays a comment.
  const std::string dir = ::testing::TempDir();
  const std::string first = dir + "objects_journal.txt", second = dir + "objects_replay.txt";
  const std::string body = JournalledSession(first, [&] {
    ObjectRecords(dir + "objects.vob");
    VtObjectValue wide = Record(VO_OBJECT_WIDE_STRING);
    VoObjectWrite(nullptr, &wide);  // no text form: a comment
  });
  std::istringstream lines(body);
  int comments = 0;
  for (std::string line; std::getline(lines, line);) comments += line.rfind("#", 0) == 0;
  EXPECT_EQ(comments, 1) << body;
  for (const char *expected :
       {"VoObjectWrite p1 {1 -5}", "{4 -0}", "{6 \"a \\\"quoted\\\" name\"}", "{12 [1 0 -0]}",
        "{25 {VtFloat -0}}", "VtObjectValue o", "VoPrimitiveSetMaterial h", "VoDeallocate o"})
    EXPECT_NE(body.find(expected), std::string::npos) << expected << "\n" << body;

  const auto [replayed, status] = JournalledReplay(first, second);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(replayed, Statements(body));
}

TEST(JournalReplay, CallsThatReadWhatACommentWroteAreCommentsToo) {
  // A light list goes to an object file as a comment (a shader list travels
  // by address), then a string and the light. Reading them back and freeing
  // each record with its type's deallocator would, in a replay, read the
  // string in place of the list and the light in place of the string, and
  // free the light: the open that reads the file is a comment, and so is
  // every call that uses what it made. vo_run replays the rest and counts
  // the comments.
  const std::string dir = ::testing::TempDir();
  const std::string first = dir + "list_journal.txt", objects = dir + "list.vob";
  const std::string body = JournalledSession(first, [&] {
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "eye");
    VtReference *lights = VoShaderReferenceCreate(light);
    void *out = VoFileOpen(objects.c_str(), 2);
    VoObjectOpen(out, 2);
    VtObjectValue v = Record(VO_OBJECT_SHADER_LIST);
    v.value.p = lights;
    VoObjectWrite(out, &v);
    v = Record(VO_OBJECT_STRING);
    v.value.s = const_cast<char *>("name");
    VoObjectWrite(out, &v);
    v = Record(VO_OBJECT_SHADER);
    v.value.p = light;
    VoObjectWrite(out, &v);
    VoObjectClose(out);
    VoFileClose(out);
    void *in = VoFileOpen(objects.c_str(), 1);
    VoObjectOpen(in, 1);
    VtObjectValue read[3];
    for (VtObjectValue &r : read) VoObjectRead(in, &r);
    EXPECT_EQ(read[1].type & VO_OBJECT_TYPE_MASK, static_cast<uint32_t>(VO_OBJECT_STRING));
    VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(read[0].value.p);
    VoDataObjectGetDeallocator(VO_OBJECT_STRING)(read[1].value.s);
    VoObjectClose(in);
    VoFileClose(in);
    VoReferenceListDestroy(lights, nullptr);
  });
  int comments = 0;
  std::istringstream lines(body);
  for (std::string line; std::getline(lines, line);) {
    const bool comment = line.rfind("# Vo", 0) == 0;
    comments += comment;
    for (const std::string &dependent :
         {"VoFileOpen \"" + objects + "\" 1", std::string("VoObjectRead"), std::string("VoDeallocate")}) {
      EXPECT_TRUE(comment || line.find(dependent) == std::string::npos) << line << "\n" << body;
    }
  }
  // The list's write, the open that reads, its object open, three reads,
  // two frees, the closes.
  EXPECT_EQ(comments, 10) << body;
  EXPECT_NE(body.find("VoObjectWrite p3 {6 \"name\"}"), std::string::npos) << body;

  const std::string err = dir + "list_replay_stderr.txt";
  const int code = std::system(
      ("'" + std::string(VO_RUN_PROGRAM) + "' -q '" + first + "' >/dev/null 2>'" + err + "'").c_str());
  EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0) << Load(err);
  EXPECT_NE(Load(err).find("vo_run: " + std::to_string(comments) +
                           " journalled calls were passed over as comments"),
            std::string::npos)
      << Load(err);
}
