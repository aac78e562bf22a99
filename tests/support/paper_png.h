// The emulator's paper picture as the tests read it back: gray dots, one
// byte each, row by row.
//
//   const PaperPng paper = ReadPaperPng(path);   // a test failure if unreadable
//   EXPECT_TRUE(paper.Ink(x, y));
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn::test {

struct PaperPng {
  int width = 0, height = 0;
  std::vector<uint8_t> gray;
  bool Ink(int x, int y) const { return gray[static_cast<size_t>(y * width + x)] < 128; }
};

PaperPng ReadPaperPng(const std::string& path);

}  // namespace varn::test
