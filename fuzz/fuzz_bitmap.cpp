// Decodes the input as a bitmap file. Whatever the bytes, the decoder either
// yields a picture within the limits, with the bits past its width white,
// or raises EBitmapError; it never reads outside the input.
#include <cstdint>
#include <cstdlib>

#include "driver/base/bitmap.h"

namespace {

using namespace varn;

void Check(std::span<const uint8_t> file, TBitmapLimits limits) {
  TMonoBitmap m;
  try {
    m = DecodeBmp(file, limits);
  } catch (const EBitmapError&) {
    return;
  }
  if (m.width < 0 || m.width > limits.maxWidth || m.height < 0 || m.height > limits.maxHeight ||
      m.fileWidth < m.width || m.fileHeight < m.height ||
      m.bits.size() != m.RowBytes() * static_cast<size_t>(m.height))
    std::abort();
  const int spare = static_cast<int>(m.RowBytes() * 8) - m.width;  // low bits of the last byte
  const int white = (1 << spare) - 1;
  for (int y = 0; y < m.height && spare > 0; ++y)
    if ((m.Row(y)[m.RowBytes() - 1] & white) != white) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  Check(file, {320, 1200});
  Check(file, {5, 3});  // cuts most pictures: the kept part must still be right
  return 0;
}
