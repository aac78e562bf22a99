// The result codes the driver and the port server give, in one table.
//
// The rc:: and msg:: constants (errors.h) are taken from here by name, and
// the RESULT CODES section of varn(1) is written from here at build time
// (docs/man), so a code added to the table is known everywhere at once.
// The device's own codes, 1..255, are the protocol's (DeviceErrorText).
//
//   ResultCodeNamed("kNoLink").Code;  // -4
//   FindResultCode(-17)->Text;         // "Порт не открыт"
#pragma once

#include <cstdint>
#include <string_view>

namespace varn {

struct TResultCode {
  int32_t Code;
  std::string_view Name;  // the rc:: constant
  const char* Text;  // what ResultCodeDescription says; "" when the failure's own message is all
  const char* ServerText;  // the server's ResultDescription when it differs, else nullptr
  const char* Giver;       // "driver", "server" or "driver, server"
  const char* Meaning;     // English, for the manual
  const char* Remedy;      // English: what to do about it
};

// The lowest and highest of the device's own error codes.
inline constexpr int32_t kFirstDeviceError = 1;
inline constexpr int32_t kLastDeviceError = 255;

// The first letter of both port texts (-2, -3) is the Cyrillic capital Es
// (U+0421): programs compare the texts byte for byte.
inline constexpr TResultCode kResultCodes[] = {
    {0, "kOk", "Ошибок нет.", "Ошибок нет", "driver, server",
     "The call succeeded. The driver's text ends with a full stop, the server's "
     "(ResultDescription of VarnSrv) does not.",
     "Nothing."},
    {-2, "kPortUnavailable", "СOM порт не доступен", nullptr, "server",
     "The port server could not open the serial device of this COM number: the path "
     "does not exist, is not a serial device, or the user may not open it.",
     "Run varn ports check N (N the ComNumber): it opens the line as the server does and "
     "prints the reason. Usually the COM N path in the registry is wrong (varn ports set N "
     "/dev/ttyUSB0), the USB adapter is not plugged in (see varn ports), or the user is not "
     "in the group owning the device, usually dialout: sudo adduser $USER dialout, then log "
     "in again. VarnSrv.err in the log folder has the system's text."},
    {-3, "kPortBusy", "СOM порт занят другим приложением", nullptr, "server",
     "Another program holds the serial device open with an exclusive lock.",
     "Run varn ports check N: it names the program (and its process id) that holds the "
     "line. Close that program (a terminal program, a modem manager, another VarnSrv of "
     "another user) and try again."},
    {-4, "kNoLink", "Нет связи", nullptr, "server",
     "The line is open but the device did not answer within the retry limits.",
     "Check that the printer is on and on line, that the cable is plugged in at both ends, "
     "and that the baud rate matches the device's: varn search finds on which port and at "
     "which rate a device answers (varn search --use stores it). A null-modem cable may be "
     "needed. The exchange log (LogOn=1) shows what was sent and what came back."},
    {-7, "kWrongLength", "Неверная длина ответа.", nullptr, "driver",
     "The device's answer is shorter than the command's answer must be.",
     "Usually a firmware that does not know the command, or a line with noise: try the "
     "command again, check the cable, compare the model with ModelDescription."},
    {-8, "kOSError", "", nullptr, "driver, server",
     "Any other failure; the text is the failure's own message (a file that cannot be read, "
     "a registry that cannot be written, a system call refused).",
     "Read the text: it names the file or the call. For LoadBitmap it says why the picture "
     "was refused; for ShowProperties, why no window could be shown."},
    {-9, "kRangeError", "Параметр вне диапазона.", nullptr, "driver",
     "A property set before the call is out of the range the command takes. The text is "
     "either the general one or names the property and its range.",
     "Read the text for the property, fix its value (for example BarCode from 0 to "
     "1099511627775, Timeout from 0 to 105000) and call again. varn list shows every "
     "property with its type."},
    {-16, "kConnectionError", "Ошибка подключения.", nullptr, "driver",
     "The driver could not reach the port server. The text goes on with the failure's "
     "message (and an automation error's code in hexadecimal).",
     "For the local server (ConnectionType=0): is VarnSrv installed and startable? Run "
     "VarnSrv --help, and VarnSrv /RegServer once as the same user so the driver can start "
     "it; check that the socket folder ($VARN_RUNTIME_DIR, by default "
     "$XDG_RUNTIME_DIR/varn) belongs to the user alone; under systemd, systemctl --user "
     "status varnsrv.socket. For TCP (ConnectionType=1): ComputerName and TCPPort must "
     "point at the other computer's VarnSrv, which must have TCPEnabled=1, listen on that "
     "address (TCPAddress) and let this computer in (TCPAllow)."},
    {-17, "kPortNotOpen", "Порт не открыт", nullptr, "server",
     "A command was sent on a port this client has not opened.",
     "Call OpenPort (or the driver's Connect) first; after a dropped connection the driver "
     "opens the port again on the next command."},
    {-18, "kPortLocked", "Порт заблокирован", nullptr, "server",
     "Another client holds the port's lock (LockPort). The text goes on with the holder: "
     "computer, process and program.",
     "Wait for the holder to unlock, or close that program. The server's administrator can "
     "free it by hand (AdminUnlockPort, or \"Разблокировать\" in VarnSrv's window); with "
     "AutoUnlock an idle lock goes after PortTimeout seconds. The lock also goes with its "
     "client: over TCP, TCP keepalive finds a dead client and frees its lock in about a "
     "minute."},
};

// The entry of a name, at compile time: a name not in the table does not compile.
consteval const TResultCode& ResultCodeNamed(std::string_view name) {
  for (const TResultCode& entry : kResultCodes)
    if (entry.Name == name) return entry;
  throw "no result code of that name";
}

// The entry of a code, or nullptr (the device's codes are not here).
constexpr const TResultCode* FindResultCode(int32_t code) {
  for (const TResultCode& entry : kResultCodes)
    if (entry.Code == code) return &entry;
  return nullptr;
}

}  // namespace varn
