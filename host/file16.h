// 16-bit samples as files and editors hold them (0..65535) and as the host record holds them
// (0..32768). One mapping, shared by every host that reads or writes 16-bit pictures.
#pragma once

#include <cstdint>

#include "filter_record.h"

namespace quen::host {

// Both directions round to the nearest value (halves up), so every sample 0..32768 survives the
// trip to a file and back; samples beyond 32768 are capped, never wrapped.
constexpr uint16_t file16_to_sample(uint16_t file) {
    return static_cast<uint16_t>((uint64_t{file} * 65536u + 65535u) / 131070u);
}
constexpr uint16_t sample_to_file16(uint16_t sample) {
    const uint64_t s = sample > kSixteenBitFullScale ? uint64_t{kSixteenBitFullScale} : sample;
    return static_cast<uint16_t>((s * 131070u + 32768u) / 65536u);
}

}  // namespace quen::host
