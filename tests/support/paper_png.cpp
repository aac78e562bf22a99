#include "tests/support/paper_png.h"

#include <gtest/gtest.h>
#include <png.h>

namespace varn::test {

PaperPng ReadPaperPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  PaperPng p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << "not a PNG: " << path << ": " << image.message;
    return p;
  }
  image.format = PNG_FORMAT_GRAY;
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.gray.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.gray.data(), 0, nullptr)) << image.message;
  return p;
}

}  // namespace varn::test
