// Decodes the input as the values of one payload. Whatever the bytes, the
// decoder either yields values or raises EInterpreterError, and every value
// it yields encodes again and decodes again.
#include <cstdint>
#include <cstdlib>

#include "remote/interpreter.h"

namespace {

using namespace varn;
using namespace varn::remote;

class NoSend : public ISendDataBlock {
 public:
  std::optional<TDataBlock> Send(TDataBlock&, bool) override { std::abort(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NoSend sender;
  TkxDataBlockInterpreter interp(sender);
  TDataBlock in;
  in.Write(data, size);
  while (in.Remaining() > 0) {
    Variant v;
    try {
      v = interp.ReadVariant(in);
    } catch (const EInterpreterError&) {
      return 0;
    }
    // Whatever decodes encodes again, and decodes to a value of the same
    // encoded size (objects get new slot numbers, so bytes may differ).
    TDataBlock once, twice;
    interp.WriteVariant(v, once);
    const Variant back = interp.ReadVariant(once);
    if (once.Remaining() != 0) std::abort();
    interp.WriteVariant(back, twice);
    if (twice.Size() != once.Size()) std::abort();
  }
  return 0;
}
