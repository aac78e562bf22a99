#include "server/clients.h"

#include <algorithm>

namespace varn {

void TClients::Add(TVarnSrv* client) {
  std::lock_guard lock(m_lock);
  if (std::find(m_items.begin(), m_items.end(), client) != m_items.end()) return;
  m_items.push_back(client);
  if (m_onChange) m_onChange();
}

void TClients::Remove(TVarnSrv* client) {
  std::lock_guard lock(m_lock);
  auto it = std::find(m_items.begin(), m_items.end(), client);
  if (it == m_items.end()) return;
  m_items.erase(it);
  if (m_onChange) m_onChange();
}

int TClients::Count() const {
  std::lock_guard lock(m_lock);
  return static_cast<int>(m_items.size());
}

TVarnSrv* TClients::Items(int index) const {
  std::lock_guard lock(m_lock);
  return m_items.at(static_cast<size_t>(index));
}

void TClients::SetOnChange(TNotifyEvent handler) {
  std::lock_guard lock(m_lock);
  m_onChange = std::move(handler);
}

}  // namespace varn
