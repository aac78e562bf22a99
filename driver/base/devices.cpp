#include "driver/base/devices.h"

#include <algorithm>

#include "platform/text.h"

namespace varn {
namespace {

std::string SubKey(size_t index) {
  return std::string(kLogicalDevicesKey) + "\\" + std::to_string(index);
}

// A value the load needs; its absence (or the other type) ends the load.
const RegValue& Need(const RegistryData& data, const std::string& key, const char* name,
                     RegValue::Type type) {
  const RegValue* v = data.Value(key, name);
  if (!v || v->type != type) throw ERegistryError(key + ": no value \"" + name + "\"");
  return *v;
}

}  // namespace

TDevices::TDevices(std::u16string computerName, Registry registry)
    : LDComputerName(computerName),
      m_computerName(std::move(computerName)),
      m_registry(std::move(registry)) {}

int32_t TDevices::IndexOfNumber(int32_t number) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i].Number == number) return static_cast<int32_t>(i);
  return -1;
}

int32_t TDevices::GetFreeLDNumber() const {
  int32_t n = 1;
  while (IndexOfNumber(n) >= 0) ++n;  // ends: there are fewer devices than numbers
  return n;
}

TDevice& TDevices::Add() {
  TDevice device;
  device.Number = GetFreeLDNumber();
  device.Name = u"Устройство №" + Utf8ToUtf16(std::to_string(device.Number));
  device.ComputerName = m_computerName;
  m_items.push_back(std::move(device));
  m_modified = true;
  return m_items.back();
}

void TDevices::Delete(size_t index) {
  m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
  m_modified = true;
}

void TDevices::Sort() {
  std::stable_sort(m_items.begin(), m_items.end(),
                   [](const TDevice& a, const TDevice& b) { return a.Number < b.Number; });
}

void TDevices::Load() {
  m_items.clear();
  m_keyMissing = false;
  bool complete = false;
  try {
    const RegistryData data = m_registry.Load();
    m_keyMissing = !data.Exists(kLogicalDevicesKey);
    if (!m_keyMissing) {
      for (const std::string& name : data.SubKeys(kLogicalDevicesKey)) {
        const std::string key = std::string(kLogicalDevicesKey) + "\\" + name;
        auto dword = [&](const char* value) {
          return static_cast<int32_t>(Need(data, key, value, RegValue::Type::Dword).dword);
        };
        auto text = [&](const char* value) {
          return Utf8ToUtf16(Need(data, key, value, RegValue::Type::String).text);
        };
        // Read over the defaults one by one: a value missing keeps the rest.
        TDevice& d = Add();
        d.Number = dword("Number");
        d.Name = text("Name");
        d.TCPPort = dword("TCPPort");
        d.Timeout = dword("Timeout");
        d.Baudrate = dword("Baudrate");
        d.ComNumber = dword("ComNumber");
        d.ComputerName = text("ComputerName");
        d.ConnectionType = dword("ConnectionType");
        d.IPAddress = text("IPAddress");
        d.UseIPAddress = dword("UseIPAddress") != 0;
      }
    }
    complete = true;
  } catch (const std::exception&) {
    // Silent by design: the devices read so far stay as they are.
  }
  if (complete) {
    if (m_items.empty()) {
      Add();
    } else {
      LDIndex = 0;
      LDNumber = 0;
    }
    Sort();
  }
  m_modified = false;
}

void TDevices::Save() {
  m_registry.Update([&](RegistryData& data) { WriteTo(data); });
  m_modified = false;
  m_keyMissing = false;
}

bool TDevices::SaveIfStillMissing() {
  bool written = false;
  m_registry.Update([&](RegistryData& data) {
    // Another object or process may have saved its list meanwhile: theirs stays.
    if (data.Exists(kLogicalDevicesKey)) return;
    WriteTo(data);
    written = true;
  });
  m_keyMissing = false;
  return written;
}

void TDevices::WriteTo(RegistryData& data) const {
  data.DeleteTree(kLogicalDevicesKey);
  data.Ensure(kLogicalDevicesKey);
  for (size_t i = 0; i < m_items.size(); ++i) {
    const TDevice& d = m_items[i];
    const std::string key = SubKey(i);
    auto dword = [&](const char* name, int32_t v) {
      data.SetValue(key, name, {RegValue::Type::Dword, {}, static_cast<uint32_t>(v)});
    };
    auto text = [&](const char* name, const std::u16string& v) {
      data.SetValue(key, name, {RegValue::Type::String, Utf16ToUtf8(v), 0});
    };
    text("Name", d.Name);
    dword("TCPPort", d.TCPPort);
    text("IPAddress", d.IPAddress);
    dword("Number", d.Number);
    dword("Timeout", d.Timeout);
    dword("Baudrate", d.Baudrate);
    text("ComputerName", d.ComputerName);
    dword("ComNumber", d.ComNumber);
    dword("ConnectionType", d.ConnectionType);
    dword("UseIPAddress", d.UseIPAddress ? 1 : 0);
  }
}

// --- the buffer ------------------------------------------------------------------

bool TDevices::BufferValid() const {
  // Compared as unsigned, so negative values fail too.
  return static_cast<uint32_t>(LDBaudrate) <= 9 && static_cast<uint32_t>(LDComNumber) - 1 < 32 &&
         static_cast<uint32_t>(LDConnectionType) <= 2 && LDTCPPort >= 1;
}

void TDevices::CopyBufferTo(TDevice& d) const {
  d.Name = LDName;
  d.TCPPort = LDTCPPort;
  d.Timeout = LDTimeout;
  d.Baudrate = LDBaudrate;
  d.ComNumber = LDComNumber;
  d.IPAddress = LDIPAddress;
  d.ComputerName = LDComputerName;
  d.ConnectionType = LDConnectionType;
  d.UseIPAddress = LDUseIPAddress;
}

void TDevices::LoadBufferFrom(const TDevice& d) {
  LDName = d.Name;
  LDNumber = d.Number;
  LDTCPPort = d.TCPPort;
  LDTimeout = d.Timeout;
  LDBaudrate = d.Baudrate;
  LDComNumber = d.ComNumber;
  LDIPAddress = d.IPAddress;
  LDComputerName = d.ComputerName;
  LDConnectionType = d.ConnectionType;
  LDUseIPAddress = d.UseIPAddress;
}

bool TDevices::AddLD() {
  if (!BufferValid() || m_items.size() >= kMaxLogicalDevices) return false;
  const int32_t number = Add().Number;
  CopyBufferTo(m_items.back());
  Sort();
  // The buffer names the new device even when the save below fails.
  LDIndex = IndexOfNumber(number);
  LDNumber = number;
  Save();
  return true;
}

bool TDevices::EnumLD() {
  if (LDIndex < 0 || static_cast<size_t>(LDIndex) >= m_items.size()) return false;
  LoadBufferFrom(m_items[static_cast<size_t>(LDIndex)]);
  return true;
}

bool TDevices::DeleteLD() {
  const int32_t index = IndexOfNumber(LDNumber);
  if (index < 0) return false;
  Delete(static_cast<size_t>(index));
  if (LDIndex < 0 || static_cast<size_t>(LDIndex) >= m_items.size()) {
    LDIndex = static_cast<int32_t>(m_items.size()) - 1;
    if (!m_items.empty()) LoadBufferFrom(m_items.back());
  }
  return true;
}

bool TDevices::GetParamLD() {
  const int32_t index = IndexOfNumber(LDNumber);
  if (index < 0) return false;
  LoadBufferFrom(m_items[static_cast<size_t>(index)]);
  LDIndex = index;
  return true;
}

bool TDevices::SetParamLD() {
  const int32_t index = IndexOfNumber(LDNumber);
  if (index < 0) return false;
  CopyBufferTo(m_items[static_cast<size_t>(index)]);
  m_modified = true;
  return true;
}

}  // namespace varn
