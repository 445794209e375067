// The transform module (voxform, number 15): transform records, transform
// classes and the module's state.
//
// A transform is a reference-counted record whose behaviour comes from its
// class: a record of 23 procedures plus the class code. Points are row
// vectors, p' = p x F; a matrix is 16 doubles row by row, element [r][c] at
// 4r + c, the translation in row 3. Concatenating A then B gives F_A x F_B
// and the inverse I_B x I_A.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/face.h"

struct VtTransformClass;

// A transform. Other modules test it through VoTransformGetType; the layout
// is fixed below.
struct VtTransform {
  const VtTransformClass *cls;  // class record
  void *data;                   // class data: null (identity), linear data, first list node, procedural data
  uint32_t references;          // the application's reference plus one per holder
  uint32_t flags;               // classification and state bits (kFlag...)
};
static_assert(offsetof(VtTransform, cls) == 0);
static_assert(offsetof(VtTransform, data) == 8);
static_assert(offsetof(VtTransform, references) == 16);
static_assert(offsetof(VtTransform, flags) == 20);
static_assert(sizeof(VtTransform) == 24);

// The procedures of a class. Slots 0-7 take the transform first, slots 8-22
// last; slots 8-22 answer a status.
struct VtTransformClass {
  VtStatus (*release)(VtTransform *t);                                                     // 0
  void *(*copy)(VtTransform *t);                                                           // 1
  VtStatus (*get_matrix)(VtTransform *t, const double **forward, const double **inverse);  // 2
  VtStatus (*invert)(VtTransform *t);                                                      // 3
  VtStatus (*notify_a)(VtTransform *t);                                                    // 4
  uint32_t (*update)(VtTransform *t, uint32_t *version);  // 5: 0 unchanged, 1 changed, 2 not available
  VtStatus (*notify_b)(VtTransform *t);                   // 6
  VtStatus (*print)(VtTransform *t);                      // 7
  VtStatus (*point)(float *out, const float *in, VtTransform *t);                                     // 8
  VtStatus (*vector)(float *out, const float *in, VtTransform *t);                                    // 9
  VtStatus (*normal)(float *out, const float *point, const float *normal, VtTransform *t);            // 10
  VtStatus (*plane)(float *out, const float *in, VtTransform *t);                                     // 11
  VtStatus (*hpoint)(float *out, const float *in, VtTransform *t);                                    // 12
  VtStatus (*bounds)(float *out, const float *in, VtTransform *t);                                    // 13
  VtStatus (*point_inverse)(float *out, const float *in, VtTransform *t);                             // 14
  VtStatus (*normal_inverse)(float *out, const float *point, const float *normal, VtTransform *t);    // 15
  VtStatus (*point_double)(double *out, const double *in, VtTransform *t);                            // 16
  VtStatus (*vector_double)(double *out, const double *in, VtTransform *t);                           // 17
  VtStatus (*normal_double)(double *out, const double *point, const double *normal, VtTransform *t);  // 18
  VtStatus (*plane_double)(double *out, const double *in, VtTransform *t);                            // 19
  VtStatus (*hpoint_double)(double *out, const double *in, VtTransform *t);                           // 20
  VtStatus (*point_inverse_double)(double *out, const double *in, VtTransform *t);                    // 21
  VtStatus (*normal_inverse_double)(double *out, const double *point, const double *normal,
                                    VtTransform *t);  // 22
  uint32_t code;                                      // kClass...
};
static_assert(offsetof(VtTransformClass, point) == 8 * sizeof(void *));
static_assert(offsetof(VtTransformClass, code) == 23 * sizeof(void *));

namespace vo::xform {

// Class codes.
constexpr uint32_t kClassIdentity = 0;
constexpr uint32_t kClassLinear = 1;
constexpr uint32_t kClassProcedural = 2;
constexpr uint32_t kClassList = 3;

// Flags (the letters are those of the report).
constexpr uint32_t kFlagRigid = 0x0020;       // R: rotation times a uniform scale, affine
constexpr uint32_t kFlagAffine = 0x0040;      // A: general 3x3 part, column 3 (0, 0, 0, 1)
constexpr uint32_t kFlagProjective = 0x0080;  // P
constexpr uint32_t kFlagSingular = 0x0100;    // N: no inverse; the stored inverse is the adjugate
constexpr uint32_t kFlagReflection = 0x1000;  // R: negative determinant
constexpr uint32_t kFlagCarried = 0x2000;     // T: carried through concatenation and reported
constexpr uint32_t kFlagDestroyed = 0x4000;   // D: the application's reference has been dropped
constexpr uint32_t kFlagInvariant = 0x8000;   // I: the class has no update procedure
constexpr uint32_t kAffineMask = kFlagRigid | kFlagAffine;
// The upper half of the flags word of every transform record the module
// made and has not freed (the freed record's flags are cleared): the check
// the per-point operations make, one compare, before they follow the class.
constexpr uint32_t kFlagRecord = 0x7e5a0000;
constexpr uint32_t kFlagRecordMask = 0xffff0000;
// What a change of class or concatenation keeps of the flags word.
constexpr uint32_t kFlagsKept = kFlagDestroyed | kFlagRecordMask;

// Statuses of this module.
constexpr VtStatus kErrorBadArgument = VO_STATUS_ERROR_BAD_ARGUMENT;  // 0x40000012
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;                   // 0x20000006
constexpr VtStatus kNotAvailable = VO_STATUS_UNAVAILABLE;
// A status "with bit 0x2 set" ends a walk (start, terminate, list steps).
inline bool Fails(VtStatus s) { return (s & 0x2u) != 0; }

// Slot procedures that answer the same for every argument.
template <class... A>
VtStatus SlotRefuse(A...) {
  return kErrorBadArgument;
}
template <class... A>
VtStatus SlotNotAvailable(A...) {
  return kNotAvailable;
}
template <class... A>
VtStatus SlotZero(A...) {
  return 0;
}

// A class whose notifications (slots 4 and 6) answer 0 and whose operation
// slots (8-22) all refuse; the other slots and the code as given.
constexpr VtTransformClass ClassRefusingOperations(
    VtStatus (*release)(VtTransform *), void *(*copy)(VtTransform *),
    VtStatus (*get_matrix)(VtTransform *, const double **, const double **),
    VtStatus (*invert)(VtTransform *), uint32_t (*update)(VtTransform *, uint32_t *),
    VtStatus (*print)(VtTransform *), uint32_t code) {
  VtTransformClass c{};
  c.release = release;
  c.copy = copy;
  c.get_matrix = get_matrix;
  c.invert = invert;
  c.notify_a = c.notify_b = &SlotZero;
  c.update = update;
  c.print = print;
  c.point = c.vector = c.plane = c.hpoint = c.bounds = c.point_inverse = &SlotRefuse;
  c.normal = c.normal_inverse = &SlotRefuse;
  c.point_double = c.vector_double = c.plane_double = c.hpoint_double = c.point_inverse_double = &SlotRefuse;
  c.normal_double = c.normal_inverse_double = &SlotRefuse;
  c.code = code;
  return c;
}

// Pool tags.
constexpr uint32_t kPoolTransform = 0xf0001;
constexpr uint32_t kPoolLinear = 0xf0002;
constexpr uint32_t kPoolProceduralClass = 0xf0003;
constexpr uint32_t kPoolProceduralData = 0xf0004;
constexpr uint32_t kPoolListNode = 0xf0005;
constexpr uint32_t kPoolMoving = 0xf0010;

// Diagnostics of the reports (status 0x10000000, module 15).
constexpr uint32_t kMessageFlags = 366;       // flag letters and reference count
constexpr uint32_t kMessageMatrix = 367;      // a titled matrix
constexpr uint32_t kMessageTransform = 386;   // the transform's address
constexpr uint32_t kMessageScale = 895;       // a linear transform's scale
constexpr uint32_t kMessageProcedural = 896;  // a procedural transform's procedures and counters

// Tolerances: a is near 1 when |a - 1| < (|a| + 2) x 1e-10, small when |a| < 1e-10.
constexpr double kSmall = 1e-10;
inline bool NearOne(double a) { return std::fabs(a - 1.0) < (std::fabs(a) + 2.0) * kSmall; }

}  // namespace vo::xform

// Class data of a linear transform (linear-data pool).
struct VtLinearTransformData {
  double forward[16];
  double inverse[16];
  double scale;  // the uniform scale of a rigid transform, 0 when none is known
};
static_assert(sizeof(VtLinearTransformData) == 33 * sizeof(double));

// One member of a list transform (list-node pool); the list holds one
// reference to each member.
struct VtTransformListNode {
  VtTransform *member;
  VtTransformListNode *next;
};

// Class data of a procedural transform (procedural-data pool). Copies of a
// transform whose class has no copy procedure share one record.
struct VtProceduralTransformData {
  void *application_data;
  VtTransform cached;   // identity or linear, mirrors the application's matrices
  uint32_t version;     // rises by one with every change
  uint32_t references;  // transforms sharing the record
};

// The application procedures of a procedural class, by index 0-8.
struct VtProceduralProcedures {
  VtStatus (*release)(void *data);                                                       // 0 d
  void *(*copy)(void *data);                                                             // 1 c
  VtStatus (*get_matrices)(void *data, const double **forward, const double **inverse);  // 2 g
  VtStatus (*update)(void *data);  // 3 u: 0 unchanged, 1 changed, otherwise a status
  VtStatus (*print)(void *data);   // 4 d
  VtStatus (*point)(double *out, const double *in, void *data);                                    // 5 p
  VtStatus (*normal)(double *out, const double *point, const double *normal, void *data);          // 6 n
  VtStatus (*inverse_point)(double *out, const double *in, void *data);                            // 7 P
  VtStatus (*inverse_normal)(double *out, const double *point, const double *normal, void *data);  // 8 N
};

// A procedural class (procedural-class pool): the class record, then the
// application procedures.
struct VtProceduralClassRecord {
  VtTransformClass table;
  VtProceduralProcedures procedures;
};
static_assert(offsetof(VtProceduralClassRecord, table) == 0);

// Class data of the moving class (moving-data pool).
struct VtMovingTransformData {
  double velocity[3];
  double time;
  double forward[16];
  double inverse[16];
};

namespace vo::xform {

struct LiveTransforms;

// The module's state, one per process.
struct TransformModuleState {
  VtPool *transform_pool;
  VtPool *linear_pool;
  VtPool *procedural_data_pool;
  VtPool *procedural_class_pool;
  VtPool *list_node_pool;
  VtPool *moving_pool;
  VtTransform identity;  // the static identity transform (count 0)
  VtTransform operand;   // the static linear operand built by Define, Translate and the rotations
  VtLinearTransformData operand_data;
  double scratch_forward[16];  // where the list class composes its matrices
  double scratch_inverse[16];
  VtProceduralClassRecord *moving_class;
  void *enquiry_word;    // zeroed answer of the transform property's enquiry
  LiveTransforms *live;  // every transform record handed out and not yet freed
  uint32_t is_copy;      // a worker context's copy
};

// The state, or null while the module is not started.
TransformModuleState *State();

// The built-in classes.
extern const VtTransformClass kIdentityClass;
extern const VtTransformClass kLinearClass;
extern const VtTransformClass kListClass;

inline VtLinearTransformData *Linear(const VtTransform *t) {
  return static_cast<VtLinearTransformData *>(t->data);
}
inline bool IsIdentity(const VtTransform *t) { return t == nullptr || t->cls->code == kClassIdentity; }

// False (with diagnostic 2050) for a handle that is not null and carries no
// record mark: a transform freed, or a record of another kind.
bool RecordOrRefused(const VtTransform *t);
inline bool Refused(const VtTransform *t) {
  if (t == nullptr || (t->flags & kFlagRecordMask) == kFlagRecord) [[likely]]
    return false;
  return !RecordOrRefused(t);
}

// A new record from the transform pool (count 1, flags 0, identity), known to
// the live registry; null when out of memory or not started.
VtTransform *RecordNew();
// Returns a record to the transform pool and forgets it.
VtStatus RecordFree(VtTransform *t);
// Adds one reference (a holder such as a primitive). 0x40000012 for null or
// a count that would overflow.
VtStatus TransformReference(VtTransform *t);
// True while the record is handed out (debug registry of live transforms).
bool TransformLive(const VtTransform *t);

// Forward and inverse matrices of any transform (unit matrices for null and
// identity); failure status of the class otherwise.
VtStatus TransformMatrices(VtTransform *t, const double **forward, const double **inverse);

// The concatenation step: t becomes t followed by u. The list branch is
// ListConcatenate.
VtStatus ConcatenateStep(VtTransform *t, VtTransform *u);
VtStatus ListConcatenate(VtTransform *t, VtTransform *u, uint32_t flags);

// Operand builders (the static linear operand); null when refused.
VtTransform *OperandDefine(const double *matrix);
VtTransform *OperandTranslation(const double *offset);
VtTransform *OperandRotationAxis(const double *point, const double *axis, double radians);
VtTransform *OperandRotationRows(const double *row0, const double *row1, const double *row2);

// Classification details used by the builders.
struct LinearClass {
  uint32_t result;
  double determinant;
  double scale;
  bool uniform;  // rows orthogonal and of equal length
  double inverse[9];
};
LinearClass ClassifyLinearPart(const double *matrix);

// Procedural classes and transforms (no exported creation interface).
VtProceduralClassRecord *ProceduralClassCreate();
// Only once no transform of the class remains.
VtStatus ProceduralClassDestroy(VtProceduralClassRecord *record);
// Sets application procedure index (0-8); 0x40000012 for another index.
VtStatus ProceduralClassSetProcedure(VtProceduralClassRecord *record, uint32_t index, VtProc procedure);
// A transform of the class over the application's data (count 1, version 1;
// the cached transform is filled from the get-matrices procedure when given).
VtTransform *ProceduralTransformCreate(VtProceduralClassRecord *record, void *application_data);
inline VtProceduralTransformData *Procedural(const VtTransform *t) {
  return static_cast<VtProceduralTransformData *>(t->data);
}

// The moving class: made at start, returned at terminate.
VtStatus MovingClassStart(TransformModuleState *s);
VtStatus MovingClassStop(TransformModuleState *s);
// A moving transform with the given velocity; null when out of memory.
VtTransform *MovingTransformCreate(const double *velocity);

// Bounds that contain everything (-FLT_MAX to FLT_MAX on each axis).
void WholeSpace(float *bounds);

// The matrices of a translation by offset (the inverse's row 3 is +0 where
// the offset is 0).
void TranslationMatrices(double *forward, double *inverse, const double *offset);

// Class print slots.
VtStatus LinearPrint(VtTransform *t);

// The transform property of primitives (primitive_transform.cpp).
VtStatus TransformPropertyStart(TransformModuleState *s);

}  // namespace vo::xform
