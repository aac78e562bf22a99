// A stand-in server program for the local-activation tests: started with
// -Embedding, it listens on the sample server's socket in the runtime folder, serves the
// sample class, leaves "stand-in.<pid>" in the runtime folder, and ends when
// its last object is released (or when nobody came within a minute).
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "remote/dispatcher.h"
#include "remote/local_server.h"
#include "tests/remote/sample_object.h"

int main(int argc, char** argv) {
  using namespace std::chrono_literals;
  using namespace varn;
  if (argc < 2 || std::string(argv[1]) != "-Embedding") {
    std::fprintf(stderr, "usage: %s -Embedding\n", argv[0]);
    return 2;
  }
  test::RegisterSampleClass();
  ReplaceFileAtomically(RuntimeDirectory() + "/stand-in." + std::to_string(CurrentProcessId()),
                        "started\n");
  remote::TkxSocketDispatcher dispatcher;
  try {
    dispatcher.OpenLocal(remote::LocalServerSocketPath(test::kSampleServer));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const auto giveUp = std::chrono::steady_clock::now() + 60s;
  for (;;) {
    std::this_thread::sleep_for(20ms);
    if (test::g_createdSamples > 0 && test::g_liveSamples == 0) break;  // the last release
    if (test::g_createdSamples == 0 && std::chrono::steady_clock::now() > giveUp) break;
  }
  dispatcher.Close();
  return 0;
}
