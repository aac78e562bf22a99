// VarnSrv: the port server program (see program.h and options.h).
#include "server/app/program.h"

int main(int argc, char** argv) {
  return varn::VarnSrvMain({argv + 1, argv + argc});
}
