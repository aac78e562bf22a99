// The IDispatch-like interface every automation object offers, the
// reference-counted base that implements it from ONE declarative member
// table per class, and the type-information view derived from that table.
//
//   class TCounter : public DispatchObject<TCounter> {
//    public:
//     static const MemberTable<TCounter>& Members() {
//       static const MemberTable<TCounter> table{{
//         Method<TCounter>(1, "Add", {{"Step", VT_I4}}, VT_I4, "Прибавить",
//             [](TCounter& self, Args a) { return Variant(self.m_n += a[0].ToInt32()); }),
//         Get<TCounter>(2, "Value", VT_I4, "Значение",
//             [](TCounter& self, Args) { return Variant(self.m_n); }),
//       }};
//       return table;
//     }
//     int32_t m_n = 0;
//   };
//
// Arguments travel as automation does it: DispParams::args holds the last
// argument first. A member whose last design parameter is an out `Value`
// returns it as the call's result ([out, retval]); a caller that passes one
// extra by-reference argument receives it there as well.
#pragma once

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/automation/hresult.h"
#include "platform/automation/variant.h"

namespace varn {

struct DispParams {
  std::vector<Variant> args;      // reversed: args[0] is the last argument
  std::vector<DISPID> namedArgs;  // dispids of the first namedArgs.size() args
  // Builds the reversed array from arguments in natural order.
  static DispParams FromNatural(std::vector<Variant> natural);
};

struct ExcepInfo {
  int32_t scode = 0;  // the error's code (a result code for our errors)
  std::u16string source;
  std::u16string description;
};

class IDispatch {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  // names[0] is the member, further names its parameters (ids[i] their index).
  // Both report the object's outcome as an HRESULT; the proxy of a remote
  // object also throws when the call cannot reach it (remote/proxy.h).
  virtual HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) = 0;
  virtual HRESULT Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result,
                         ExcepInfo* excep, uint32_t* argErr) = 0;

 protected:
  virtual ~IDispatch() = default;
};

// Convenience for callers: one name, one id.
HRESULT GetIDOfName(IDispatch& obj, const std::u16string& name, DISPID& id);

// --- declarative member tables ---------------------------------------------

enum class MemberKind { Method, PropertyGet, PropertyPut };

struct ParamInfo {
  const char* name;
  VARTYPE type;  // base type the argument is coerced to; VT_VARIANT takes anything
};

using Args = const std::vector<Variant>&;  // inputs in natural order, coerced

template <class T>
struct Member {
  DISPID id;
  const char* name;
  MemberKind kind;
  std::vector<ParamInfo> params;  // inputs; for a put, the value is the last one
  VARTYPE result;                 // VT_EMPTY: none
  const char* help;               // Russian help string, may be empty
  std::function<Variant(T&, Args)> handler;
};

template <class T>
Member<T> Method(DISPID id, const char* name, std::vector<ParamInfo> params, VARTYPE result,
                 const char* help, std::function<Variant(T&, Args)> h) {
  return {id, name, MemberKind::Method, std::move(params), result, help, std::move(h)};
}
template <class T>
Member<T> Get(DISPID id, const char* name, VARTYPE type, const char* help,
              std::function<Variant(T&, Args)> h) {
  return {id, name, MemberKind::PropertyGet, {}, type, help, std::move(h)};
}
template <class T>
Member<T> Put(DISPID id, const char* name, VARTYPE type, const char* help,
              std::function<Variant(T&, Args)> h) {
  return {id, name, MemberKind::PropertyPut, {{"Value", type}}, VT_EMPTY, help, std::move(h)};
}

// The table without its handlers: what type information shows.
struct MemberInfo {
  DISPID id;
  std::string name;
  MemberKind kind;
  std::vector<ParamInfo> params;
  VARTYPE result;
  std::string help;
};

// What type information says of the dispatch interface and of the class
// that implements it (a type library's names and documentation strings).
struct TypeDescription {
  std::string interfaceName;  // "IVarnSrv"
  std::string interfaceDoc;   // "Квелта: Драйвер Варн"
  std::string className;      // "VarnSrv"
  std::string classDoc;
};

// The member-table machinery that does not depend on the class.
namespace dispatch_detail {
HRESULT FindIds(const std::vector<MemberInfo>& members, std::span<const std::u16string> names,
                std::span<DISPID> ids);
// Validates flags and arguments; on success `index` is the member to call
// and `inputs` the coerced inputs in natural order.
HRESULT Prepare(const std::vector<MemberInfo>& members, DISPID id, uint16_t flags,
                DispParams& params, size_t& index, std::vector<Variant>& inputs, uint32_t* argErr);
// Runs a handler: errors become DISP_E_EXCEPTION with their text and code.
HRESULT Call(const MemberInfo& m, const std::function<Variant()>& run, DispParams& params,
             Variant* result, ExcepInfo* excep);
}  // namespace dispatch_detail

template <class T>
class MemberTable {
 public:
  MemberTable(std::vector<Member<T>> members, TypeDescription description = {})
      : m_members(std::move(members)), m_description(std::move(description)) {
    for (const auto& m : m_members)
      m_info.push_back({m.id, m.name, m.kind, m.params, m.result, m.help ? m.help : ""});
  }
  const std::vector<MemberInfo>& Info() const { return m_info; }
  const TypeDescription& Description() const { return m_description; }
  const Member<T>& At(size_t i) const { return m_members[i]; }

 private:
  std::vector<Member<T>> m_members;
  TypeDescription m_description;
  std::vector<MemberInfo> m_info;
};

// Objects that expose type information (the 1C adapter and the log read it).
class ITypeInfoSource {
 public:
  virtual const std::vector<MemberInfo>& TypeInfo() const = 0;
  virtual const TypeDescription& Description() const = 0;

 protected:
  virtual ~ITypeInfoSource() = default;
};

// Reference counting for any automation object; deletes itself at zero.
class RefCountedDispatch : public IDispatch {
 public:
  uint32_t AddRef() override { return ++m_refs; }
  uint32_t Release() override {
    const uint32_t left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCountedDispatch() = default;
  ~RefCountedDispatch() override = default;

 private:
  std::atomic<uint32_t> m_refs{0};
};

// The base of every automation class: IDispatch from T::Members().
template <class T>
class DispatchObject : public RefCountedDispatch, public ITypeInfoSource {
 public:
  HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) override {
    return dispatch_detail::FindIds(T::Members().Info(), names, ids);
  }
  HRESULT Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excep,
                 uint32_t* argErr) override {
    const auto& table = T::Members();
    size_t index = 0;
    std::vector<Variant> inputs;
    HRESULT hr = dispatch_detail::Prepare(table.Info(), id, flags, params, index, inputs, argErr);
    if (Failed(hr)) return hr;
    T& self = static_cast<T&>(*this);
    const auto& handler = table.At(index).handler;
    return dispatch_detail::Call(
        table.Info()[index], [&] { return handler(self, inputs); }, params, result, excep);
  }
  const std::vector<MemberInfo>& TypeInfo() const override { return T::Members().Info(); }
  const TypeDescription& Description() const override { return T::Members().Description(); }
};

// Creates an object and hands out the first counted reference.
template <class T, class... A>
DispatchPtr MakeObject(A&&... a) {
  return DispatchPtr(new T(std::forward<A>(a)...));
}

// Late-bound call helpers for callers (tests, the driver): by name, inputs
// in natural order. Failures raise EDispatchError with the HRESULT.
class EDispatchError : public std::runtime_error {
 public:
  EDispatchError(HRESULT hr, const std::string& what, ExcepInfo info = {})
      : std::runtime_error(what), Code(hr), Excep(std::move(info)) {}
  HRESULT Code;
  ExcepInfo Excep;
};
Variant CallMethod(IDispatch& obj, const std::u16string& name, std::vector<Variant> inputs = {});
Variant GetProperty(IDispatch& obj, const std::u16string& name);
void PutProperty(IDispatch& obj, const std::u16string& name, Variant value);
Variant InvokeById(IDispatch& obj, DISPID id, uint16_t flags, std::vector<Variant> inputs = {});

}  // namespace varn
