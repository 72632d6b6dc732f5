// The quen executable as a user runs it: commands and help, round trips through files against the
// same filters in memory, batch mode, every kind of bad input, and the demo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <regex>

#include "cli_support.h"
#include "edit.h"
#include "half_width.h"
#include "image_io.h"
#include "support.h"
#include "synthetic.h"

namespace quen {
namespace {

namespace fs = std::filesystem;

using host::Image;
using test::QuenRun;
using test::ScratchDir;
using tool::read_image;
using tool::write_image;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Image in_memory(const std::string& name, const Image& in) { return host::run_filter(test::loaded_module(name), in).image; }

class Cli : public ::testing::Test {
protected:
    QuenRun quen(const std::vector<std::string>& args) { return test::run_quen(args, dir.path()); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    ScratchDir dir;
};

TEST_F(Cli, EveryCommandHasHelp) {
    const std::vector<std::vector<std::string>> asks = {{"--help"}, {"-h"}, {"help"}, {"apply", "--help"},
                                                        {"edit", "-h"}, {"demo", "--help"}, {"list", "--help"},
                                                        {"help", "edit"}};
    for (const auto& args : asks) {
        const QuenRun r = quen(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_TRUE(contains(r.out, "usage: quen")) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(contains(quen({"apply", "--help"}).out, "--out-dir"));
    EXPECT_TRUE(contains(quen({"edit", "--help"}).out, "--notch X,Y,R"));
}

TEST_F(Cli, AWrongCommandLineExitsWithTwoAndSaysWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "usage: quen"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"apply", "QuenFwd", "a.png"}, "either -o OUTPUT or --out-dir DIR"},
        {{"apply", "QuenFwd", "a.png", "b.png", "-o", "c.png"}, "several inputs need --out-dir"},
        {{"apply", "QuenFwd", "a.png", "-o"}, "-o needs a value"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.png", "--bogus"}, "unknown option --bogus"},
        {{"edit", "s.png", "-o", "t.png"}, "at least one of --notch"},
        {{"edit", "s.png", "-o", "t.png", "--notch", "1,2"}, "--notch '1,2': expected 3 numbers"},
        {{"edit", "s.png", "-o", "t.png", "--lowpass", "-3"}, "a radius cannot be negative"},
        {{"edit", "s.png", "-o", "t.png", "--band", "5,2"}, "outer radius must not be smaller"},
        {{"edit", "s.png", "-o", "t.png", "--lowpass", "3", "--layout", "quarter"}, "expected full or half"},
        {{"demo", "--depth", "12"}, "expected 8, 16 or 32"},
        // Found wrong before any input is read (a.png does not exist).
        {{"apply", "QuenFwx", "a.png", "-o", "x.png"}, "unknown filter 'QuenFwx'"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.bmp"}, "unknown output format '.bmp'"},
        {{"apply", "QuenFwd", "a.png", "-o", "/"}, "-o / is a folder"},
        {{"apply", "QuenFwd", "a.png", "--out-dir", ""}, "--out-dir needs a folder name"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.png", "--out-dir", "d"}, "-o and --out-dir cannot be given together"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.jpg"}, "x.jpg: quen reads JPEG but does not write it: JPEG is lossy"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.png", "--depth", "32"}, "x.png: PNG cannot hold 32-bit float"},
        {{"apply", "QuenFwd", "a.png", "-o", "x.png", "--page", "0"}, "--page '0': expected a whole number from 1"},
        {{"apply", "QuenFwd", "a.png", "--out-dir", "d", "-j", "1.5"}, "-j '1.5': expected a whole number from 1"},
    };
    for (const auto& [args, message] : cases) {
        const QuenRun r = quen(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_TRUE(contains(r.err, message)) << r.err;
        if (!args.empty()) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

TEST_F(Cli, ListShowsEachModuleWithItsFileAndWhatItDoes) {
    const QuenRun r = quen({"list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "QuenFwd "));
    EXPECT_TRUE(contains(r.out, test::module_path("QuenFwd")));
    EXPECT_TRUE(contains(r.out, "log magnitude in red"));

    fs::create_directories(dir / "mods");
    fs::copy_file(test::module_path("QuenFwd"), dir / "mods" / ("QuenNew" + host::module_suffix()));
    const QuenRun other = quen({"list", "--modules", at("mods")});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_TRUE(contains(other.out, "QuenNew    filter module")) << other.out;
    EXPECT_FALSE(contains(other.out, "QuenFwd "));

    fs::create_directories(dir / "none");
    const QuenRun none = quen({"list", "--modules", at("none")});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "no filter modules found in " + at("none"))) << none.err;
}

// A scene with stripes and a varying alpha, at the depth of S.
template <class S>
Image scene(int32_t planes) {
    return host::synthetic_scene(36, 50, test::depth_of<S>(), planes, host::StripePattern{0.05, 5, 0});
}

template <class S>
std::string ext() {
    return sizeof(S) == 4 ? ".tif" : ".png";
}

template <class S>
class CliRoundTrip : public Cli {};
TYPED_TEST_SUITE(CliRoundTrip, test::Depths);

// Forward filter, file, inverse filter, file: the same samples as the two filters in memory, for
// the full and the half spectrum pairs, and the alpha plane comes back unchanged.
TYPED_TEST(CliRoundTrip, ForwardSaveLoadInverseMatchesTheChainInMemory) {
    using S = TypeParam;
    const std::string e = ext<S>();
    const Image picture = scene<S>(4);
    write_image(this->dir / ("picture" + e), picture);
    ASSERT_TRUE(read_image(this->dir / ("picture" + e)).data == picture.data);
    int pairs = 0;
    for (const auto& [fwd, inv] : {std::pair<std::string, std::string>{"QuenFwd", "QuenInv"}, {"QuenFwdR", "QuenInvR"}}) {
        if (!test::module_exists(fwd) || !test::module_exists(inv)) {
            std::cout << "(" << fwd << " or " << inv << " not built: that pair is not tested)\n";
            continue;
        }
        SCOPED_TRACE(fwd);
        ++pairs;
        const std::string spectrum = this->at(fwd + e), back = this->at(inv + e);
        QuenRun r = this->quen({"apply", fwd, this->at("picture" + e), "-o", spectrum});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "50 x 36")) << r.out;
        r = this->quen({"apply", inv, spectrum, "-o", back});
        ASSERT_EQ(r.status, 0) << r.err;

        const Image spectrum_memory = in_memory(fwd, picture);
        const Image back_memory = in_memory(inv, spectrum_memory);
        EXPECT_TRUE(read_image(spectrum).data == spectrum_memory.data);
        const Image back_file = read_image(back);
        EXPECT_TRUE(back_file.data == back_memory.data);
        for (int32_t y = 0; y < picture.rows; ++y)
            for (int32_t x = 0; x < picture.cols; ++x)
                ASSERT_EQ(back_file.get<S>(y, x, 3), picture.get<S>(y, x, 3)) << "alpha at " << y << ", " << x;

        // The two filters as one chain give the same file; the half-spectrum pair transforms every
        // column of a picture widened by two and cropped back.
        r = this->quen({"apply", fwd + "," + inv, this->at("picture" + e), "-o", this->at("chain" + e)});
        ASSERT_EQ(r.status, 0) << r.err;
        const bool half = fwd == "QuenFwdR";
        const Image chain_memory =
            half ? host::crop_after_half_spectrum(in_memory(inv, in_memory(fwd, host::widen_for_half_spectrum(picture))))
                 : back_memory;
        EXPECT_TRUE(read_image(this->at("chain" + e)).data == chain_memory.data);
    }
    if (pairs == 0) GTEST_SKIP() << "no inverse filter is built yet";
    // The volume filter has no inverse: its spectrum file alone.
    if (test::module_exists("QuenFwd3")) {
        const QuenRun r = this->quen({"apply", "QuenFwd3", this->at("picture" + e), "-o", this->at("volume" + e)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_image(this->at("volume" + e)).data == in_memory("QuenFwd3", picture).data);
    }
}

TYPED_TEST(CliRoundTrip, EditWritesTheEditedSpectrumAtItsDepth) {
    using S = TypeParam;
    const std::string e = ext<S>();
    const Image spectrum = in_memory("QuenFwd", scene<S>(3));
    write_image(this->dir / ("spectrum" + e), spectrum);
    const QuenRun r = this->quen({"edit", this->at("spectrum" + e), "--notch", "35,18,2", "--highpass=1",
                                  "--notch", "10,5,1", "-o", this->at("notched" + e)});
    ASSERT_EQ(r.status, 0) << r.err;
    Image expected = spectrum;
    const int64_t removed = tool::apply_edits(expected, tool::Layout::Full,
                                              {{tool::Edit::Kind::Notch, 35, 18, 2}, {tool::Edit::Kind::Highpass, 0, 0, 1},
                                               {tool::Edit::Kind::Notch, 10, 5, 1}});
    EXPECT_TRUE(contains(r.out, "removed " + std::to_string(removed) + " frequencies")) << r.out;
    EXPECT_TRUE(read_image(this->at("notched" + e)).data == expected.data);
}

// The further planes never enter a filter and come back as the file had them, every value of the
// depth included (a 16-bit alpha used to move by one in half of its values); PNG holds one, TIFF
// two here.
TYPED_TEST(CliRoundTrip, AlphaAndFurtherPlanesComeBackExactly) {
    using S = TypeParam;
    const std::string e = ext<S>();
    const int32_t extra = e == ".png" ? 1 : 2;
    tool::Picture picture;
    picture.image = scene<S>(3);
    picture.extra = Image::make(picture.image.rows, picture.image.cols, extra, test::depth_of<S>());
    const double top = sizeof(S) == 2 ? 65535 : test::full_of<S>();
    const std::size_t count = picture.extra.data.size() / sizeof(S);
    for (std::size_t i = 0; i < count; ++i) {
        const S v = static_cast<S>(sizeof(S) == 4 ? double(i) / double(count) : double(i * 40503 % std::size_t(top + 1)));
        std::memcpy(picture.extra.data.data() + i * sizeof(S), &v, sizeof v);
    }
    tool::write_picture(this->dir / ("in" + e), picture);
    const QuenRun r = this->quen({"apply", "QuenFwd,QuenInv", this->at("in" + e), "-o", this->at("out" + e)});
    ASSERT_EQ(r.status, 0) << r.err;
    const tool::Picture back = tool::read_picture(this->dir / ("out" + e));
    EXPECT_EQ(back.extra.planes, extra);
    EXPECT_TRUE(back.extra.data == picture.extra.data);
}

// A spectrum file says what made it: the inverse of the other layout, an edit with the other
// layout, and an inverse of a resized spectrum each warn (and still run).
TYPED_TEST(CliRoundTrip, ASpectrumOfTheOtherLayoutOrResizedIsWarnedAbout) {
    using S = TypeParam;
    const std::string e = ext<S>();
    write_image(this->dir / ("picture" + e), scene<S>(3));
    const std::string half = this->at("half" + e), full = this->at("full" + e);
    ASSERT_EQ(this->quen({"apply", "QuenFwdR", this->at("picture" + e), "-o", half}).status, 0);
    ASSERT_EQ(this->quen({"apply", "QuenFwd", this->at("picture" + e), "-o", full}).status, 0);
    EXPECT_EQ(this->quen({"apply", "QuenInvR", half, "-o", this->at("back" + e)}).err, "");
    QuenRun r = this->quen({"apply", "QuenInv", half, "-o", this->at("wrong" + e)});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "warning: " + half + ": QuenInv: a half spectrum (made by QuenFwdR) used as a full")) << r.err;
    r = this->quen({"edit", half, "--lowpass", "9", "-o", this->at("edited" + e)});
    EXPECT_TRUE(contains(r.err, "warning: " + half + ": a half spectrum (made by QuenFwdR)")) << r.err;
    EXPECT_EQ(this->quen({"edit", half, "--layout", "half", "--lowpass", "9", "-o", this->at("edited" + e)}).err, "");

    tool::Picture cropped = tool::read_picture(full);
    cropped.image = host::crop_after_half_spectrum(cropped.image);  // two columns fewer
    tool::write_picture(this->dir / ("cropped" + e), cropped);
    r = this->quen({"apply", "QuenInv", this->at("cropped" + e), "-o", this->at("wrong" + e)});
    EXPECT_TRUE(contains(r.err, "made from a 50 x 36 picture but is 48 x 36 now")) << r.err;
}

// --depth runs the filters at that depth and writes it: the chain's file is the chain in memory on
// the input widened (or narrowed) to that depth.
// A grey picture with nothing to clean comes back as its file held it: copied byte for byte in its
// own format, and in another one with every sample (16-bit values the host's range cannot all
// hold included) and still grey.
TYPED_TEST(CliRoundTrip, NothingToCleanComesBackSampleForSampleAndGrey) {
    using S = TypeParam;
    const int bits = test::depth_of<S>();
    std::vector<S> grey(48 * 40);
    std::mt19937 gen(7);
    for (S& v : grey) {
        if constexpr (std::is_same_v<S, float>) v = std::uniform_real_distribution<float>(0, 1)(gen);
        else v = static_cast<S>(gen());
    }
    test::TiffSpec spec{48, 40, 1, static_cast<uint16_t>(bits), bits == 32 ? uint16_t(SAMPLEFORMAT_IEEEFP) : uint16_t(SAMPLEFORMAT_UINT),
                        PHOTOMETRIC_MINISBLACK};
    test::write_raw_tiff(this->dir / "grey.tif", spec, grey);
    const tool::Picture input = tool::read_picture(this->dir / "grey.tif");
    QuenRun r = this->quen({"clean", this->at("grey.tif"), "-o", this->at("same.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "0 peaks removed")) << r.out;
    EXPECT_EQ(test::read_bytes(this->dir / "same.tif"), test::read_bytes(this->dir / "grey.tif"));

    const std::string other = this->at(bits == 32 ? "other.tiff" : "other.png");
    r = this->quen({"clean", this->at("grey.tif"), "--format", bits == 32 ? "tiff" : "png", "-o", other});
    ASSERT_EQ(r.status, 0) << r.err;
    const tool::Picture back = tool::read_picture(other);
    EXPECT_TRUE(back.grey);
    EXPECT_TRUE(back.image.data == input.image.data && back.source.data == input.source.data);
    EXPECT_EQ(contains(r.err, "grey.tif: a TIFF file, written as PNG"), bits != 32) << r.err;
}

TYPED_TEST(CliRoundTrip, DepthOptionRunsTheFiltersAtThatDepth) {
    using S = TypeParam;
    write_image(this->dir / "picture8.png", scene<uint8_t>(3));
    const std::string depth = std::to_string(test::depth_of<S>());
    const std::string out = this->at("out" + ext<S>());
    const QuenRun r = this->quen({"apply", "QuenFwd", this->at("picture8.png"), "--depth", depth, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const tool::Picture wide = tool::at_depth(tool::read_picture(this->dir / "picture8.png"), test::depth_of<S>());
    EXPECT_TRUE(read_image(out).data == in_memory("QuenFwd", wide.image).data);
}

// No spelling of an input (the same name, a batch into its own folder, a hard link) and no
// read-only file is replaced without --force; with it, the result replaces them whole.
TEST_F(Cli, NeverReplacesAnInputOrAReadOnlyFileWithoutForce) {
    const Image picture = scene<uint16_t>(3);
    write_image(dir / "a.png", picture);
    write_image(dir / "b.png", picture);
    const std::string original = test::read_bytes(dir / "a.png");
    fs::create_directories(dir / "linked");
    fs::create_hard_link(dir / "a.png", dir / "linked" / "a.png");
    const std::vector<std::vector<std::string>> replacing = {
        {"apply", "QuenFwd", at("a.png"), "-o", at("a.png")},
        {"apply", "QuenFwd", at("a.png"), "--out-dir", dir.path().string()},
        {"apply", "QuenFwd", at("a.png"), "--out-dir", at("linked")},
        {"edit", at("a.png"), "--lowpass", "3", "-o", at("a.png")},
    };
    for (const auto& args : replacing) {
        const QuenRun r = quen(args);
        EXPECT_EQ(r.status, 2) << args[2];
        EXPECT_TRUE(contains(r.err, at("a.png") + ": its result would replace it")) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(test::read_bytes(dir / "a.png"), original);
    EXPECT_EQ(test::read_bytes(dir / "b.png"), original);

    write_image(dir / "kept.png", picture);
    fs::permissions(dir / "kept.png", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    QuenRun r = quen({"apply", "QuenFwd", at("b.png"), "-o", at("kept.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("kept.png") + ": is read-only")) << r.err;
    EXPECT_EQ(test::read_bytes(dir / "kept.png"), original);

    for (const auto& [input, target] : {std::pair{"b.png", "kept.png"}, std::pair{"a.png", "a.png"}}) {
        r = quen({"apply", "QuenFwd", at(input), "-o", at(target), "--force"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_image(dir / target).data == in_memory("QuenFwd", picture).data) << target;
    }
}

TEST_F(Cli, BatchGoesOnPastAFailedFileAndSaysSo) {
    write_image(dir / "one.png", scene<uint8_t>(3));
    write_image(dir / "three.tif", scene<float>(4));
    test::write_raw_jpeg(dir / "four.jpg", 50, 36, 3, std::vector<uint8_t>(50 * 36 * 3, 90));
    test::write_bytes(dir / "two.png", "not a picture");
    const QuenRun r =
        quen({"apply", "QuenFwd", at("one.png"), at("two.png"), at("three.tif"), at("four.jpg"), "--out-dir", at("out"), "-j", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("two.png") + ": not an image")) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("one.png -> .*out/one.png: 50 x 36, 8-bit RGB, QuenFwd, [0-9.]+ s")))
        << r.out;
    EXPECT_TRUE(contains(r.out, "out/three.tif: 50 x 36, 32-bit float RGBA")) << r.out;
    EXPECT_TRUE(contains(r.out, "4 files: 3 written, 1 failed")) << r.out;
    EXPECT_TRUE(contains(r.out, "four.jpg -> " + at("out/four.png") + ": 50 x 36, 8-bit RGB")) << r.out;
    EXPECT_TRUE(contains(r.err, at("four.jpg") + ": a JPEG file, written as PNG")) << r.err;
    EXPECT_LT(r.out.find("one.png ->"), r.out.find("three.tif ->")) << "lines in input order";
    EXPECT_TRUE(read_image(dir / "out" / "one.png").data == in_memory("QuenFwd", scene<uint8_t>(3)).data);
    EXPECT_TRUE(fs::exists(dir / "out" / "three.tif"));
    EXPECT_FALSE(fs::exists(dir / "out" / "two.png"));

}

// A batch keeps its inputs' folders below the one they share, does a file given twice (under any
// spelling) once, refuses two inputs with one result before any work, and with --skip-existing
// leaves the results already there alone.
TEST_F(Cli, BatchKeepsFoldersDoesEachFileOnceAndResumes) {
    for (const char* folder : {"a", "b"}) {
        fs::create_directories(dir / "in" / folder);
        write_image(dir / "in" / folder / "x.png", scene<uint8_t>(3));
    }
    const std::vector<std::string> batch = {"apply", "QuenFwd", at("in/a/x.png"), at("in/b/x.png"), at("in/b/../a/x.png"),
                                            "--out-dir", at("out")};
    QuenRun r = quen(batch);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "in/b/../a/x.png: given again: done once")) << r.err;
    EXPECT_TRUE(contains(r.out, "3 files: 2 written, 1 skipped, 0 failed")) << r.out;
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
        if (e.is_regular_file()) written.push_back(fs::relative(e.path(), dir / "out").string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"a/x.png", "b/x.png"}));

    // An interrupted batch: one result there, one missing.
    test::write_bytes(dir / "out" / "a" / "x.png", "left alone");
    fs::remove(dir / "out" / "b" / "x.png");
    std::vector<std::string> resume = batch;
    resume.push_back("--skip-existing");
    r = quen(resume);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, at("in/a/x.png") + " -> " + at("out/a/x.png") + ": skipped, the output is already there")) << r.out;
    EXPECT_EQ(test::read_bytes(dir / "out" / "a" / "x.png"), "left alone");
    EXPECT_TRUE(read_image(dir / "out" / "b" / "x.png").data == in_memory("QuenFwd", scene<uint8_t>(3)).data);

    test::write_raw_jpeg(dir / "in" / "a" / "x.jpg", 50, 36, 3, std::vector<uint8_t>(50 * 36 * 3, 90));
    r = quen({"clean", at("in/a/x.png"), at("in/a/x.jpg"), "--out-dir", at("out2")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, at("in/a/x.png") + " and " + at("in/a/x.jpg") + " would both be written to " + at("out2/x.png")))
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out2"));
}

// One bad input: the command, the file it names, the problem it reports.
struct BadInput {
    std::string what;
    std::vector<std::string> args;  // "IN" and "OUT" stand for the input and output paths
    std::string in;                 // the input file's name in the scratch folder
    std::string problem;
};

class CliBadInput : public Cli {
protected:
    void make_inputs() {
        write_image(dir / "good.png", scene<uint8_t>(3));
        write_image(dir / "good.tif", scene<float>(3));
        const std::string png = test::read_bytes(dir / "good.png");
        const std::string tif = test::read_bytes(dir / "good.tif");
        test::write_bytes(dir / "truncated.png", png.substr(0, png.size() / 2));
        std::string corrupt = png;
        corrupt[png.size() / 2] = static_cast<char>(corrupt[png.size() / 2] ^ 0x55);  // inside the pixel data
        test::write_bytes(dir / "corrupt.png", corrupt);
        test::write_bytes(dir / "truncated.tif", tif.substr(0, tif.size() / 3));
        test::write_bytes(dir / "text.png", "hello, I am not a picture\n");
        test::write_bytes(dir / "empty.tif", "");
        fs::create_directories(dir / "folder.png");

        test::TiffSpec cmyk;
        cmyk.samples = 4;
        cmyk.photometric = PHOTOMETRIC_SEPARATED;
        test::write_raw_tiff(dir / "cmyk.tif", cmyk, std::vector<uint8_t>(4, 9));
        test::TiffSpec lab;
        lab.photometric = PHOTOMETRIC_CIELAB;
        test::write_raw_tiff(dir / "lab.tif", lab, std::vector<uint8_t>(3, 9));
        test::TiffSpec palette;
        palette.samples = 1;
        palette.photometric = PHOTOMETRIC_PALETTE;
        test::write_raw_tiff(dir / "palette.tif", palette, std::vector<uint8_t>(1, 9));
        test::TiffSpec wide;
        wide.width = 32768;
        wide.samples = 1;
        wide.photometric = PHOTOMETRIC_MINISBLACK;
        wide.compression = COMPRESSION_ADOBE_DEFLATE;
        test::write_raw_tiff(dir / "wide.tif", wide, std::vector<uint8_t>(32768, 7));
        test::PngSpec tall{1, 32768, PNG_COLOR_TYPE_GRAY, 1};
        test::write_raw_png(dir / "tall.png", tall, std::vector<std::vector<png_byte>>(32768, std::vector<png_byte>(1)));

        fs::create_directories(dir / "broken");
        test::write_bytes(dir / "broken" / ("QuenFwd" + host::module_suffix()), "not a library");
    }
};

TEST_F(CliBadInput, EachGetsOneLineNamingTheFileAndNoOutputIsHarmed) {
    make_inputs();
    const std::vector<BadInput> cases = {
        {"missing file", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "missing.png", "no such file"},
        {"a folder", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "folder.png", "is a folder"},
        {"not an image", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "text.png", "not an image"},
        {"empty file", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "empty.tif", "not an image: the file is empty"},
        {"truncated PNG", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "truncated.png", "truncated or corrupt PNG"},
        {"corrupt PNG", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "corrupt.png", "truncated or corrupt PNG"},
        {"truncated TIFF", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "truncated.tif", "truncated or corrupt TIFF"},
        {"CMYK TIFF", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "cmyk.tif", "unsupported TIFF layout: CMYK"},
        {"Lab TIFF", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "lab.tif", "unsupported TIFF layout: Lab"},
        {"palette TIFF", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "palette.tif", "unsupported TIFF layout: palette"},
        {"too wide", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "wide.tif", "32768 x 1 pixels is too large"},
        {"too tall", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "tall.png", "1 x 32768 pixels is too large"},
        {"float to PNG", {"apply", "QuenFwd", "IN", "-o", "OUT"}, "good.tif", "PNG cannot hold 32-bit float"},
        {"module fails to load", {"apply", "QuenFwd", "IN", "-o", "OUT", "--modules", "BROKEN"}, "good.png",
         "QuenFwd" + host::module_suffix() + ": cannot load module"},
        {"edit: notch outside", {"edit", "IN", "--notch", "50,3,2", "-o", "OUT"}, "good.png", "notch centre 50,3 is outside"},
        {"edit: truncated", {"edit", "IN", "--lowpass", "5", "-o", "OUT"}, "truncated.png", "truncated or corrupt PNG"},
    };
    // /proc/self/mem opens but cannot be read from its start, even by root.
    const bool proc = fs::exists("/proc/self/mem");
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool existing : {false, true}) {
            const fs::path out = dir / "out" / "result.png";
            fs::remove_all(dir / "out");
            fs::create_directories(dir / "out");
            if (existing) test::write_bytes(out, "an older result");
            std::vector<std::string> args;
            for (const std::string& a : c.args)
                args.push_back(a == "IN" ? at(c.in) : a == "OUT" ? out.string() : a == "BROKEN" ? at("broken") : a);
            const QuenRun r = quen(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_TRUE(contains(r.err, c.problem)) << r.err;
            const bool names_file = c.what == "module fails to load" || contains(r.err, at(c.in) + ": ") ||
                                    contains(r.err, out.string() + ": ");
            EXPECT_TRUE(names_file) << r.err;
            EXPECT_EQ(r.out, "");
            std::vector<std::string> left;
            for (const auto& entry : fs::directory_iterator(dir / "out")) left.push_back(entry.path().filename().string());
            EXPECT_EQ(left, existing ? std::vector<std::string>{"result.png"} : std::vector<std::string>{});
            if (existing) {
                EXPECT_EQ(test::read_bytes(out), "an older result");
            }
        }
    }
    if (proc) {
        const QuenRun r = quen({"apply", "QuenFwd", "/proc/self/mem", "-o", at("out.png")});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "/proc/self/mem: cannot read:")) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.png"));
    }
}

// A place the result cannot go is reported before any input is read (the input here is missing),
// with the reason the system gave.
TEST_F(Cli, AnOutputFolderThatDoesNotExistOrCannotBeMade) {
    test::write_bytes(dir / "file", "a file");
    QuenRun r = quen({"apply", "QuenFwd", at("missing.png"), "-o", at("nowhere/out.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("nowhere/out.png") + ": cannot write: folder " + at("nowhere") + " does not exist"))
        << r.err;
    r = quen({"apply", "QuenFwd", at("missing.png"), "--out-dir", at("file/sub")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("file/sub") + ": cannot create the output folder: Not a directory")) << r.err;
    // A folder that takes no new file (even for root) fails before the batch reads its first input.
    r = quen({"apply", "QuenFwd", at("missing.png"), "--out-dir", "/proc/sys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "/proc/sys/missing.png: cannot write in /proc/sys")) << r.err;
    EXPECT_FALSE(contains(r.err, "no such file")) << r.err;
    EXPECT_EQ(dir.files(), std::vector<std::string>{"file"});
}

// One NaN would blacken the whole result: float pictures with non-finite samples are refused with
// their count and the first one's place, unless --keep-nonfinite.
TEST_F(Cli, NonFiniteSamplesAreRefusedUnlessKept) {
    Image picture = scene<float>(3);
    picture.set<float>(2, 5, 1, std::numeric_limits<float>::quiet_NaN());
    picture.set<float>(30, 1, 0, std::numeric_limits<float>::infinity());
    write_image(dir / "nan.tif", picture);
    QuenRun r = quen({"apply", "QuenFwd", at("nan.tif"), "-o", at("out.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("nan.tif") + ": 2 colour samples are NaN or infinite, the first at column 5, row 2 (green)"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.tif"));
    r = quen({"apply", "QuenFwd", at("nan.tif"), "-o", at("out.tif"), "--keep-nonfinite"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// A multi-page TIFF is read only when a page is chosen, and then that page.
TEST_F(Cli, AMultiPageTiffNeedsAPage) {
    test::TiffSpec spec;
    spec.width = 50;
    spec.height = 36;
    std::vector<uint8_t> first(50 * 36 * 3, 40), second(50 * 36 * 3);
    for (std::size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i * 7);
    test::write_raw_tiff(dir / "pages.tif", spec, first);
    spec.append = true;
    test::write_raw_tiff(dir / "pages.tif", spec, second);
    QuenRun r = quen({"apply", "QuenFwd", at("pages.tif"), "-o", at("out.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, at("pages.tif") + ": has 2 pages; choose one with --page N")) << r.err;
    r = quen({"apply", "QuenFwd", at("pages.tif"), "-o", at("out.tif"), "--page", "3"});
    EXPECT_TRUE(contains(r.err, "has no page 3")) << r.err;
    r = quen({"apply", "QuenFwd", at("pages.tif"), "-o", at("out.tif"), "--page", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    Image page2 = Image::make(36, 50, 3, 8);
    std::memcpy(page2.data.data(), second.data(), second.size());
    EXPECT_TRUE(read_image(dir / "out.tif").data == in_memory("QuenFwd", page2).data);
}

// The stripes' energy in a demo picture: the waves of 384 / 8 cycles across and 384 / 12 down.
double stripe_db(const Image& im) {
    return 10 * std::log10(test::wave_power(im, 384, 48, 0) + test::wave_power(im, 384, 0, 32));
}

TEST_F(Cli, DemoWritesItsPicturesAndRemovesTheStripes) {
    const struct { std::string layout, fwd, inv, depth, ext; } demos[] = {
        {"full", "QuenFwd", "QuenInv", "8", ".png"},
        {"half", "QuenFwdR", "QuenInvR", "16", ".png"},
        {"full", "QuenFwd", "QuenInv", "32", ".tif"},
    };
    int ran = 0;
    for (const auto& d : demos) {
        if (!test::module_exists(d.fwd) || !test::module_exists(d.inv)) continue;
        SCOPED_TRACE(d.layout + " " + d.depth);
        const fs::path out = dir / (d.layout + d.depth);
        const QuenRun r = quen({"demo", out.string(), "--layout", d.layout, "--depth", d.depth});
        ASSERT_EQ(r.status, 0) << r.err;
        ++ran;
        for (const char* name : {"picture", "spectrum", "notched", "cleaned"}) {
            const fs::path file = out / (name + d.ext);
            EXPECT_TRUE(contains(r.out, file.string())) << r.out;
            EXPECT_EQ(read_image(file).depth, std::stoi(d.depth));
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("stripe energy: (-?[0-9.]+) dB before, (-?[0-9.]+) dB after")))
            << r.out;
        const double before = stripe_db(read_image(out / ("picture" + d.ext)));
        const double after = stripe_db(read_image(out / ("cleaned" + d.ext)));
        EXPECT_NEAR(std::stod(m[1]), before, 0.1);
        EXPECT_NEAR(std::stod(m[2]), after, 0.1);
        EXPECT_NEAR(before, 10 * std::log10(0.0064), 0.3);  // two stripes of amplitude 0.08
        EXPECT_GE(before - after, 20.0);
        EXPECT_TRUE(contains(r.out, "quen edit " + (out / ("spectrum" + d.ext)).string())) << r.out;
        // quen clean takes the same stripes out on its own: one wave each way, not a grid drawn.
        const fs::path cleaned = out / ("by-clean" + d.ext);
        const QuenRun c = quen({"clean", (out / ("picture" + d.ext)).string(), "-o", cleaned.string()});
        ASSERT_EQ(c.status, 0) << c.err;
        EXPECT_GE(before - stripe_db(read_image(cleaned)), 20.0);
    }
    if (ran == 0) GTEST_SKIP() << "QuenInv is not built yet";
}

// --explain tells each candidate's fate and the rule that decided it, at the place quen peaks
// gives; --report json says the same for scripts, one object a line; --report alone keeps its lines.
TEST_F(Cli, CleanExplainsEveryCandidateAndReportsJson) {
    if (!test::module_exists("QuenFwdR") || !test::module_exists("QuenInvR")) GTEST_SKIP() << "QuenInvR is not built yet";
    Image picture = host::synthetic_scene(120, 150, 8);  // crossed by one oblique wave
    for (int32_t y = 0; y < picture.rows; ++y)
        for (int32_t x = 0; x < picture.cols; ++x)
            for (int32_t c = 0; c < 3; ++c)
                picture.set_value(y, x, c, picture.value(y, x, c) + 15 * std::sin(2 * std::numbers::pi * (0.84 * x + 0.54 * y) / 7.3));
    const std::string in = at("wave.png");
    write_image(in, picture);
    const QuenRun told = quen({"clean", in, "-o", at("a.png"), "--explain"});
    ASSERT_EQ(told.status, 0) << told.err;
    // The count of candidates, then the strongest: the wave, fitted and subtracted.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(told.out, m, std::regex("\n  [0-9]+ candidates?: [0-9]+ removed, [0-9]+ kept\n  --notch ([^\n]*)")))
        << told.out;
    EXPECT_TRUE(contains(m[1], "period 7.3")) << m[1];
    EXPECT_TRUE(contains(m[1], ": removed: one wave across the whole frame, fitted and subtracted")) << m[1];
    const QuenRun json = quen({"clean", in, "-o", at("b.png"), "--report", "json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"input\": \"" + in + "\"", 0), 0u) << json.out;
    EXPECT_TRUE(contains(json.out, "\"verdict\": \"subtract-tone\", \"reason\": \"one-wave\"")) << json.out;
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1) << json.out;
    // In a batch too, stdout holds the objects alone: the counts go to stderr.
    const QuenRun batch = quen({"clean", in, "--out-dir", at("batch"), "--report", "json"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(std::count(batch.out.begin(), batch.out.end(), '\n'), 1) << batch.out;
    EXPECT_TRUE(contains(batch.err, "1 file: 1 written")) << batch.err;
    const QuenRun text = quen({"clean", in, "-o", at("c.png"), "--report"});
    EXPECT_TRUE(contains(text.out, "  peak at ")) << text.out;
    const QuenRun wrong = quen({"clean", in, "-o", at("d.png"), "--report=xml"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(contains(wrong.err, "--report xml: expected text or json")) << wrong.err;
}

// The figures the command reference quotes from the demo are the ones it prints: the transcript's
// stripe energy line, and every cell of the table of layouts and depths.
TEST_F(Cli, TheDocsQuoteWhatTheDemoPrints) {
    const std::string readme = test::read_bytes(QUEN_COMMANDS_DOC);
    auto energy_line = [](const std::string& out) {
        const std::size_t at = out.find("stripe energy:");
        return out.substr(at, out.find('\n', at) - at);
    };
    for (const std::string layout : {"full", "half"}) {
        const std::size_t row = readme.find("\n| " + layout + " (`");
        ASSERT_NE(row, std::string::npos) << "no " << layout << " row in the demo table of docs/commands.md";
        std::string cells = readme.substr(row + 1, readme.find('\n', row + 1) - row - 1);
        for (const std::string depth : {"8", "16", "32"}) {
            const QuenRun r = quen({"demo", at(layout + depth), "--layout", layout, "--depth", depth});
            ASSERT_EQ(r.status, 0) << r.err;
            if (layout == "full" && depth == "8") {
                EXPECT_TRUE(contains(readme, "\n    " + energy_line(r.out) + "\n")) << energy_line(r.out);
            }
            std::smatch m;
            ASSERT_TRUE(std::regex_search(r.out, m, std::regex("dB before, -([0-9.]+) dB after")));
            const std::size_t cell = cells.find("| \u2212" + m[1].str() + " dB");
            EXPECT_NE(cell, std::string::npos) << layout << " " << depth << " bits: the demo prints -" << m[1]  << " dB, docs/commands.md: " << cells;
            if (cell != std::string::npos) cells = cells.substr(cell + 1);  // the cells in order of depth
        }
    }
}

// The pictures in docs/figures are the ones scripts/docs-figures.sh makes, all of them, to within
// one level a sample (a different FFTW or processor may round a sample the other way).
TEST_F(Cli, TheDocsFiguresAreWhatTheScriptMakes) {
    const fs::path bin = fs::path(QUEN_TOOL).parent_path(), committed = fs::path(QUEN_SOURCE_DIR) / "docs/figures";
    if (!fs::exists(bin / "bench_clean")) GTEST_SKIP() << "the benchmarks are not built";
    const fs::path made = dir / "figures";
    const QuenRun run = test::run_program("/bin/bash", {QUEN_SOURCE_DIR "/scripts/docs-figures.sh", made.string(), bin.string()}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    std::size_t count = 0;
    for (const fs::directory_entry& f : fs::directory_iterator(committed)) {
        SCOPED_TRACE(f.path().filename().string());
        ASSERT_TRUE(fs::exists(made / f.path().filename())) << "docs/figures holds a picture the script no longer makes";
        ++count;
    }
    for (const fs::directory_entry& f : fs::directory_iterator(made)) {
        SCOPED_TRACE(f.path().filename().string() + ": run bash scripts/docs-figures.sh and commit docs/figures");
        ASSERT_TRUE(fs::exists(committed / f.path().filename())) << "not in docs/figures";
        const Image got = read_image(committed / f.path().filename()), want = read_image(f.path());
        ASSERT_TRUE(got.rows == want.rows && got.cols == want.cols && got.planes == want.planes && got.depth == want.depth);
        double worst = 0;  // in levels of the pictures' depth
        for (int32_t y = 0; y < got.rows; ++y)
            for (int32_t x = 0; x < got.cols; ++x)
                for (int32_t c = 0; c < got.planes; ++c)
                    worst = std::max(worst, std::abs(got.value(y, x, c) - want.value(y, x, c)));
        EXPECT_LE(worst, 1.0);
    }
    EXPECT_GT(count, 0u);
}

}  // namespace
}  // namespace quen
