// TDriver: the one driver object of the test program. It is created by
// ProgID through the object model on first use (never linked) and reached
// only late-bound: methods and properties by name, each name resolved to
// its DISPID once.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn::testapp {

class TDriver {
 public:
  // `progId` is what CreateObject is given; tests pass the driver's ProgID
  // too, the default is the driver's.
  explicit TDriver(std::u16string progId = u"VarnDrv.VarnDrv");
  ~TDriver();
  TDriver(const TDriver&) = delete;
  TDriver& operator=(const TDriver&) = delete;

  // Creates the object at the first call; EDriverError when it cannot be.
  IDispatch& Object();
  bool Created() const { return static_cast<bool>(m_object); }

  // A method without inputs; its result (the driver's result code).
  // A failed automation call raises EDispatchError.
  int32_t Call(const std::u16string& method);
  // A method with inputs (LoadBitmap(FileName), ...).
  Variant Call(const std::u16string& method, std::vector<Variant> inputs);

  Variant Get(const std::u16string& name);
  int32_t Int(const std::u16string& name) { return Get(name).ToInt32(); }
  bool Bool(const std::u16string& name) { return Get(name).ToBool(); }
  double Real(const std::u16string& name) { return Get(name).ToDouble(); }
  QString Text(const std::u16string& name);

  void Set(const std::u16string& name, Variant value);
  void Set(const std::u16string& name, int32_t v) { Set(name, Variant(v)); }
  void Set(const std::u16string& name, bool v) { Set(name, Variant(v)); }
  void Set(const std::u16string& name, const QString& v);

 private:
  DISPID Id(const std::u16string& name);

  std::u16string m_progId;
  DispatchPtr m_object;
  std::map<std::u16string, DISPID> m_ids;
};

}  // namespace varn::testapp
