// Helper process for the registry concurrency test: writes N values under
// SOFTWARE\Test\<name> one write at a time (A: DWORDs, others: strings).
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string name = argv[1];
  const int count = std::atoi(argv[2]);
  varn::Registry reg = varn::Registry::Default();
  try {
    for (int i = 0; i < count; ++i) {
      const std::string key = "SOFTWARE\\Test\\" + name, value = "V" + std::to_string(i);
      if (name == "A")
        reg.WriteDword(key, value, static_cast<uint32_t>(i));
      else
        reg.WriteString(key, value, "значение " + std::to_string(i));
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
