#include "remote/transport.h"

#include <algorithm>
#include <cerrno>

namespace varn::remote {
namespace {

int32_t GetInt32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

// The first read of a payload; later reads double the buffer as bytes arrive.
constexpr size_t kFirstChunk = 64 * 1024;

}  // namespace

void TSocketTransport::SetConnected(bool value) {
  if (value == Connected()) return;
  if (!value) {
    m_socket.Close();
    return;
  }
  if (!Path.empty()) {
    m_socket = StreamSocket::ConnectUnix(Path);
  } else if (!Address.empty() || !Host.empty()) {
    // Refused as the dispatcher refuses it; cut to 16 bits it would reach
    // some other port.
    if (Port < 0 || Port > 65535)
      throw ESocketError(EINVAL, "TCP port " + std::to_string(Port) + " is out of range 0..65535");
    const std::string& host = Address.empty() ? Host : Address;
    try {
      m_socket = StreamSocket::ConnectTcp(host, static_cast<uint16_t>(Port));
    } catch (const ESocketError& e) {
      throw ESocketError(e.Errno,
                         "Не удалось подключиться к " + host + ":" + std::to_string(Port) + ": " +
                             SystemPart(e.what()),
                         e.NothingListens());
    }
  } else {
    throw ESocketConnectionError(
        "Для подключения через сокет не задан ни адрес, ни имя компьютера");
  }
}

bool TSocketTransport::WaitReadable(std::optional<std::chrono::microseconds> limit) {
  try {
    return m_socket.WaitReadable(limit);
  } catch (const ESocketError& e) {
    throw ESocketConnectionError(std::string(text::kErrorReading) + ": " + SystemPart(e.what()));
  }
}

void TSocketTransport::Send(TDataBlock& block) {
  try {
    m_socket.SendAll(block.Memory());
  } catch (const ESocketError& e) {
    throw ESocketConnectionError(std::string(text::kErrorWriting) + ": " + SystemPart(e.what()));
  }
}

std::chrono::microseconds TSocketTransport::NextStall() const {
  std::chrono::microseconds stall = StallLimit;
  if (m_completeBy) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        *m_completeBy - std::chrono::steady_clock::now());
    stall = std::max(std::chrono::microseconds(0), std::min(stall, left));
  }
  return stall;
}

void TSocketTransport::ReadFully(uint8_t* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const std::optional<size_t> n = m_socket.ReceiveWithin(data + done, count - done, NextStall());
    if (!n)
      throw ESocketConnectionError(std::string(text::kErrorReading) + ": " + text::kBlockStopped);
    if (*n == 0) throw ESocketConnectionError(text::kErrorReading);
    done += *n;
  }
}

std::optional<TDataBlock> TSocketTransport::Receive(
    std::optional<std::chrono::microseconds> limit,
    std::optional<std::chrono::steady_clock::time_point> completeBy) {
  m_completeBy = completeBy;
  try {
    // Only the start of a block waits up to `limit`; the rest may stall at
    // most StallLimit. A whole header usually comes with one read.
    uint8_t header[HeaderSize];
    size_t have = 0;
    while (have < HeaderSize) {
      const std::optional<size_t> n = m_socket.ReceiveWithin(
          header + have, HeaderSize - have, have == 0 ? limit : std::optional(NextStall()));
      if (!n) {
        if (have == 0) return std::nullopt;
        throw ESocketConnectionError(std::string(text::kErrorReading) + ": " + text::kBlockStopped);
      }
      if (*n == 0) throw ESocketConnectionError(text::kErrorReading);
      const bool hadSignature = have >= 4;
      have += *n;
      if (!hadSignature && have >= 4 && !IsWellFormed(GetInt32(header)))
        throw ESocketConnectionError(text::kInvalidDataPacket);
    }
    const int32_t sig = GetInt32(header);
    const int32_t size = GetInt32(header + 4);
    if (size < 0 || size > MaxBlockSize) throw ESocketConnectionError(text::kInvalidDataPacket);
    TDataBlock block;
    block.SetSignature(sig);
    const auto total = static_cast<size_t>(size);
    size_t got = 0;
    size_t room = std::min(total, kFirstChunk);
    block.SetSize(room);
    while (got < total) {
      if (got == room) {
        room = std::min(total, room * 2);
        block.SetSize(room);
      }
      ReadFully(block.PayloadData() + got, room - got);
      got = room;
    }
    return block;
  } catch (const ESocketError& e) {
    throw ESocketConnectionError(std::string(text::kErrorReading) + ": " + SystemPart(e.what()));
  }
}

}  // namespace varn::remote
