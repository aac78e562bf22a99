// The LD methods of the driver object: the logical device list and its
// buffer (driver/base/devices.h), the active device that the driver's
// own connection settings come from, and the list's life with the object.
#include "driver/core/varn_drv.h"

namespace varn {

void TVarnDrv::LoadLogicalDevices() {
  m_activeLD = -1;
  m_devices.Load();
}

void TVarnDrv::SaveLogicalDevicesOnExit() noexcept {
  // An object that changed nothing leaves alone what others saved meanwhile;
  // on a first start it writes its default list unless someone else did.
  try {
    if (m_devices.Modified())
      m_devices.Save();
    else if (m_devices.KeyMissing())
      m_devices.SaveIfStillMissing();
  } catch (...) {
    // Nobody is left to tell; the registry file stays as it was.
  }
}

int32_t TVarnDrv::AddLD() {
  return m_devices.AddLD() ? ClearResult() : RangeError();
}

int32_t TVarnDrv::EnumLD() {
  return m_devices.EnumLD() ? ClearResult() : RangeError();
}

int32_t TVarnDrv::DeleteLD() {
  return m_devices.DeleteLD() ? ClearResult() : RangeError();
}

int32_t TVarnDrv::GetParamLD() {
  return m_devices.GetParamLD() ? ClearResult() : RangeError();
}

int32_t TVarnDrv::SetParamLD() {
  return m_devices.SetParamLD() ? ClearResult() : RangeError();
}

int32_t TVarnDrv::GetCountLD() {
  return ClearResult();
}

int32_t TVarnDrv::GetActiveLD() {
  const int32_t index = m_devices.IndexOfNumber(m_activeLD);
  if (m_activeLD == -1 || index < 0) return RangeError();
  m_devices.LDNumber = m_activeLD;
  m_devices.LDIndex = index;
  return ClearResult();
}

int32_t TVarnDrv::SetActiveLD() {
  const int32_t index = m_devices.IndexOfNumber(m_devices.LDNumber);
  if (index < 0) return RangeError();
  ServerDisconnect();
  // The port was opened on the connection just dropped, for the previous
  // device: the next command opens the new device's port.
  m_serverPortOpen = false;
  m_activeLD = m_devices.LDNumber;
  // Straight into the settings: none of the setters' checks or saving.
  const TDevice& d = m_devices.Item(static_cast<size_t>(index));
  m_settings = d.Settings;
  return ClearResult();
}

int32_t TVarnDrv::GetFreeLDNumber() {
  return m_devices.GetFreeLDNumber();
}

int32_t TVarnDrv::SaveLDParams() {
  m_devices.Save();
  return ClearResult();
}

}  // namespace varn
