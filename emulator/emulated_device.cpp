#include "emulator/emulated_device.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "protocol/commands.h"
#include "protocol/frame.h"

namespace varn::emu {
namespace {

using protocol::ACK;
using protocol::ENQ;
using protocol::NAK;
using protocol::STX;

constexpr size_t kReadChunk = 1024;
constexpr std::chrono::milliseconds kIdleWait{200};  // Stop() wakes it anyway

std::string Frame(const std::string& payload, bool corrupt) {
  std::string f = protocol::Frame(payload);
  if (corrupt) f.back() = static_cast<char>(~f.back());
  return f;
}

const EmulatorOptions& Checked(const EmulatorOptions& o) {
  if (o.baudCode < 0 || o.baudCode >= kBaudCodeCount)
    throw std::invalid_argument("baud-rate code " + std::to_string(o.baudCode) +
                                " is not one of 0..6");
  return o;
}

}  // namespace

EmulatedDevice::EmulatedDevice(const EmulatorOptions& options)
    : m_options(Checked(options)),
      m_model(m_options),
      m_faults(options.faults),
      m_active(options.faults),
      m_rate(kBaudRates[options.baudCode]) {
  m_thread = std::thread([this] { Run(); });
}

EmulatedDevice::~EmulatedDevice() {
  Stop();
}

void EmulatedDevice::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_stopping = true;
  m_wake.notify_all();
  m_pty.Interrupt();
  if (m_thread.joinable()) m_thread.join();
}

void EmulatedDevice::SetFaults(const FaultOptions& faults) {
  std::lock_guard lock(m_mutex);
  m_faults = faults;
}

void EmulatedDevice::Diagnose(const std::string& text) const {
  if (m_options.onDiagnostic) m_options.onDiagnostic(text);
}

bool EmulatedDevice::Pause(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(m_mutex);
  return !m_wake.wait_until(lock, until, [this] { return m_stop; });
}

void EmulatedDevice::Run() {
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_stop) return;
      m_active = m_faults;
    }
    try {
      Step();
    } catch (const std::exception& e) {
      Diagnose(std::string("line: ") + e.what());
      m_rx = Rx::Idle;
      Pause(std::chrono::steady_clock::now() + kIdleWait);  // no busy loop on a broken line
    }
  }
}

void EmulatedDevice::Step() {
  if (m_active.staleFirstAnswer && !m_staleServed) {
    // As if an earlier request's answer had never been collected.
    m_staleServed = true;
    m_held = m_model.Execute(protocol::Request(protocol::cmd::GetShortECRStatus));
  }
  const auto now = std::chrono::steady_clock::now();
  auto wait = kIdleWait;
  if (m_rx != Rx::Idle) {
    wait = std::chrono::duration_cast<std::chrono::milliseconds>(m_lastByte + kFrameGap - now);
    if (wait.count() <= 0) {
      m_rx = Rx::Idle;  // the rest of that frame is not coming
      return;
    }
  }
  const std::string chunk = m_pty.ReadSome(kReadChunk, wait);
  if (chunk.empty()) {
    // A quiet line may have lost its host to a kill: what that host left in
    // exclusive mode would keep it from opening the line again.
    if (m_rx == Rx::Idle) m_pty.ReleaseStaleExclusiveMode();
    return;
  }
  const int32_t lineRate = m_pty.LineBaud();
  if (m_pendingRate && lineRate == m_pendingRate) {
    // The host went over to the new speed without acknowledging the answer.
    m_rate = m_pendingRate;
    m_pendingRate = 0;
  }
  if (m_active.silent || lineRate != m_rate) {
    // At another speed the bytes are noise to the device.
    m_rx = Rx::Idle;
    return;
  }
  m_lastByte = std::chrono::steady_clock::now();
  // With line timing the host's bytes take their time too: the pty hands
  // them over at once, a line only one after the other. The device answers
  // a byte (an ENQ, the check byte of a frame) once that byte is whole.
  const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / m_rate);
  auto whole = std::max(m_rxWholeAt, m_lastByte);
  for (char c : chunk) {
    if (m_stopping) return;
    const auto b = static_cast<uint8_t>(c);
    if (m_active.lineSpeed) {
      whole += byteTime;
      const bool answers = m_rx == Rx::Check || (m_rx == Rx::Idle && b == ENQ);
      if (answers && !Pause(whole)) return;
    }
    OnByte(b);
  }
  m_rxWholeAt = whole;
}

void EmulatedDevice::OnByte(uint8_t b) {
  switch (m_rx) {
    case Rx::Idle:
      if (b == ENQ) {
        OnEnq();
      } else if (b == STX) {
        m_rx = Rx::Length;
      } else if (b == ACK) {
        OnHostAck();
      }
      // NAK: the host rejected the answer, which stays held for the next
      // ENQ. Anything else between frames is noise.
      return;
    case Rx::Length:
      m_length = b;
      m_frame.clear();
      m_rx = m_length ? Rx::Payload : Rx::Check;
      return;
    case Rx::Payload:
      m_frame += static_cast<char>(b);
      if (m_frame.size() == m_length) m_rx = Rx::Check;
      return;
    case Rx::Check:
      m_rx = Rx::Idle;
      OnFrame(b);
      return;
  }
}

void EmulatedDevice::OnEnq() {
  if (m_held && !m_active.nakStorm) {
    Transmit(std::string(1, ACK));
    m_backToBack = true;
    SendAnswer(false);
  } else {
    Transmit(std::string(1, NAK));
  }
}

void EmulatedDevice::OnFrame(uint8_t check) {
  if (protocol::CheckByte(m_frame) != check) {
    Transmit(std::string(1, NAK));
    return;
  }
  ++m_framesTaken;
  const bool dropAck = m_active.dropAckEvery > 0 &&
                       m_framesTaken % static_cast<uint64_t>(m_active.dropAckEvery) == 0;
  if (!dropAck) {
    Transmit(std::string(1, ACK));
    m_backToBack = true;
  }
  m_held = m_model.Execute(m_frame);
  const int32_t wanted = kBaudRates[m_model.LineBaudCode()];
  if (wanted != m_rate) m_pendingRate = wanted;
  SendAnswer(true);
}

void EmulatedDevice::OnHostAck() {
  m_held.reset();
  if (m_pendingRate) {
    m_rate = m_pendingRate;
    m_pendingRate = 0;
  }
}

void EmulatedDevice::SendAnswer(bool fresh) {
  if (fresh && m_active.answerDelay.count() > 0) {
    m_backToBack = false;  // the line is idle during the delay
    if (!Pause(std::chrono::steady_clock::now() + m_active.answerDelay)) return;
  }
  ++m_answersSent;
  const bool corrupt =
      m_active.nakStorm || (m_active.badCheckEvery > 0 &&
                            m_answersSent % static_cast<uint64_t>(m_active.badCheckEvery) == 0);
  Transmit(Frame(*m_held, corrupt));
}

void EmulatedDevice::Transmit(const std::string& bytes) {
  constexpr auto kMostMadeUp = std::chrono::milliseconds(1);
  const bool backToBack = std::exchange(m_backToBack, false);
  size_t sent = 0;
  const auto limit = m_lineFull ? std::chrono::milliseconds(0) : kWriteLimit;
  if (!m_active.lineSpeed) {
    sent = m_pty.WriteSome(bytes, limit);
  } else {
    // Start bit, 8 data bits, stop bit: a byte is whole 10 bit times after
    // its start; bytes go out as their time comes, on deadlines of one clock,
    // so a late wake-up never delays the bytes after it. An answer that
    // follows its ACK at once continues the ACK's schedule: the time this
    // thread overslept the ACK or took to execute is the rig's, not the line's.
    // (At most a millisecond is made up, whatever happened before.)
    const auto now = std::chrono::steady_clock::now();
    const auto start =
        backToBack ? std::clamp(m_lineFreeAt, now - kMostMadeUp, now) : std::max(now, m_lineFreeAt);
    const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / m_rate);
    while (sent < bytes.size()) {
      const auto due = static_cast<size_t>((std::chrono::steady_clock::now() - start) / byteTime);
      if (due > sent) {
        const size_t n = std::min(due, bytes.size()) - sent;
        const size_t put = m_pty.WriteSome(std::string_view(bytes).substr(sent, n), limit);
        sent += put;
        if (put < n) break;
      } else if (!Pause(start + byteTime * static_cast<int64_t>(sent + 1))) {
        break;
      }
    }
    m_lineFreeAt = start + byteTime * static_cast<int64_t>(sent);
  }
  if (sent == bytes.size()) {
    m_lineFull = false;
    return;
  }
  if (m_stopping) return;
  if (!m_lineFull)
    Diagnose("line: the host does not read; " + std::to_string(bytes.size() - sent) +
             " bytes dropped");
  m_lineFull = true;
}

}  // namespace varn::emu
