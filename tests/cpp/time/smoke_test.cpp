#include <gtest/gtest.h>

// Keeps the time test executable linkable until its library has tests.
TEST(TimeLibrary, Links) { SUCCEED(); }
