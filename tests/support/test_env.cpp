#include "tests/support/test_env.h"

#include "platform/testing/child_process.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace varn::test {

TempEnv::TempEnv() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("varn-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      m_dir = candidate.string();
      break;
    }
  }
  setenv("VARN_REGISTRY", RegistryFile().c_str(), 1);
  setenv("VARN_LOG_DIR", LogDir().c_str(), 1);
  setenv("VARN_RUNTIME_DIR", Path("run").c_str(), 1);
}

TempEnv::~TempEnv() {
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
  unsetenv("VARN_REGISTRY");
  unsetenv("VARN_LOG_DIR");
  unsetenv("VARN_RUNTIME_DIR");
}

namespace {

// Appends what arrives until `size` bytes are in; true when the peer closed.
bool ReceiveInto(StreamSocket& socket, std::string& got, size_t size) {
  char buf[256];
  while (got.size() < size && socket.WaitReadable(kPatience)) {
    const size_t n = socket.Receive(buf, sizeof buf);
    if (n == 0) return true;
    got.append(buf, n);
  }
  return false;
}

}  // namespace

std::string ReceiveUpTo(StreamSocket& socket, size_t size) {
  std::string got;
  ReceiveInto(socket, got, size);
  return got;
}

std::string ReceiveUntilClosed(StreamSocket& socket) {
  std::string got;
  if (!ReceiveInto(socket, got, SIZE_MAX)) ADD_FAILURE() << "the peer kept the connection open";
  return got;
}

std::string ErrorAnswerBlock(std::string_view text) {
  // Header 0xDB01 and payload size, then one string value: type 8, count, UTF-16LE.
  std::string block = Bytes({0x01, 0xDB, 0, 0, static_cast<int>(8 + 2 * text.size()), 0, 0, 0, 8, 0,
                             0, 0, static_cast<int>(text.size()), 0, 0, 0});
  for (char c : text) block += std::string{c, '\0'};
  return block;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

bool TcpPortListens(int32_t port) {
  // Lines of "sl local_address rem_address st ...", the port in hex after
  // the colon; state 0A is LISTEN.
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream lines(ReadFileOrEmpty(table));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      if (!(fields >> slot >> local >> remote >> state)) continue;
      const size_t colon = local.rfind(':');
      if (colon == std::string::npos || state != "0A") continue;
      if (std::stol(local.substr(colon + 1), nullptr, 16) == port) return true;
    }
  }
  return false;
}

bool UnixPathListens(const std::string& path) {
  // "Num RefCount Protocol Flags Type St Inode Path": flag 0x10000 marks a
  // socket that accepts connections.
  std::istringstream lines(ReadFileOrEmpty("/proc/net/unix"));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string num, refs, protocol, flags, type, state, inode, name;
    if (!(fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> name)) continue;
    if (name == path && (std::stoul(flags, nullptr, 16) & 0x10000u) != 0) return true;
  }
  return false;
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ShellRun RunShell(const TempEnv& env, const std::string& commandLine) {
  const std::string out = env.Path("run.out"), err = env.Path("run.err");
  ChildProcess p("/bin/sh", {"-c", commandLine + " >" + out + " 2>" + err}, env.Path("sh.out"));
  ShellRun r;
  r.status = p.Wait(kPatience);
  r.out = ReadFileOrEmpty(out);
  r.err = ReadFileOrEmpty(err);
  return r;
}

}  // namespace varn::test
