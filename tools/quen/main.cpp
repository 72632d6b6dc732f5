// quen: runs the filter modules on pictures from the command line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "module_loader.h"
#include "run.h"
#include "synthetic.h"

namespace fs = std::filesystem;
using namespace quen::host;

namespace {

fs::path module_dir() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// Binary PPM of channels 0..2 of an 8-bit image, written beside and then renamed into place.
void write_ppm(const Image& im, const fs::path& path) {
    const fs::path tmp = path.string() + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary);
        f << "P6\n" << im.cols << " " << im.rows << "\n255\n";
        for (int32_t y = 0; y < im.rows; ++y)
            for (int32_t x = 0; x < im.cols; ++x)
                for (int32_t p = 0; p < 3; ++p) f.put(static_cast<char>(im.get<uint8_t>(y, x, p)));
        if (!f) throw std::runtime_error(tmp.string() + ": cannot write");
    }
    fs::rename(tmp, path);
}

int demo(const fs::path& dir) {
    fs::create_directories(dir);
    const Image scene = synthetic_scene(256, 256, 8, 3, StripePattern{0.08, 8, 0});
    const ModuleLibrary fwd((module_dir() / "QuenFwd.so").string());
    const RunResult spectrum = run_filter(fwd, scene);
    if (spectrum.result != 0) {
        std::cerr << "quen: QuenFwd failed with result " << spectrum.result << "\n";
        return 1;
    }
    write_ppm(scene, dir / "scene.ppm");
    write_ppm(spectrum.image, dir / "spectrum.ppm");
    std::cout << "wrote " << (dir / "scene.ppm").string() << " (256 x 256, 8-bit, with stripes)\n"
              << "wrote " << (dir / "spectrum.ppm").string()
              << " (QuenFwd: log magnitude in red, phase in green, luminance in blue)\n";
    return 0;
}

void usage(std::FILE* to) {
    std::fputs("usage: quen demo [DIR]   write the built-in picture and its spectrum into DIR (default: .)\n", to);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            usage(stdout);
            return 0;
        }
        if (argc >= 2 && std::strcmp(argv[1], "demo") == 0 && argc <= 3) return demo(argc == 3 ? argv[2] : ".");
        usage(stderr);
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "quen: " << e.what() << "\n";
        return 1;
    }
}
