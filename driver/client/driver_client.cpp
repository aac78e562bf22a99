#include "driver/client/driver_client.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "platform/automation/classes.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace varn {
namespace {

// As the object model's own helpers say it, with the member's name.
[[noreturn]] void Raise(HRESULT hr, std::u16string_view name, DISPID id, const ExcepInfo& info) {
  std::string text;
  if (hr == DISP_E_EXCEPTION && !info.description.empty()) {
    text = Utf16ToUtf8(info.description);
  } else {
    char code[32];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(hr));
    const std::string who =
        name.empty() ? "#" + std::to_string(id) : Utf16ToUtf8(std::u16string(name));
    text = who + ": automation call failed with " + code;
  }
  throw EDispatchError(hr, text, info);
}

}  // namespace

DriverClient::DriverClient(std::u16string progId) : m_progId(std::move(progId)) {}

DriverClient::DriverClient(DispatchPtr object) : m_object(std::move(object)) {}

IDispatch& DriverClient::Object() {
  if (!m_object) m_object = CreateObject(m_progId);
  return *m_object;
}

void DriverClient::Release() {
  m_object = {};
  m_ids.clear();
}

Variant DriverClient::Run(DISPID id, std::u16string_view name, uint16_t flags,
                          std::vector<Variant> inputs) {
  DispParams p = DispParams::FromNatural(std::move(inputs));
  if (flags & DISPATCH_PROPERTYPUT) p.namedArgs = {DISPID_PROPERTYPUT};
  Variant result;
  ExcepInfo info;
  const HRESULT hr = Object().Invoke(id, flags, p, &result, &info, nullptr);
  if (Failed(hr)) Raise(hr, name, id, info);
  return result;
}

Variant DriverClient::Get(DISPID id) {
  return Run(id, drv_dispid::Name(id), DISPATCH_PROPERTYGET, {});
}

void DriverClient::Set(DISPID id, Variant value) {
  Run(id, drv_dispid::Name(id), DISPATCH_PROPERTYPUT, {std::move(value)});
}

Variant DriverClient::Invoke(DISPID id, std::vector<Variant> inputs) {
  return Run(id, drv_dispid::Name(id), DISPATCH_METHOD, std::move(inputs));
}

void DriverClient::Check(DISPID id) {
  const int32_t code = Call(id);
  if (code != 0) throw EDriverError(code, Text(drv_dispid::kResultCodeDescription));
}

std::string DriverClient::Text(DISPID id) {
  return Utf16ToUtf8(Text16(id));
}

void DriverClient::SetText(DISPID id, std::string_view utf8) {
  Set(id, Variant(Utf8ToUtf16(std::string(utf8))));
}

DISPID DriverClient::Id(const std::u16string& name) {
  IDispatch& object = Object();
  if (const auto found = m_ids.find(name); found != m_ids.end()) return found->second;
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = GetIDOfName(object, name, id);
  if (Failed(hr)) Raise(hr, name, id, {});
  m_ids.emplace(name, id);
  return id;
}

Variant DriverClient::GetNamed(DISPID id, std::u16string_view name) {
  return Run(id, name, DISPATCH_PROPERTYGET, {});
}

void DriverClient::Set(const std::u16string& name, Variant value) {
  Run(Id(name), name, DISPATCH_PROPERTYPUT, {std::move(value)});
}

Variant DriverClient::Invoke(const std::u16string& name, std::vector<Variant> inputs) {
  return Run(Id(name), name, DISPATCH_METHOD, std::move(inputs));
}

std::string DriverClient::Text(const std::u16string& name) {
  return Utf16ToUtf8(Get(name).ToString());
}

std::string DriverClient::ResultLine() {
  return std::to_string(Int(drv_dispid::kResultCode)) + ": " +
         Text(drv_dispid::kResultCodeDescription);
}

// --- the session ---------------------------------------------------------------

DriverSession::DriverSession(DriverClient& driver, SessionSteps steps)
    : m_driver(driver), m_steps(steps) {
  try {
    Open();
  } catch (...) {
    // The destructor of an object never built does not run: undo here.
    m_closed = true;
    CloseSteps();
    throw;
  }
}

DriverSession::~DriverSession() {
  if (!m_closed) CloseSteps();
}

void DriverSession::Open() {
  const auto step = [&](DISPID id, bool& done) {
    const int32_t code = m_driver.Call(id);
    if (code == 0) return done = true;
    if (m_steps.checked)
      throw EDriverError(code, m_driver.Text(drv_dispid::kResultCodeDescription));
    return false;
  };
  m_opened = (!m_steps.serverConnect || step(drv_dispid::kServerConnect, m_serverConnected)) &&
             step(drv_dispid::kLockPort, m_locked) &&
             (!m_steps.connect || step(drv_dispid::kConnect, m_connected));
}

void DriverSession::Close() {
  if (m_closed) return;
  m_closed = true;
  if (std::exception_ptr failure = CloseSteps()) std::rethrow_exception(failure);
}

std::exception_ptr DriverSession::CloseSteps() {
  std::exception_ptr failure;
  const auto step = [&](bool wanted, DISPID id) {
    if (!wanted) return;
    try {
      m_driver.Call(id);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  const bool all = m_steps.closeAll;
  step(m_steps.connect && m_steps.disconnect && (all || m_connected), drv_dispid::kDisconnect);
  step(all || m_locked, drv_dispid::kUnlockPort);
  step(m_steps.serverDisconnect && (all || m_serverConnected), drv_dispid::kServerDisconnect);
  m_connected = m_locked = m_serverConnected = false;
  return failure;
}

}  // namespace varn
