// The gallery's markdown and picture files. A picture's file name is its
// type and display name in lower case, every run of other characters a
// single '-', so the names are stable from run to run and a new class adds
// one file; two classes of one type with the same display name get "-2",
// "-3" in registry order.

#include "gallery.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>

#include "gallery_scene.h"
#include "picture_png.h"

namespace vo::classdoc {

namespace {

std::string Slug(const std::string &type, const std::string &name) {
  std::string out;
  for (const char c : type + " " + name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
    if (word)
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    else if (!out.empty() && out.back() != '-')
      out += '-';
  }
  return out;
}

std::string Unique(const std::string &slug, std::set<std::string> *used) {
  std::string name = slug;
  for (int n = 2; !used->insert(name).second; ++n) name = slug + "-" + std::to_string(n);
  return name;
}

// Why a class of this type has no picture, or null when its type has a
// place in the gallery's scene.
const char *TypeUnshown(uint32_t code) {
  switch (code) {
    case VO_SHADER_COLOUR:
    case VO_SHADER_REFLECTANCE:
    case VO_SHADER_TRANSPARENCY:
    case VO_SHADER_DISPLACEMENT:
    case VO_SHADER_TEXTURE_SPACE:
    case VO_SHADER_FOREGROUND:
    case VO_SHADER_BACKGROUND:
    case VO_SHADER_LIGHT:
    case VO_SHADER_POSTPROCESS: return nullptr;
    case VO_SHADER_FILTER:
      return "a filter has no surface, light or picture of its own: it filters the samples another class "
             "takes";
    default: return "its type has no place in a rendered scene";
  }
}

// Why a class whose type has a place in the scene still has no picture,
// or null: one that by its definition gives nothing to see.
const char *ClassUnshown(uint32_t code, const std::string &name) {
  if (code == VO_SHADER_LIGHT && name == "sky")
    return "a sky gives no direct light: its evaluation leaves the light's colour black, and the model of "
           "its "
           "dome (each patch's direction, solid angle and colour from the sun's place and the sky type) is "
           "for an application to read through \"handle\"";
  return nullptr;
}

struct Entry {
  std::string name;
  std::string type;      // the type's name: one class listed twice gives the same picture twice
  std::string dressing;  // the arguments set and surroundings added, in words
  std::string file;      // the picture's path relative to the markdown
  std::string drawn;     // the renderer, when there is a picture
  std::string reason;    // why not, when there is none
  std::vector<uint8_t> rgb;
};

// Pictures that are alike, by file name without ".png", with the reason
// the page gives. Every other pair of pictures differs: the program fails
// when two pictures not in one group here are the same.
struct Alike {
  std::vector<const char *> pictures;
  const char *why;
};

const std::vector<Alike> &AlikeGroups() {
  static const std::vector<Alike> groups = {
      {{"colour-plain", "reflectance-plastic", "displacement-none", "foreground-none"},
       "the gallery's sphere is already plain red plastic, and a \"none\" class leaves a surface or the "
       "picture as it is"},
      {{"colour-blue-marble", "colour-npr-blue-marble"},
       "the NPR library's blue marble shares the lite library's class's arguments, defaults, colour table "
       "and evaluation"},
      {{"transparency-none", "transparency-base"},
       "a \"base\" transparency passes on the transparency the surface is given, and the gallery's sphere "
       "is given none"},
      {{"colour-simple-wood", "colour-npr-simple-wood"},
       "the NPR library's simple wood shares the lite library's class's arguments, defaults and evaluation"},
  };
  return groups;
}

// The group that holds both pictures, or null.
const Alike *AlikeFind(const std::string &a, const std::string &b) {
  for (const Alike &g : AlikeGroups()) {
    bool has_a = false, has_b = false;
    for (const char *p : g.pictures) has_a |= a == p, has_b |= b == p;
    if (has_a && has_b) return &g;
  }
  return nullptr;
}

std::string Stem(const std::string &file) {
  const size_t slash = file.rfind('/'), dot = file.rfind('.');
  return file.substr(slash + 1, dot - slash - 1);
}

// The pixels of the picture whose file name without ".png" is `stem`, or
// null when no class has it.
const std::vector<uint8_t> *PixelsOf(const std::vector<Entry> &all, const char *stem) {
  for (const Entry &e : all)
    if (!e.file.empty() && Stem(e.file) == stem) return &e.rgb;
  return nullptr;
}

// Fails, naming them, on two identical pictures that no group lists, and on
// a group whose pictures are not the same: the page would say they are. A
// group not all of whose pictures were made (a gallery of some classes) is
// not checked.
bool AlikeChecked(const std::vector<Entry> &all) {
  bool ok = true;
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j) {
      if (all[i].file.empty() || all[j].file.empty() || all[i].rgb != all[j].rgb) continue;
      if (all[i].type == all[j].type && all[i].name == all[j].name) continue;
      if (AlikeFind(Stem(all[i].file), Stem(all[j].file)) != nullptr) continue;
      std::fprintf(stderr, "vo_shader_classes: %s and %s are the same picture\n", all[i].file.c_str(),
                   all[j].file.c_str());
      ok = false;
    }
  for (const Alike &g : AlikeGroups()) {
    bool made = true;
    for (const char *p : g.pictures) made &= PixelsOf(all, p) != nullptr;
    const std::vector<uint8_t> *first = PixelsOf(all, g.pictures.front());
    for (const char *p : g.pictures) {
      if (!made || *PixelsOf(all, p) == *first) continue;
      std::fprintf(stderr, "vo_shader_classes: %s is listed as the same picture as %s and is not\n", p,
                   g.pictures.front());
      ok = false;
    }
  }
  return ok;
}

void AlikeWrite(std::ostream &out) {
  out << "## Pictures alike\n\n"
      << "Two pictures above are the same only in these groups, for the reason given:\n\n";
  for (const Alike &g : AlikeGroups()) {
    out << "-";
    for (size_t i = 0; i < g.pictures.size(); ++i) out << (i == 0 ? " " : ", ") << g.pictures[i];
    out << ": " << g.why << ".\n";
  }
}

bool PictureWrite(const GalleryPicture &p, const std::filesystem::path &path) {
  Picture picture{kGallerySize, kGallerySize, const_cast<uint8_t *>(p.rgb.data())};
  if (PictureWritePng(&picture, path.string().c_str()) != 0) return true;
  std::fprintf(stderr, "vo_shader_classes: cannot write %s\n", path.string().c_str());
  return false;
}

// The arguments a caller must give that the defaults leave empty (a null
// pointer, an empty name): the likely want of a class that shows nothing.
std::string EmptyArguments(const ShaderClass &c) {
  std::string labels;
  for (const Argument &a : c.arguments)
    if (a.default_value == "null" || a.default_value == "\"\"")
      labels += (labels.empty() ? "" : ", ") + ("\"" + a.label + "\"");
  return labels.empty() ? "" : "; its defaults leave empty " + labels;
}

bool Flat(const std::vector<uint8_t> &rgb) {
  for (size_t i = 3; i < rgb.size(); ++i)
    if (rgb[i] != rgb[i % 3]) return false;
  return true;
}

std::string Unshown(const ShaderType &t, const ShaderClass &c, const GalleryPicture &p) {
  const std::string set = GalleryDressingText(t, c);
  const std::string with = set.empty() ? "with its defaults" : "with " + set;
  char text[64];
  if (p.status != 0)
    std::snprintf(text, sizeof text, " its scene does not render (status 0x%08x)", p.status);
  else
    std::snprintf(text, sizeof text, " its picture is one flat colour");
  return with + (set.empty() ? "" : ",") + text + EmptyArguments(c);
}

std::string Renderer(const ShaderType &t, const GalleryPicture &p) {
  if (t.code == VO_SHADER_POSTPROCESS && p.preview)
    return "over the demo's picture by the ray tracer's preview, one ray a pixel";
  if (t.code == VO_SHADER_POSTPROCESS)
    return p.after_depth ? "after \"render depth\", over the demo's z-buffer picture"
                         : "over the demo's z-buffer picture";
  if (p.code == VO_EXECUTE_RAY_FULL) return "ray tracer, full pass";
  return p.code == VO_EXECUTE_ADVANCED_ABUFFER ? "A-buffer" : "z-buffer";
}

// The class's entry, its picture written into `images` when it has one.
bool EntryMake(const ShaderType &t, const ShaderClass &c, const std::filesystem::path &images,
               std::set<std::string> *used, Entry *e) {
  e->name = c.name;
  e->type = t.name;
  const char *why = TypeUnshown(t.code);
  if (why == nullptr) why = ClassUnshown(t.code, c.name);
  if (why != nullptr) {
    e->reason = why;
    return true;
  }
  const GalleryPicture p = GalleryPictureMake(t, c);
  if (p.status != 0 || Flat(p.rgb)) {
    e->reason = Unshown(t, c, p);
    return true;
  }
  const std::string file = Unique(Slug(t.name, c.name), used) + ".png";
  e->file = "images/gallery/" + file;
  e->drawn = Renderer(t, p);
  e->dressing = GalleryDressingText(t, c);
  e->rgb = p.rgb;
  return PictureWrite(p, images / file);
}

void Preamble(std::ostream &out) {
  out << "# Shader-class gallery\n\n"
      << "Generated by `vo_shader_classes` from the classes the shader libraries register when the\n"
      << "library starts (`vo_shader_classes --gallery docs/gallery.md`); do not edit. Each class\n"
      << "is shown with its defaults (see [the reference](shader-classes.md)) except the arguments its\n"
      << "line names, set so that it shows what it does, " << kGallerySize << " x " << kGallerySize
      << " pixels:\n"
      << "a colour, reflectance, transparency or displacement class on a sphere of red plastic over a\n"
      << "checked floor (a curvature colour on a torus, whose curvatures change from place to place);\n"
      << "a texture-space class mapping a checker onto the sphere; a background behind the sphere\n"
      << "alone; a foreground over it; a light lighting it alone; a post-process class over the demo's\n"
      << "scene (one that reads other frames given them rendered with the eye moved sideways, one\n"
      << "that writes a file shown by that file read back). A class that casts rays, or whose line\n"
      << "makes the sphere a mirror, is drawn by the ray tracer's full pass, a transparency class by\n"
      << "the advanced renderer's A-buffer (which lays what lies behind a surface through it), the\n"
      << "others by its z-buffer. No two pictures are the same except those the last section lists,\n"
      << "with the reason.\n\n";
}

void TypeWrite(const ShaderType &t, const std::vector<Entry> &entries, std::ostream &out) {
  out << "## " << t.name << "\n\n";
  for (const Entry &e : entries) {
    if (e.file.empty())
      out << "- \"" << e.name << "\": not shown; " << e.reason << ".\n";
    else
      out << "- ![" << t.name << " \"" << e.name << "\"](" << e.file << ") \"" << e.name << "\" (" << e.drawn
          << (e.dressing.empty() ? "; defaults" : "; " + e.dressing) << ")\n";
  }
  out << "\n";
}

}  // namespace

bool GalleryWrite(const std::vector<ShaderType> &types, const std::string &path) {
  const std::filesystem::path images = std::filesystem::path(path).parent_path() / "images" / "gallery";
  std::error_code error;
  std::filesystem::create_directories(images, error);
  std::ofstream out(path, std::ios::binary);
  if (error || !out) {
    std::fprintf(stderr, "vo_shader_classes: cannot write %s\n", path.c_str());
    return false;
  }
  Preamble(out);
  std::set<std::string> used;
  std::vector<Entry> all;
  for (const ShaderType &t : types) {
    std::vector<Entry> entries(t.classes.size());
    for (size_t i = 0; i < t.classes.size(); ++i)
      if (!EntryMake(t, t.classes[i], images, &used, &entries[i])) return false;
    TypeWrite(t, entries, out);
    all.insert(all.end(), entries.begin(), entries.end());
  }
  AlikeWrite(out);
  return static_cast<bool>(out.flush()) && AlikeChecked(all);
}

}  // namespace vo::classdoc
