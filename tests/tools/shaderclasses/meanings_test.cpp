// The argument meanings of the shader-class reference: every argument of
// every class the libraries register carries one line of what it does,
// kept beside the class's labels, and the check finds an argument without.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue.h"

namespace {

using vo::classdoc::Argument;
using vo::classdoc::ShaderClass;
using vo::classdoc::ShaderType;

// "class/label" of each argument whose meaning is missing, more than one
// line, or no more than its label.
std::vector<std::string> MeaningFaults(const std::vector<ShaderType> &types) {
  std::vector<std::string> faults;
  for (const ShaderType &t : types)
    for (const ShaderClass &c : t.classes)
      for (const Argument &a : c.arguments)
        if (a.meaning.empty() || a.meaning.find('\n') != std::string::npos || a.meaning == a.label)
          faults.push_back(t.name + " \"" + c.name + "\"/" + a.label);
  return faults;
}

TEST(ArgumentMeanings, EveryArgumentOfEveryClassSaysWhatItDoes) {
  std::vector<ShaderType> types;
  ASSERT_TRUE(vo::classdoc::CatalogueRead(&types));
  size_t arguments = 0;
  for (const ShaderType &t : types)
    for (const ShaderClass &c : t.classes) arguments += c.arguments.size();
  EXPECT_GT(arguments, 700u);  // 705 when this was written; a count that drops means classes went missing
  const std::vector<std::string> faults = MeaningFaults(types);
  EXPECT_TRUE(faults.empty()) << faults.size() << " arguments without a meaning, the first "
                              << (faults.empty() ? "" : faults[0]);
}

TEST(ArgumentMeanings, AnArgumentWithoutItsLineIsFound) {
  const std::vector<ShaderType> types = {
      {0x50001,
       "colour",
       {{0x50001,
         "id",
         "made up",
         {{"scale", "VtFloat", "1", "size"}, {"detail", "VtInt32", "3", ""}},
         false}}},
      {0x50002,
       "reflectance",
       {{0x50002, "id2", "other", {{"roughness", "VtFloat", "0.1", "roughness"}}, false}}}};
  EXPECT_EQ(MeaningFaults(types),
            (std::vector<std::string>{"colour \"made up\"/detail", "reflectance \"other\"/roughness"}));
}

}  // namespace
