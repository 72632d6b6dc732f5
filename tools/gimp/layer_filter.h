// The GIMP plug-in's filtering, apart from GIMP itself: which procedures it offers, which layers
// it takes, and one run of a module over a layer's pixels through the host library, as quen runs
// it over a file's pixels. Nothing here includes libgimp, so a port to another GIMP version only
// replaces the file that talks to GIMP.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include "image.h"

namespace quen::gimp {

struct Procedure {
    const char* name;    // the procedure's name in GIMP's procedure database
    const char* module;  // the filter module it runs; null for cleaning, which runs the half-spectrum pair
    const char* label;   // its entry in the Filters > Quen menu
    const char* help;    // what it does: for a module, its description in the module list
};

// One procedure per filter module, then automatic cleaning, in menu order.
std::span<const Procedure> procedures();
const Procedure* find_procedure(std::string_view name);

// How a layer stores its samples (perceptual or linear alike).
enum class SampleType { U8, U16, U32, Half, Float, Double };

// Why a layer is not filtered, in words for the user.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An empty picture for a layer of this size, to be filled with the layer's pixels exactly as GIMP
// stores them: rows of interleaved R, G, B (and alpha) samples without padding. Throws Refusal for
// a sample type the modules do not take, and for a side the host record cannot describe.
host::Image layer_picture(int32_t rows, int32_t cols, bool alpha, SampleType type);

// Runs the procedure's module (or, for cleaning, quen clean's cleaning with its default settings),
// from the modules folder beside the plug-in's executable, over a layer's pixels and returns the
// pixels to store. 16-bit samples are taken from GIMP's range
// (0..65535) to the host's and back with the mapping quen uses for files; alpha is the module's
// fourth plane, which it leaves as it was. Throws Refusal for NaN or infinite colour samples (the
// filter would spread them over the whole layer, as quen refuses them in files), and when the
// module is missing or fails.
host::Image filter_layer(const Procedure& procedure, host::Image pixels);

}  // namespace quen::gimp
