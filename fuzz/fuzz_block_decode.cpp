// Decodes the input as the values of one payload. Whatever the bytes, the
// decoder either yields values or raises EInterpreterError, and every value
// it yields encodes again and decodes again. Only the codec runs: objects
// go to and come from a plain list.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "remote/codec.h"

namespace {

using namespace varn;
using namespace varn::remote;

// What a slot number read stands for: one object that answers nothing.
class TNothing : public RefCountedDispatch {
 public:
  HRESULT GetIDsOfNames(std::span<const std::u16string>, std::span<DISPID>) override {
    return E_NOTIMPL;
  }
  HRESULT Invoke(DISPID, uint16_t, DispParams&, Variant*, ExcepInfo*, uint32_t*) override {
    return E_NOTIMPL;
  }
};

class ListSlots : public IObjectSlots {
 public:
  int32_t Lend(const DispatchPtr& obj) override {
    lent.push_back(obj);
    return static_cast<int32_t>(lent.size() - 1);
  }
  DispatchPtr Lookup(int32_t) override { return nothing; }
  std::vector<DispatchPtr> lent;
  DispatchPtr nothing{new TNothing};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ListSlots slots;
  TDataBlock in;
  in.Write(data, size);
  TValueReader reader(in, slots);
  while (in.Remaining() > 0) {
    Variant v;
    try {
      v = reader.Read();
    } catch (const EInterpreterError&) {
      return 0;
    }
    // Whatever decodes encodes again, and decodes to a value of the same
    // encoded size (objects get new slot numbers, so bytes may differ).
    TDataBlock once, twice;
    WriteValue(v, once, slots);
    const Variant back = TValueReader(once, slots).Read();
    if (once.Remaining() != 0) std::abort();
    WriteValue(back, twice, slots);
    if (twice.Size() != once.Size()) std::abort();
  }
  return 0;
}
