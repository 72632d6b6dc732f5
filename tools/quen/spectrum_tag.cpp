// The spectrum tag as text, and what it tells about a spectrum's use.
#include "spectrum_tag.h"

#include <cstdio>
#include <sstream>

namespace quen::tool {

std::string tag_text(const SpectrumTag& tag) {
    return "quen spectrum: layout=" + tag.layout + " filter=" + tag.filter + " size=" + std::to_string(tag.cols) + "x" +
           std::to_string(tag.rows);
}

std::optional<SpectrumTag> parse_tag(const std::string& text) {
    const std::string prefix = "quen spectrum:";
    if (text.rfind(prefix, 0) != 0) return std::nullopt;
    std::istringstream words(text.substr(prefix.size()));
    SpectrumTag tag;
    for (std::string word; words >> word;) {
        const std::size_t eq = word.find('=');
        const std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (key == "layout") tag.layout = value;
        else if (key == "filter") tag.filter = value;
        else if (key == "size" && std::sscanf(value.c_str(), "%dx%d", &tag.cols, &tag.rows) != 2) return std::nullopt;
    }
    if (tag.layout.empty() || tag.filter.empty() || tag.cols <= 0 || tag.rows <= 0) return std::nullopt;
    return tag;
}

std::string spectrum_mismatch(const std::optional<SpectrumTag>& tag, const std::string& layout, int32_t cols,
                              int32_t rows) {
    if (!tag) return "";
    if (tag->layout != layout)
        return "a " + tag->layout + " spectrum (made by " + tag->filter + ") used as a " + layout +
               " spectrum: the result will not be the picture";
    if (tag->cols != cols || tag->rows != rows)
        return "the spectrum was made from a " + std::to_string(tag->cols) + " x " + std::to_string(tag->rows) +
               " picture but is " + std::to_string(cols) + " x " + std::to_string(rows) +
               " now: a resized spectrum no longer holds the picture's frequencies";
    return "";
}

}  // namespace quen::tool
