// The GIMP plug-in's filtering, apart from GIMP itself: which procedures it offers, which layers
// it takes, and one run of a module over a layer's pixels through the host library, as quen runs
// it over a file's pixels. Nothing here includes libgimp, so a port to another GIMP version only
// replaces the file that talks to GIMP.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "clean.h"
#include "image.h"

namespace quen::gimp {

struct Procedure {
    std::string name;    // the procedure's name in GIMP's procedure database: plug-in-quen-fwd-r for QuenFwdR
    std::string module;  // the filter module it runs; "" for cleaning, which runs the half-spectrum pair
    std::string label;   // its entry in the Filters > Quen menu, with its mnemonic
    std::string help;    // what it does: for a module, its description in the module list
    bool cleans() const { return module.empty(); }
};

// One procedure per filter module of the module list, in its order, then automatic cleaning.
std::span<const Procedure> procedures();
const Procedure* find_procedure(std::string_view name);

// How a layer stores its samples (perceptual or linear alike).
enum class SampleType { U8, U16, U32, Half, Float, Double };

// Why a layer is not filtered, in words for the user.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An empty picture for a layer of this size, to be filled with the layer's pixels exactly as GIMP
// stores them: rows of interleaved R, G, B (or grey) and alpha samples without padding. Throws
// Refusal for a sample type the modules do not take, and for a side the host record cannot
// describe.
host::Image layer_picture(int32_t rows, int32_t cols, bool grey, bool alpha, SampleType type);

// Runs the procedure's module (or, for cleaning, quen clean's cleaning with these options),
// from the modules folder beside the plug-in's executable, over a layer's pixels and returns the
// pixels to store. A grey layer (one or two planes) is cleaned as three equal channels and comes
// back grey; the spectrum filters refuse it, for a spectrum needs colour planes. 16-bit samples are taken from GIMP's range
// (0..65535) to the host's and back with the mapping quen uses for files; alpha is the module's
// fourth plane, which it leaves as it was. Throws Refusal for NaN or infinite colour samples (the
// filter would spread them over the whole layer, as quen refuses them in files), and when the
// module is missing or fails.
// For cleaning, `note` (when given) receives what it did, in words for the procedure's message.
host::Image filter_layer(const Procedure& procedure, host::Image pixels, const cleaning::CleanOptions& options = {},
                         std::string* note = nullptr);

// What cleaning did: how many peaks it removed and how many it kept as the picture's own, and the
// quen command (with the same options) that says why for each.
std::string clean_note(const cleaning::CleanResult& result, const cleaning::CleanOptions& options);

}  // namespace quen::gimp
