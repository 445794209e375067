// Image files at work: a 4096 x 4096 24-bit render-like image (steps of 16
// pixels in red and green, a checkerboard in blue) written and read as BMP,
// raw and run-length Targa and JPEG (quality 75), and read as PNG, through
// memory-backed streams. Peers in the same program: libjpeg compressing and
// decompressing the same pixels directly (what cjpeg and djpeg do), and a
// plain png_read_image. Throughput counts the image's 48 MiB.

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

#include "kernel/vosystem/kernel.h"

namespace {

constexpr int32_t kSide = 4096;
constexpr size_t kBytes = size_t{kSide} * kSide * 3;

const std::vector<uint8_t> &Pixels() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(kBytes);
    for (int32_t y = 0; y < kSide; ++y)
      for (int32_t x = 0; x < kSide; ++x) {
        uint8_t *q = &p[(size_t{static_cast<size_t>(y)} * kSide + x) * 3];
        q[0] = static_cast<uint8_t>(x >> 4);
        q[1] = static_cast<uint8_t>(y >> 4);
        q[2] = ((x >> 8) + (y >> 8)) % 2 ? 200 : 40;
      }
    return p;
  }();
  return pixels;
}

void Start() {
  static bool started = [] {
    VoInitialise();
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&VoCallBackNull));
    return true;
  }();
  (void)started;
}

// Renders the image to the driver into buf; answers the file's length.
size_t Write(const char *driver, std::vector<char> &buf) {
  VtDriverRecord *d = VoDriverFindFromName(driver);
  std::FILE *f = fmemopen(buf.data(), buf.size(), "w+");
  const VtTypedValue v = vo::TypedPointer(f);
  VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &v);
  VoDriverBeginFrame(d, 0, kSide - 1, 0, kSide - 1);
  const uint8_t *p = Pixels().data();
  for (int32_t y = 0; y < kSide; ++y)
    VoDriverWriteScan(d, static_cast<uint32_t>(y),
                      const_cast<uint8_t *>(p + size_t{static_cast<size_t>(y)} * kSide * 3));
  VoDriverEndFrame(d);
  const size_t length = static_cast<size_t>(ftello(f));
  const VtTypedValue none = vo::TypedPointer(nullptr);
  VoDriverSetControl(d, VO_CONTROL_DRIVER_FILE, &none);
  std::fclose(f);
  return length;
}

void Prepare(const char *driver, uint32_t compression) {
  Start();
  VtDriverRecord *d = VoDriverFindFromName(driver);
  VtTypedValue v{};
  v.type = VtEnum;
  v.value.u = compression;
  if (std::string(driver) == "vodrvtga") VoDriverSetControl(d, VO_CONTROL_DRIVER_COMPRESSION, &v);
  const VtTypedValue quality = vo::TypedNat32(75);
  VoControlSet(0x4f0001, &quality);
}

void WriteBench(benchmark::State &state, const char *driver, uint32_t compression) {
  Prepare(driver, compression);
  std::vector<char> buf(kBytes + (1 << 20));
  size_t length = 0;
  for (auto _ : state) length = Write(driver, buf);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
  state.counters["file_MiB"] = static_cast<double>(length) / (1 << 20);
}

void ReadBench(benchmark::State &state, const char *driver, uint32_t compression, const char *name) {
  Prepare(driver, compression);
  std::vector<char> buf(kBytes + (1 << 20));
  const size_t length = Write(driver, buf);
  for (auto _ : state) {
    std::FILE *f = fmemopen(buf.data(), length, "r");
    VtImage *image = VoImageReadFromFile(f, name);
    if (image == nullptr) state.SkipWithError("not read");
    VoImageDestroy(image);
    std::fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

BENCHMARK_CAPTURE(WriteBench, Bmp, "vodrvbmp", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBench, Bmp, "vodrvbmp", 0, "i.bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteBench, TargaRaw, "vodrvtga", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBench, TargaRaw, "vodrvtga", 0, "i.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteBench, TargaRunLength, "vodrvtga", 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBench, TargaRunLength, "vodrvtga", 1, "i.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WriteBench, Jpeg75, "vodrvjpg", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadBench, Jpeg75, "vodrvjpg", 0, "i.jpg")->Unit(benchmark::kMillisecond);

// libjpeg alone, as cjpeg -quality 75 and djpeg drive it.
void LibjpegCompress(benchmark::State &state) {
  unsigned char *out = nullptr;
  unsigned long size = 0;
  for (auto _ : state) {
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 75, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int32_t y = 0; y < kSide; ++y) {
      JSAMPROW row = const_cast<uint8_t *>(Pixels().data() + size_t{static_cast<size_t>(y)} * kSide * 3);
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
  }
  std::free(out);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(LibjpegCompress)->Unit(benchmark::kMillisecond);

void LibjpegDecompress(benchmark::State &state) {
  Prepare("vodrvjpg", 0);
  std::vector<char> buf(kBytes);
  const size_t length = Write("vodrvjpg", buf);
  std::vector<uint8_t> image(kBytes);
  for (auto _ : state) {
    jpeg_decompress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<unsigned char *>(buf.data()), length);
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = image.data() + size_t{c.output_scanline} * kSide * 3;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(LibjpegDecompress)->Unit(benchmark::kMillisecond);

// A PNG of the image on disk (the importer reads by name).
const std::string &PngPath() {
  static const std::string path = [] {
    const std::string p = "/tmp/vo_image_files_bench.png";
    std::FILE *f = std::fopen(p.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < kSide; ++y)
      png_write_row(png, Pixels().data() + size_t{static_cast<size_t>(y)} * kSide * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return p;
  }();
  return path;
}

void PngThroughQuickTime(benchmark::State &state) {
  Start();
  (void)PngPath();
  for (auto _ : state) {
    VtImage *image = VoImageRead(PngPath().c_str());
    if (image == nullptr) state.SkipWithError("not read");
    VoImageDestroy(image);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(PngThroughQuickTime)->Unit(benchmark::kMillisecond);

void PngReadImage(benchmark::State &state) {
  std::vector<uint8_t> image(kBytes);
  std::vector<png_bytep> rows(kSide);
  for (int32_t y = 0; y < kSide; ++y) rows[y] = image.data() + size_t{static_cast<size_t>(y)} * kSide * 3;
  (void)PngPath();
  for (auto _ : state) {
    std::FILE *f = std::fopen(PngPath().c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(PngReadImage)->Unit(benchmark::kMillisecond);

}  // namespace
