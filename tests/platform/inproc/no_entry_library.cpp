// libVarnInprocNoEntry.so: a shared library that is no in-process server.
extern "C" __attribute__((visibility("default"))) int VarnSomethingElse() {
  return 42;
}
