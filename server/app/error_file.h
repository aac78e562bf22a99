// Where the port server's diagnostics go besides standard error. A server
// started on demand has its standard streams on /dev/null, so why a port
// could not be opened would reach nobody: every line is also appended to
// $VARN_LOG_DIR/VarnSrv.err, with its time stamp. Under systemd standard
// error is the journal already, and the file is left alone.
//
//   SetDiagnosticSink([](const std::string& t) { Say(t); AppendErrorLine(t); });
#pragma once

#include <string>

namespace varn {

// $VARN_LOG_DIR/VarnSrv.err.
std::string ServerErrorFilePath();

// True when systemd started the program (JOURNAL_STREAM or INVOCATION_ID).
bool StandardErrorIsJournal();

// Appends "<time stamp> <text>\n" unless StandardErrorIsJournal(); a file
// that cannot be written is passed over (standard error has the line too).
void AppendErrorLine(const std::string& text);

}  // namespace varn
