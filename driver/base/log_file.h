// The driver log: one text file per driver object (several objects may name
// the same file), a line per automation call and a block per device
// exchange.
//
//   TLogFile log;                        // $VARN_LOG_DIR/VarnDrv.log, disabled
//   log.SetEnabled(true);
//   log.BeginCall("GetECRStatus");       // "<time> GetECRStatus"
//   log.WriteSeparator();                // the exchange block ...
//   log.WriteCommand(0x11);              // "<time> Команда 11 Запрос состояния"
//   log.WriteSent(frame);                // "<time> -> 02 05 11 ..."
//   log.WriteReceived(answer);           // "<time> <- ..."
//   log.WriteError(115, text);           // "<time> Ошибка: (115, 73h) ..."
//   log.EndCall(Variant(0));             // "<time> GetECRStatus: 0"
//
// Every line is "<dd.mm.yyyy hh:mm:ss.zzz> <text>\r\n" in UTF-8, handed to
// the system by one write. The file opens at the first line and stays open
// until Close, SetEnabled or SetFileName closes it. While it is open it is
// held for writing (flock): another TLogFile on the same path, in this
// process or another, loses its lines until the holder closes, and tries
// again at each line. Nothing of the log ever fails its caller: a line that
// cannot be written is lost. One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/variant.h"
#include "platform/files.h"

namespace varn {

// A call's result as the log writes it: booleans "1"/"0", integers in
// decimal, reals and currency with a decimal point, dates "dd.mm.yyyy" (and
// " hh:mm:ss" when the time is not midnight), strings as they are, empty and
// null values as nothing. Follows references. Tools print values the same way.
std::string LogValueText(const Variant& value);

class TLogFile {
 public:
  // Starts disabled, on DefaultFileName().
  TLogFile();
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // "VarnDrv.log" in the log folder (LogDirectory()).
  static std::string DefaultFileName();

  bool Enabled() const { return m_enabled; }
  const std::string& FileName() const { return m_path; }
  // Whether this object holds the file now.
  bool IsOpen() const { return m_file != nullptr; }
  // The calls begun and not yet ended, innermost last.
  const std::vector<std::string>& Names() const { return m_names; }

  // A change closes the file.
  void SetEnabled(bool enabled);
  // A different name (exact comparison) closes the file; the name is not
  // checked: a name that cannot be opened just loses the lines.
  void SetFileName(const std::string& path);
  void Close() { m_file.reset(); }

  // Each writes only while enabled.
  void WriteLine(std::string_view text);
  // 60 minus signs, the first line of an exchange block.
  void WriteSeparator();
  // "Команда XX <name>": the command code in upper-case hex and its name
  // (the line ends with a blank when the code has no name).
  void WriteCommand(uint8_t code);
  // "-> " lines of up to 20 bytes each; empty data gives the bare prefix.
  void WriteSent(std::string_view bytes);
  // "<- " lines of up to 20 bytes each; nothing for an empty answer.
  void WriteReceived(std::string_view bytes);
  // "Ошибка: (<code>[, XXh]) <description>": the hex part for device codes
  // (positive) only; nothing for 0, a success has no error line.
  void WriteError(int32_t code, std::string_view description);

  // Pushes the name on Names and writes it as a line (only while enabled).
  void BeginCall(std::string_view name);
  // Pops the innermost name (empty when none is left) and writes
  // "<name>: <value text>" (only while enabled).
  void EndCall(const Variant& value);

 private:
  void WriteBytes(std::string_view prefix, std::string_view bytes);
  bool Open();

  bool m_enabled = false;
  std::string m_path;
  std::unique_ptr<AppendOnlyFile> m_file;
  std::vector<std::string> m_names;
};

}  // namespace varn
