#include "platform/automation/variant.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/automation/dispatch.h"
#include "platform/text.h"

namespace varn {
namespace {

[[noreturn]] void Mismatch(VARTYPE from, const char* to) {
  throw EVariantError(DISP_E_TYPEMISMATCH,
                      "Type mismatch: " + VarTypeName(from) + " to " + std::string(to));
}
[[noreturn]] void Overflow(const char* to) {
  throw EVariantError(DISP_E_OVERFLOW, std::string("Overflow converting to ") + to);
}

// Automation rounds half to even when a real becomes an integer.
double RoundEven(double v) {
  return std::nearbyint(v);
}

bool ParseNumber(const std::u16string& s, double& out) {
  std::string a;
  for (char16_t c : s) {
    if (c > 0x7F) return false;
    a += static_cast<char>(c);
  }
  size_t b = a.find_first_not_of(" \t"), e = a.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  a = a.substr(b, e - b + 1);
  for (auto& c : a)
    if (c == ',') c = '.';  // either decimal separator
  char* end = nullptr;
  out = std::strtod(a.c_str(), &end);
  return end && *end == '\0' && std::isfinite(out);
}

}  // namespace

DispatchPtr::DispatchPtr(IDispatch* p) : m_p(p) {
  if (m_p) m_p->AddRef();
}
DispatchPtr::DispatchPtr(const DispatchPtr& o) : m_p(o.m_p) {
  if (m_p) m_p->AddRef();
}
DispatchPtr::~DispatchPtr() {
  if (m_p) m_p->Release();
}

int64_t SafeArray::CountFor(const std::vector<ArrayBound>& bounds) {
  if (bounds.empty()) return 0;
  int64_t n = 1;
  for (const auto& b : bounds) {
    n *= b.Length();
    if (n == 0) return 0;
  }
  return n;
}

bool SafeArray::operator==(const SafeArray& o) const {
  return elementType == o.elementType && bounds == o.bounds && items == o.items;
}

Variant::Variant(SafeArray a)
    : m_vt(static_cast<VARTYPE>(VT_ARRAY | (a.elementType & VT_TYPEMASK))),
      m_array(std::make_shared<SafeArray>(std::move(a))) {}

Variant Variant::Ref(Variant& target) {
  Variant v;
  v.m_vt = VT_BYREF | VT_VARIANT;
  v.m_ref = &target;
  return v;
}

Variant Variant::TypedRef(Variant& target, VARTYPE vt) {
  Variant v;
  v.m_vt = static_cast<VARTYPE>(VT_BYREF | vt);
  v.m_ref = &target;
  return v;
}

Variant& Variant::Target() const {
  if (!IsByRef() || !m_ref) throw EVariantError(E_POINTER, "not a reference");
  return *m_ref;
}

void Variant::Store(const Variant& value) const {
  Variant& t = Target();
  const VARTYPE want = m_vt & ~VT_BYREF;
  if (want == VT_VARIANT || (want & VT_ARRAY))
    t = value.Deref();
  else
    t = value.Deref().ChangeType(want);
}

const SafeArray& Variant::RawArray() const {
  const Variant& v = Deref();
  if (!v.m_array) throw EVariantError(DISP_E_TYPEMISMATCH, "not an array");
  return *v.m_array;
}

SafeArray& Variant::MutableArray() {
  if (!m_array) throw EVariantError(DISP_E_TYPEMISMATCH, "not an array");
  if (m_array.use_count() > 1) m_array = std::make_shared<SafeArray>(*m_array);
  return *m_array;
}

Variant Variant::FromRaw(VARTYPE vt, int64_t i, double r) {
  switch (vt) {
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return Real(vt, r);
    default:
      return Int(vt, i);
  }
}

int32_t Variant::ToInt32() const {
  const Variant& v = Deref();
  double d = 0;
  switch (v.m_vt) {
    case VT_EMPTY:
      return 0;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_ERROR:
    case VT_BOOL:
      return static_cast<int32_t>(v.m_int);
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      d = RoundEven(v.m_real);
      break;
    case VT_CY:
      d = RoundEven(static_cast<double>(v.m_int) / 10000.0);
      break;
    case VT_BSTR:
      if (!ParseNumber(v.m_str, d)) Mismatch(v.m_vt, "I4");
      d = RoundEven(d);
      break;
    default:
      Mismatch(v.m_vt, "I4");
  }
  // Written so that NaN (which compares false) overflows too: casting it is undefined.
  if (!(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()))
    Overflow("I4");
  return static_cast<int32_t>(d);
}

double Variant::ToDouble() const {
  const Variant& v = Deref();
  switch (v.m_vt) {
    case VT_EMPTY:
      return 0;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_BOOL:
      return static_cast<double>(v.m_int);
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return v.m_real;
    case VT_CY:
      return static_cast<double>(v.m_int) / 10000.0;
    case VT_BSTR: {
      double d;
      if (!ParseNumber(v.m_str, d)) Mismatch(v.m_vt, "R8");
      return d;
    }
    default:
      Mismatch(v.m_vt, "R8");
  }
}

bool Variant::ToBool() const {
  const Variant& v = Deref();
  switch (v.m_vt) {
    case VT_EMPTY:
      return false;
    case VT_BSTR:
      if (EqualNoCase(v.m_str, u"true")) return true;
      if (EqualNoCase(v.m_str, u"false")) return false;
      return ToDouble() != 0;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_BOOL:
    case VT_CY:
      return v.m_int != 0;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return v.m_real != 0;
    default:
      Mismatch(v.m_vt, "BOOL");
  }
}

std::u16string Variant::ToString() const {
  const Variant& v = Deref();
  switch (v.m_vt) {
    case VT_EMPTY:
      return {};
    case VT_BSTR:
      return v.m_str;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      return Utf8ToUtf16(std::to_string(v.m_int));
    case VT_BOOL:
      return v.m_int ? u"True" : u"False";
    case VT_R4:
    case VT_R8:
    case VT_DATE:
    case VT_CY: {
      char buf[64];
      const double d = v.m_vt == VT_CY ? static_cast<double>(v.m_int) / 10000.0 : v.m_real;
      std::snprintf(buf, sizeof buf, v.m_vt == VT_R4 ? "%.7g" : "%.15g", d);
      return Utf8ToUtf16(buf);
    }
    default:
      Mismatch(v.m_vt, "BSTR");
  }
}

DispatchPtr Variant::ToDispatch() const {
  const Variant& v = Deref();
  if (v.m_vt == VT_DISPATCH) return v.m_disp;
  if (v.m_vt == VT_EMPTY) return {};
  Mismatch(v.m_vt, "DISPATCH");
}

Variant Variant::ChangeType(VARTYPE vt) const {
  const Variant& v = Deref();
  if (v.m_vt == vt || vt == VT_VARIANT) return v;
  switch (vt) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Null();
    case VT_I4:
      return Variant(ToInt32());
    case VT_I2: {
      const int32_t i = ToInt32();
      if (i < -32768 || i > 32767) Overflow("I2");
      return I2(static_cast<int16_t>(i));
    }
    case VT_UI1: {
      const int32_t i = ToInt32();
      if (i < 0 || i > 255) Overflow("UI1");
      return UI1(static_cast<uint8_t>(i));
    }
    case VT_ERROR:
      return Error(ToInt32());
    case VT_BOOL:
      return Variant(ToBool());
    case VT_R8:
      return Variant(ToDouble());
    case VT_R4: {
      const double d = ToDouble();
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) Overflow("R4");
      return R4(static_cast<float>(d));
    }
    case VT_DATE:
      return Date(ToDouble());
    case VT_CY: {
      const double d = ToDouble() * 10000.0;
      if (!(std::fabs(d) <= 9.2e18)) Overflow("CY");
      return Currency(static_cast<int64_t>(RoundEven(d)));
    }
    case VT_BSTR:
      return Variant(ToString());
    case VT_DISPATCH:
      return Variant(ToDispatch());
    default:
      Mismatch(v.m_vt, VarTypeName(vt).c_str());
  }
}

bool Variant::operator==(const Variant& o) const {
  if (m_vt != o.m_vt) return false;
  if (IsByRef()) return m_ref == o.m_ref;
  if (IsArray()) return m_array == o.m_array || (m_array && o.m_array && *m_array == *o.m_array);
  switch (BaseType()) {
    case VT_BSTR:
      return m_str == o.m_str;
    case VT_DISPATCH:
      return m_disp == o.m_disp;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return m_real == o.m_real;
    default:
      return m_int == o.m_int;
  }
}

std::string VarTypeName(VARTYPE vt) {
  static const char* const kNames[] = {"EMPTY", "NULL", "I2",      "I4",     "R4",
                                       "R8",    "CY",   "DATE",    "BSTR",   "DISPATCH",
                                       "ERROR", "BOOL", "VARIANT", "UNKNOWN"};
  const VARTYPE base = vt & VT_TYPEMASK;
  std::string name = base < 14        ? kNames[base]
                     : base == VT_UI1 ? "UI1"
                                      : "VT_" + std::to_string(base);
  if (vt & VT_ARRAY) name = "ARRAY of " + name;
  if (vt & VT_BYREF) name = "BYREF " + name;
  return name;
}

}  // namespace varn
