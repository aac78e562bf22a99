#include "testapp/driver.h"

#include <utility>

#include "platform/automation/classes.h"
#include "platform/text.h"

namespace varn::testapp {

TDriver::TDriver(std::u16string progId) : m_progId(std::move(progId)) {}

TDriver::~TDriver() = default;

IDispatch& TDriver::Object() {
  if (!m_object) m_object = CreateObject(m_progId);
  return *m_object;
}

DISPID TDriver::Id(const std::u16string& name) {
  const auto found = m_ids.find(name);
  if (found != m_ids.end()) return found->second;
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = GetIDOfName(Object(), name, id);
  if (Failed(hr))
    throw EDispatchError(hr, "У драйвера нет свойства или метода " + Utf16ToUtf8(name));
  m_ids.emplace(name, id);
  return id;
}

int32_t TDriver::Call(const std::u16string& method) {
  return Call(method, {}).ToInt32();
}

Variant TDriver::Call(const std::u16string& method, std::vector<Variant> inputs) {
  return InvokeById(Object(), Id(method), DISPATCH_METHOD, std::move(inputs));
}

Variant TDriver::Get(const std::u16string& name) {
  return InvokeById(Object(), Id(name), DISPATCH_PROPERTYGET);
}

QString TDriver::Text(const std::u16string& name) {
  const std::u16string s = Get(name).ToString();
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

void TDriver::Set(const std::u16string& name, Variant value) {
  InvokeById(Object(), Id(name), DISPATCH_PROPERTYPUT, {std::move(value)});
}

void TDriver::Set(const std::u16string& name, const QString& v) {
  Set(name, Variant(v.toStdU16String()));
}

}  // namespace varn::testapp
