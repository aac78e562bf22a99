// Processes: starting a server program detached from its starter, and
// looking at other processes by id. Used by the local activation of the port
// server (a driver starts the registered server when nothing listens).
//
//   int64_t pid = StartDetachedProcess("/usr/bin/VarnSrv", {"-Embedding"});
//   while (ProcessIsRunning(pid)) ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// Starts `program` (a path, or a bare name searched on PATH) with `args` in a
// session of its own, with standard input and output on /dev/null and no
// descriptor of this process, so that it outlives its starter and holds
// nothing of it. It is not a child to wait for. Returns its process id;
// EOSError when the program cannot be run (missing, not executable).
int64_t StartDetachedProcess(const std::string& program, const std::vector<std::string>& args);

// False once the process has ended (a zombie counts as ended).
bool ProcessIsRunning(int64_t pid);
// Asks the process to end (SIGTERM); a process that is gone is not an error.
void TerminateProcess(int64_t pid);
int64_t CurrentProcessId();
// The user this process acts as (0: root, whom file modes do not stop).
int64_t CurrentUserId();

// The file of the executable or shared library that this code is linked into.
std::string CurrentModulePath();
// The first executable `name` on PATH, or "" when there is none.
std::string FindOnPath(const std::string& name);

}  // namespace varn
