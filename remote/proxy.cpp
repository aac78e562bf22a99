#include "remote/proxy.h"

#include "remote/interpreter.h"

namespace varn::remote {
namespace {

const char* kDetached = "Соединение этого удалённого объекта закрыто";

}  // namespace

TkxDataDispatch::TkxDataDispatch(TkxDataBlockInterpreter& interpreter, int32_t dispatchIndex)
    : m_link(interpreter.m_link), m_index(dispatchIndex) {
  std::lock_guard lock(m_link->lock);
  interpreter.m_proxies.insert(this);
}

TkxDataDispatch::~TkxDataDispatch() {
  std::lock_guard lock(m_link->lock);
  if (m_link->interpreter) m_link->interpreter->m_proxies.erase(this);
}

bool TkxDataDispatch::Detached() const {
  std::lock_guard lock(m_link->lock);
  return m_link->interpreter == nullptr;
}

HRESULT TkxDataDispatch::GetIDsOfNames(std::span<const std::u16string> names,
                                       std::span<DISPID> ids) {
  // The link outlives this call even if the last reference to the proxy
  // goes away inside it (a closing handler may drop it).
  const auto link = m_link;
  std::lock_guard lock(link->lock);
  if (!link->interpreter) throw EInterpreterError(kDetached);
  const DispatchPtr keep(this);
  return link->interpreter->SendGetIDsOfNames(m_index, names, ids);
}

HRESULT TkxDataDispatch::Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result,
                                ExcepInfo* excep, uint32_t*) {
  const auto link = m_link;
  std::lock_guard lock(link->lock);
  if (!link->interpreter) throw EInterpreterError(kDetached);
  const DispatchPtr keep(this);
  return link->interpreter->SendInvoke(m_index, id, flags, params, result, excep);
}

}  // namespace varn::remote
