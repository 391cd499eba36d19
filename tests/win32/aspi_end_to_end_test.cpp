// Placeholder until TAtapi and TForm1 land.
#include <gtest/gtest.h>
TEST(AspiEndToEnd, Placeholder) {}
