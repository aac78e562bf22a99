#include "testapp/saved_inputs.h"
