#include "driver/native1c/values.h"

#include <cstring>
#include <limits>
#include <string>

#include "platform/automation/dispatch.h"
#include "platform/text.h"

namespace varn::native1c {
namespace {

Variant Whole(int64_t v, VARTYPE type) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
    return Variant(static_cast<int32_t>(v));
  if (type == VT_BSTR) return Variant(Utf8ToUtf16(std::to_string(v)));
  return Variant(static_cast<double>(v));
}

Variant Whole(uint64_t v, VARTYPE type) {
  if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    return Whole(static_cast<int64_t>(v), type);
  if (type == VT_BSTR) return Variant(Utf8ToUtf16(std::to_string(v)));
  return Variant(static_cast<double>(v));
}

}  // namespace

WCHAR_T* THostMemory::String(std::u16string_view text) {
  // The host counts lengths in 32 bits.
  if (text.size() >= std::numeric_limits<uint32_t>::max() / sizeof(WCHAR_T))
    throw EDispatchError(E_OUTOFMEMORY, "Текст слишком длинный для 1С");
  void* block = nullptr;
  const unsigned long bytes = (text.size() + 1) * sizeof(WCHAR_T);
  if (!m_manager || !m_manager->AllocMemory(&block, bytes) || !block)
    throw EDispatchError(E_OUTOFMEMORY, m_manager ? "1С не выделила память для значения"
                                                  : "1С не передала компоненте менеджер памяти");
  auto* out = static_cast<WCHAR_T*>(block);
  if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(WCHAR_T));
  out[text.size()] = 0;
  return out;
}

std::u16string_view HostText(const WCHAR_T* text) {
  return text ? std::u16string_view(text) : std::u16string_view();
}

void ToHost(const Variant& value, tVariant& out, THostMemory& memory) {
  std::memset(&out, 0, sizeof out);
  const Variant& v = value.Deref();
  switch (v.Type()) {
    case VT_EMPTY:
      out.vt = VTYPE_EMPTY;
      return;
    case VT_NULL:
      out.vt = VTYPE_NULL;
      return;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      out.lVal = v.ToInt32();
      out.vt = VTYPE_I4;
      return;
    case VT_ERROR:
      out.errCode = static_cast<int32_t>(v.RawInt());
      out.vt = VTYPE_ERROR;
      return;
    case VT_BOOL:
      out.bVal = v.ToBool();
      out.vt = VTYPE_BOOL;
      return;
    case VT_R4:
    case VT_R8:
    case VT_CY:
      out.dblVal = v.ToDouble();
      out.vt = VTYPE_R8;
      return;
    case VT_DATE:
      out.date = v.RawReal();
      out.vt = VTYPE_DATE;
      return;
    case VT_BSTR: {
      const std::u16string& text = v.RawString();
      out.pwstrVal = memory.String(text);
      out.wstrLen = static_cast<uint32_t>(text.size());
      out.vt = VTYPE_PWSTR;
      return;
    }
    default:
      throw EDispatchError(DISP_E_BADVARTYPE,
                           "Значение типа " + std::to_string(v.Type()) + " не передаётся в 1С");
  }
}

Variant FromHost(const tVariant& in, VARTYPE type) {
  switch (in.vt) {
    case VTYPE_EMPTY:
      return Variant();
    case VTYPE_NULL:
      return Variant::Null();
    case VTYPE_I1:
      return Variant(int32_t{in.i8Val});
    case VTYPE_I2:
      return Variant(int32_t{in.shortVal});
    case VTYPE_I4:
      return Variant(in.lVal);
    case VTYPE_INT:
      return Variant(static_cast<int32_t>(in.intVal));
    case VTYPE_ERROR:
      return Variant(in.errCode);
    case VTYPE_UI1:
      return Variant(int32_t{in.ui8Val});
    case VTYPE_UI2:
      return Variant(int32_t{in.ushortVal});
    case VTYPE_UI4:
      return Whole(int64_t{in.ulVal}, type);
    case VTYPE_UINT:
      return Whole(int64_t{in.uintVal}, type);
    case VTYPE_I8:
      return Whole(in.llVal, type);
    case VTYPE_HRESULT:
      return Whole(static_cast<int64_t>(in.hRes), type);
    case VTYPE_UI8:
      return Whole(in.ullVal, type);
    case VTYPE_R4:
      return Variant(static_cast<double>(in.fltVal));
    case VTYPE_R8:
      return Variant(in.dblVal);
    case VTYPE_DATE:
      return Variant::Date(in.date);
    case VTYPE_BOOL:
      return Variant(in.ui8Val != 0);  // any byte the host sets counts
    case VTYPE_PWSTR:
      return Variant(in.pwstrVal ? std::u16string(in.pwstrVal, in.wstrLen) : std::u16string());
    case VTYPE_PSTR:
      return Variant(in.pstrVal ? Utf8ToUtf16(std::string_view(in.pstrVal, in.strLen))
                                : std::u16string());
    default:
      throw EDispatchError(DISP_E_TYPEMISMATCH,
                           "Значение типа " + std::to_string(in.vt) + " компонента не принимает");
  }
}

}  // namespace varn::native1c
