#include <gtest/gtest.h>
#include "launcher/strings.h"
TEST(Strings, Placeholder) { SUCCEED(); }
