// Whether a wave runs across the whole frame with one amplitude and phase, as interference does,
// or comes and goes with the picture's content, as its own detail does: the frame cut into tiles
// and each tile's amplitude at the frequency weighed against the tile's own level there.
//
// Each tile's complex amplitude at the frequency (under a Hann window, less the tile's mean, phase
// referred to the frame's origin) is judged against that tile's own level there, from its
// amplitudes at eight frequencies two bins of the tile away, where the window's main lobe ends
// (their median, so that a neighbouring peak does not count). Weighting each tile by the inverse
// of its level, quiet tiles (a sky, a wall) carry the evidence; busy ones (foliage, fur) hardly
// count. Two numbers come out: the presence, the weighted amplitude's power over its spread if the
// tiles held nothing but their own detail (about exponential with mean 1 then), and how alike the
// tiles are, the share of the weighted power that one amplitude for all explains (1 for a wave
// alone; detail confined to a few tiles gives little).
#pragma once

#include <complex>
#include <optional>
#include <vector>

#include "image.h"
#include "peaks.h"
#include "thresholds.h"

namespace quen::cleaning {

class Tiles {
public:
    static constexpr int32_t kTiles = 4;  // the frame is cut into kTiles x kTiles tiles
    static constexpr int kPlanes = 4;     // planes: the sum of the three channels, then each channel

    Tiles(const host::Image& picture, const Thresholds& t);

    struct Evidence {
        double presence = 0, alike = 0;
        std::complex<double> amplitude;  // the tiles' amplitudes, each weighted by the inverse of its level
        std::complex<double> tile[kTiles * kTiles];  // each tile's amplitude
        double inverse[kTiles * kTiles] = {};        // ... and the inverse of its level (0: not looked at)
    };

    // The evidence at frequency f. A quick look takes the quieter half of the tiles only (they
    // carry most of it), and each one's level from frequencies moved along the rows only, which
    // costs one pass over its samples instead of three.
    Evidence weigh(const Frequency& f, bool quick = false, int plane = 0) const;

    // The frequency whose phase the tiles hold best about f: a wave off by d turns in each tile
    // by 2 pi d times the tile's place, so the tiles' phases about their weighted mean, fitted as
    // a plane over the tiles' centres (each weighted by its amplitude's power over its level),
    // give the step to take. A few steps, each from the tiles at the frequency reached.
    Frequency steady(Frequency f) const;

    // How far (in samples of spectrum g) a tile's main lobe reaches from its frequency.
    double lobe(const host::SpectrumGeometry& g) const;

private:
    struct Block {
        int32_t y0 = 0, x0 = 0, rows = 0, cols = 0;
        std::size_t first = 0;  // its samples' place in the planes
        double weight = 0;      // the window's sum
        double busy = 0;        // the power of its detail (the sum of the channels), per unit of window
    };
    void cut(const host::Image& picture);
    void window(const host::Image& picture, Block& b);
    void sums(int p, const Block& b, const Frequency& f, int nu, int nv, std::complex<double> (&s)[7][7]) const;

    const Thresholds& t_;
    std::vector<Block> blocks_;
    std::vector<std::size_t> all_, quiet_;  // blocks: all, and the quieter half
    std::size_t samples_ = 0;
    std::vector<float> planes_[kPlanes];
};

// The tiles of a picture, cut at the first question: a pass that asks none pays nothing, and the
// questions of one pass share one cut.
struct LazyTiles {
    const host::Image& picture;
    const Thresholds& thresholds;
    std::optional<Tiles> tiles;
    const Tiles& get() {
        if (!tiles) tiles.emplace(picture, thresholds);
        return *tiles;
    }
};

}  // namespace quen::cleaning
