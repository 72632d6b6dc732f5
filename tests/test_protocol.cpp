// The host library's protocol checks against modules that break the protocol (fake_module.cpp):
// each fault is reported, never taken for a successful filtering.
#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace quen {
namespace {

std::string fake_module(const char* name) {
    return std::string(QUEN_FAKE_MODULE_DIR) + "/" + name + host::module_suffix();
}

template <class Error>
std::string error_of(const auto& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

TEST(HostProtocol, EveryFaultOfAModuleIsReported) {
    const host::Image picture = test::random_image<uint8_t>(4, 5, 3, 1);
    const host::ModuleLibrary mask(fake_module("FakeMask")), more(fake_module("FakeMore"));
    EXPECT_EQ(error_of<host::ProtocolError>([&] { host::run_filter(mask, picture); }),
              "module requested a selection mask");
    EXPECT_EQ(error_of<host::ProtocolError>([&] { host::run_filter(more, picture); }),
              "module asked for more data after continue");
    EXPECT_NE(error_of<host::LoadError>([] { host::ModuleLibrary(fake_module("FakeNoEntry")); })
                  .find("not a filter module (no ENTRYPOINT)"),
              std::string::npos);
}

}  // namespace
}  // namespace quen
