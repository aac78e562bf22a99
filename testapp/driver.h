// TDriver: the one driver object of the test program, the driver's client
// (`DriverClient`: created by ProgID on first use, never linked, reached
// late-bound by the generated DISPIDs) with what Qt code wants beside it:
// texts as QString and the setters for the values the pages hold. Names
// stay possible for what a user or a test names.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/client/driver_client.h"

namespace varn::testapp {

class TDriver : public DriverClient {
 public:
  // `progId` is what CreateObject is given; tests pass the driver's ProgID
  // too, the default is the driver's.
  explicit TDriver(std::u16string progId = kDriverProgId);

  // A method without inputs: its result (the driver's result code); a
  // method with inputs (LoadBitmap(FileName), ...): its result. A failed
  // automation call raises EDispatchError.
  using DriverClient::Call;
  Variant Call(DISPID method, std::vector<Variant> inputs) {
    return Invoke(method, std::move(inputs));
  }

  QString Text(DISPID id);
  QString Text(const std::u16string& name);

  using DriverClient::Set;
  void Set(DISPID id, int32_t v) { DriverClient::Set(id, Variant(v)); }
  void Set(DISPID id, bool v) { DriverClient::Set(id, Variant(v)); }
  void Set(DISPID id, const QString& v) { DriverClient::Set(id, Variant(v.toStdU16String())); }
  void Set(const std::u16string& name, int32_t v) { DriverClient::Set(name, Variant(v)); }
  void Set(const std::u16string& name, bool v) { DriverClient::Set(name, Variant(v)); }
  void Set(const std::u16string& name, const QString& v) {
    DriverClient::Set(name, Variant(v.toStdU16String()));
  }
};

}  // namespace varn::testapp
