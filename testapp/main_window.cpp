#include "testapp/main_window.h"
