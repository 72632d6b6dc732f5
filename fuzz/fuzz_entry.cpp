// Fuzz target for the entry point of every built module. Each input describes a host record
// (geometry, planes, depth, row lengths), buffers exactly as large as that record says, and the
// selectors to send (entry_input.h); every module receives the same calls. Besides the
// sanitizers' own checks, each call must store result 0, leave the host's data pointer alone,
// change no record field but the request, and write no byte of the host's buffers except
// samples of planes 0 to 2 of the image's pixels during continue.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "entry_input.h"
#include "filter_record.h"
#include "module_list.h"
#include "module_loader.h"
#include "run.h"

namespace quen::fuzz {
namespace {

using host::RecordBlock;

struct Loaded {
    std::string name;
    std::unique_ptr<host::ModuleLibrary> library;
};

// Every built module, or only the one named by QUEN_FUZZ_MODULE for a focused campaign. Modules
// stay loaded for the whole run, as in an editor.
const std::vector<Loaded>& modules() {
    static const std::vector<Loaded> loaded = [] {
        std::vector<Loaded> all;
        const char* only = std::getenv("QUEN_FUZZ_MODULE");
        for (const std::string& name : test::built_modules())
            if (only == nullptr || name == only)
                all.push_back({name, std::make_unique<host::ModuleLibrary>(test::module_path(name))});
        if (all.empty()) {
            std::fprintf(stderr, "fuzz_entry: no module named %s\n", only);
            std::abort();
        }
        return all;
    }();
    return loaded;
}

bool supported(int32_t depth) { return depth == 8 || depth == 16 || depth == 32; }

int64_t packed_row_bytes(const Geometry& g) {
    return int64_t{std::max<int16_t>(g.cols, 0)} * std::max<int16_t>(g.planes, 0) * bytes_per_sample(g.depth);
}

// Bytes of a buffer holding the rows the record describes: the last row only as long as its
// pixels unless whole_last_row. Nothing when the record describes no buffer.
std::size_t buffer_bytes(const Geometry& g, int64_t row_bytes) {
    if (g.rows < 1 || row_bytes <= 0) return 0;
    const int64_t last = g.whole_last_row ? row_bytes : std::min(row_bytes, packed_row_bytes(g));
    return static_cast<std::size_t>((g.rows - 1) * row_bytes + last);
}

uint32_t next(uint32_t& state) {  // xorshift32: cheap, deterministic sample contents
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

template <class S>
void put(std::vector<std::byte>& buffer, std::size_t i, S v) {
    std::memcpy(buffer.data() + i * sizeof(S), &v, sizeof(S));
}

void fill_samples(std::vector<std::byte>& buffer, const Geometry& g) {
    uint32_t state = 0x9E3779B9u ^ g.seed;
    const std::size_t count = buffer.size() / static_cast<std::size_t>(bytes_per_sample(g.depth));
    using Limits = std::numeric_limits<float>;
    static constexpr float kFloatExtremes[] = {0.0f, -0.0f, 1.0f, -1.0f, Limits::max(), Limits::lowest(),
                                               Limits::denorm_min(), Limits::infinity(), -Limits::infinity(),
                                               Limits::quiet_NaN()};
    switch (g.fill) {
    case kRandomBytes:
        for (std::byte& b : buffer) b = static_cast<std::byte>(next(state));
        return;
    case kConstant:
        for (std::byte& b : buffer) b = static_cast<std::byte>(g.seed);
        return;
    case kNominal:
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t r = next(state);
            if (g.depth == 16) put<uint16_t>(buffer, i, static_cast<uint16_t>(r % 32769));
            else if (g.depth == 32) put<float>(buffer, i, static_cast<float>(r % 100001) / 100000.0f);
            else put<uint8_t>(buffer, i, static_cast<uint8_t>(r));
        }
        return;
    default:  // kExtremes
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t r = next(state);
            if (g.depth == 16) put<uint16_t>(buffer, i, r & 1 ? uint16_t{65535} : uint16_t{0});
            else if (g.depth == 32) put<float>(buffer, i, kFloatExtremes[r % std::size(kFloatExtremes)]);
            else put<uint8_t>(buffer, i, r & 1 ? uint8_t{255} : uint8_t{0});
        }
        return;
    }
}

[[noreturn]] void fail(const std::string& module, int16_t selector, const char* what) {
    std::fprintf(stderr, "fuzz_entry: %s, selector %d: %s\n", module.c_str(), selector, what);
    std::abort();
}

// One host: the record block and the buffers of the current geometry.
class Host {
public:
    explicit Host(const Geometry& g) {
        std::memset(static_cast<void*>(&block_), g.opaque_filled ? g.seed : 0, sizeof block_);
        set_geometry(g);
    }

    // New buffers and fields; the rest of the record stays as the calls so far left it.
    void set_geometry(const Geometry& g) {
        geometry_ = g;
        const int64_t packed = packed_row_bytes(g);
        in_row_bytes_ = static_cast<int32_t>(packed + g.in_padding);
        out_row_bytes_ = g.same_buffer ? in_row_bytes_ : static_cast<int32_t>(packed + g.out_padding);
        in_.assign(buffer_bytes(g, in_row_bytes_), std::byte{0});
        fill_samples(in_, g);
        out_.clear();
        if (!g.same_buffer) {
            out_.assign(buffer_bytes(g, out_row_bytes_), std::byte{0});
            fill_samples(out_, g);
        }
        FilterRecord& rec = block_.record;
        rec.imageSize = Point{g.rows, g.cols};
        rec.planes = g.planes;
        rec.depth = g.depth;
        // The pointers come from new[], so that even an empty buffer is a distinct allocation whose
        // every byte is out of bounds for the sanitizer.
        in_data_.reset(new std::byte[in_.size()]);
        std::copy(in_.begin(), in_.end(), in_data_.get());
        out_data_.reset(g.same_buffer ? nullptr : new std::byte[out_.size()]);
        std::copy(out_.begin(), out_.end(), out_data_.get());
        rec.inData = g.no_input ? nullptr : in_data_.get();
        rec.outData = g.no_output ? nullptr : g.same_buffer ? in_data_.get() : out_data_.get();
        rec.inRowBytes = in_row_bytes_;
        rec.outRowBytes = out_row_bytes_;
    }

    void send(const Loaded& module, int16_t selector) {
        const RecordBlock before = block_;
        intptr_t data = 0x5EED;
        int16_t result = 0x7777;
        module.library->entry()(selector, &block_.record, &data, &result);
        const std::string& name = module.name;
        if (result != noErr) fail(name, selector, "result is not 0");
        if (data != 0x5EED) fail(name, selector, "the host's data was changed");
        check_record(name, selector, before);
        check_buffers(name, selector);
    }

private:
    void check_record(const std::string& name, int16_t selector, const RecordBlock& before) {
        RecordBlock expected = before;
        FilterRecord& rec = expected.record;
        if (selector == filterSelectorStart) {
            const Point size = before.record.imageSize;
            const int16_t last = static_cast<int16_t>(before.record.planes - 1);
            const Rect whole{0, 0, size.v, size.h};
            const Rect in = block_.record.inRect, out = block_.record.outRect, mask = block_.record.maskRect;
            if (!same_rect(in, whole) || !same_rect(out, whole) || !same_rect(mask, Rect{0, 0, 0, 0}))
                fail(name, selector, "the request is not the whole image without a mask");
            rec.inRect = rec.outRect = whole;
            rec.maskRect = Rect{0, 0, 0, 0};
            rec.inLoPlane = rec.outLoPlane = 0;
            rec.inHiPlane = rec.outHiPlane = last;
        } else if (selector == filterSelectorContinue) {
            rec.inRect = rec.outRect = rec.maskRect = Rect{0, 0, 0, 0};
        }
        if (std::memcmp(&expected, &block_, sizeof block_) != 0)
            fail(name, selector, "a record field other than the request was changed (or the request is wrong)");
    }

    // Which bytes of the output a continue call may write: samples of planes 0 to 2 of the
    // image's pixels, addressed as the host lays them out.
    std::vector<bool> writable(std::size_t size) const {
        std::vector<bool> mask(size, false);
        const Geometry& g = geometry_;
        const int32_t sb = bytes_per_sample(g.depth);
        if (!supported(g.depth) || g.rows < 1 || g.cols < 1 || out_row_bytes_ <= 0) return mask;
        const int64_t row_samples = out_row_bytes_ / sb;
        for (int64_t y = 0; y < g.rows; ++y)
            for (int64_t x = 0; x < g.cols; ++x)
                for (int64_t p = 0; p < std::min<int16_t>(g.planes, 3); ++p)
                    for (int64_t b = 0; b < sb; ++b) {
                        const int64_t i = (y * row_samples + x * g.planes + p) * sb + b;
                        if (i >= 0 && static_cast<std::size_t>(i) < size) mask[static_cast<std::size_t>(i)] = true;
                    }
        return mask;
    }

    void check_buffers(const std::string& name, int16_t selector) {
        const bool may_write = selector == filterSelectorContinue && !geometry_.no_output;
        std::byte* out = geometry_.same_buffer ? in_data_.get() : out_data_.get();
        std::vector<std::byte>& expected_out = geometry_.same_buffer ? in_ : out_;
        const std::vector<bool> mask = may_write ? writable(expected_out.size()) : std::vector<bool>(expected_out.size());
        for (std::size_t i = 0; i < expected_out.size(); ++i) {
            if (out[i] != expected_out[i] && !mask[i]) fail(name, selector, "a byte outside the image's samples of planes 0 to 2 was written");
            expected_out[i] = out[i];  // what the next call starts from
        }
        if (!geometry_.same_buffer && !std::equal(in_.begin(), in_.end(), in_data_.get()))
            fail(name, selector, "the input buffer was written");
    }

    RecordBlock block_;
    Geometry geometry_;
    int32_t in_row_bytes_ = 0;
    int32_t out_row_bytes_ = 0;
    std::vector<std::byte> in_, out_;  // what the buffers must hold outside the writable bytes
    std::unique_ptr<std::byte[]> in_data_, out_data_;
};

void run_steps(const uint8_t* data, std::size_t size, const Loaded& module) {
    ByteReader in(data, size);
    Host host(decode_geometry(in));
    if (in.done()) {
        for (const int16_t s : {filterSelectorAbout, filterSelectorParameters, filterSelectorPrepare,
                                filterSelectorStart, filterSelectorContinue, filterSelectorFinish})
            host.send(module, s);
        return;
    }
    for (int step = 0; step < kMaxSteps && !in.done(); ++step) {
        const uint8_t code = static_cast<uint8_t>(in.u8() % kSteps);
        if (code == kNewGeometry) host.set_geometry(decode_geometry(in));
        else if (code == kOddSelector) host.send(module, static_cast<int16_t>(in.u16()));
        else host.send(module, static_cast<int16_t>(code));
    }
}

}  // namespace
}  // namespace quen::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    for (const quen::fuzz::Loaded& module : quen::fuzz::modules()) quen::fuzz::run_steps(data, size, module);
    return 0;
}
