#include "server/link/comm.h"

#include <cerrno>
#include <stdexcept>

#include "platform/com_ports.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace varn {

TLineFactory SystemLines() {
  return [](int32_t portNumber, const SerialAbort* abort) {
    return OpenSerialLine(ComPortPath(portNumber, Registry::Default()), abort);
  };
}

TComm::TComm(TLineFactory lines) : m_lines(lines ? std::move(lines) : SystemLines()) {}

TComm::~TComm() {
  Close();
}

void TComm::Open() {
  m_handle = m_lines(m_portNumber, m_abort.get());
  m_opened = true;
  m_handle->SetTimeouts(m_timeouts);
  ApplyLine();
}

void TComm::ApplyLine() {
  m_handle->ApplyLineSettings(m_baudRate);
  m_handle->SetModemLines(/*dtr=*/true, /*rts=*/false);
}

void TComm::Close() {
  m_opened = false;
  m_handle.reset();
}

void TComm::CheckOpened() const {
  if (!Opened()) throw EDriverError(rc::kPortNotOpen, msg::kPortNotOpen);
}

void TComm::Write(std::string_view data) {
  CheckOpened();
  if (m_handle->Write(data) < data.size()) throw std::runtime_error(msg::kShortWrite);
}

std::string TComm::Read(size_t count) {
  // Like a read on an invalid handle: the system refuses it.
  if (!Opened()) throw EOSError(EBADF, "read: Bad file descriptor");
  return m_handle->Read(count);
}

void TComm::SetBaudRate(int32_t value) {
  if (value == m_baudRate) return;
  m_baudRate = value;
  if (Opened()) ApplyLine();
}

void TComm::SetTimeouts(const CommTimeouts& timeouts) {
  m_timeouts = timeouts;
  if (Opened()) m_handle->SetTimeouts(timeouts);
}

bool TComm::Purge() {
  return Opened() && m_handle->Purge();
}

}  // namespace varn
