// Debug reports of transforms and matrices (status 0x10000000, module 15).

#include <algorithm>

#include "scene/voxform/transform.h"

namespace vo::xform {

VtStatus LinearPrint(VtTransform *t) {
  const VtLinearTransformData *d = Linear(t);
  Post(VO_CLASS_DEBUG, kMessageScale, VO_MODULE_TRANSFORMS, d->scale);
  VtStatus st = VoMatrixPrint("Transformation matrix", d->forward);
  st |= VoMatrixPrint("Inverse transformation matrix", d->inverse);
  return st;
}

}  // namespace vo::xform

namespace vo {

using namespace xform;

VtStatus VoTransformPrint(VtTransform *t) {
  Post(VO_CLASS_DEBUG, kMessageTransform, VO_MODULE_TRANSFORMS, static_cast<const void *>(t));
  if (t == nullptr) return 0;
  if (Refused(t)) return kErrorBadArgument;
  static constexpr char kClassLetters[] = "ILPG";
  static constexpr struct {
    uint32_t flag;
    char letter;
  } kLetters[8] = {{kFlagRigid, 'R'},     {kFlagAffine, 'A'},     {kFlagProjective, 'P'},
                   {kFlagSingular, 'N'},  {kFlagReflection, 'R'}, {kFlagCarried, 'T'},
                   {kFlagDestroyed, 'D'}, {kFlagInvariant, 'I'}};
  char text[12];
  text[0] = kClassLetters[std::min<uint32_t>(t->cls->code, 3)];
  text[1] = '#';
  for (int i = 0; i < 4; ++i) text[2 + i] = (t->flags & kLetters[i].flag) ? kLetters[i].letter : '-';
  text[6] = '#';
  for (int i = 4; i < 8; ++i) text[3 + i] = (t->flags & kLetters[i].flag) ? kLetters[i].letter : '-';
  text[11] = 0;
  const auto count = static_cast<int32_t>(std::min<uint32_t>(t->references, INT32_MAX));
  Post(VO_CLASS_DEBUG, kMessageFlags, VO_MODULE_TRANSFORMS, static_cast<const char *>(text), count);
  return t->cls->print(t);
}

VtStatus VoMatrixPrint(const char *title, const double *matrix) {
  if (matrix == nullptr) return kErrorBadArgument;
  VoDiagnosticBegin(VO_CLASS_DEBUG, kMessageMatrix, VO_MODULE_TRANSFORMS);
  VoDiagnosticArgString(title);
  for (int i = 0; i < 16; ++i) VoDiagnosticArgDouble(matrix[i]);
  (void)VoDiagnosticEnd();
  return 0;
}

}  // namespace vo
