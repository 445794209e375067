// Reading the shader registry: the kernel's type lists give each class in
// display-name order; the string table whose strings hold the class's name
// gives its identifier and its arguments' meanings; a fresh instance made from the class record itself
// (not looked up by name, which would find the first of two equal names)
// gives each argument's type and default.

#include "catalogue.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include <vo/vo_postprocess.h>
#include <vo/vo_shader.h>

#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel.h"
#include "shading/voshader/voshader.h"

namespace vo::classdoc {

namespace {

std::string TypeName(uint32_t code) {
  switch (code) {
    case VO_SHADER_COLOUR: return "colour";
    case VO_SHADER_REFLECTANCE: return "reflectance";
    case VO_SHADER_TRANSPARENCY: return "transparency";
    case VO_SHADER_DISPLACEMENT: return "displacement";
    case VO_SHADER_TEXTURE_SPACE: return "texture space";
    case VO_SHADER_FOREGROUND: return "foreground";
    case VO_SHADER_BACKGROUND: return "background";
    case VO_SHADER_LIGHT: return "light";
    case VO_SHADER_FILTER: return "filter";
    case VO_SHADER_POSTPROCESS: return "post-process";
    default: break;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", code);
  return text;
}

std::string ValueTypeName(uint32_t type) {
  static const struct {
    uint32_t code;
    const char *name;
  } kNames[] = {{VtInt32, "VtInt32"},
                {VtNat32, "VtNat32"},
                {VtFloat, "VtFloat"},
                {VtDouble, "VtDouble"},
                {VtEnum, "VtEnum"},
                {VtBoolean, "VtBoolean"},
                {VtColourType, "VtColour"},
                {VtVector, "VtVector"},
                {VtPoint, "VtPoint"},
                {VtString, "VtString"},
                {VtGenericPtr, "VtGenericPtr"},
                {VtHandle, "VtHandle"},
                {VtStatusType, "VtStatus"},
                {VtFunc, "VtFunc"},
                {VtFlags, "VtFlags"},
                {VtNat8, "VtNat8"},
                {VtBoundsType, "VtBounds"},
                {VtColour4, "VtColour4"},
                {VtShaderColour, "VtShaderColour"}};
  for (const auto &n : kNames)
    if (n.code == type) return n.name;
  return "type " + std::to_string(type);
}

// The shortest text that reads back to the same number.
template <class T>
std::string Number(T value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

// A procedure default by the exported name it is reached by, when it is one.
std::string ProcedureName(VtProc procedure) {
  if (procedure == nullptr) return "null";
  const api::VtApiFunction *f = api::FindFunctionByEntry(reinterpret_cast<const void *>(procedure));
  return f != nullptr ? f->name : "(a procedure of the class)";
}

std::string DefaultText(const VtTypedValue &v) {
  switch (v.type) {
    case VtInt32:
    case VtEnum: return std::to_string(v.value.i);
    case VtNat32:
    case VtBoolean:
    case VtNat8: return std::to_string(v.value.u);
    case VtFlags:
    case VtStatusType: return Hex(v.value.u);
    case VtFloat: return Number(v.value.f);
    case VtDouble: return Number(v.value.d);
    case VtColourType:
    case VtVector:
    case VtPoint: return Number(v.value.v[0]) + ", " + Number(v.value.v[1]) + ", " + Number(v.value.v[2]);
    case VtBoundsType: {
      std::string text = Number(v.value.v[0]);
      for (int i = 1; i < 6; ++i) text += ", " + Number(v.value.v[i]);
      return text;
    }
    case VtString: return v.value.s != nullptr ? "\"" + std::string(v.value.s) + "\"" : "null";
    case VtFunc: return ProcedureName(v.value.fn);
    // An address differs from run to run: only whether there is one.
    default: return v.value.p != nullptr ? "(made by the instance)" : "null";
  }
}

// The class's string table: the one that holds its name string itself.
const shader::StringTable *Table(const shader::ShaderShared *shared, const VtShaderPrototype *c) {
  for (const shader::StringTable *t = shared->tables; t != nullptr; t = t->next)
    for (uint32_t i = 0; i < t->count; ++i)
      if (t->strings[i] == c->name) return t;
  return nullptr;
}

// The meaning of argument i, found by its label among the table's strings.
std::string Meaning(const shader::StringTable *t, const char *label) {
  if (t == nullptr || t->meanings == nullptr || label == nullptr) return "";
  for (uint32_t i = 1; i < t->count; ++i)
    if (t->strings[i] == label || std::strcmp(t->strings[i], label) == 0) return t->meanings[i - 1];
  return "";
}

// A class's arguments, read from the instance data of a shader the kernel
// makes of it: the class entries a get reaches answer only for the data of
// a live shader of a class that has them. A class whose name finds another
// class of its type first is read from instance data made from its record
// as the kernel makes it (entries 7, then 5) and given back as it does (6, 8).
bool ArgumentsRead(const VtShaderPrototype *c, const shader::StringTable *t,
                   std::vector<Argument> *arguments) {
  VtShader *shader = VoShaderCreate(c->type, c->name);
  if (shader != nullptr && shader->cls != c) {
    (void)VoShaderDestroy(shader);
    shader = nullptr;
  }
  void *data = shader != nullptr ? shader->data : c->create != nullptr ? c->create() : nullptr;
  if (data == nullptr) return c->parameterCount == 0;
  if (shader == nullptr && c->initialise != nullptr) (void)c->initialise(data);
  for (uint32_t i = 0; i < c->parameterCount; ++i) {
    VtTypedValue v{};
    if (c->getArg != nullptr) (void)c->getArg(data, i, &v);
    arguments->push_back({c->labels[i], ValueTypeName(v.type), DefaultText(v), Meaning(t, c->labels[i])});
  }
  if (shader != nullptr) return VoShaderDestroy(shader), true;
  if (c->release != nullptr) (void)c->release(data);
  if (c->destroy != nullptr) (void)c->destroy(data);
  return true;
}

bool TypeRead(const shader::ShaderShared *shared, const shader::ShaderType &t, ShaderType *out) {
  out->code = t.code;
  out->name = TypeName(t.code);
  for (const VtShaderPrototype *c = t.first; c != nullptr; c = c->next) {
    const shader::StringTable *table = Table(shared, c);
    ShaderClass entry{c->type, table != nullptr ? table->name : "", c->name, {}, c->raytrace != 0};
    if (!ArgumentsRead(c, table, &entry.arguments)) {
      std::fprintf(stderr, "the %s class \"%s\" cannot be made\n", out->name.c_str(), c->name);
      return false;
    }
    out->classes.push_back(std::move(entry));
  }
  return true;
}

// The types that hold classes, in the kernel's order (the ten standard types
// by code, then the one a module adds).
bool TypesRead(const shader::ShaderShared *shared, std::vector<ShaderType> *types) {
  for (const shader::ShaderType &t : shared->types) {
    if (t.first == nullptr) continue;
    ShaderType out;
    if (!TypeRead(shared, t, &out)) return false;
    types->push_back(std::move(out));
  }
  return true;
}

}  // namespace

bool CatalogueRead(std::vector<ShaderType> *types) {
  if (VoInitialise() != 0) {
    std::fprintf(stderr, "the library cannot be started\n");
    return false;
  }
  // Making instances may post warnings (a file name not yet given); the
  // reference wants none of them.
  VtTypedValue quiet{};
  quiet.type = VtNat32;
  (void)VoControlSet(VO_CONTROL_SEVERITY_MASK, &quiet);
  const shader::ShadingContext *s = shader::StateGet();
  const bool read = s != nullptr && TypesRead(s->shared, types);
  (void)VoTerminate();
  return read;
}

}  // namespace vo::classdoc
