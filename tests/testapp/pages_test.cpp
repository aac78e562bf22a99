// The test program's graphics, tables and device pages (being built).
#include <gtest/gtest.h>
