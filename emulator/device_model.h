// The device behind the link: it takes one request payload and gives the
// answer payload (command code, error code, data), keeping the state a
// real device keeps: mode, drawer, exchange parameters, tables, graphics
// memory, and the paper it prints on.
//
//   TDeviceModel device(options);
//   std::string answer = device.Execute(request);   // never throws
//   // answer[1] == 0 on success, else the device's error code
//
// The test run and the drawer keep the device's time, options.clock, which
// a test moves by hand. Not thread-safe: the link thread is its one user.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/options.h"
#include "emulator/paper.h"
#include "emulator/tables.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/graphics.h"

namespace varn::emu {

inline constexpr int kGraphicsLines = protocol::kGraphicsLines;
// The device's own serial port number, reported in the status; port 0 is
// a second port with parameters of its own.
inline constexpr uint8_t kLinePort = 1;

// The error codes the device answers with; kInternal also when a file of
// the emulator could not be written.
namespace err = protocol::err;

class TDeviceModel {
 public:
  // EDriverError -8 when the state file cannot be used.
  explicit TDeviceModel(const EmulatorOptions& options);

  std::string Execute(std::string_view request);

  // The baud-rate code the device's own port is set to (0x14 changes it).
  int LineBaudCode() const { return m_ports[kLinePort].baudCode; }

 private:
  struct PortParams {
    int baudCode;
    uint8_t timeout;  // as the host encoded it
  };
  class Reader;

  std::string Run(uint8_t code, Reader& in);
  uint16_t Flags() const;
  uint8_t Mode();
  void Diagnose(const std::string& text) const;

  EmulatorOptions m_options;
  TTables m_tables;
  TPaper m_paper;
  PortParams m_ports[2];
  uint8_t m_mode = protocol::mode::kWorking;
  MonoTime m_testRunEnds{};  // on options.clock
  MonoTime m_drawerCloses{};
  std::vector<std::string> m_graphics;  // kGraphicsLines lines of TPaper::kLineBytes
};

}  // namespace varn::emu
