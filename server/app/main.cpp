// VarnSrv: the port server program (see program.h and options.h).
#include "server/app/program.h"
#ifdef VARN_WITH_WINDOW
#include "server/app/window_library.h"
#endif

int main(int argc, char** argv) {
#ifdef VARN_WITH_WINDOW
  return varn::VarnSrvMain({argv + 1, argv + argc}, varn::LoadWindowFace);
#else
  return varn::VarnSrvMain({argv + 1, argv + argc});
#endif
}
