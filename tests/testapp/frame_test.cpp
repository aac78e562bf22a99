// The test program's frame and its own pages (being built).
#include <gtest/gtest.h>
