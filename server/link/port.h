// TPort: a COM port of the server with the device's link protocol.
//
// Exchange() carries one request frame (built whole by the client) to the
// device and returns the payload of the device's answer, by the half-duplex
// protocol: ENQ; NAK means "send", ACK means "I hold an answer"; frames are
// STX, LEN, payload, XOR check byte. Three failure counters bound the
// retries; any of them above two ends the exchange with -4 "Нет связи".
// Every byte on the line goes to the exchange log.
//
//   TPort port(settings);
//   port.SetPortNumber(1);
//   std::string answer = port.Exchange(frame);   // EDriverError -4, -2, -3
//
// The sharing half (lock, auto-unlock timer) is layered on by the server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/link/comm.h"
#include "server/link/exchange_log.h"

namespace varn {

namespace link {
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;
inline constexpr char STX = 0x02;
// How long the device may take to start its answer (ms).
inline constexpr uint32_t kAnswerStartTimeout = 10000;
// Gap allowed before the payload and the check byte, on top of T (ms).
inline constexpr uint32_t kAnswerBodyTimeout = 1;
// A device that takes every request and never answers properly would keep
// the loop going; this many deliveries of one request and we give up.
inline constexpr int kMaxDeliveries = 10;
}  // namespace link

class TPort : public TComm {
 public:
  explicit TPort(std::shared_ptr<const TLinkSettings> settings);
  ~TPort() override = default;

  int32_t Timeout() const { return m_timeout; }
  // T: the byte interval and per-byte read/write limits, in ms.
  void SetTimeout(int32_t t);
  // C: the constant part of the whole-read limit, in ms.
  void SetAnswerTimeout(uint32_t c);

  bool Send(std::string_view bytes);
  bool Receive(size_t count, std::string& bytes);
  bool ReadAnswer(std::string& payload);
  std::string Exchange(std::string_view request);

  const std::string& Input() const { return m_input; }
  const std::string& Output() const { return m_output; }

 protected:
  // Called after every successful exchange (restarts the auto-unlock timer).
  virtual void ExchangeSucceeded() {}

 private:
  void AppendOutput(std::string_view part);

  int32_t m_timeout = 0;  // T in ms; SetTimeout(100) in the constructor
  TExchangeLog m_log;
  std::string m_input;   // hex dump of the last request
  std::string m_output;  // answer summaries of the last exchange
};

}  // namespace varn
