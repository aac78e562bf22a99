#include "testapp/graphics.h"
