// Finds the peaks that periodic noise leaves in a spectrum: magnitudes that stand far above the
// spectrum's own local background, away from the protected low frequencies.
//
// The background of each sample is a robust estimate of what a natural picture puts there: the
// median log magnitude of its ring about the zero frequency (natural spectra fall with the radius)
// plus the median of the rest over a neighbourhood (they are not the same in all directions). The
// two axes, where the picture's borders and straight edges leave lines, get a background of their
// own along the line and a stricter threshold. The threshold comes from a false-alarm budget: for
// a natural picture a magnitude squared is about exponentially distributed about its local mean,
// so the chance that one sample exceeds the median by a factor t is exp(-ln 2 t^2); the threshold
// allows a small expected number of such samples over the whole spectrum. Flagged samples form
// peaks (connected groups, the leakage of a frequency between samples included); a peak is kept
// when the sinusoid that would leave its excess energy is strong enough to matter.
//
// Halftone screens leave a lattice of peaks (the screen frequencies, their sums and harmonics);
// when one is found, its lowest frequency is reported so that everything above can be cut.
#pragma once

#include <cstdint>
#include <vector>

#include "log_spectrum.h"
#include "thresholds.h"

namespace quen::cleaning {

struct DetectOptions {
    double sensitivity = 1;     // 2 finds peaks half as strong; 0.5 only those twice as strong
    double protect_period = 48; // frequencies of a period longer than this, in pixels, are never peaks
                                // (nor those within 4 samples of the zero frequency)
};

struct Peak {
    int32_t row = 0;        // the strongest sample of the peak, in the spectrum picture
    int32_t column = 0;
    double radius = 0;      // samples from there that cover the whole peak
    double amplitude = 0;   // of the sinusoid that would leave this much energy, in units of full scale
    double period = 0;      // pixels per cycle of that frequency
    double angle = 0;       // direction of the waves' normal, degrees from the horizontal (0..180)
    uint32_t channels = 0;  // bit c set: found in channel c
    int32_t group = 0;      // its samples' mark in Detection::group
    double ridge = 0;       // samples of a line through the zero frequency it continues along, 0: none
    double notch = 0;       // the radius of the smallest disc about (row, column) that holds 99 % of
                            // its excess energy: the notch to take it out by hand (quen edit --notch)
};

struct Detection {
    std::vector<Peak> peaks;        // strongest first; for a full spectrum, one of each mirrored pair
    double screen_period = 0;       // period in pixels of the halftone screen's lowest frequency, 0 when none
    double rosette = 0;             // period in pixels of a print's rosette of screens (rosette_period), 0 when none
    double cut_screen = 0;          // the same, among peaks as strong as the share of a screen's that
                                    // the range's ends leave it (`shown`), when screen_period is 0

    std::vector<float> background;  // each magnitude sample's background, laid out as LogMagnitudes::values
    std::vector<int32_t> group;     // rows x columns: where a kept peak lies (in any channel), the
                                    // peak's group, from 1; 0 elsewhere
    std::vector<int32_t> ridge;     // rows x columns: where a peak's ridge runs on (Peak::ridge), its group
    std::vector<int32_t> faint;     // y * columns + x of local maxima below the threshold but above
                                    // faint_level, off the axes and the peaks, strongest first: for a
                                    // test to tell a weak wave (the same across the frame) from the picture
};

// `shown`: the share of a wave's strength its peak shows (less than 1 where the range's ends cut
// the waves off): a screen's lattice is looked for again among peaks as strong as that share of
// a screen's (Detection::cut_screen).
Detection detect_peaks(const LogMagnitudes& magnitudes, const DetectOptions& options = {},
                       const Thresholds& thresholds = {}, double shown = 1);

// The background alone (Detection::background), for a spectrum searched otherwise.
std::vector<float> spectrum_background(const LogMagnitudes& magnitudes, const DetectOptions& options = {},
                                       const Thresholds& thresholds = {});

// Frequency of sample (y, x) in cycles per pixel along the columns and the rows.
struct Frequency {
    double u = 0, v = 0;
};
Frequency frequency_of(const host::SpectrumGeometry& g, double y, double x);

// How many samples apart two frequencies lie in the spectrum.
double distance_in_samples(const host::SpectrumGeometry& g, const Frequency& a, const Frequency& b);

// How many samples apart two waves lie: frequency b and -b are one wave (a real picture's spectrum
// holds it at both).
double wave_distance(const host::SpectrumGeometry& g, const Frequency& a, const Frequency& b);

// Degrees between the directions of two waves (Peak::angle, 0 to 180), 0 to 90: a wave's normal
// and its opposite are one direction.
double directions_apart(double a, double b);

// One sample of the spectrum, in frequency (along its shorter side).
double sample_step(const host::SpectrumGeometry& g);

// The frequency held in [-1/2, 1/2) each way: where a sampled wave of f shows (its alias).
Frequency wrapped(Frequency f);

// The sample (row y, column x) nearest frequency f, held as its alias (a half spectrum holds the
// mirror of the other half); false outside the spectrum.
bool sample_index(const host::SpectrumGeometry& g, Frequency f, int32_t& y, int32_t& x);

// The row of the other sample holding the wave of sample (y, x), where that is a sample of its own
// in the same column: a real picture's spectrum holds each frequency f and its mirror -f, and a
// half spectrum keeps only one of the two but on the column of zero horizontal frequency (and the
// highest one, for an even width), where both lie, at rows y and 2 centre_y - y. The inverse keeps
// only what the two hold alike: a sample lowered without its mirror leaves half of its wave.
// False elsewhere, and for a sample that is its own mirror.
bool mirror_row(const host::SpectrumGeometry& g, int32_t y, int32_t x, int32_t& my);

// Whether sample (y, x) lies on an axis or the sample either side of it (within kAxisReach
// samples), where the borders' lines spread too.
inline constexpr double kAxisReach = 1.5;
bool near_axis(const host::SpectrumGeometry& g, int32_t y, int32_t x);
// Whether every sample of row y lies so (near the horizontal axis), and every sample of column x.
bool near_axis_row(const host::SpectrumGeometry& g, int32_t y);
bool near_axis_column(const host::SpectrumGeometry& g, int32_t x);

// The excess energy of magnitude sample i (LogMagnitudes::values' index) over its background.
double excess_energy(const LogMagnitudes& m, const std::vector<float>& background, std::size_t i);

// How many samples peak p lies off the nearer of the spectrum's two axes.
double samples_off_axes(const host::SpectrumGeometry& g, const Peak& p);

// Whether two frequencies lie at right angles and are as long as each other, within the
// tolerance of a lattice point: the two frequencies a square lattice of dots (a screen) is made of.
bool square_pair(const host::SpectrumGeometry& g, const Frequency& a, const Frequency& b, const Thresholds& t);

// Whether a peak as strong as the pair (`weaker`, the weaker one's amplitude) lies between the
// pair's lattice points, at a point of a lattice up to coarser_lattice times coarser that holds
// the pair's (half of either, of their sum or of their difference; a third, a quarter or a fifth
// of the way): what repeats is coarser than the pair, cells rather than a screen's dots (a
// terminal's rows of text, whose characters' advance is about half the rows' height, and their
// letters' strokes, make such a pair; so do a page whose spaces fall on a slant, a hatched fill,
// and the harmonics of circles or tiles laid out in rows and columns).
bool coarser_than_pair(const host::SpectrumGeometry& g, const std::vector<Peak>& peaks, const Frequency& a,
                       const Frequency& b, double weaker, const Thresholds& t);

// The median of the values (reordered); 0 for none.
float median(std::vector<float>& v);

// A straight line y = at + slope x fitted to points by least squares (a power law to the log
// magnitudes of rings about the zero frequency).
struct LineFit {
    double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
    void add(double x, double y) { sx += x, sy += y, sxx += x * x, sxy += x * y, ++n; }
    double slope() const { return (n * sxy - sx * sy) / (n * sxx - sx * sx); }
    double at() const { return (sy - slope() * sx) / n; }
};

}  // namespace quen::cleaning
