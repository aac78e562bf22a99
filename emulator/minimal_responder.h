// The smallest device there is, for benchmarks and for tests that need
// what the full emulator cannot do: it answers ENQ with NAK, takes any
// frame with ACK (its check byte is trusted) and at once sends the answer
// frame that `answer` makes of the request's payload. No modes, no faults,
// any line speed; it resynchronises on the next ENQ or STX.
//
//   emu::MinimalResponder echo([](std::string_view p) { return std::string(p); });
//   reg.WriteString(kPortsKey, "COM3", echo.Path());
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/pty.h"
#include "protocol/frame.h"

namespace varn::emu {

class MinimalResponder {
 public:
  using Answer = std::function<std::string(std::string_view payload)>;

  explicit MinimalResponder(Answer answer)
      : m_answer(std::move(answer)), m_thread([this] { Run(); }) {}
  ~MinimalResponder() {
    m_stop = true;
    m_pty.Interrupt();
    m_thread.join();
  }
  MinimalResponder(const MinimalResponder&) = delete;
  MinimalResponder& operator=(const MinimalResponder&) = delete;

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
      if (b == protocol::ENQ) {
        m_pty.Write(std::string(1, protocol::NAK));
      } else if (b == protocol::STX) {
        const int len = Next();
        if (len < 0) return;
        std::string payload;
        for (int i = 0; i < len; ++i) payload += static_cast<char>(Next());
        Next();  // check byte
        m_pty.Write(protocol::ACK + protocol::Frame(m_answer(payload)));
      }
    }
  }

  Answer m_answer;
  PtyDevice m_pty;
  std::string m_buf;
  size_t m_pos = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;  // last: starts once the rest is built
};

}  // namespace varn::emu
