// Picture loading: a bitmap file into the device's graphics lines, one load
// command per row, each through the automation method with its log lines.
#include <algorithm>

#include "driver/core/varn_drv.h"
#include "driver/base/bitmap.h"
#include "platform/text.h"

namespace varn {
namespace {

constexpr int kLineDots = 320;  // 40 bytes
constexpr int kLoadBitmapRows = 200;
constexpr int kLoadBitmapExRows = 1200;

}  // namespace

int32_t TVarnDrv::LoadFile(const std::u16string& fileName, const char* loadName,
                           int32_t (TVarnDrv::*load)(), int rowLimit) {
  const TMonoBitmap bitmap = LoadBmpFile(Utf16ToUtf8(fileName), {kLineDots, rowLimit});
  return BitmapToLines(bitmap, loadName, load, rowLimit);
}

int32_t TVarnDrv::LoadBitmap(const std::u16string& fileName) {
  return LoadFile(fileName, "LoadLineData", &TVarnDrv::LoadLineData, kLoadBitmapRows);
}

int32_t TVarnDrv::LoadBitmapEx(const std::u16string& fileName) {
  return LoadFile(fileName, "LoadLineDataEx", &TVarnDrv::LoadLineDataEx, kLoadBitmapExRows);
}

int32_t TVarnDrv::LoadBMP() {
  return RunMethod("LoadBitmapEx", [&] { return LoadBitmapEx(m_fileName); });
}

int32_t TVarnDrv::BitmapToLines(const TMonoBitmap& bitmap, const char* loadName,
                                int32_t (TVarnDrv::*load)(), int rowLimit) {
  ClearResult();
  // The caller's LineData and LineNumber come back however the load ends.
  struct Restore {
    TVarnDrv& d;
    std::string data;
    int32_t number;
    ~Restore() {
      d.m_lineData = std::move(data);
      d.m_lineNumber = number;
    }
  } restore{*this, m_lineData, m_lineNumber};

  const int h = std::min(bitmap.height, rowLimit);
  const int w = std::min(bitmap.width, kLineDots);
  // Set before the first row goes out: they change even when a row fails.
  m_firstLineNumber = 1;
  m_lastLineNumber = h;
  int32_t result = 0;
  for (int y = 0; y < h; ++y) {
    // Line memory counts from 0, the print range from 1: rows 0..h-1 are
    // what Draw prints for the range 1..h left above.
    m_lineNumber = y;
    m_lineData = DeviceLineBytes(bitmap, y, w);
    result = RunMethod(loadName, load);
    if (result != 0) break;
  }
  return result;
}

}  // namespace varn
