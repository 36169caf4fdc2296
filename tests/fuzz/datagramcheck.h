#pragma once

// Any bytes, taken as a datagram off the network: the receiver's checks
// and record lines (reception/) against a decoder written apart from them,
// on the bytes as they are and on them made into a frame that passes every
// check, so that random records reach the rendering too.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzcheck {

// True when the receiver's code agrees with the separate decoder on this
// input; otherwise false, with what differed in `why`.
bool checkDatagram(const std::uint8_t *data, std::size_t size, std::string &why);

} // namespace fuzzcheck
