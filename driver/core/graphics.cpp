// Picture loading: a bitmap file into the device's graphics lines, one load
// command per row, each through the automation method with its log lines.
#include <algorithm>

#include "driver/base/bitmap.h"
#include "driver/core/varn_drv.h"
#include "platform/text.h"
#include "protocol/graphics.h"

namespace varn {
namespace {

constexpr int kLoadBitmapRows = protocol::kLoadLineDataLines;
constexpr int kLoadBitmapExRows = protocol::kGraphicsLines;

}  // namespace

int32_t TVarnDrv::LoadFile(const std::u16string& fileName, const char* loadName,
                           int32_t (TVarnDrv::*load)(), int rowLimit) {
  const TMonoBitmap bitmap = LoadBmpFile(Utf16ToUtf8(fileName), {protocol::kLineDots, rowLimit});
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

  // Set before the first row goes out: they change even when a row fails.
  m_firstLineNumber = 1;
  m_lastLineNumber = DeviceLineCount(bitmap, rowLimit);
  int32_t result = 0;
  SendDeviceLines(bitmap, rowLimit, [&](int line, const std::string& bytes) {
    // Line memory counts from 0, the print range from 1: rows 0..h-1 are
    // what Draw prints for the range 1..h set above.
    m_lineNumber = line;
    m_lineData = bytes;
    result = RunMethod(loadName, load);
    return result == 0;
  });
  return result;
}

}  // namespace varn
