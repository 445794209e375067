// The shader classes the libraries register at start, read from the shader
// kernel's registry into plain records that an output (the markdown
// reference, and later others) writes without touching the library.
//
// Every text is made here, once, so that each output shows the same words:
// defaults are written in the shortest form that reads back to the same
// value, and nothing depends on an address, so two runs give the same
// catalogue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vo::classdoc {

struct Argument {
  std::string label;
  std::string type;           // the value type's name: "VtFloat", "VtColour", ...
  std::string default_value;  // as text; "null" for an empty pointer
  std::string meaning;        // one line, kept beside the class's labels; empty when missing
};

struct ShaderClass {
  uint32_t type;           // the shader type code
  std::string identifier;  // the class's string table, as the library keeps it
  std::string name;        // the display name a program asks for
  std::vector<Argument> arguments;
  bool raytrace;  // declared to cast rays: the ray tracer's full pass shows it
};

// One shader type and its classes in the registry's order (display names
// ascending).
struct ShaderType {
  uint32_t code;
  std::string name;  // "colour", "reflectance", ..., "post-process"
  std::vector<ShaderClass> classes;
};

// Starts the library, reads every registered class with the defaults of a
// fresh instance, and terminates the library. False (with a line on
// standard error) when the library cannot be started or a class cannot be
// made.
bool CatalogueRead(std::vector<ShaderType> *types);

}  // namespace vo::classdoc
