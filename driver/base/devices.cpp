#include "driver/base/devices.h"

#include <algorithm>
#include <type_traits>

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

// A device's subkey: its name, then these, its number, then the rest.
constexpr TConnectionSettings::Value kDeviceHead[] = {
    {TConnectionSettings::Field::TCPPort, "TCPPort"},
    {TConnectionSettings::Field::IPAddress, "IPAddress"},
};
constexpr TConnectionSettings::Value kDeviceTail[] = {
    {TConnectionSettings::Field::Timeout, "Timeout"},
    {TConnectionSettings::Field::BaudRate, "Baudrate"},
    {TConnectionSettings::Field::ComputerName, "ComputerName"},
    {TConnectionSettings::Field::ComNumber, "ComNumber"},
    {TConnectionSettings::Field::ConnectionType, "ConnectionType"},
    {TConnectionSettings::Field::UseIPAddress, "UseIPAddress"},
};
constexpr TConnectionSettings::Value kDeviceValues[] = {
    kDeviceHead[0], kDeviceHead[1], kDeviceTail[0], kDeviceTail[1],
    kDeviceTail[2], kDeviceTail[3], kDeviceTail[4], kDeviceTail[5],
};

}  // namespace

// --- connection settings -----------------------------------------------------------

namespace {

// The member a field names, handed to `use` (an int32_t, a text or a flag).
template <class Settings, class Use>
void WithField(Settings& s, TConnectionSettings::Field field, Use&& use) {
  using F = TConnectionSettings::Field;
  switch (field) {
    case F::TCPPort:
      return use(s.TCPPort);
    case F::Timeout:
      return use(s.Timeout);
    case F::BaudRate:
      return use(s.BaudRate);
    case F::ComNumber:
      return use(s.ComNumber);
    case F::ComputerName:
      return use(s.ComputerName);
    case F::ConnectionType:
      return use(s.ConnectionType);
    case F::IPAddress:
      return use(s.IPAddress);
    case F::UseIPAddress:
      return use(s.UseIPAddress);
  }
}

template <class T>
constexpr RegValue::Type StoredType() {
  return std::is_same_v<T, std::u16string> ? RegValue::Type::String : RegValue::Type::Dword;
}

}  // namespace

void TConnectionSettings::Read(const RegistryData& data, const std::string& key, Layout layout,
                               bool required) {
  // In the order of the fields, whatever order the key writes them in.
  for (int f = 0; f <= static_cast<int>(Field::UseIPAddress); ++f) {
    for (const Value& value : layout) {
      if (static_cast<int>(value.field) != f) continue;
      WithField(*this, value.field, [&](auto& member) {
        using T = std::decay_t<decltype(member)>;
        const RegValue* v = data.Value(key, value.name);
        if (!v || v->type != StoredType<T>()) {
          if (required) throw ERegistryError(key + ": no value \"" + value.name + "\"");
          return;
        }
        if constexpr (std::is_same_v<T, std::u16string>)
          member = Utf8ToUtf16(v->text);
        else if constexpr (std::is_same_v<T, bool>)
          member = v->dword != 0;
        else
          member = static_cast<int32_t>(v->dword);
      });
    }
  }
}

void TConnectionSettings::Write(RegistryData& data, const std::string& key, Layout layout) const {
  for (const Value& value : layout) {
    WithField(*this, value.field, [&](const auto& member) {
      using T = std::decay_t<decltype(member)>;
      if constexpr (std::is_same_v<T, std::u16string>)
        data.SetValue(key, value.name, {RegValue::Type::String, Utf16ToUtf8(member), 0});
      else if constexpr (std::is_same_v<T, bool>)
        data.SetValue(key, value.name, {RegValue::Type::Dword, {}, member ? 1u : 0u});
      else
        data.SetValue(key, value.name, {RegValue::Type::Dword, {}, static_cast<uint32_t>(member)});
    });
  }
}

// --- the list ----------------------------------------------------------------------

TDevices::TDevices(std::u16string computerName, Registry registry)
    : m_computerName(std::move(computerName)), m_registry(std::move(registry)) {
  LD.ComputerName = m_computerName;
}

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
  device.Settings.ComputerName = m_computerName;
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
        // Read over the defaults one by one: a value missing keeps the rest.
        TDevice& d = Add();
        d.Number = static_cast<int32_t>(Need(data, key, "Number", RegValue::Type::Dword).dword);
        d.Name = Utf8ToUtf16(Need(data, key, "Name", RegValue::Type::String).text);
        d.Settings.Read(data, key, kDeviceValues, true);
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
    data.SetValue(key, "Name", {RegValue::Type::String, Utf16ToUtf8(d.Name), 0});
    d.Settings.Write(data, key, kDeviceHead);
    data.SetValue(key, "Number", {RegValue::Type::Dword, {}, static_cast<uint32_t>(d.Number)});
    d.Settings.Write(data, key, kDeviceTail);
  }
}

// --- the buffer ------------------------------------------------------------------

bool TDevices::BufferValid() const {
  // Compared as unsigned, so negative values fail too.
  return static_cast<uint32_t>(LD.BaudRate) <= 9 && static_cast<uint32_t>(LD.ComNumber) - 1 < 32 &&
         static_cast<uint32_t>(LD.ConnectionType) <= 2 && LD.TCPPort >= 1;
}

void TDevices::CopyBufferTo(TDevice& d) const {
  d.Name = LDName;
  d.Settings = LD;
}

void TDevices::LoadBufferFrom(const TDevice& d) {
  LDName = d.Name;
  LDNumber = d.Number;
  LD = d.Settings;
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
