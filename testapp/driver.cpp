#include "testapp/driver.h"

#include <utility>

namespace varn::testapp {
namespace {

QString ToQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

TDriver::TDriver(std::u16string progId) : DriverClient(std::move(progId)) {}

QString TDriver::Text(DISPID id) {
  return ToQString(Get(id).ToString());
}

QString TDriver::Text(const std::u16string& name) {
  return ToQString(Get(name).ToString());
}

}  // namespace varn::testapp
