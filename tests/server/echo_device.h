// A scripted device on a pseudo-terminal for what the emulator cannot show:
// it answers ENQ with NAK, takes a frame with ACK and answers with the
// request's own payload, so every byte value travels both ways, at any
// line speed.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/pty.h"
#include "tests/support/test_env.h"

namespace varn::test {

class EchoDevice {
 public:
  EchoDevice() : m_thread([this] { Run(); }) {}
  ~EchoDevice() {
    m_stop = true;
    m_pty.Interrupt();
    m_thread.join();
  }
  const std::string& Path() const { return m_pty.SlavePath(); }
  int32_t LineBaud() const { return m_pty.LineBaud(); }

 private:
  int Next() {  // the next byte from the host; -1 when stopping
    while (m_pos >= m_buf.size()) {
      if (m_stop) return -1;
      m_buf = m_pty.ReadSome(512, std::chrono::milliseconds(100));
      m_pos = 0;
    }
    return static_cast<unsigned char>(m_buf[m_pos++]);
  }

  void Run() {
    for (int b; (b = Next()) >= 0;) {
      if (b == 0x05) {
        m_pty.Write("\x15");
      } else if (b == 0x02) {
        const int len = Next();
        if (len < 0) return;
        std::string payload;
        for (int i = 0; i < len; ++i) payload += static_cast<char>(Next());
        Next();  // check byte, trusted
        m_pty.Write("\x06" + Frame(payload));
      }
    }
  }

  PtyDevice m_pty;
  std::string m_buf;
  size_t m_pos = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace varn::test
