// What a spectrum file records about itself: its layout, the filter that made it and the size of
// the picture it was made from, kept in the file (a PNG text chunk, the TIFF image description),
// so that a spectrum used with the other layout's tools, or resized, can be told.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quen::tool {

struct SpectrumTag {
    std::string layout;  // "full", "half" or "volume"
    std::string filter;  // the module that made it
    int32_t cols = 0;    // the size of the picture it was made from
    int32_t rows = 0;
};

// "quen spectrum: layout=full filter=QuenFwd size=384x256"; parse_tag reads it back and gives
// nothing for any other text.
std::string tag_text(const SpectrumTag& tag);
std::optional<SpectrumTag> parse_tag(const std::string& text);

// Why a spectrum of `cols` x `rows` samples carrying `tag` does not suit a reader of `layout`
// ("full" or "half"): made with the other layout, or resized since. "" when it suits, or when
// there is no tag to tell.
std::string spectrum_mismatch(const std::optional<SpectrumTag>& tag, const std::string& layout, int32_t cols,
                              int32_t rows);

}  // namespace quen::tool
