// What `varn --help` prints: every form of the command line, the step
// syntax, the options and the exit statuses.
#include "tools/varn/usage.h"

namespace varn::tool {

const char* const kUsage = R"(usage: varn [--json] STEP...
       varn [--json] -
       varn [--json] list
       varn [--json] tables [--refresh]
       varn [--json] --1c STEP... | list
       varn [--json] search [--use]
       varn [--json] ports [--all] | ports check [N]
       varn [--json] ports set N PATH | ports unset N
       varn properties
       varn [--json] --version
       varn --help

Creates one driver object (VarnDrv.VarnDrv) and runs the steps on it, in order:
  set NAME=VALUE     sets a property; prints nothing
  get NAME           prints "NAME: value"
  call METHOD [ARG]  calls a method (ARG only for LoadBitmap and LoadBitmapEx)
                     and prints "METHOD: value", "ResultCode: n" and
                     "ResultCodeDescription: text"
  list               prints the interface: DISPID, name, kind, type, help string
  tables [--refresh] reads every table of the device and prints its values
                     (the descriptions come from this firmware's cache unless
                     --refresh), with a progress line on stderr; Ctrl+C stops
                     it with ResultCode -30

Names are the interface's, in any case; the Russian help string is accepted
too; a name that is not there gets the nearest one offered ("did you mean
PrintString?"). Values: text as it is, "hex:02 01 FC FD" for bytes, booleans
1/0/true/false, integers in decimal. A word after a call's method is its
argument unless it is a step word (write ./get for a file called get).
Dates print as dd.mm.yyyy (with hh:mm:ss when there is a time of day).

  --json     one JSON array instead of lines, an object per step; dates in
             ISO 8601 ("2023-06-14", "2023-06-14T06:30:00"). A mistake in the
             command line, or a driver that cannot be made, prints one object
             instead: {"error":"...","status":2} (or 1)
  --1c       runs the steps as 1C:Enterprise does, through the driver's add-in
             interfaces (names found by FindMethod/FindProp, calls by number;
             methods take no argument); list shows the add-in's numbering
  --version  prints "varn VERSION" and the driver's "VarnDrv VERSION" (with
             --json {"varn":"...","driver":"..."}, null for a driver not found)

search finds on which port (COM1..COM32) and at which baud rate a device
answers, showing the rows live on a terminal, and prints one line per device
found: port, baud rate, description. The driver's settings stay as they
were, unless --use makes the first device found the driver's port and rate.
Ctrl+C stops the search after the exchange under way.

ports lists COM1..COM32 (those whose path exists or is set; --all for all
32): the path (from the registry, or the default /dev/ttyS<N-1>) and where a
link such as /dev/serial/by-id/... leads, whether it is a terminal, its mode,
owner and group, whether this user may open it for reading and writing, and
"*" on the driver's port (ComNumber, listed even when it is neither).
  ports set N PATH   makes COM<N> the device at PATH (absolute; one that does
                     not exist yet, an adapter unplugged, is only warned of)
  ports unset N      COM<N> goes back to the default /dev/ttyS<N-1>
  ports check [N]    opens COM<N> (default: the driver's port) as the port
                     server does and closes it again: "COM3 (/dev/ttyUSB0):
                     ok", or what is wrong (missing, permission denied, busy
                     and the process holding it, not a terminal) and the fix.
                     A line the running port server holds is not opened.
With --json: the list as an array of objects; set and unset print the port
as it is now; check prints one object (ok, problem, message, holders, notes).

- reads the steps from standard input instead, one a line in the same syntax
(a set's VALUE is the rest of the line, blanks included; a call's ARG the
rest of the line after the method), and runs each on the one driver object
as it arrives: its answer (its lines and an empty line; with --json its
object on one line) is written and flushed before the next line is read, so
a program in any language keeps one driver object through a pipe. A failed
step is answered with "varn: NAME: message". Blank lines and lines starting
with # are skipped. A line that is no step is answered with "varn: line N:
message" (with --json {"error":"line N: message","status":2}), told on
stderr too, and the pipe goes on. The end of the input ends it; the exit
status is then as for steps on the command line (a line that was no step
counts as a failed step).

properties opens the driver's settings window (ShowProperties) on a desktop;
without a display or without the window library it tells why and ends with 1.

Exit status: 0 when every call returned 0 and no step failed; 1 when a call
returned non-zero or a step failed (every step still runs); 2 for a mistake
in the command line (then nothing runs). Failures are told on stderr.
GetFreeLDNumber returns a number, not a result, and never fails.
search: 0 when a device was found, 1 when none was or it was stopped.
ports check: 0 when the line opens (or the port server holds it), 1 otherwise.

After a call returns -2 or -3 (the port could not be opened) or -4 (no answer
from the device), one line on stderr tells where the port server wrote why
($VARN_LOG_DIR/VarnSrv.err, default ~/.local/state/varn/VarnSrv.err), for -4
with the advice to try varn search.
)";

}  // namespace varn::tool
