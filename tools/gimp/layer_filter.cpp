// The GIMP plug-in's filtering through the host library.
#include "layer_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <vector>
#include <memory>
#include <string>

#include "clean.h"
#include "file16.h"
#include "filter_record.h"
#include "module_finder.h"
#include "non_finite.h"
#include "quen_modules.h"
#include "run.h"

namespace quen::gimp {
namespace {

// "plug-in-quen-fwd-r" for QuenFwdR: a word at each capital, digits kept with the word before.
std::string procedure_name(std::string_view module) {
    std::string name = "plug-in-";
    for (std::size_t i = 0; i < module.size(); ++i) {
        const char c = module[i];
        if (i > 0 && c >= 'A' && c <= 'Z') name += '-';
        name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return name;
}

// "Forward Half Spectrum": what the module does, from its direction and layout.
std::string menu_label(const manifest::ModuleEntry& m) {
    const char* kind = m.spectrum == manifest::Spectrum::Half ? "Half " : m.spectrum == manifest::Spectrum::Volume ? "3-D " : "";
    return std::string(m.direction == manifest::Direction::Forward ? "Forward " : "Inverse ") + kind + "Spectrum";
}

// Gives each label a mnemonic no earlier one has: a word's first character when one is free,
// else any letter.
void add_mnemonics(std::vector<Procedure>& list) {
    std::string used;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (Procedure& p : list) {
        std::size_t at = std::string::npos;
        for (int pass = 0; pass < 2 && at == std::string::npos; ++pass)
            for (std::size_t i = 0; i < p.label.size() && at == std::string::npos; ++i) {
                const char c = p.label[i];
                const bool word_start = i == 0 || p.label[i - 1] == ' ';
                if (c != ' ' && c != '-' && (pass == 1 || word_start) && used.find(lower(c)) == std::string::npos) at = i;
            }
        if (at == std::string::npos) continue;
        used += lower(p.label[at]);
        p.label.insert(at, 1, '_');
    }
}

std::vector<Procedure> make_procedures() {
    std::vector<Procedure> list;
    for (const manifest::ModuleEntry& m : manifest::kModules)
        list.push_back({procedure_name(m.name), std::string(m.name), menu_label(m), std::string(m.description)});
    list.push_back({"plug-in-quen-clean", "", "Clean Periodic Noise...",
                    "Finds periodic noise (stripes, scan lines, moire, halftone screens) in each colour channel and "
                    "removes it, as quen clean does, with its options: sensitivity, protected period, fill and "
                    "low-pass."});
    std::rotate(list.begin(), list.end() - 1, list.end());  // cleaning takes the first mnemonic, C
    add_mnemonics(list);
    std::rotate(list.begin(), list.begin() + 1, list.end());
    return list;
}

const std::vector<Procedure>& all_procedures() {
    static const std::vector<Procedure> list = make_procedures();
    return list;
}

const char* sample_type_name(SampleType type) {
    switch (type) {
    case SampleType::U8: return "8-bit integer";
    case SampleType::U16: return "16-bit integer";
    case SampleType::U32: return "32-bit integer";
    case SampleType::Half: return "16-bit floating point";
    case SampleType::Float: return "32-bit floating point";
    case SampleType::Double: return "64-bit floating point";
    }
    return "unknown";
}

// Applies f(sample, y, x, plane) to the colour samples (planes 0 to 2) of a 16-bit picture. Alpha keeps GIMP's own
// values: the modules never touch it, and the mapping to the host's range and back is not exact
// for every 16-bit value.
template <class F>
void map_colours16(host::Image& picture, F f) {
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t p = 0; p < 3; ++p) picture.set<uint16_t>(y, x, p, f(picture.get<uint16_t>(y, x, p), y, x, p));
}

// A grey layer's samples (grey, then alpha) as three equal colour planes and alpha, and back:
// the colours' mean, which cleaning leaves equal when they came in equal. Samples keep GIMP's
// range (16 bits: 0..65535).
template <class S>
host::Image spread_grey(const host::Image& grey) {
    host::Image rgb = host::Image::make(grey.rows, grey.cols, grey.planes + 2, grey.depth);
    for (int32_t y = 0; y < grey.rows; ++y)
        for (int32_t x = 0; x < grey.cols; ++x)
            for (int32_t p = 0; p < rgb.planes; ++p) rgb.set<S>(y, x, p, grey.get<S>(y, x, p < 3 ? 0 : 1));
    return rgb;
}

template <class S>
host::Image grey_of(const host::Image& rgb) {
    host::Image grey = host::Image::make(rgb.rows, rgb.cols, rgb.planes - 2, rgb.depth);
    for (int32_t y = 0; y < rgb.rows; ++y)
        for (int32_t x = 0; x < rgb.cols; ++x) {
            const double mean = (double(rgb.get<S>(y, x, 0)) + rgb.get<S>(y, x, 1) + rgb.get<S>(y, x, 2)) / 3;
            grey.set<S>(y, x, 0, static_cast<S>(std::is_integral_v<S> ? std::round(mean) : mean));
            if (grey.planes > 1) grey.set<S>(y, x, 1, rgb.get<S>(y, x, 3));
        }
    return grey;
}

host::Image spread_grey(const host::Image& grey) {
    return grey.depth == 8 ? spread_grey<uint8_t>(grey) : grey.depth == 16 ? spread_grey<uint16_t>(grey) : spread_grey<float>(grey);
}

host::Image grey_of(const host::Image& rgb) {
    return rgb.depth == 8 ? grey_of<uint8_t>(rgb) : rgb.depth == 16 ? grey_of<uint16_t>(rgb) : grey_of<float>(rgb);
}

std::unique_ptr<host::ModuleLibrary> load_module(const char* name) {
    const std::filesystem::path dir = host::executable_dir() / "modules";
    const std::optional<host::ModuleFile> file = host::find_module({dir}, name);
    if (!file) throw Refusal(std::string("The filter module ") + name + " is missing from " + dir.string() + ".");
    try {
        return std::make_unique<host::ModuleLibrary>(file->path.string());
    } catch (const host::LoadError& e) {
        throw Refusal(e.what());
    }
}

host::Image run_module(const char* name, host::Image pixels) {
    const std::unique_ptr<host::ModuleLibrary> module = load_module(name);
    try {
        host::RunResult run = host::run_filter(*module, std::move(pixels));
        if (run.result != 0) throw Refusal(std::string(name) + " failed: " + host::describe_result(run.result) + ".");
        return std::move(run.image);
    } catch (const host::ProtocolError& e) {
        throw Refusal(std::string(name) + ": " + e.what());
    }
}

host::Image clean(host::Image pixels, const cleaning::CleanOptions& options, std::string* note) {
    const std::unique_ptr<host::ModuleLibrary> forward = load_module("QuenFwdR"), inverse = load_module("QuenInvR");
    try {
        cleaning::CleanResult result = cleaning::clean_picture({*forward, *inverse}, std::move(pixels), options);
        if (note) *note = clean_note(result, options);
        return std::move(result.image);
    } catch (const cleaning::CleanError& e) {
        throw Refusal(std::string("Cleaning: ") + e.what() + ".");
    }
}

}  // namespace

std::span<const Procedure> procedures() { return all_procedures(); }

const Procedure* find_procedure(std::string_view name) {
    for (const Procedure& p : all_procedures())
        if (name == p.name) return &p;
    return nullptr;
}

host::Image layer_picture(int32_t rows, int32_t cols, bool grey, bool alpha, SampleType type) {
    const int32_t depth = type == SampleType::U8 ? 8 : type == SampleType::U16 ? 16 : type == SampleType::Float ? 32 : 0;
    if (depth == 0)
        throw Refusal(std::string("Quen filters work on 8-bit or 16-bit integer and 32-bit floating point images "
                                  "(perceptual or linear); this image is ") +
                      sample_type_name(type) + ". Change it with Image > Precision.");
    if (rows > kLargestSide || cols > kLargestSide)
        throw Refusal("Quen filters work on layers of at most " + std::to_string(kLargestSide) +
                      " pixels a side; this layer is " + std::to_string(cols) + " x " + std::to_string(rows) + ".");
    return host::Image::make(rows, cols, (grey ? 1 : 3) + (alpha ? 1 : 0), depth);
}

std::string clean_note(const cleaning::CleanResult& result, const cleaning::CleanOptions& options) {
    std::size_t kept = 0;
    for (const cleaning::Candidate& c : result.candidates) kept += c.decision.verdict == cleaning::Verdict::Keep;
    const std::size_t removed = result.candidates.size() - kept;
    const cleaning::CleanOptions defaults;
    std::string command = "quen clean FILE -o cleaned.png --explain";
    char number[32];
    if (options.detect.sensitivity != defaults.detect.sensitivity) {
        std::snprintf(number, sizeof number, "%g", options.detect.sensitivity);
        command += std::string(" --sensitivity ") + number;
    }
    if (options.detect.protect_period != defaults.detect.protect_period) {
        std::snprintf(number, sizeof number, "%g", options.detect.protect_period);
        command += std::string(" --protect ") + number;
    }
    if (options.fill == cleaning::Fill::Zero) command += " --fill zero";
    if (!options.lowpass) command += " --no-lowpass";
    return "Clean Periodic Noise: " + std::to_string(removed) + " peak" + (removed == 1 ? "" : "s") + " removed, " +
           std::to_string(kept) + " kept as the picture's own. To see why for each, run " + command +
           " on the picture saved as FILE.";
}

host::Image filter_layer(const Procedure& procedure, host::Image pixels, const cleaning::CleanOptions& options,
                         std::string* note) {
    const int32_t layer_planes = pixels.planes;
    if (layer_planes < 3) {
        if (!procedure.cleans())
            throw Refusal("The spectrum filters need an RGB layer and this one is greyscale; change the image with "
                          "Image > Mode > RGB first.");
        pixels = spread_grey(pixels);
    }
    const host::NonFinite non_finite = host::find_non_finite(pixels);
    if (non_finite.count > 0)
        throw Refusal(std::to_string(non_finite.count) + " colour sample" + (non_finite.count == 1 ? " is" : "s are") +
                      " NaN or infinite, the first at x " + std::to_string(non_finite.col) + ", y " +
                      std::to_string(non_finite.row) + " (" + host::colour_name(non_finite.plane) +
                      "); a Quen filter would spread it over the whole layer.");
    host::Image layer16;  // 16 bits: the layer as GIMP held it, for the samples the filter leaves as they were
    if (pixels.depth == 16) {
        layer16 = pixels;
        map_colours16(pixels, [](uint16_t v, int32_t, int32_t, int32_t) { return host::file16_to_sample(v); });
    }
    host::Image result =
        procedure.cleans() ? clean(std::move(pixels), options, note) : run_module(procedure.module.c_str(), std::move(pixels));
    if (result.depth == 16) {
        const bool same_size = layer16.rows == result.rows && layer16.cols == result.cols;
        map_colours16(result, [&](uint16_t v, int32_t y, int32_t x, int32_t p) {
            return same_size ? host::sample_to_file16(v, layer16.get<uint16_t>(y, x, p)) : host::sample_to_file16(v);
        });
    }
    return layer_planes < 3 ? grey_of(result) : result;
}

}  // namespace quen::gimp
