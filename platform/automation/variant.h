// Variant: the automation value, modelled on the OLE VARIANT.
//
// Type numbers are those of the remote-call encoding. A Variant owns its
// value (strings are UTF-16, arrays are SAFEARRAY-like with bounds, objects
// are counted references); a by-reference Variant points at storage the
// caller owns and is how out parameters travel.
//
//   Variant v = 42;                       // VT_I4
//   Variant s = u"Нет связи";             // VT_BSTR
//   int32_t n = Variant(u"17").ToInt32(); // coerced like VariantChangeType
//   Variant out;                          // callee writes through the ref:
//   Variant ref = Variant::Ref(out);
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/hresult.h"

namespace varn {

class IDispatch;

using VARTYPE = uint16_t;
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_TYPEMASK = 0x0FFF,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

// A counted reference to an automation object.
class DispatchPtr {
 public:
  DispatchPtr() = default;
  DispatchPtr(IDispatch* p);  // takes a new reference
  DispatchPtr(const DispatchPtr& o);
  DispatchPtr(DispatchPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
  DispatchPtr& operator=(DispatchPtr o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }
  ~DispatchPtr();
  // Adopts a reference the caller already holds (no AddRef).
  static DispatchPtr Adopt(IDispatch* p) {
    DispatchPtr d;
    d.m_p = p;
    return d;
  }
  IDispatch* get() const { return m_p; }
  IDispatch* operator->() const { return m_p; }
  IDispatch& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  bool operator==(const DispatchPtr& o) const { return m_p == o.m_p; }

 private:
  IDispatch* m_p = nullptr;
};

class Variant;

struct ArrayBound {
  int32_t low = 0;
  int32_t high = -1;  // inclusive; high < low is an empty dimension
  int64_t Length() const { return high >= low ? int64_t{high} - low + 1 : 0; }
  bool operator==(const ArrayBound&) const = default;
};

// Elements are stored with the last dimension varying fastest.
struct SafeArray {
  VARTYPE elementType = VT_VARIANT;  // base type of every element
  std::vector<ArrayBound> bounds;    // dimension 1 first
  std::vector<Variant> items;
  static int64_t CountFor(const std::vector<ArrayBound>& bounds);
  bool operator==(const SafeArray&) const;
};

// Raised by the To* conversions; carries the HRESULT an Invoke reports.
class EVariantError : public std::runtime_error {
 public:
  EVariantError(HRESULT hr, const std::string& what) : std::runtime_error(what), Code(hr) {}
  HRESULT Code;
};

class Variant {
 public:
  Variant() = default;
  Variant(int32_t v) : m_vt(VT_I4), m_int(v) {}
  Variant(bool v) : m_vt(VT_BOOL), m_int(v ? -1 : 0) {}
  Variant(double v) : m_vt(VT_R8), m_real(v) {}
  Variant(std::u16string v) : m_vt(VT_BSTR), m_str(std::move(v)) {}
  Variant(const char16_t* v) : m_vt(VT_BSTR), m_str(v) {}
  Variant(DispatchPtr v) : m_vt(VT_DISPATCH), m_disp(std::move(v)) {}
  Variant(SafeArray a);

  static Variant Null() { return Typed(VT_NULL); }
  static Variant I2(int16_t v) { return Int(VT_I2, v); }
  static Variant UI1(uint8_t v) { return Int(VT_UI1, v); }
  static Variant R4(float v) { return Real(VT_R4, v); }
  static Variant Date(double v) { return Real(VT_DATE, v); }
  static Variant Currency(int64_t scaledBy10000) { return Int(VT_CY, scaledBy10000); }
  static Variant Error(int32_t scode) { return Int(VT_ERROR, scode); }
  // A reference to `target`: VT_BYREF|VT_VARIANT, the callee may store any type.
  static Variant Ref(Variant& target);
  // A typed reference: VT_BYREF|vt; stores through it are coerced to vt.
  static Variant TypedRef(Variant& target, VARTYPE vt);

  VARTYPE Type() const { return m_vt; }
  VARTYPE BaseType() const { return m_vt & VT_TYPEMASK; }
  bool IsByRef() const { return (m_vt & VT_BYREF) != 0; }
  bool IsArray() const { return (m_vt & VT_ARRAY) != 0; }
  bool IsEmpty() const { return m_vt == VT_EMPTY; }

  // The value itself: follows a reference; a Variant that is not one is itself.
  const Variant& Deref() const { return IsByRef() ? *m_ref : *this; }
  Variant& Target() const;  // the referenced storage (by-reference only)
  // Stores through a reference, coercing to a typed reference's type.
  void Store(const Variant& value) const;

  // Raw fields, for the codec. Int: I2, I4, CY, ERROR, BOOL, UI1. Real: R4, R8, DATE.
  int64_t RawInt() const { return Deref().m_int; }
  double RawReal() const { return Deref().m_real; }
  const std::u16string& RawString() const { return Deref().m_str; }
  const DispatchPtr& RawDispatch() const { return Deref().m_disp; }
  const SafeArray& RawArray() const;
  SafeArray& MutableArray();
  // A value of fixed-size type `vt` from its raw fields.
  static Variant FromRaw(VARTYPE vt, int64_t i, double r);

  // Conversions with the rules of VariantChangeType (invariant locale):
  // EVariantError DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
  int32_t ToInt32() const;
  double ToDouble() const;
  bool ToBool() const;
  std::u16string ToString() const;
  DispatchPtr ToDispatch() const;
  // This value as type `vt` (a base type).
  Variant ChangeType(VARTYPE vt) const;

  bool operator==(const Variant& o) const;

 private:
  static Variant Typed(VARTYPE vt) {
    Variant v;
    v.m_vt = vt;
    return v;
  }
  static Variant Int(VARTYPE vt, int64_t i) {
    Variant v = Typed(vt);
    v.m_int = i;
    return v;
  }
  static Variant Real(VARTYPE vt, double r) {
    Variant v = Typed(vt);
    v.m_real = r;
    return v;
  }

  VARTYPE m_vt = VT_EMPTY;
  int64_t m_int = 0;
  double m_real = 0;
  std::u16string m_str;
  DispatchPtr m_disp;
  std::shared_ptr<SafeArray> m_array;  // copied on write
  Variant* m_ref = nullptr;            // by-reference target, not owned
};

std::string VarTypeName(VARTYPE vt);

}  // namespace varn
