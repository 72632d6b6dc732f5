// GIMP itself, headless, running the quen-gimp plug-in: every procedure, on layers with and
// without alpha, perceptual and linear, with a selection, leaves exactly the pixels quen gives for
// the same pixels; layers the filters do not take end in an error message, not a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "cli_support.h"
#include "filters.h"
#include "image_io.h"
#include "support.h"
#include "synthetic.h"

namespace quen {
namespace {

namespace fs = std::filesystem;

// Each procedure and the module it must run ("clean": what quen clean does), written out here
// rather than taken from the plug-in.
const std::vector<std::pair<std::string, std::string>> kProcedures = {
    {"plug-in-quen-fwd", "QuenFwd"},    {"plug-in-quen-inv", "QuenInv"}, {"plug-in-quen-fwd-r", "QuenFwdR"},
    {"plug-in-quen-inv-r", "QuenInvR"}, {"plug-in-quen-fwd3", "QuenFwd3"}, {"plug-in-quen-clean", "clean"}};

// Runs one GIMP session on the Script-Fu batches (each in its own interpreter, so a failing one
// does not stop the rest) in a private configuration folder (GIMP2_DIRECTORY) into which
// install.sh put the built plug-in, and returns everything GIMP printed. gimp-console exits 0
// whatever the batches did, so callers judge by the files written and the log.
std::string run_gimp(const fs::path& dir, const std::vector<std::string>& batches) {
    const fs::path config = dir / "config";
    fs::create_directories(config);
    ::setenv("GIMP2_DIRECTORY", config.c_str(), 1);
    const test::QuenRun install = test::run_program(QUEN_TIMEOUT, {"60", "bash", QUEN_GIMP_INSTALL, QUEN_BUILD_DIR}, dir);
    EXPECT_EQ(install.status, 0) << install.err;
    std::vector<std::string> args = {"300", QUEN_GIMP_CONSOLE, "-i", "-d", "-f"};
    for (const std::string& b : batches) args.insert(args.end(), {"-b", b});
    args.insert(args.end(), {"-b", "(gimp-quit 0)"});
    const test::QuenRun run = test::run_program(QUEN_TIMEOUT, args, dir);
    EXPECT_EQ(run.status, 0) << "GIMP did not finish in time\n" << run.err;
    return run.out + run.err;
}

std::string quoted(const fs::path& path) {
    std::string text = path.string();
    text.insert(text.begin(), '"');
    return text + '"';
}

// What quen gives for the module on the file: `quen apply`'s chain in this process, or the quen
// executable's clean command.
host::Image quen_result(const std::string& module, const fs::path& input, const fs::path& scratch) {
    if (module == "clean") {
        const fs::path cleaned = scratch / "quen_clean.tif";
        const test::QuenRun run = test::run_quen({"clean", input.string(), "-o", cleaned.string(), "--force"}, scratch);
        EXPECT_EQ(run.status, 0) << run.err;
        return tool::read_image(cleaned);
    }
    const std::vector<tool::Filter> chain = tool::load_chain({QUEN_MODULE_DIR}, module);
    return tool::run_chain(chain, tool::read_image(input), input.string()).image;
}

// A scene crossed by stripes every 6 columns, for cleaning to find, with random alpha (transparent
// values included, and at 16 bits values all over the file's 0..65535) when it has a fourth plane.
template <class S>
tool::Picture striped_picture(int32_t planes) {
    tool::Picture picture;
    picture.image = host::synthetic_scene(40, 46, test::depth_of<S>(), 3, {0.1, 6, 0});
    if (planes == 4) {
        picture.extra = test::random_image<S>(40, 46, 1, 11);
        for (int32_t y = 0; y < 40 && std::is_same_v<S, uint16_t>; ++y)
            for (int32_t x = 0; x < 46; ++x)
                picture.extra.set<uint16_t>(y, x, 0, static_cast<uint16_t>((y * 46 + x) * 2741 % 65536));
    }
    return picture;
}

template <class S>
class GimpPlugin : public ::testing::Test {};
TYPED_TEST_SUITE(GimpPlugin, test::Depths);

// Two layers per depth: RGB in the perceptual encoding with a rectangle selected, and RGBA in
// the linear encoding. GIMP loads each picture, takes it to that precision and exports the pixels
// it then holds; a copy of the image goes through each procedure and is exported as well.
TYPED_TEST(GimpPlugin, EveryProcedureGivesWhatQuenGivesAndKeepsTheSelection) {
    using S = TypeParam;
    const int bits = test::depth_of<S>();
    const std::string kind = bits == 8 ? "U8" : bits == 16 ? "U16" : "FLOAT";
    const test::ScratchDir dir;
    struct Layer {
        std::string name;
        int planes;
        std::string precision;
        bool select;
    };
    const std::vector<Layer> layers = {{"rgb_perceptual_selected", 3, "PRECISION-" + kind + "-GAMMA", true},
                                       {"rgba_linear", 4, "PRECISION-" + kind + "-LINEAR", false}};
    std::vector<std::string> batches;
    for (const Layer& layer : layers) {
        const fs::path input = dir / (layer.name + ".tif"), held = dir / (layer.name + "_held.tif");
        tool::write_picture(input, striped_picture<S>(layer.planes));
        std::string b = "(let* ((src (car (file-tiff-load 1 " + quoted(input) + " " + quoted(input) + "))))"
                        " (if (not (= (car (gimp-image-get-precision src)) " + layer.precision + "))"
                        " (gimp-image-convert-precision src " + layer.precision + "))"
                        " (file-tiff-save 1 src (car (gimp-image-get-active-drawable src)) " +
                        quoted(held) + " " + quoted(held) + " 0)";
        for (const auto& [procedure, module] : kProcedures) {
            const fs::path out = dir / (layer.name + "_" + module + ".tif");
            b += " (let* ((img (car (gimp-image-duplicate src))) (dr (car (gimp-image-get-active-drawable img))))";
            if (layer.select) b += " (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 3 2 9 7)";
            b += " (let ((bounds (gimp-selection-bounds img)) (channels (car (gimp-image-get-channels img))))"
                 " (" + procedure + " RUN-NONINTERACTIVE img dr" + (module == "clean" ? " 1 48 0 1" : "") + ")"
                 " (if (not (and (equal? bounds (gimp-selection-bounds img))"
                 " (= channels (car (gimp-image-get-channels img)))))"
                 " (gimp-message \"QUEN-FAIL selection not restored by " + procedure + "\")))"
                 " (file-tiff-save 1 img dr " + quoted(out) + " " + quoted(out) + " 0) (gimp-image-delete img))";
        }
        batches.push_back(b + ")");
    }
    const std::string log = run_gimp(dir.path(), batches);
    EXPECT_EQ(log.find("QUEN-FAIL"), std::string::npos) << log;

    for (const Layer& layer : layers)
        for (const auto& [procedure, module] : kProcedures) {
            SCOPED_TRACE(layer.name + " " + procedure);
            const fs::path out = dir / (layer.name + "_" + module + ".tif");
            ASSERT_TRUE(fs::exists(out)) << log;
            const host::Image expected = quen_result(module, dir / (layer.name + "_held.tif"), dir.path());
            const host::Image got = tool::read_image(out);
            ASSERT_EQ(got.depth, bits);
            ASSERT_EQ(got.planes, layer.planes);
            EXPECT_TRUE(got.data == expected.data) << "GIMP's result differs from quen's";
            EXPECT_TRUE(tool::read_picture(out).extra.data ==
                        tool::read_picture(dir / (layer.name + "_held.tif")).extra.data)
                << "alpha not kept as GIMP held it";
            const bool unchanged = expected.data == tool::read_image(dir / (layer.name + "_held.tif")).data;
            EXPECT_FALSE(module == "clean" && unchanged) << "cleaning found nothing to remove: the comparison proves little";
        }
}

// Cleaning with options given, with the last values used (the options above, not the defaults
// the call passes), and on a grey layer: what quen clean gives with the same options, and grey.
TEST(GimpPluginClean, OptionsLastValuesAndGreyLayersGiveWhatQuenGives) {
    const test::ScratchDir dir;
    tool::Picture grey = striped_picture<uint16_t>(4);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 46; ++x)
            for (int32_t p = 1; p < 3; ++p) grey.image.set<uint16_t>(y, x, p, grey.image.get<uint16_t>(y, x, 0));
    grey.grey = true;
    tool::write_picture(dir / "grey.tif", grey);
    tool::write_picture(dir / "rgb.tif", striped_picture<uint8_t>(3));
    std::string b;
    for (const char* name : {"rgb", "grey"}) {
        const fs::path input = dir / (std::string(name) + ".tif"), held = dir / (std::string(name) + "_held.tif");
        b += std::string(" (let* ((") + name + " (car (file-tiff-load 1 " + quoted(input) + " " + quoted(input) + "))))"
             " (file-tiff-save 1 " + name + " (car (gimp-image-get-active-drawable " + name + ")) " + quoted(held) + " " +
             quoted(held) + " 0))";
    }
    auto run = [&](const std::string& image, const std::string& mode, const std::string& options, const std::string& out) {
        const fs::path held = dir / (image + "_held.tif"), result = dir / out;
        return " (let* ((img (car (file-tiff-load 1 " + quoted(held) + " " + quoted(held) + ")))"
               " (dr (car (gimp-image-get-active-drawable img))))"
               " (plug-in-quen-clean " + mode + " img dr " + options + ")"
               " (file-tiff-save 1 img dr " + quoted(result) + " " + quoted(result) + " 0))";
    };
    b += run("rgb", "RUN-NONINTERACTIVE", "2 24 1 0", "options.tif") + run("rgb", "RUN-WITH-LAST-VALS", "1 48 0 1", "last.tif") +
         run("grey", "RUN-NONINTERACTIVE", "1 48 0 1", "grey_out.tif") + run("rgb", "RUN-NONINTERACTIVE", "0 48 0 1", "bad.tif");
    const std::string log = run_gimp(dir.path(), {"(begin" + b + ")"});

    auto quen_clean = [&](const std::string& image, std::vector<std::string> options) {
        const fs::path out = dir / (image + "_quen.tif");
        std::vector<std::string> args = {"clean", (dir / (image + "_held.tif")).string(), "-o", out.string(), "--force"};
        args.insert(args.end(), options.begin(), options.end());
        const test::QuenRun r = test::run_quen(args, dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        return tool::read_picture(out);
    };
    const tool::Picture with_options = quen_clean("rgb", {"--sensitivity", "2", "--protect", "24", "--fill", "zero", "--no-lowpass"});
    for (const char* out : {"options.tif", "last.tif"}) {
        ASSERT_TRUE(fs::exists(dir / out)) << log;
        EXPECT_TRUE(tool::read_image(dir / out).data == with_options.image.data) << out;
    }
    EXPECT_FALSE(with_options.image.data == quen_clean("rgb", {}).image.data) << "the options change nothing here";
    const tool::Picture grey_expected = quen_clean("grey", {});
    ASSERT_TRUE(fs::exists(dir / "grey_out.tif")) << log;
    const tool::Picture grey_got = tool::read_picture(dir / "grey_out.tif");
    EXPECT_TRUE(grey_got.grey && grey_expected.grey);
    EXPECT_TRUE(grey_got.image.data == grey_expected.image.data && grey_got.extra.data == grey_expected.extra.data);
    EXPECT_NE(log.find("sensitivity must be more than 0"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(dir / "bad.tif"));
}

// Precisions the modules do not take, a layer wider than the host record can describe and a float
// layer with a NaN: each run ends in GIMP's error with the plug-in's message, and the plug-in does
// not crash.
TEST(GimpPluginRefusal, UnsupportedLayersGiveAMessageNotACrash) {
    const test::ScratchDir dir;
    std::vector<std::string> batches;
    for (const char* precision : {"PRECISION-U32-GAMMA", "PRECISION-HALF-LINEAR", "PRECISION-DOUBLE-LINEAR"})
        batches.push_back(std::string("(let* ((img (car (gimp-image-new-with-precision 8 8 RGB ") + precision +
                          "))) (layer (car (gimp-layer-new img 8 8 RGB-IMAGE \"l\" 100 LAYER-MODE-NORMAL))))"
                          " (gimp-image-insert-layer img layer 0 0) (plug-in-quen-fwd RUN-NONINTERACTIVE img layer))");
    batches.push_back("(let* ((img (car (gimp-image-new 32768 2 RGB)))"
                      " (layer (car (gimp-layer-new img 32768 2 RGB-IMAGE \"l\" 100 LAYER-MODE-NORMAL))))"
                      " (gimp-image-insert-layer img layer 0 0) (plug-in-quen-inv RUN-NONINTERACTIVE img layer))");
    host::Image with_nan = test::random_image<float>(4, 6, 3, 5);
    with_nan.set<float>(1, 2, 1, std::nanf(""));
    const fs::path nan_file = dir / "nan.tif";
    tool::write_image(nan_file, with_nan);
    batches.push_back("(let* ((img (car (file-tiff-load 1 " + quoted(nan_file) + " " + quoted(nan_file) + "))))"
                      " (plug-in-quen-fwd-r RUN-NONINTERACTIVE img (car (gimp-image-get-active-drawable img))))");
    const std::string log = run_gimp(dir.path(), batches);

    auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("failed: Quen filters work on 8-bit or 16-bit integer and 32-bit floating point"), 3u) << log;
    EXPECT_EQ(count("failed: Quen filters work on layers of at most 32767 pixels a side"), 1u) << log;
    EXPECT_EQ(count("failed: 1 colour sample is NaN or infinite, the first at x 2, y 1 (green)"), 1u) << log;
    EXPECT_EQ(count("crashed"), 0u) << log;
}

}  // namespace
}  // namespace quen
