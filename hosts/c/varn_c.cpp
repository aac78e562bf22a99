// libvarn: the C interface over one late-bound driver object. Every entry
// point catches everything; errors become VARN_E_* with the text kept on the
// object. Names are found with FindMember, values converted with
// ValueFromText and printed with LogValueText, as varn does.
#include "varn/varn.h"

#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/base/log_file.h"
#include "platform/automation/classes.h"
#include "platform/automation/dispatch.h"
#include "platform/automation/inproc_server.h"
#include "platform/automation/member_lookup.h"
#include "platform/automation/value_text.h"
#include "platform/dynamic_library.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/install_layout.h"
#include "platform/text.h"

using namespace varn;

struct varn_driver {
  DispatchPtr obj;
  std::vector<MemberInfo> members;  // empty for an object without type information
  std::vector<varn_member> table;   // points into `members`
  std::string error;
};

namespace {

thread_local std::string t_openError;

// A failure of one C call: its VARN_E_* and text.
struct Failure {
  int code;
  std::string text;
};

std::string Hex32(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(hr));
  return buf;
}

int TypeCode(VARTYPE vt) {
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
      return VARN_TYPE_NONE;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      return VARN_TYPE_INT;
    case VT_BOOL:
      return VARN_TYPE_BOOL;
    case VT_R4:
    case VT_R8:
    case VT_CY:
      return VARN_TYPE_DOUBLE;
    case VT_BSTR:
      return VARN_TYPE_TEXT;
    case VT_DATE:
      return VARN_TYPE_DATE;
    default:
      return VARN_TYPE_OTHER;
  }
}

// The object from lib<first part>.so in `dir`, or nothing when there is no
// such file.
// CreateObject's rules (its class table, the registry, beside the program
// and the installed folder relative to it). The program of a C host is
// rarely one of ours (python3 is not), so then beside this library (the
// build's bin/) and the installed private folder relative to it.
DispatchPtr Create(const std::string& progId) {
  std::vector<std::string> folders;
  const std::string self = ModulePathOf(reinterpret_cast<const void*>(&varn_open));
  if (!self.empty()) {
    const std::string dir = ParentDirectory(self);
    folders = {dir, dir + "/" + install::kPrivateLibFromLib};
  }
  return CreateObject(Utf8ToUtf16(progId), folders);
}

const MemberInfo& Find(varn_driver& d, const char* name, MemberKind kind) {
  if (!name) throw Failure{VARN_E_ARGUMENT, "no name given (NULL)"};
  try {
    return FindMember(d.members, name, kind);
  } catch (const EMemberLookup& e) {
    throw Failure{e.reason() == EMemberLookup::kUnknown ? VARN_E_UNKNOWN_NAME : VARN_E_WRONG_KIND,
                  e.what()};
  }
}

// One automation call; a failure of the call layer is VARN_E_CALL.
Variant Invoke(varn_driver& d, DISPID id, uint16_t flags, std::vector<Variant> inputs) {
  DispParams params = DispParams::FromNatural(std::move(inputs));
  if (flags & DISPATCH_PROPERTYPUT) params.namedArgs = {DISPID_PROPERTYPUT};
  ExcepInfo info;
  Variant result;
  HRESULT hr;
  try {
    hr = d.obj->Invoke(id, flags, params, &result, &info, nullptr);
  } catch (const std::exception& e) {
    throw Failure{VARN_E_CALL, e.what()};
  }
  if (Failed(hr))
    throw Failure{VARN_E_CALL, hr == DISP_E_EXCEPTION && !info.description.empty()
                                   ? Utf16ToUtf8(info.description)
                                   : "automation call failed with " + Hex32(hr)};
  return result;
}

// Runs `body` on `d`: 0, or the failure's code with its text kept.
template <class F>
int Guard(varn_driver* d, F body) {
  if (!d) return VARN_E_ARGUMENT;
  try {
    return body(*d);
  } catch (const Failure& f) {
    d->error = f.text;
    return f.code;
  } catch (const std::exception& e) {
    d->error = e.what();
    return VARN_E_CALL;
  } catch (...) {
    d->error = "unknown failure";
    return VARN_E_CALL;
  }
}

int Set(varn_driver* d, const char* name, const std::string* text, const Variant* exact) {
  return Guard(d, [&](varn_driver& self) {
    const MemberInfo& m = Find(self, name, MemberKind::PropertyPut);
    const VARTYPE type = m.params.empty() ? VARTYPE{VT_VARIANT} : m.params.back().type;
    Variant value;
    if (exact) {
      value = *exact;
    } else if (type == VT_BSTR || type == VT_VARIANT) {
      value = Variant(Utf8ToUtf16(*text));  // text as it is: no hex: form here
    } else {
      try {
        value = ValueFromText(*text, type);
      } catch (const EValueText& e) {
        throw Failure{VARN_E_CONVERT, m.name + ": " + e.what()};
      }
    }
    Invoke(self, m.id, DISPATCH_PROPERTYPUT, {value});
    return 0;
  });
}

Variant Get(varn_driver& d, const char* name) {
  const MemberInfo& m = Find(d, name, MemberKind::PropertyGet);
  return Invoke(d, m.id, DISPATCH_PROPERTYGET, {});
}

[[noreturn]] void NoConversion(const char* name, const Variant& v, const char* what) {
  throw Failure{VARN_E_CONVERT, std::string(name) + ": the value (" + VarTypeName(v.Type()) + " " +
                                    LogValueText(v) + ") is not " + what};
}

// `text` into buf/size by snprintf's rule; the full length.
int Copy(const std::string& text, void* buf, size_t size, bool terminate) {
  if (!buf && size > 0) throw Failure{VARN_E_ARGUMENT, "no buffer given (NULL) for its size"};
  if (text.size() > static_cast<size_t>(INT_MAX)) throw Failure{VARN_E_CONVERT, "value too long"};
  if (size > 0) {
    const size_t n = std::min(text.size(), terminate ? size - 1 : size);
    std::memcpy(buf, text.data(), n);
    if (terminate) static_cast<char*>(buf)[n] = '\0';
  }
  return static_cast<int>(text.size());
}

int Call(varn_driver* d, const char* method, const char* arg, bool withArg, int* result) {
  return Guard(d, [&](varn_driver& self) {
    const MemberInfo& m = Find(self, method, MemberKind::Method);
    std::vector<Variant> inputs;
    if (withArg) {
      if (!arg) throw Failure{VARN_E_ARGUMENT, m.name + ": no argument given (NULL)"};
      if (m.params.size() != 1)
        throw Failure{VARN_E_ARGUMENT, m.name + " takes " + std::to_string(m.params.size()) +
                                           " arguments: use varn_call"};
      const VARTYPE type = m.params[0].type;
      try {
        inputs.push_back(type == VT_BSTR || type == VT_VARIANT ? Variant(Utf8ToUtf16(arg))
                                                               : ValueFromText(arg, type));
      } catch (const EValueText& e) {
        throw Failure{VARN_E_CONVERT, m.name + ": " + e.what()};
      }
    } else if (!self.members.empty() && !m.params.empty()) {
      throw Failure{VARN_E_ARGUMENT, m.name + " takes " + std::to_string(m.params.size()) +
                                         " argument: use varn_call_arg"};
    }
    const Variant value = Invoke(self, m.id, DISPATCH_METHOD, std::move(inputs));
    int code = 0;
    if (!value.Deref().IsEmpty()) {
      try {
        code = value.ToInt32();
      } catch (const EVariantError&) {
        NoConversion(m.name.c_str(), value, "a result code");
      }
    }
    if (result) *result = code;
    return 0;
  });
}

}  // namespace

extern "C" {

varn_driver* varn_open(const char* progid) {
  try {
    t_openError.clear();
    auto d = std::make_unique<varn_driver>();
    d->obj = Create(progid ? progid : "VarnDrv.VarnDrv");
    if (!d->obj) throw EDriverError(E_FAIL, "no object");
    if (const auto* info = dynamic_cast<const ITypeInfoSource*>(d->obj.get()))
      d->members = info->TypeInfo();
    for (const MemberInfo& m : d->members) {
      const int kind = m.kind == MemberKind::Method        ? VARN_METHOD
                       : m.kind == MemberKind::PropertyGet ? VARN_PROPERTY_GET
                                                           : VARN_PROPERTY_PUT;
      const VARTYPE type =
          m.kind == MemberKind::PropertyPut && !m.params.empty() ? m.params.back().type : m.result;
      d->table.push_back({m.name.c_str(), m.help.c_str(), kind, TypeCode(type),
                          m.kind == MemberKind::Method ? static_cast<int>(m.params.size()) : 0,
                          static_cast<int>(m.id)});
    }
    return d.release();
  } catch (const std::exception& e) {
    t_openError = e.what();
  } catch (...) {
    t_openError = "unknown failure";
  }
  return nullptr;
}

const char* varn_open_error(void) {
  return t_openError.c_str();
}

void varn_close(varn_driver* d) {
  try {
    delete d;
  } catch (...) {
    // a destructor of the object's own that throws: nothing left to tell it to
  }
}

int varn_set_int(varn_driver* d, const char* name, long long value) {
  const std::string text = std::to_string(value);
  return Set(d, name, &text, nullptr);
}

int varn_set_text(varn_driver* d, const char* name, const char* utf8) {
  if (d && !utf8) {
    d->error = "no text given (NULL)";
    return VARN_E_ARGUMENT;
  }
  const std::string text = utf8 ? utf8 : "";
  return Set(d, name, &text, nullptr);
}

int varn_set_bool(varn_driver* d, const char* name, int value) {
  const std::string text = value ? "1" : "0";
  return Set(d, name, &text, nullptr);
}

int varn_set_double(varn_driver* d, const char* name, double value) {
  if (d && !std::isfinite(value)) {
    d->error = std::string(name ? name : "") + ": not a finite number";
    return VARN_E_CONVERT;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  const std::string text = buf;  // a whole number has no point: integers take it too
  return Set(d, name, &text, nullptr);
}

int varn_set_bytes(varn_driver* d, const char* name, const void* bytes, size_t size) {
  if (d && !bytes && size > 0) {
    d->error = "no bytes given (NULL)";
    return VARN_E_ARGUMENT;
  }
  return Guard(d, [&](varn_driver& self) {
    const MemberInfo& m = Find(self, name, MemberKind::PropertyPut);
    const VARTYPE type = m.params.empty() ? VARTYPE{VT_VARIANT} : m.params.back().type;
    if (type != VT_BSTR && type != VT_VARIANT)
      throw Failure{VARN_E_CONVERT, m.name + ": bytes are for text properties"};
    const Variant value(
        Cp1251ToUtf16(std::string_view(static_cast<const char*>(bytes ? bytes : ""), size)));
    return Set(&self, name, nullptr, &value);
  });
}

int varn_get_int(varn_driver* d, const char* name, long long* out) {
  return Guard(d, [&](varn_driver& self) {
    if (!out) throw Failure{VARN_E_ARGUMENT, "no place for the value (NULL)"};
    const Variant value = Get(self, name);
    const Variant& v = value.Deref();
    switch (v.Type()) {
      case VT_I2:
      case VT_I4:
      case VT_UI1:
      case VT_ERROR:
        *out = v.RawInt();
        return 0;
      case VT_BOOL:
        *out = v.RawInt() ? 1 : 0;
        return 0;
      case VT_R4:
      case VT_R8: {
        const double r = v.RawReal();
        if (std::isfinite(r) && r == std::trunc(r) && std::fabs(r) < 9.2e18) {
          *out = static_cast<long long>(r);
          return 0;
        }
        break;
      }
      default:
        break;
    }
    NoConversion(name, v, "an integer");
  });
}

int varn_get_bool(varn_driver* d, const char* name, int* out) {
  return Guard(d, [&](varn_driver& self) {
    if (!out) throw Failure{VARN_E_ARGUMENT, "no place for the value (NULL)"};
    const Variant value = Get(self, name);
    const Variant& v = value.Deref();
    switch (v.Type()) {
      case VT_BOOL:
      case VT_I2:
      case VT_I4:
      case VT_UI1:
        *out = v.RawInt() != 0;
        return 0;
      default:
        NoConversion(name, v, "a boolean");
    }
  });
}

int varn_get_double(varn_driver* d, const char* name, double* out) {
  return Guard(d, [&](varn_driver& self) {
    if (!out) throw Failure{VARN_E_ARGUMENT, "no place for the value (NULL)"};
    const Variant value = Get(self, name);
    const Variant& v = value.Deref();
    switch (v.Type()) {
      case VT_I2:
      case VT_I4:
      case VT_UI1:
      case VT_R4:
      case VT_R8:
      case VT_DATE:
      case VT_CY:
        *out = v.ToDouble();
        return 0;
      default:
        NoConversion(name, v, "a number");
    }
  });
}

int varn_get_date(varn_driver* d, const char* name, int* year, int* month, int* day) {
  return Guard(d, [&](varn_driver& self) {
    if (!year || !month || !day) throw Failure{VARN_E_ARGUMENT, "no place for the date (NULL)"};
    const Variant value = Get(self, name);
    const Variant& v = value.Deref();
    if (v.Type() != VT_DATE) NoConversion(name, v, "a date");
    const double date = v.RawReal();
    // The automation date's range: days from 30.12.1899, years 100..9999.
    if (!(date >= -657434.0 && date < 2958466.0)) NoConversion(name, v, "a date");
    using namespace std::chrono;
    const year_month_day ymd{sys_days{1899y / December / 30} +
                             std::chrono::days{static_cast<int64_t>(date)}};
    *year = static_cast<int>(ymd.year());
    *month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    *day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    return 0;
  });
}

int varn_get_text(varn_driver* d, const char* name, char* buf, size_t size) {
  return Guard(d, [&](varn_driver& self) {
    if (!buf && size > 0) throw Failure{VARN_E_ARGUMENT, "no buffer given (NULL) for its size"};
    return Copy(LogValueText(Get(self, name)), buf, size, true);
  });
}

int varn_get_bytes(varn_driver* d, const char* name, void* buf, size_t size) {
  return Guard(d, [&](varn_driver& self) {
    if (!buf && size > 0) throw Failure{VARN_E_ARGUMENT, "no buffer given (NULL) for its size"};
    const Variant value = Get(self, name);
    const Variant& v = value.Deref();
    if (v.Type() != VT_BSTR) NoConversion(name, v, "text");
    const std::u16string& text = v.RawString();
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t ch : text) {
      const uint8_t b = CharToCp1251(ch);
      if (Cp1251ToChar(b) != ch) NoConversion(name, v, "a byte string (a character has no byte)");
      bytes.push_back(static_cast<char>(b));
    }
    return Copy(bytes, buf, size, false);
  });
}

int varn_call(varn_driver* d, const char* method, int* result) {
  return Call(d, method, nullptr, false, result);
}

int varn_call_arg(varn_driver* d, const char* method, const char* arg, int* result) {
  return Call(d, method, arg, true, result);
}

const char* varn_error(varn_driver* d) {
  return d ? d->error.c_str() : "no driver object (NULL)";
}

int varn_member_count(varn_driver* d) {
  return Guard(d, [](varn_driver& self) { return static_cast<int>(self.table.size()); });
}

int varn_member_at(varn_driver* d, int index, varn_member* out) {
  return Guard(d, [&](varn_driver& self) {
    if (!out || index < 0 || static_cast<size_t>(index) >= self.table.size())
      throw Failure{VARN_E_ARGUMENT, "no member " + std::to_string(index)};
    *out = self.table[static_cast<size_t>(index)];
    return 0;
  });
}

}  // extern "C"
