#include "tools/varn/ports_command.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "driver/client/driver_client.h"
#include "platform/automation/member_lookup.h"
#include "platform/com_ports.h"
#include "platform/device_files.h"
#include "platform/diagnostics.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "tools/varn/output.h"
#include "tools/varn/steps.h"

namespace varn::tool {
namespace {

constexpr int kPortCount = 32;  // what the driver and the server number
constexpr const char* kServerProgram = "VarnSrv";

const char* Bool(bool b) {
  return b ? "true" : "false";
}

int PortNumber(const std::string& word, const std::string& verb) {
  int n = 0;
  const bool digits = !word.empty() && word.size() <= 2 &&
                      std::ranges::all_of(word, [](char c) { return c >= '0' && c <= '9'; });
  if (digits) n = std::stoi(word);
  if (n < 1 || n > kPortCount)
    throw EUsageError("ports " + verb + ": the port number is 1 to 32 (\"" + word + "\" given)");
  return n;
}

std::string ComName(int n) {
  return "COM" + std::to_string(n);
}

// The driver's ComNumber, read as `varn get ComNumber` reads it; nullopt
// (and why on `err`) when the driver cannot be made or asked.
std::optional<int> DriverPort(const std::function<DispatchPtr()>& create, std::ostream& err) {
  try {
    DispatchPtr obj = create();
    if (!obj) throw std::runtime_error("no driver object");
    return DriverClient(obj).Int(drv_dispid::kComNumber);
  } catch (const std::exception& e) {
    err << "varn: the driver's port: " << e.what() << std::endl;
    return std::nullopt;
  }
}

struct PortRow {
  int number = 0;
  std::string path;
  bool fromRegistry = false;
  DeviceFileFacts facts;
  bool driver = false;
};

std::string AccessText(const DeviceFileFacts& f) {
  if (!f.exists) return "";
  if (f.readWrite) return "read+write";
  if (f.groupReadWrite && !f.inGroup)
    return f.listedInGroup ? "denied (in " + f.group + " since the login: log in again)"
                           : "denied (join " + f.group + ")";
  return "denied";
}

void PrintTable(const std::vector<PortRow>& rows, std::optional<int> driverPort, bool all,
                std::ostream& out) {
  std::vector<std::string> paths;
  size_t width = 4;
  for (const PortRow& r : rows) {
    paths.push_back(r.path + (r.facts.target.empty() ? "" : " -> " + r.facts.target));
    width = std::max(width, paths.back().size());
  }
  const auto pad = [](const std::string& text, size_t w) {
    return text + std::string(text.size() < w ? w - text.size() : 0, ' ');
  };
  out << "  " << pad("PORT", 6) << pad("PATH", width + 2) << pad("SET BY", 10) << pad("DEVICE", 16)
      << pad("MODE", 12) << pad("OWNER", 10) << pad("GROUP", 10) << "ACCESS\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    const PortRow& r = rows[i];
    const DeviceFileFacts& f = r.facts;
    std::string line = std::string(r.driver ? "* " : "  ") + pad(ComName(r.number), 6) +
                       pad(paths[i], width + 2) + pad(r.fromRegistry ? "registry" : "default", 10);
    if (!f.exists) {
      line += "missing";
    } else {
      line += pad(f.terminal ? "terminal" : "not a terminal", 16) + pad(f.mode, 12) +
              pad(f.owner, 10) + pad(f.group, 10) + AccessText(f);
    }
    out << line << '\n';
  }
  if (rows.empty()) out << "  (no port set in the registry and no default path exists)\n";
  if (driverPort)
    out << "* the driver's port (ComNumber " << *driverPort << ")"
        << (std::ranges::any_of(rows, [](const PortRow& r) { return r.driver; })
                ? ""
                : ": " + ComName(*driverPort) + " is not listed")
        << '\n';
  if (!all) out << "(varn ports --all lists all 32)\n";
}

void PrintJson(const std::vector<PortRow>& rows, std::ostream& out) {
  out << '[';
  for (size_t i = 0; i < rows.size(); ++i) {
    const PortRow& r = rows[i];
    const DeviceFileFacts& f = r.facts;
    out << (i ? ",\n" : "\n") << "{\"port\":" << r.number << ",\"name\":\"" << ComName(r.number)
        << "\",\"path\":" << JsonString(r.path) << ",\"source\":\""
        << (r.fromRegistry ? "registry" : "default") << "\",\"exists\":" << Bool(f.exists)
        << ",\"target\":" << (f.target.empty() ? "null" : JsonString(f.target));
    if (f.exists)
      out << ",\"terminal\":" << Bool(f.terminal) << ",\"mode\":" << JsonString(f.mode)
          << ",\"owner\":" << JsonString(f.owner) << ",\"group\":" << JsonString(f.group)
          << ",\"readWrite\":" << Bool(f.readWrite);
    out << ",\"driver\":" << Bool(r.driver) << '}';
  }
  out << (rows.empty() ? "]\n" : "\n]\n");
}

int List(bool all, const std::function<DispatchPtr()>& create, bool json, std::ostream& out,
         std::ostream& err) {
  const std::optional<int> driverPort = DriverPort(create, err);
  std::vector<PortRow> rows;
  try {
    const Registry reg = Registry::Default();
    for (int n = 1; n <= kPortCount; ++n) {
      PortRow r;
      r.number = n;
      r.fromRegistry = reg.ReadString(kPortsKey, ComName(n)).has_value();
      r.path = ComPortPath(n, reg);
      r.facts = InspectDeviceFile(r.path);
      r.driver = driverPort == n;
      if (all || r.fromRegistry || r.facts.exists || r.driver) rows.push_back(std::move(r));
    }
  } catch (const std::exception& e) {
    err << "varn: " << e.what() << std::endl;
    return kExitFailed;
  }
  if (json)
    PrintJson(rows, out);
  else
    PrintTable(rows, driverPort, all, out);
  return kExitOk;
}

// With --json, the port as it is now: {"port":3,"name":"COM3","path":...,"source":...}.
void PortObject(int n, const std::string& path, bool fromRegistry, std::ostream& out) {
  out << "{\"port\":" << n << ",\"name\":\"" << ComName(n) << "\",\"path\":" << JsonString(path)
      << ",\"source\":\"" << (fromRegistry ? "registry" : "default") << "\"}\n";
}

int Set(int n, const std::string& path, bool json, std::ostream& out, std::ostream& err) {
  if (!path.starts_with('/'))
    throw EUsageError("ports set: the path must be absolute (\"" + path + "\" given)");
  try {
    Registry::Default().WriteString(kPortsKey, ComName(n), path);
  } catch (const std::exception& e) {
    err << "varn: ports set: " << e.what() << std::endl;
    return kExitFailed;
  }
  // An adapter that is unplugged now may be there at the next open.
  if (!InspectDeviceFile(path).exists)
    err << "varn: warning: " << path << " does not exist now; " << ComName(n)
        << " is set all the same" << std::endl;
  if (json) PortObject(n, path, true, out);
  return kExitOk;
}

int Unset(int n, bool json, std::ostream& out, std::ostream& err) {
  try {
    Registry reg = Registry::Default();
    if (reg.ReadString(kPortsKey, ComName(n)))
      reg.DeleteValue(kPortsKey, ComName(n));
    else
      err << "varn: " << ComName(n) << " was not set; it stays " << ComPortPath(n, reg)
          << std::endl;
    if (json) PortObject(n, ComPortPath(n, reg), false, out);
  } catch (const std::exception& e) {
    err << "varn: ports unset: " << e.what() << std::endl;
    return kExitFailed;
  }
  return kExitOk;
}

std::string HolderText(const FileHolder& h) {
  return "pid " + std::to_string(h.pid) + " (" + h.commandLine + ")";
}

std::string HoldersText(const std::vector<FileHolder>& holders) {
  std::string text;
  for (const FileHolder& h : holders) text += (text.empty() ? "" : ", ") + HolderText(h);
  return text;
}

bool IsPortServer(const FileHolder& h) {
  if (h.program == kServerProgram) return true;
  const std::string first = h.commandLine.substr(0, h.commandLine.find(' '));
  return first == kServerProgram || first.ends_with(std::string("/") + kServerProgram);
}

struct CheckResult {
  std::string
      problem;  // "" when ok; missing, permission, busy, not-a-terminal, held-by-server, failed
  std::string message;  // the line after "COMn (path): "
  std::vector<FileHolder> holders;
};

std::string FixForPermission(const DeviceFileFacts& f) {
  const std::string what = "permission denied (" + f.mode + " " + f.owner + " " + f.group + ")";
  if (f.groupReadWrite && !f.inGroup && f.listedInGroup)
    return what + ": the user was added to the " + f.group +
           " group after logging in; log out and in again";
  if (f.groupReadWrite && !f.inGroup)
    return what + ": join the " + f.group + " group: sudo usermod -aG " + f.group +
           " $USER, then log in again";
  return what +
         ": the device lets no group of this user read and write it; give it "
         "GROUP=\"dialout\", MODE=\"0660\" with a udev rule "
         "(share/doc/varn/examples/60-varn-printer.rules)";
}

CheckResult Check(int n, const std::string& path, std::vector<std::string>& notes) {
  CheckResult c;
  const DeviceFileFacts facts = InspectDeviceFile(path);
  if (!facts.exists) {
    c.problem = "missing";
    c.message = "missing: " + path +
                " does not exist; is the adapter plugged in? ls /dev/serial/by-id/ shows the "
                "adapters there, varn ports set " +
                std::to_string(n) + " PATH names one";
    return c;
  }
  // The port server holds its lines in exclusive mode while it serves; an
  // open beside it (root passes that mode) must not touch its line.
  c.holders = FileHolders(path);
  std::erase_if(c.holders, [](const FileHolder& h) { return h.pid == CurrentProcessId(); });
  const auto server = std::ranges::find_if(c.holders, IsPortServer);
  if (server != c.holders.end()) {
    c.problem = "held-by-server";
    c.message = "held by the port server (" + HolderText(*server) +
                "), which is normal while it serves; not opened";
    return c;
  }
  try {
    SetDiagnosticSink([&](const std::string& text) { notes.push_back(text); });
    OpenSerialLine(path).reset();
    SetDiagnosticSink(nullptr);
  } catch (const EPortOpenError& e) {
    SetDiagnosticSink(nullptr);
    if (e.Code == rc::kPortBusy) {
      c.problem = "busy";
      c.message = c.holders.empty()
                      ? "busy: " + e.Reason + "; the process is not this user's (sudo fuser -v " +
                            path + " names it)"
                      : "busy: held by " + HoldersText(c.holders);
    } else if (!facts.terminal && e.Reason.ends_with("is not a terminal")) {
      c.problem = "not-a-terminal";
      c.message = "not a terminal: " + path + " (" + facts.mode +
                  ") is no serial line; varn ports set " + std::to_string(n) +
                  " PATH names the device";
    } else if (!facts.readWrite) {
      c.problem = "permission";
      c.message = FixForPermission(facts);
    } else {
      c.problem = "failed";
      c.message = e.Reason;
    }
    return c;
  } catch (const std::exception& e) {
    SetDiagnosticSink(nullptr);
    c.problem = "failed";
    c.message = e.what();
    return c;
  }
  // Others that have it open without exclusive use are not named: a
  // pseudo-terminal's device end (the emulator) holds its own line too.
  c.message = "ok";
  c.holders.clear();
  return c;
}

int RunCheck(std::optional<int> number, const std::function<DispatchPtr()>& create, bool json,
             std::ostream& out, std::ostream& err) {
  if (!number) {
    number = DriverPort(create, err);
    if (!number) return kExitFailed;
    if (*number < 1 || *number > kPortCount) {
      err << "varn: the driver's ComNumber is " << *number << ", no port" << std::endl;
      return kExitFailed;
    }
  }
  std::string path;
  try {
    path = ComPortPath(*number, Registry::Default());
  } catch (const std::exception& e) {
    err << "varn: " << e.what() << std::endl;
    return kExitFailed;
  }
  std::vector<std::string> notes;
  const CheckResult c = Check(*number, path, notes);
  const bool ok = c.problem.empty() || c.problem == "held-by-server";
  if (json) {
    out << "{\"port\":" << *number << ",\"name\":\"" << ComName(*number)
        << "\",\"path\":" << JsonString(path) << ",\"ok\":" << Bool(ok)
        << ",\"problem\":" << (c.problem.empty() ? "null" : JsonString(c.problem))
        << ",\"message\":" << JsonString(c.message) << ",\"holders\":[";
    for (size_t i = 0; i < c.holders.size(); ++i)
      out << (i ? "," : "") << "{\"pid\":" << c.holders[i].pid
          << ",\"program\":" << JsonString(c.holders[i].program)
          << ",\"commandLine\":" << JsonString(c.holders[i].commandLine) << '}';
    out << "],\"notes\":[";
    for (size_t i = 0; i < notes.size(); ++i) out << (i ? "," : "") << JsonString(notes[i]);
    out << "]}\n";
  } else {
    out << ComName(*number) << " (" << path << "): " << c.message << '\n';
    for (const std::string& note : notes) out << "  note: " << note << '\n';
  }
  return ok ? kExitOk : kExitFailed;
}

}  // namespace

int RunPorts(std::span<const std::string> words, const std::function<DispatchPtr()>& create,
             bool json, std::ostream& out, std::ostream& err) {
  static const std::vector<std::string> kWords{"--all", "set", "unset", "check"};
  if (words.empty()) return List(false, create, json, out, err);
  const std::string& verb = words[0];
  const auto args = words.subspan(1);
  if (verb == "--all") {
    if (!args.empty()) throw EUsageError("ports --all takes nothing beside it");
    return List(true, create, json, out, err);
  }
  if (verb == "set") {
    if (args.size() != 2) throw EUsageError("ports set: N PATH expected");
    return Set(PortNumber(args[0], verb), args[1], json, out, err);
  }
  if (verb == "unset") {
    if (args.size() != 1) throw EUsageError("ports unset: N expected");
    return Unset(PortNumber(args[0], verb), json, out, err);
  }
  if (verb == "check") {
    if (args.size() > 1) throw EUsageError("ports check: at most one port number");
    std::optional<int> n;
    if (!args.empty()) n = PortNumber(args[0], verb);
    return RunCheck(n, create, json, out, err);
  }
  throw EUsageError("unknown word \"" + verb + "\" after ports" + NameSuggestion(verb, kWords) +
                    " (ports [--all], ports set N PATH, ports unset N, ports check [N])");
}

}  // namespace varn::tool
