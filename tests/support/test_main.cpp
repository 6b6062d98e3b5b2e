// GoogleTest's main, with standard output in binary mode: plain "\n" line
// ends, so that ctest reads the names of the test cases as they are.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "gtest/gtest.h"

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
