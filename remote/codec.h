// The value codec: automation values as the bytes of a data block, and back.
//
// A value is a 4-byte type word and the bytes of its type: strings as a
// count and UTF-16 code units, fixed-size types little-endian, objects as
// the slot number under which one end lent them, arrays as their bounds
// and elements. The codec knows nothing of calls, connections or the slot
// list; it asks an IObjectSlots for the two things objects need.
//
//   TDataBlock block;
//   WriteValue(Variant(u"Нет связи"), block, slots);
//   TValueReader in(block, slots);
//   Variant v = in.Read();                 // EInterpreterError on a bad block
//
// Arrays of the plain types (I2, I4, R4, R8, CY, DATE, BOOL, UI1) travel as
// one run of bytes in the storage order of the peers' platform, the first
// dimension varying fastest; the elements of any other type travel one
// value each with the last dimension varying fastest (the order of
// SafeArray::items).
//
// Decoding never trusts the block: a size that exceeds what the block still
// holds, more than 8 dimensions, a base type above 17, nesting deeper than
// 16 values, more than 2^20 values through one reader, or a read past the
// end raises EInterpreterError "Invalid data packet: ..." before anything is
// allocated from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/automation/dispatch.h"
#include "remote/data_block.h"
#include "remote/errors.h"

namespace varn::remote {

// Where objects go to and come from: the interpreter's slot list and its
// proxies (tests and fuzz targets use a plain list).
class IObjectSlots {
 public:
  // Lends `obj` to the peer; the slot number that goes on the wire.
  virtual int32_t Lend(const DispatchPtr& obj) = 0;
  // The object the peer lent under slot `index` (never called for -1,
  // which is a null object).
  virtual DispatchPtr Lookup(int32_t index) = 0;

 protected:
  ~IObjectSlots() = default;
};

// Appends one encoded value. EInterpreterError "Unsupported variant type:
// %s" for a type without an encoding, or a text saying what is too large.
void WriteValue(const Variant& value, TDataBlock& block, IObjectSlots& slots);

// Reads the values of one block, in order.
class TValueReader {
 public:
  TValueReader(TDataBlock& block, IObjectSlots& slots) : m_block(block), m_slots(slots) {}

  // One value. `byRef`: bit 14 was set; `byRefVariant`: the type word was
  // exactly 0x4000 (the value returned is the one it referred to).
  Variant Read(bool* byRef = nullptr, bool* byRefVariant = nullptr);
  // One value that must convert to a 32-bit integer, or to text.
  int32_t ReadInt();
  std::u16string ReadText();

 private:
  Variant ReadAt(int depth, bool* byRef, bool* byRefVariant);
  Variant ReadArray(uint16_t elementType, int depth);
  std::u16string ReadString();

  TDataBlock& m_block;
  IObjectSlots& m_slots;
  size_t m_valuesLeft = size_t{1} << 20;  // each costs about 100 bytes of memory
};

}  // namespace varn::remote
