"""The Varn receipt-printer driver from Python, over libvarn (ctypes).

    import varn
    with varn.Driver() as d:              # ProgID "VarnDrv.VarnDrv"
        d.GetECRStatus()
        d.StringForPrinting = "Кассовый чек № 1"
        if d.PrintString() != 0:
            print(d.ResultCode, d.ResultCodeDescription)
        d.СтрокаДляПечати = "ИТОГ"        # the Russian names work too
        d.ПечатьСтроки()

Members come from the driver's own member table: properties read and set
as attributes in their types (int, bool, float, str, datetime.date; bytes
for byte strings, one character per byte), methods called as attributes and
returning the driver's result code. Driver(strict=True) raises DriverError
for a non-zero result instead.

libvarn.so is found through VARN_LIBRARY when set, else beside this
package, else (installed) the libvarn.so.1 of the same install, else in the
build folder of the tree the package is in, else on the system's library
path; DriverNotFound says where it looked.
"""

import collections
import ctypes
import ctypes.util
import datetime
import glob
import os
import threading

__all__ = [
    "Driver", "Member", "VarnError", "DriverNotFound", "DriverError", "UnknownName",
    "WrongKind", "ConversionError", "CallError", "ClosedError",
]

DEFAULT_PROGID = "VarnDrv.VarnDrv"

try:  # written by the install: where its libvarn.so.1 is, relative to here
    from . import _install
except ImportError:
    _install = None


class VarnError(Exception):
    """Every error of this package."""


class DriverNotFound(VarnError):
    """libvarn.so, or the driver object itself, cannot be had."""


class DriverError(VarnError):
    """A method returned a non-zero result code (strict mode)."""

    def __init__(self, method, code, description):
        super().__init__(f"{method}: {code} {description}")
        self.method = method
        self.code = code
        self.description = description


class UnknownName(VarnError, AttributeError):
    """No member has that name."""


class WrongKind(VarnError, AttributeError):
    """A method used as a property, a read-only property set, and the like."""


class ConversionError(VarnError, ValueError):
    """The value does not convert to the member's type."""


class CallError(VarnError):
    """The automation layer failed the call."""


class ClosedError(VarnError, ValueError):
    """The object was closed."""


# The header's constants.
_E_UNKNOWN_NAME, _E_WRONG_KIND, _E_CONVERT, _E_CALL, _E_ARGUMENT = -1, -2, -3, -4, -5
_METHOD, _GET, _PUT = 0, 1, 2
_TYPE_NAMES = {0: "none", 1: "int", 2: "bool", 3: "float", 4: "str", 5: "date", 6: "other"}
_ERRORS = {
    _E_UNKNOWN_NAME: UnknownName,
    _E_WRONG_KIND: WrongKind,
    _E_CONVERT: ConversionError,
    _E_CALL: CallError,
    _E_ARGUMENT: ValueError,
}
# GetFreeLDNumber returns a number, not a result code.
_NOT_A_RESULT = {"GetFreeLDNumber"}

Member = collections.namedtuple("Member", "name help kind type params")
Member.__doc__ = "One entry of the member table: kind 'method', 'get' or 'put'; type a name."


class _CMember(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("help", ctypes.c_char_p), ("kind", ctypes.c_int),
                ("type", ctypes.c_int), ("params", ctypes.c_int), ("dispid", ctypes.c_int)]


_lib = None
_lib_lock = threading.Lock()


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    for folder in (here, os.path.dirname(here)):
        yield os.path.join(folder, "libvarn.so")
        yield os.path.join(folder, "libvarn.so.1")
    if _install is not None:
        yield os.path.normpath(os.path.join(here, _install.LIBDIR_FROM_PACKAGE, "libvarn.so.1"))
    tree = os.path.dirname(os.path.dirname(here))  # python/varn -> the tree
    if os.path.isfile(os.path.join(tree, "CMakePresets.json")):
        yield os.path.join(tree, "build", "default", "bin", "libvarn.so")
        yield from sorted(glob.glob(os.path.join(tree, "build", "*", "bin", "libvarn.so")))


def _declare(lib):
    P, S, I, LL, D = ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_longlong, ctypes.c_double
    sig = {
        "varn_open": (P, [S]),
        "varn_open_error": (S, []),
        "varn_close": (None, [P]),
        "varn_set_int": (I, [P, S, LL]),
        "varn_set_text": (I, [P, S, S]),
        "varn_set_bool": (I, [P, S, I]),
        "varn_set_double": (I, [P, S, D]),
        "varn_set_bytes": (I, [P, S, ctypes.c_char_p, ctypes.c_size_t]),
        "varn_get_int": (I, [P, S, ctypes.POINTER(LL)]),
        "varn_get_bool": (I, [P, S, ctypes.POINTER(I)]),
        "varn_get_double": (I, [P, S, ctypes.POINTER(D)]),
        "varn_get_date": (I, [P, S, ctypes.POINTER(I), ctypes.POINTER(I), ctypes.POINTER(I)]),
        "varn_get_text": (I, [P, S, ctypes.c_char_p, ctypes.c_size_t]),
        "varn_get_bytes": (I, [P, S, ctypes.c_char_p, ctypes.c_size_t]),
        "varn_call": (I, [P, S, ctypes.POINTER(I)]),
        "varn_call_arg": (I, [P, S, S, ctypes.POINTER(I)]),
        "varn_error": (S, [P]),
        "varn_member_count": (I, [P]),
        "varn_member_at": (I, [P, I, ctypes.POINTER(_CMember)]),
    }
    for name, (restype, argtypes) in sig.items():
        f = getattr(lib, name)
        f.restype, f.argtypes = restype, argtypes
    return lib


def _library():
    """libvarn, loaded once; DriverNotFound when it is nowhere."""
    global _lib
    with _lib_lock:
        if _lib is not None:
            return _lib
        tried = []
        explicit = os.environ.get("VARN_LIBRARY")
        if explicit:
            paths = [explicit]
        else:
            paths = [p for p in _candidates() if os.path.isfile(p)]
            paths.append(ctypes.util.find_library("varn") or "libvarn.so.1")
        for path in paths:
            try:
                _lib = _declare(ctypes.CDLL(path))
                return _lib
            except (OSError, AttributeError) as e:
                tried.append(f"{path}: {e}")
        where = "VARN_LIBRARY" if explicit else "beside the package, in its install, in the tree's build, on the library path"
        raise DriverNotFound(f"libvarn.so not found ({where}): " + "; ".join(tried))


def _encode(text):
    return text.encode("utf-8", "surrogatepass")


def _decode(raw):
    return raw.decode("utf-8", "replace") if raw else ""


class _Method:
    """A driver method bound to its object: call it for the result code."""

    def __init__(self, driver, name, doc):
        self._driver, self._name, self.__doc__ = driver, name, doc

    def __call__(self, arg=None):
        return self._driver._call(self._name, arg)

    def __repr__(self):
        return f"<varn method {self._name}>"


class Driver:
    """One driver object, created by ProgID through the object model."""

    def __init__(self, progid=DEFAULT_PROGID, strict=False):
        lib = _library()
        handle = lib.varn_open(_encode(progid))
        if not handle:
            raise DriverNotFound(f"{progid}: {_decode(lib.varn_open_error())}")
        methods, gets, puts, members = {}, {}, {}, []
        entry = _CMember()
        for i in range(lib.varn_member_count(handle)):
            if lib.varn_member_at(handle, i, ctypes.byref(entry)) != 0:
                continue
            m = Member(_decode(entry.name), _decode(entry.help),
                       ("method", "get", "put")[entry.kind], _TYPE_NAMES.get(entry.type, "other"),
                       entry.params)
            members.append(m)
            table = (methods, gets, puts)[entry.kind]
            for key in (m.name, m.help):
                if key:
                    table.setdefault(key.casefold(), m)
        d = self.__dict__
        d["_lib"], d["_handle"], d["_strict"], d["_lock"] = lib, handle, strict, threading.Lock()
        d["_members"], d["_methods"], d["_gets"], d["_puts"] = members, methods, gets, puts

    # --- life ---------------------------------------------------------------
    def close(self):
        """Releases the driver object; using it afterwards raises ClosedError."""
        with self._lock:
            handle, self.__dict__["_handle"] = self._handle, None
            if handle:
                self._lib.varn_close(handle)

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if self.__dict__.get("_handle"):
            self.close()

    def members(self):
        """The member table: Member(name, help, kind, type, params) per entry."""
        return list(self._members)

    def __dir__(self):
        names = {m.name for m in self._members} | {m.help for m in self._members if m.help}
        return sorted(names | set(super().__dir__()))

    def __repr__(self):
        return f"<varn.Driver {'closed' if self.closed else 'open'}{' strict' if self._strict else ''}>"

    # --- members ------------------------------------------------------------
    def _check(self, rc, name):
        if rc < 0:
            raise _ERRORS.get(rc, CallError)(_decode(self._lib.varn_error(self._handle)))
        return rc

    def _open_handle(self):
        if self._handle is None:
            raise ClosedError("the driver object is closed")
        return self._handle

    def _unknown(self, name):
        # The C side's text names the nearest member ("did you mean ...?").
        with self._lock:
            h = self._open_handle()
            rc = self._lib.varn_get_int(h, _encode(name), ctypes.byref(ctypes.c_longlong()))
            text = _decode(self._lib.varn_error(h))
        if rc == _E_UNKNOWN_NAME:
            raise UnknownName(text)
        raise WrongKind(f"{name}: {text}" if text else name)

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        key = name.casefold()
        m = self._gets.get(key)
        if m is not None:
            return self._get(m)
        m = self._methods.get(key)
        if m is not None:
            self._open_handle()
            return _Method(self, m.name, m.help)
        if key in self._puts:
            raise WrongKind(f"{self._puts[key].name} can only be set")
        self._unknown(name)

    def __setattr__(self, name, value):
        m = self._puts.get(name.casefold())
        if m is None:
            if name.casefold() in self._gets:
                raise WrongKind(f"{self._gets[name.casefold()].name} is read-only")
            if name.casefold() in self._methods:
                raise WrongKind(f"{self._methods[name.casefold()].name} is a method: call it")
            self._unknown(name)
        lib, n = self._lib, _encode(m.name)
        with self._lock:
            h = self._open_handle()
            if isinstance(value, bool):
                rc = lib.varn_set_bool(h, n, int(value))
            elif isinstance(value, int):
                if not -2**63 <= value < 2**63:
                    raise ConversionError(f"{m.name}: {value} is out of range")
                rc = lib.varn_set_int(h, n, value)
            elif isinstance(value, float):
                rc = lib.varn_set_double(h, n, value)
            elif isinstance(value, str):
                rc = lib.varn_set_text(h, n, _encode(value))
            elif isinstance(value, (bytes, bytearray, memoryview)):
                raw = bytes(value)
                rc = lib.varn_set_bytes(h, n, raw, len(raw))
            else:
                raise ConversionError(f"{m.name}: a {type(value).__name__} cannot be set")
            self._check(rc, m.name)

    def _get(self, m):
        lib, n = self._lib, _encode(m.name)
        with self._lock:
            h = self._open_handle()
            if m.type == "int":
                out = ctypes.c_longlong()
                self._check(lib.varn_get_int(h, n, ctypes.byref(out)), m.name)
                return out.value
            if m.type == "bool":
                out = ctypes.c_int()
                self._check(lib.varn_get_bool(h, n, ctypes.byref(out)), m.name)
                return bool(out.value)
            if m.type == "float":
                out = ctypes.c_double()
                self._check(lib.varn_get_double(h, n, ctypes.byref(out)), m.name)
                return out.value
            if m.type == "date":
                y, mo, d = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
                self._check(lib.varn_get_date(h, n, ctypes.byref(y), ctypes.byref(mo),
                                              ctypes.byref(d)), m.name)
                return datetime.date(y.value, mo.value, d.value)
            return self._text(h, n, lib.varn_get_text, m.name, 1).decode("utf-8", "replace")

    def _text(self, h, n, read, name, nul):
        size = 256
        while True:
            buf = ctypes.create_string_buffer(size)
            length = self._check(read(h, n, buf, size), name)
            if length + nul <= size:
                return buf.raw[:length]
            size = length + nul

    def get_bytes(self, name):
        """A text property's characters as bytes, one byte each."""
        m = self._gets.get(name.casefold())
        if m is None:
            self._unknown(name)
        with self._lock:
            h = self._open_handle()
            return self._text(h, _encode(m.name), self._lib.varn_get_bytes, m.name, 0)

    def _call(self, name, arg):
        rc = ctypes.c_int()
        with self._lock:
            h = self._open_handle()
            if arg is None:
                self._check(self._lib.varn_call(h, _encode(name), ctypes.byref(rc)), name)
            else:
                self._check(self._lib.varn_call_arg(h, _encode(name), os.fsencode(arg),
                                                    ctypes.byref(rc)), name)
        code = rc.value
        if self._strict and code != 0 and name not in _NOT_A_RESULT:
            raise DriverError(name, code, self.ResultCodeDescription)
        return code
