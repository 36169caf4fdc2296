// libFuzzer target: every input is a datagram as it could come off the
// network. The receiver's acceptance checks and record rendering must agree
// with the separate decoder in datagramcheck.cpp; a disagreement, a crash or
// a sanitizer report ends the run with the input saved. Built and run by
// make fuzz, which starts it from the seeds of tests/fuzz/seeds.hex.

#include "datagramcheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string why;
    if (!fuzzcheck::checkDatagram(data, size, why)) {
        std::fprintf(stderr, "datagram check failed: %s\n", why.c_str());
        std::abort();
    }
    return 0;
}
