// vo_shader_classes: writes what the shader libraries register, read from
// the library's own registry, to the outputs named on the command line.
//
//   vo_shader_classes --markdown docs/shader-classes.md --gallery docs/gallery.md
//
// Each output is one entry of kOutputs: an option and a writer of the
// catalogue, so another form of the same classes is one more entry. A
// writer of a stream also writes to standard output ("-"); the gallery
// writes its pictures beside its file, so it is given the path.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "catalogue.h"
#include "gallery.h"
#include "markdown.h"

namespace {

using vo::classdoc::ShaderType;

struct Output {
  const char *option;
  const char *what;
  bool (*write)(const std::vector<ShaderType> &types, std::ostream &out);
  bool (*write_files)(const std::vector<ShaderType> &types, const std::string &path);
};

const Output kOutputs[] = {
    {"--markdown", "the reference in markdown", &vo::classdoc::MarkdownWrite, nullptr},
    {"--gallery", "a picture of each class (PNGs in images/gallery/ beside the file)", nullptr,
     &vo::classdoc::GalleryWrite},
};

struct Request {
  const Output *output;
  std::string path;  // "-": standard output
};

int Usage() {
  std::fprintf(stderr, "usage: vo_shader_classes OPTION FILE ... (FILE - is standard output)\n");
  for (const Output &o : kOutputs) std::fprintf(stderr, "  %-12s %s\n", o.option, o.what);
  return 2;
}

const Output *OutputNamed(const char *option) {
  for (const Output &o : kOutputs)
    if (std::strcmp(o.option, option) == 0) return &o;
  return nullptr;
}

bool Write(const Request &r, const std::vector<ShaderType> &types) {
  if (r.output->write_files != nullptr) {
    if (r.path != "-") return r.output->write_files(types, r.path);
    std::fprintf(stderr, "vo_shader_classes: %s needs a file\n", r.output->option);
    return false;
  }
  if (r.path == "-") return r.output->write(types, std::cout) && std::cout.flush();
  // Binary: the same bytes on every platform, so the file compares equal.
  std::ofstream file(r.path, std::ios::binary);
  if (file && r.output->write(types, file) && file.flush()) return true;
  std::fprintf(stderr, "vo_shader_classes: cannot write %s\n", r.path.c_str());
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<Request> requests;
  for (int i = 1; i < argc; i += 2) {
    const Output *o = OutputNamed(argv[i]);
    if (o == nullptr || i + 1 >= argc) return Usage();
    requests.push_back({o, argv[i + 1]});
  }
  if (requests.empty()) return Usage();
  std::vector<ShaderType> types;
  if (!vo::classdoc::CatalogueRead(&types)) return 1;
  for (const Request &r : requests)
    if (!Write(r, types)) return 1;
  return 0;
}
