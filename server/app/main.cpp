// VarnSrv: the port server program (see program.h and options.h).
#include "server/app/program.h"
#ifdef VARN_WITH_WINDOW
#include "server/window/window_face.h"
#endif

int main(int argc, char** argv) {
#ifdef VARN_WITH_WINDOW
  return varn::VarnSrvMain({argv + 1, argv + argc}, varn::MakeWindowFace);
#else
  return varn::VarnSrvMain({argv + 1, argv + argc});
#endif
}
