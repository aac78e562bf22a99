// The emulator's COM N entry under the server's Ports key, for as long as
// the object lives: the port server then opens the pty as COM N.
//
//   TComRegistration reg(1, device.SlavePath());   // "COM1" = "/dev/pts/7"
//
// On destruction the entry is removed, or the value it replaced is put
// back, but only while the entry still names this device's path.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace varn::emu {

class TComRegistration {
 public:
  // Registry errors (ERegistryError, EOSError) propagate.
  TComRegistration(int com, std::string path);
  ~TComRegistration();
  TComRegistration(const TComRegistration&) = delete;
  TComRegistration& operator=(const TComRegistration&) = delete;

  const std::string& ValueName() const { return m_name; }

 private:
  Registry m_registry;
  std::string m_name;  // COM<N>
  std::string m_path;
  std::optional<std::string> m_replaced;
};

}  // namespace varn::emu
