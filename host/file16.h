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

// The file's value for a sample a filter returned at the place where the file held `original`:
// the original itself when it stands for that very sample, else the nearest value. The host's
// range holds half as many values as the file's, so without this a picture passed through
// unchanged would come back with every other value moved by one; the values chosen still read
// back as exactly the samples the filter gave.
constexpr uint16_t sample_to_file16(uint16_t sample, uint16_t original) {
    return file16_to_sample(original) == sample ? original : sample_to_file16(sample);
}

}  // namespace quen::host
