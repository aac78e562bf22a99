// The data block: one remote call or answer on the wire.
//
// An 8-byte header (signature, payload size; both signed 32-bit
// little-endian) and a payload of encoded values. The signature's bits 8..15
// say call (0xDA) or answer (0xDB), bits 0..7 the action:
//
//   TDataBlock b;                       // header only, positions at 8
//   b.SetSignature(CallSig | asInvoke);  // 02 DA 00 00 on the wire
//   b.Write(bytes, n);
//   transport.Send(b);                  // Memory() stores the size first
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace varn::remote {

inline constexpr size_t HeaderSize = 8;
inline constexpr int32_t CallSig = 0xDA00;
inline constexpr int32_t ResultSig = 0xDB00;

// Action codes: the low byte of a signature.
inline constexpr int32_t asError = 0x01;
inline constexpr int32_t asInvoke = 0x02;
inline constexpr int32_t asGetID = 0x03;
inline constexpr int32_t asCreateObject = 0x04;
inline constexpr int32_t asFreeObject = 0x05;
inline constexpr int32_t asGetServers = 0x10;
inline constexpr int32_t asGetGUID = 0x11;
inline constexpr int32_t asMask = 0xFF;

// The largest payload either end accepts or sends. The calls of this system
// are a few hundred bytes; the limit keeps a hostile size from allocating.
inline constexpr int32_t MaxBlockSize = 16 * 1024 * 1024;

// Mask tests, not equality: any signature whose bits include 0xDA00 passes.
inline bool IsWellFormed(int32_t sig) {
  return (sig & CallSig) == CallSig || (sig & ResultSig) == ResultSig;
}
inline bool IsAnswer(int32_t sig) {
  return (sig & ResultSig) == ResultSig;
}
inline int32_t ActionOf(int32_t sig) {
  return sig & asMask;
}

class TDataBlock {
 public:
  TDataBlock() : m_data(HeaderSize, 0) {}

  // Header only, positions back at the payload's start; the signature stays.
  void Clear();
  void Write(const void* data, size_t count);
  // Copies up to `count` bytes; fewer at the end of the payload.
  size_t Read(void* data, size_t count);
  size_t Remaining() const { return m_data.size() - m_readPos; }

  int32_t Signature() const;
  void SetSignature(int32_t sig);
  int32_t Action() const { return ActionOf(Signature()); }
  bool IsAnswer() const { return remote::IsAnswer(Signature()); }

  int32_t Size() const { return static_cast<int32_t>(m_data.size() - HeaderSize); }
  // The receiver sizes the payload before it fills it (PayloadData()).
  void SetSize(size_t payloadSize);
  uint8_t* PayloadData() { return m_data.data() + HeaderSize; }

  // The whole block as it goes on the wire, with the size field brought up
  // to date first.
  std::span<const uint8_t> Memory();

 private:
  std::vector<uint8_t> m_data;
  size_t m_readPos = HeaderSize;
  size_t m_writePos = HeaderSize;
};

}  // namespace varn::remote
