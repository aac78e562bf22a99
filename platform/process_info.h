// What a program needs to know about processes beyond starting them: its
// own file, and which process listens at a local socket (so that a second
// start of the port server can find the running one and ask it to close).
//
//   RegisterClass(reg, clsid, progId, ExecutablePath());
//   if (auto pid = UnixSocketListenerProcessId(socketPath))
//     TerminateProcess(*pid);
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varn {

// The absolute path of the running program's file; EOSError when the system
// cannot tell.
std::string ExecutablePath();

// The computer's network name as the system reports it; empty when the
// system cannot tell (callers show it, they never depend on it).
std::string HostName();

// The program's short name (what `ps` shows): how a client introduces
// itself to the port server, beside CurrentProcessId (process.h).
std::string ProgramName();
// The short name of process `pid`; nullopt when there is no such process
// (or the system does not tell).
std::optional<std::string> ProcessName(int64_t pid);

// A write to a pipe or socket whose reader went away fails with an error
// instead of ending the process (a server whose standard error was a pipe
// must not die for one message).
void IgnoreBrokenPipes();

// Connects to the Unix socket at `path` and returns the id of the process
// that listens there (as the kernel recorded it when it began listening).
// nullopt when nothing listens (no socket file, or a stale one); ESocketError
// for any other failure. The connection is closed again at once.
std::optional<int64_t> UnixSocketListenerProcessId(const std::string& path);

}  // namespace varn
