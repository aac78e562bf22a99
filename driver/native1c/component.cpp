#include "driver/native1c/component.h"

#include <cstdio>

#include "driver/core/varn_drv.h"
#include "platform/automation/classes.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn::native1c {
namespace {

// The version of the add-in interface we are written for.
constexpr long kInterfaceVersion = 2000;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
  return text;
}

// Why Invoke refused a call, in the user's words.
std::string RefusalText(const TMemberEntry& entry, uint16_t flags, HRESULT hr,
                        const ExcepInfo& excep) {
  const std::string name = Utf16ToUtf8(entry.Name);
  const bool method = flags == DISPATCH_METHOD;
  const std::string member = (method ? "Метод " : "Свойство ") + name;
  std::string why;
  switch (hr) {
    case DISP_E_EXCEPTION:
      why = excep.description.empty() ? member + ": ошибка при вызове"
                                      : Utf16ToUtf8(excep.description);
      break;
    case DISP_E_MEMBERNOTFOUND:
      why = method ? member + " не вызывается через компоненту"
            : flags == DISPATCH_PROPERTYPUT ? member + " только для чтения"
                                            : member + " не читается";
      break;
    case DISP_E_TYPEMISMATCH:
      why = member + ": значение неподходящего типа";
      break;
    case DISP_E_OVERFLOW:
      why = member + ": значение вне допустимого диапазона";
      break;
    case DISP_E_BADPARAMCOUNT:
      why = member + " ждёт аргументы, а компонента их не передаёт";
      break;
    default:
      why = member + ": вызов отклонён";
  }
  return why + " (" + Hex(hr) + ")";
}

}  // namespace

TVarnDrv1C::TVarnDrv1C() : m_driver(MakeObject<TVarnDrv>()) {
  m_entries.Build(dynamic_cast<ITypeInfoSource&>(*m_driver).TypeInfo());
}

TVarnDrv1C::~TVarnDrv1C() = default;

template <class R, class F>
R TVarnDrv1C::Guarded(R failed, F&& work) noexcept {
  try {
    return work();
  } catch (const EDispatchError& e) {
    Report(e.what(), e.Code);
  } catch (const std::exception& e) {
    Report(e.what(), E_FAIL);
  } catch (...) {
    Report("Неизвестная ошибка", E_FAIL);
  }
  return failed;
}

void TVarnDrv1C::Report(const std::string& text, long code) noexcept {
  try {
    if (m_host) m_host->AddError(ADDIN_E_FAIL, kClassName, Utf8ToUtf16(text).c_str(), code);
  } catch (...) {
    // Nothing is left to tell it with.
  }
}

const TMemberEntry& TVarnDrv1C::PropAt(long num) const {
  const TMemberEntry* entry = m_entries.Prop(num);
  if (!entry)
    throw EDispatchError(DISP_E_MEMBERNOTFOUND, "Нет свойства с номером " + std::to_string(num));
  return *entry;
}

const TMemberEntry& TVarnDrv1C::MethodAt(long num) const {
  const TMemberEntry* entry = m_entries.Method(num);
  if (!entry)
    throw EDispatchError(DISP_E_MEMBERNOTFOUND, "Нет метода с номером " + std::to_string(num));
  return *entry;
}

Variant TVarnDrv1C::Invoke(const TMemberEntry& entry, uint16_t flags, DispParams& params) {
  Variant result;
  ExcepInfo excep;
  const HRESULT hr =
      m_driver->Invoke(entry.MemberId, flags, params,
                       flags == DISPATCH_PROPERTYPUT ? nullptr : &result, &excep, nullptr);
  if (Failed(hr)) throw EDispatchError(hr, RefusalText(entry, flags, hr, excep));
  return result;
}

// --- IInitDoneBase ---------------------------------------------------------------

bool TVarnDrv1C::Init(void* connection) {
  m_host = static_cast<IAddInDefBase*>(connection);
  return true;
}

bool TVarnDrv1C::setMemManager(void* memory) {
  m_memory.Set(static_cast<IMemoryManager*>(memory));
  return memory != nullptr;
}

long TVarnDrv1C::GetInfo() {
  return kInterfaceVersion;
}

void TVarnDrv1C::Done() {
  // The driver object starts no thread, and the windows' workers (table
  // reads, the device search) end before ShowProperties returns, so no
  // thread of ours is left; the connection goes with DestroyObject.
  m_host = nullptr;
}

// --- ILanguageExtenderBase ----------------------------------------------------------

bool TVarnDrv1C::RegisterExtensionAs(WCHAR_T** name) {
  return Guarded(false, [&] {
    if (!name) return false;
    *name = m_memory.String(kClassName);
    return true;
  });
}

long TVarnDrv1C::GetNProps() {
  return static_cast<long>(m_entries.Props.size());
}

long TVarnDrv1C::FindProp(const WCHAR_T* name) {
  return Guarded(-1L, [&] { return static_cast<long>(m_entries.FindProp(HostText(name))); });
}

const WCHAR_T* TVarnDrv1C::NameOf(const TMemberEntry* entry, long alias) {
  return Guarded<const WCHAR_T*>(nullptr, [&]() -> const WCHAR_T* {
    if (!entry) return nullptr;
    // A member without a Russian name goes by its English one in both
    // languages: the platform gets no empty name to list.
    const bool russian = alias != 0 && !entry->UpperRusName.empty();
    return m_memory.String(russian ? entry->UpperRusName : entry->UpperName);
  });
}

const WCHAR_T* TVarnDrv1C::GetPropName(long num, long alias) {
  return NameOf(m_entries.Prop(num), alias);
}

bool TVarnDrv1C::GetPropVal(const long num, tVariant* value) {
  return Guarded(false, [&] {
    if (!value) return false;
    DispParams none;
    const Variant v = Invoke(PropAt(num), DISPATCH_PROPERTYGET, none);
    ToHost(v, *value, m_memory);
    return true;
  });
}

bool TVarnDrv1C::SetPropVal(const long num, tVariant* value) {
  return Guarded(false, [&] {
    const TMemberEntry& entry = PropAt(num);
    if (!value)
      throw EDispatchError(E_POINTER,
                           "Свойству " + Utf16ToUtf8(entry.Name) + " не передано значение");
    DispParams put;
    put.args = {FromHost(*value, entry.Type)};
    put.namedArgs = {DISPID_PROPERTYPUT};
    Invoke(entry, DISPATCH_PROPERTYPUT, put);
    return true;
  });
}

bool TVarnDrv1C::IsPropReadable(const long num) {
  const TMemberEntry* entry = m_entries.Prop(num);
  return entry && entry->Readable;
}

bool TVarnDrv1C::IsPropWritable(const long num) {
  const TMemberEntry* entry = m_entries.Prop(num);
  return entry && entry->Writable;
}

long TVarnDrv1C::GetNMethods() {
  return static_cast<long>(m_entries.Methods.size());
}

long TVarnDrv1C::FindMethod(const WCHAR_T* name) {
  return Guarded(-1L, [&] { return static_cast<long>(m_entries.FindMethod(HostText(name))); });
}

const WCHAR_T* TVarnDrv1C::GetMethodName(const long num, const long alias) {
  return NameOf(m_entries.Method(num), alias);
}

long TVarnDrv1C::GetNParams(const long) {
  return 0;  // inputs are properties
}

bool TVarnDrv1C::GetParamDefValue(const long, const long, tVariant*) {
  return false;  // no method takes parameters, so none has a default
}

bool TVarnDrv1C::HasRetVal(const long) {
  return true;
}

bool TVarnDrv1C::Call(long num, tVariant* result) {
  return Guarded(false, [&] {
    DispParams none;  // the host's arguments are ignored: there are none
    const Variant rc = Invoke(MethodAt(num), DISPATCH_METHOD, none);
    if (result) ToHost(rc, *result, m_memory);
    return true;
  });
}

bool TVarnDrv1C::CallAsProc(const long num, tVariant*, const long) {
  return Call(num, nullptr);
}

bool TVarnDrv1C::CallAsFunc(const long num, tVariant* result, tVariant*, const long) {
  return Call(num, result);
}

// --- LocaleBase, UserLanguageBase ---------------------------------------------------------

void TVarnDrv1C::SetLocale(const WCHAR_T* locale) {
  Guarded(false, [&] {
    m_locale = HostText(locale);
    return true;
  });
}

void TVarnDrv1C::SetUserInterfaceLanguageCode(const WCHAR_T* language) {
  Guarded(false, [&] {
    m_language = HostText(language);
    return true;
  });
}

}  // namespace varn::native1c
