// GoogleTest main for tests that need the device namespace: it enters the
// namespace before anything else runs (no thread may exist yet), then runs
// every test. Listing the tests (as test discovery does at build time) needs
// no namespace and works without root.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "devns.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
    }
    if (!listing && !devns_enter()) {
        std::fprintf(stderr,
                     "devns: cannot set up the private /dev namespace; these "
                     "tests need root (CAP_SYS_ADMIN)\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
