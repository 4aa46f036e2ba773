// The scan data text out of one read of arbitrary bytes.
//
// The input is what the read returns, cut to the 8192 bytes that one read
// may bring. The buffer has exactly the size the core gives it: 8192 bytes
// and one more that no read reaches, so the text always ends inside it.
#include "fuzz_check.h"
#include "reply.h"

#include <stddef.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto buf = exact_buffer<char>(kScanBufLen + 1);
    size_t got = size < kScanBufLen ? size : kScanBufLen;
    memcpy(buf.get(), data, got);

    size_t length = text_len(buf.get(), static_cast<long>(got));
    FUZZ_REQUIRE(length <= got);
    FUZZ_REQUIRE(no_zero(buf.get(), length));
    // The returned text is exactly the logged length: it stops at the
    // first zero, or at the end of the read when there is none.
    FUZZ_REQUIRE(length == got || data[length] == 0);
    FUZZ_REQUIRE(strlen(buf.get()) == length);
    return 0;
}
