#include "remote/data_block.h"

#include <algorithm>
#include <cstring>

namespace varn::remote {
namespace {

int32_t GetInt32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

void PutInt32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

}  // namespace

void TDataBlock::Clear() {
  m_data.resize(HeaderSize);
  m_readPos = m_writePos = HeaderSize;
}

void TDataBlock::Write(const void* data, size_t count) {
  if (count == 0) return;
  if (m_writePos + count > m_data.size()) m_data.resize(m_writePos + count);
  std::memcpy(m_data.data() + m_writePos, data, count);
  m_writePos += count;
}

size_t TDataBlock::Read(void* data, size_t count) {
  const size_t n = std::min(count, Remaining());
  if (n) std::memcpy(data, m_data.data() + m_readPos, n);
  m_readPos += n;
  return n;
}

int32_t TDataBlock::Signature() const {
  return GetInt32(m_data.data());
}

void TDataBlock::SetSignature(int32_t sig) {
  PutInt32(m_data.data(), sig);
}

void TDataBlock::SetSize(size_t payloadSize) {
  m_data.resize(HeaderSize + payloadSize);
  m_readPos = std::min(m_readPos, m_data.size());
  m_writePos = std::min(m_writePos, m_data.size());
}

std::span<const uint8_t> TDataBlock::Memory() {
  PutInt32(m_data.data() + 4, Size());
  return m_data;
}

}  // namespace varn::remote
