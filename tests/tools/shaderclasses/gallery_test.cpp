// The shader-class gallery: a picture per class that shows itself, a reason
// per class that does not, file names that stay apart, and pictures that
// depend on nothing an earlier picture's session left behind.

#include <png.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vo/vo_postprocess.h>
#include <vo/vo_shader.h>

#include "catalogue.h"
#include "gallery.h"
#include "gallery_scene.h"

namespace {

using vo::classdoc::ShaderClass;
using vo::classdoc::ShaderType;

// The registry's type of the code with only the classes named, in the order
// given (a name twice gives the class twice).
ShaderType Pick(const std::vector<ShaderType> &types, uint32_t code, const std::vector<std::string> &names) {
  ShaderType out{code, "", {}};
  for (const ShaderType &t : types)
    if (t.code == code) {
      out.name = t.name;
      for (const std::string &n : names)
        for (const ShaderClass &c : t.classes)
          if (c.name == n) out.classes.push_back(c);
    }
  return out;
}

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(vo::classdoc::CatalogueRead(&types_)); }
  std::vector<ShaderType> types_;
};

std::string FileText(const std::filesystem::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The PNG's size, 0 x 0 when it cannot be read.
std::pair<uint32_t, uint32_t> PngSize(const std::filesystem::path &path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.string().c_str()) == 0) return {0, 0};
  png_image_free(&image);
  return {image.width, image.height};
}

TEST_F(GalleryTest, EveryClassHasAPictureOrAReasonOnItsLine) {
  std::vector<ShaderType> chosen = {
      Pick(types_, VO_SHADER_COLOUR, {"marble", "marble"}),  // one name twice: two files
      Pick(types_, VO_SHADER_LIGHT, {"sky", "area"}),        // no direct light; a panel lighting the sphere
      Pick(types_, VO_SHADER_FILTER, {"generic filter"}),    // no place in a scene
      Pick(types_, VO_SHADER_TRANSPARENCY, {"plain"}),       // the A-buffer shows what lies behind
      Pick(types_, VO_SHADER_POSTPROCESS, {"depth of field", "interlace"})};
  ASSERT_EQ(chosen[0].classes.size(), 2u);
  // A class the libraries do not register: its shader cannot be made.
  chosen[4].classes.push_back({VO_SHADER_POSTPROCESS, "", "unregistered", {}, false});
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "gallery_test";
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(vo::classdoc::GalleryWrite(chosen, (dir / "gallery.md").string()));
  const std::string text = FileText(dir / "gallery.md");
  EXPECT_NE(text.find("](images/gallery/colour-marble.png) \"marble\" (z-buffer; defaults)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("](images/gallery/colour-marble-2.png) \"marble\" (z-buffer; defaults)\n"),
            std::string::npos);
  EXPECT_NE(text.find("- \"sky\": not shown; a sky gives no direct light"), std::string::npos);
  // The area light needs the kernel's second light pass, which samples it.
  EXPECT_NE(text.find("\"area\" (z-buffer; \"primitive\" a square panel"), std::string::npos);
  EXPECT_NE(text.find("- \"generic filter\": not shown; a filter has"), std::string::npos);
  EXPECT_NE(
      text.find("](images/gallery/transparency-plain.png) \"plain\" (A-buffer; \"colour\" 0.5, 0.5, 0.5)\n"),
      std::string::npos);
  EXPECT_NE(
      text.find("- \"unregistered\": not shown; with its defaults its scene does not render (status 0x"),
      std::string::npos);
  // Interlace reads two frames the gallery renders before the picture.
  EXPECT_NE(
      text.find("\"interlace\" (over the demo's z-buffer picture; \"buffer1\" a screen buffer of the scene "
                "with the eye moved -1 along x, \"buffer2\" a screen buffer"),
      std::string::npos);
  // Depth of field reads the depth "render depth" leaves: alone it fails.
  EXPECT_NE(text.find("\"depth of field\" (after \"render depth\", over the demo's z-buffer picture; "),
            std::string::npos);
  size_t pictures = 0;
  for (const auto &file : std::filesystem::directory_iterator(dir / "images" / "gallery")) {
    ++pictures;
    EXPECT_EQ(PngSize(file.path()), std::make_pair(128u, 128u)) << file.path();
  }
  EXPECT_EQ(pictures, 6u);  // the marbles, the area light, the transparency, depth of field, interlace
  std::filesystem::remove_all(dir);
}

TEST_F(GalleryTest, APictureDependsOnlyOnItsClass) {
  const ShaderType colour = Pick(types_, VO_SHADER_COLOUR, {"plain"});
  const ShaderType background = Pick(types_, VO_SHADER_BACKGROUND, {"graduated"});
  const ShaderType mirror = Pick(types_, VO_SHADER_REFLECTANCE, {"mirror"});
  ASSERT_EQ(colour.classes.size(), 1u);
  const auto first = vo::classdoc::GalleryPictureMake(colour, colour.classes[0]);
  ASSERT_EQ(first.status, 0u);
  ASSERT_EQ(first.rgb.size(), 128u * 128u * 3u);
  // A background set for one picture is gone by the next: the plain
  // sphere's corner stays black.
  const auto behind = vo::classdoc::GalleryPictureMake(background, background.classes[0]);
  ASSERT_EQ(behind.status, 0u);
  EXPECT_NE(behind.rgb[0], first.rgb[0]);
  EXPECT_EQ(vo::classdoc::GalleryPictureMake(colour, colour.classes[0]).rgb, first.rgb);
  // The ray tracer's full pass (a mirror casts rays) gives the same pixels
  // every time.
  ASSERT_TRUE(mirror.classes[0].raytrace);
  const auto traced = vo::classdoc::GalleryPictureMake(mirror, mirror.classes[0]);
  ASSERT_EQ(traced.status, 0u);
  EXPECT_EQ(vo::classdoc::GalleryPictureMake(mirror, mirror.classes[0]).rgb, traced.rgb);
}

}  // namespace
