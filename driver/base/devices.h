// Logical devices: named, numbered sets of connection settings, kept per
// user under the "Logical Devices" key. The driver object owns one TDevices
// and moves values between it and the application through the buffer (the
// LD properties): reading a property never touches the list, setting one
// never changes a device until an operation copies the buffer.
//
//   TDevices devices(u"kassa1");
//   devices.Load();                       // silent: a bad key loads less
//   devices.LDName = u"Зал";  devices.LD.TCPPort = 211;  devices.LD.ComNumber = 2;
//   if (devices.AddLD()) ...              // saved; LDNumber is its number
//
// Saving deletes the key and writes it again in one locked rewrite of the
// registry file, so concurrent savers never mix their lists: the last
// writer's list wins whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace varn {

inline constexpr const char* kLogicalDevicesKey =
    "SOFTWARE\\Kvelta\\Варн\\Драйвер\\Logical Devices";
// The devices dialog offers no more than this; AddLD keeps every caller to it.
inline constexpr size_t kMaxLogicalDevices = 99;

// How the driver reaches one device: the port server's computer and how to
// connect to it, the port and its line settings. The driver's own settings,
// every logical device and the LD buffer are each one of these.
struct TConnectionSettings {
  int32_t TCPPort = 211;  // of the remote server (connection by socket)
  int32_t Timeout = 100;  // the byte time-out in milliseconds
  int32_t BaudRate = 1;   // baud-rate code, as the driver's BaudRate
  int32_t ComNumber = 1;  // 1 = COM1
  std::u16string ComputerName;
  int32_t ConnectionType = 0;  // 0 local, 1 TCP, 2 remote by name
  std::u16string IPAddress;
  bool UseIPAddress = false;

  enum class Field {
    TCPPort,
    Timeout,
    BaudRate,
    ComNumber,
    ComputerName,
    ConnectionType,
    IPAddress,
    UseIPAddress
  };
  // One stored value: which field, under which name.
  struct Value {
    Field field;
    const char* name;
  };
  // The values of one registry key, in the order they are written there
  // (stored files keep their names, types and order).
  using Layout = std::span<const Value>;

  // Reads the values `layout` names, in the order of the fields above. A
  // value missing or of another type: with `required` raises ERegistryError
  // (the fields read before it keep what they read), else leaves its field.
  void Read(const RegistryData& data, const std::string& key, Layout layout, bool required);
  void Write(RegistryData& data, const std::string& key, Layout layout) const;
};

// A new logical device (and the LD buffer) has no socket port yet.
inline TConnectionSettings NewDeviceSettings() {
  TConnectionSettings s;
  s.TCPPort = 0;
  return s;
}

class TDevice {
 public:
  std::u16string Name;
  int32_t Number = 0;
  TConnectionSettings Settings = NewDeviceSettings();
};

class TDevices {
 public:
  // `computerName`: this computer's name, the default of a new device.
  explicit TDevices(std::u16string computerName, Registry registry = Registry::Default());

  size_t Count() const { return m_items.size(); }
  const TDevice& Item(size_t index) const { return m_items.at(index); }
  // The position of the device with this number; -1 when none has it.
  int32_t IndexOfNumber(int32_t number) const;
  // The lowest number >= 1 that no device uses.
  int32_t GetFreeLDNumber() const;
  // Appends a device with the defaults: the lowest free number, its name.
  TDevice& Add();
  void Delete(size_t index);

  // Reads the key over fresh devices; an unreadable value ends the load
  // there, silently, keeping what came before it. An empty list gets one
  // default device (not written).
  void Load();
  // Rewrites the whole key; ERegistryError or EOSError when it cannot.
  void Save();
  // Something changed the list since it was loaded or last saved.
  bool Modified() const { return m_modified; }
  // The last Load found no key (a first start) and nothing saved since.
  bool KeyMissing() const { return m_keyMissing; }
  // Save, but only when the key still does not exist, checked and written
  // in one locked update; whether it wrote. Raises as Save does.
  bool SaveIfStillMissing();

  // The operations behind the LD methods; false means the method fails
  // (result -9) and nothing changed.
  bool AddLD();  // then saves: the save's failure is raised
  bool EnumLD();
  bool DeleteLD();
  bool GetParamLD();
  bool SetParamLD();

  // The buffer; it starts with a new device's settings.
  std::u16string LDName;
  int32_t LDIndex = 0;  // a position in the list, not checked when set
  int32_t LDNumber = 0;
  TConnectionSettings LD = NewDeviceSettings();  // ComputerName: this computer's name

 private:
  bool BufferValid() const;
  void CopyBufferTo(TDevice& device) const;  // all but the number
  void LoadBufferFrom(const TDevice& device);
  void Sort();
  void WriteTo(RegistryData& data) const;  // the whole key, replaced

  std::u16string m_computerName;
  Registry m_registry;
  std::vector<TDevice> m_items;
  bool m_modified = false;
  bool m_keyMissing = false;
};

}  // namespace varn
