#include <gtest/gtest.h>

// Keeps the spk test executable linkable until its library has tests.
TEST(SpkLibrary, Links) { SUCCEED(); }
