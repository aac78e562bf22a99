// A minimal device for benchmarks and the demo: answers ENQ with NAK, takes
// a frame with ACK and at once returns an answer frame (command code, error
// 0, two data bytes). No fault handling beyond resynchronising on ENQ.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "platform/pty.h"

namespace varn::bench {

class MinimalResponder {
 public:
  MinimalResponder() : m_thread([this] { Run(); }) {}
  ~MinimalResponder() {
    m_stop = true;
    m_pty.Interrupt();
    m_thread.join();
  }
  const std::string& Path() const { return m_pty.SlavePath(); }

  static std::string Frame(std::string_view payload) { return bench::Frame(payload); }

 private:
  // Next byte from the host, buffered; -1 when stopping.
  int Next() {
    while (m_pos >= m_buf.size()) {
      if (m_stop) return -1;
      m_buf = m_pty.ReadSome(512, std::chrono::milliseconds(200));
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
        Next();  // check byte, trusted here
        m_pty.Write("\x06" +
                    Frame(std::string{payload.empty() ? '\0' : payload[0], '\0', 'O', 'K'}));
      }
    }
  }

  PtyDevice m_pty;
  std::string m_buf;
  size_t m_pos = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace varn::bench
