// The GIMP plug-in's filtering through the host library.
#include "layer_filter.h"

#include <array>
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

// The module list's description of a module. Each description is a whole string literal of the
// generated table, so its data may be handed on as a C string.
constexpr const char* description_of(std::string_view module) {
    for (const manifest::ModuleEntry& m : manifest::kModules)
        if (m.name == module) return m.description.data();
    return "Quen filter";
}

constexpr std::array kProcedures{
    Procedure{"plug-in-quen-fwd", "QuenFwd", "_Forward Spectrum", description_of("QuenFwd")},
    Procedure{"plug-in-quen-inv", "QuenInv", "_Inverse Spectrum", description_of("QuenInv")},
    Procedure{"plug-in-quen-fwd-r", "QuenFwdR", "Forward _Half Spectrum", description_of("QuenFwdR")},
    Procedure{"plug-in-quen-inv-r", "QuenInvR", "Inverse Hal_f Spectrum", description_of("QuenInvR")},
    Procedure{"plug-in-quen-fwd3", "QuenFwd3", "Forward _3-D Spectrum", description_of("QuenFwd3")},
    Procedure{"plug-in-quen-clean", nullptr, "_Clean Periodic Noise",
              "Finds periodic noise (stripes, scan lines, moire, halftone screens) in each colour channel and "
              "removes it, as quen clean does with its default settings."},
};

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

// Applies f to the colour samples (planes 0 to 2) of a 16-bit picture. Alpha keeps GIMP's own
// values: the modules never touch it, and the mapping to the host's range and back is not exact
// for every 16-bit value.
template <class F>
void map_colours16(host::Image& picture, F f) {
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t p = 0; p < 3; ++p) picture.set<uint16_t>(y, x, p, f(picture.get<uint16_t>(y, x, p)));
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

host::Image clean(host::Image pixels) {
    const std::unique_ptr<host::ModuleLibrary> forward = load_module("QuenFwdR"), inverse = load_module("QuenInvR");
    try {
        return cleaning::clean_picture({*forward, *inverse}, std::move(pixels)).image;
    } catch (const cleaning::CleanError& e) {
        throw Refusal(std::string("Cleaning: ") + e.what() + ".");
    }
}

}  // namespace

std::span<const Procedure> procedures() { return kProcedures; }

const Procedure* find_procedure(std::string_view name) {
    for (const Procedure& p : kProcedures)
        if (name == p.name) return &p;
    return nullptr;
}

host::Image layer_picture(int32_t rows, int32_t cols, bool alpha, SampleType type) {
    const int32_t depth = type == SampleType::U8 ? 8 : type == SampleType::U16 ? 16 : type == SampleType::Float ? 32 : 0;
    if (depth == 0)
        throw Refusal(std::string("Quen filters work on 8-bit or 16-bit integer and 32-bit floating point images "
                                  "(perceptual or linear); this image is ") +
                      sample_type_name(type) + ". Change it with Image > Precision.");
    if (rows > kLargestSide || cols > kLargestSide)
        throw Refusal("Quen filters work on layers of at most " + std::to_string(kLargestSide) +
                      " pixels a side; this layer is " + std::to_string(cols) + " x " + std::to_string(rows) + ".");
    return host::Image::make(rows, cols, alpha ? 4 : 3, depth);
}

host::Image filter_layer(const Procedure& procedure, host::Image pixels) {
    const host::NonFinite non_finite = host::find_non_finite(pixels);
    if (non_finite.count > 0)
        throw Refusal(std::to_string(non_finite.count) + " colour sample" + (non_finite.count == 1 ? " is" : "s are") +
                      " NaN or infinite, the first at x " + std::to_string(non_finite.col) + ", y " +
                      std::to_string(non_finite.row) + " (" + host::colour_name(non_finite.plane) +
                      "); a Quen filter would spread it over the whole layer.");
    if (pixels.depth == 16) map_colours16(pixels, host::file16_to_sample);
    host::Image result = procedure.module ? run_module(procedure.module, std::move(pixels)) : clean(std::move(pixels));
    if (result.depth == 16) map_colours16(result, host::sample_to_file16);
    return result;
}

}  // namespace quen::gimp
