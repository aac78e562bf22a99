#include "driver/core/server_link.h"

#include "platform/text.h"

namespace varn {
namespace {

constexpr DISPID kUnresolved = -2;

const char16_t* const kNames[IServerLink::kNameCount] = {
    u"OpenPort",         u"ClosePort",         u"LockPort",    u"UnlockPort", u"SendData",
    u"RxData",           u"ResultDescription", u"Output",      u"PortLocked", u"AdminUnlockPort",
    u"AdminUnlockPorts", u"Connect",           u"FileVersion",
};

}  // namespace

std::string EServerUnreachable::MessageOf(const std::exception_ptr& reason) {
  try {
    std::rethrow_exception(reason);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown failure";
  }
}

TServerLink::TServerLink(DispatchPtr server) : m_server(std::move(server)) {
  m_ids.fill(kUnresolved);
}

DISPID TServerLink::Id(Name name) {
  DISPID& id = m_ids[name];
  if (id == kUnresolved) {
    DISPID found = DISPID_UNKNOWN;
    const HRESULT hr = GetIDOfName(*m_server, kNames[name], found);
    if (Failed(hr))
      throw EDispatchError(hr, Utf16ToUtf8(kNames[name]) + ": the server has no such member");
    id = found;
  }
  return id;
}

int32_t TServerLink::CallInt(Name name, std::vector<Variant> inputs) {
  return InvokeById(*m_server, Id(name), DISPATCH_METHOD, std::move(inputs)).ToInt32();
}

Variant TServerLink::Get(Name name) {
  return InvokeById(*m_server, Id(name), DISPATCH_PROPERTYGET);
}

}  // namespace varn
