// TSocketTransport: moves data blocks over one stream socket, TCP or Unix.
//
// Send writes the header and the payload with one send (completed if the
// system takes it in parts). Receive waits up to a limit for the start of a
// block, then reads the rest; a block whose next bytes stall longer than
// StallLimit, a bad signature, a negative size or one above 16 MiB ends the
// stream with ESocketConnectionError ("Неверный пакет данных", "Ошибка
// чтения из сокета"). Buffers grow with the bytes that actually arrive, so a
// header that lies about its size allocates nothing it did not get.
//
//   TSocketTransport t;
//   t.SetHost("localhost");  t.Port = 211;  t.SetConnected(true);
//   t.Send(block);
//   std::optional<TDataBlock> answer = t.Receive(std::chrono::seconds(3));
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/socket.h"
#include "remote/data_block.h"
#include "remote/errors.h"

namespace varn::remote {

class TSocketTransport {
 public:
  TSocketTransport() = default;
  // A transport on a socket that is already connected (an accepted client).
  explicit TSocketTransport(StreamSocket socket) : m_socket(std::move(socket)) {}

  // Where SetConnected(true) connects: Path (a Unix socket) when set,
  // otherwise Address (a numeric address) when set, otherwise Host (a name).
  std::string Host;
  std::string Address;
  std::string Path;
  int32_t Port = 0;
  // How long the rest of a begun block may keep us waiting for its next
  // bytes; the whole block is sent at once, so a stall means a dead peer.
  std::chrono::milliseconds StallLimit{30000};

  bool Connected() const { return m_socket.IsOpen(); }
  // true: connects as above (ESocketError of the socket layer on failure;
  // ESocketConnectionError when no address is set); false: closes.
  void SetConnected(bool value);

  // Instead of the read event: waits until a block begins, the peer closes,
  // or Shutdown is called. nullopt waits without limit.
  bool WaitReadable(std::optional<std::chrono::microseconds> limit);
  void Send(TDataBlock& block);
  // nullopt when no block begins within `limit` (nullopt: no limit). A
  // block begun must be whole by `completeBy` as well (when given), so a
  // peer trickling bytes cannot hold the reader past it.
  std::optional<TDataBlock> Receive(
      std::optional<std::chrono::microseconds> limit,
      std::optional<std::chrono::steady_clock::time_point> completeBy = std::nullopt);
  // From another thread: wakes a blocked wait or read (the next read fails).
  void Shutdown() { m_socket.Shutdown(); }
  std::string PeerName() const { return m_socket.PeerName(); }
  // The peer's process id on a Unix socket (ESocketError on another kind).
  int64_t PeerProcessId() const { return m_socket.PeerProcessId(); }

 private:
  void ReadFully(uint8_t* data, size_t count);
  // StallLimit, or less when the block's deadline comes first.
  std::chrono::microseconds NextStall() const;

  std::optional<std::chrono::steady_clock::time_point> m_completeBy;

  StreamSocket m_socket;
};

}  // namespace varn::remote
