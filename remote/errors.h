// Errors of the remote-call transport.
//
// EInterpreterError: a block that cannot be served or decoded (bad value,
// unsupported type, action without a handler); the serving end answers it
// with an asError block and the connection goes on.
// ESocketConnectionError: the stream itself failed (peer gone, bad header,
// no answer in time); the connection that raised it is closed, because the
// next block could no longer be told apart from the rest of this one.
// ERemoteError: the peer answered a call with asError; its text, verbatim.
#pragma once

#include <stdexcept>
#include <string>

namespace varn::remote {

class EInterpreterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ESocketConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ERemoteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The texts callers see (the driver shows them to its user).
namespace text {
inline constexpr const char* kInvalidDataPacket = "Неверный пакет данных";
inline constexpr const char* kErrorReading = "Ошибка чтения из сокета";
inline constexpr const char* kErrorWriting = "Ошибка записи в сокет";
inline constexpr const char* kBlockStopped = "блок пришёл не полностью";
inline constexpr const char* kNoAnswerInTime = "Сервер не ответил вовремя; соединение закрыто";
}  // namespace text

// The system's own part of a socket error ("Connection refused"): what
// follows the last ": " of the platform's message.
inline std::string SystemPart(const std::string& message) {
  const size_t colon = message.rfind(": ");
  return colon == std::string::npos ? message : message.substr(colon + 2);
}

// "Неверный пакет данных: <detail>": a block that cannot mean what it says.
inline EInterpreterError InvalidDataPacket(const std::string& detail) {
  return EInterpreterError(std::string(text::kInvalidDataPacket) + ": " + detail);
}

}  // namespace varn::remote
