#pragma once

// One input of the datagram fuzzer: any bytes, taken as a datagram as it
// could arrive from the network. The receiver's acceptance checks
// (reception/frame.h) and its record rendering (reception/recordline.h) are
// run on it and compared with a decoder written separately here, from the
// frame and record layout alone.
//
// Each input is checked twice: as it is, and "repaired" into a frame that
// passes every acceptance check (header, type bytes, length fields and CRC
// set right, the rest of the bytes kept), so that random record contents
// reach the rendering of accepted datagrams too.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzcheck {

// True when the receiver's code agrees with the separate decoder on this
// input; otherwise false, with what differed in `why`.
bool checkDatagram(const std::uint8_t *data, std::size_t size, std::string &why);

} // namespace fuzzcheck
