// Many threads filtering at once, as a host that runs filters from several threads does: every
// module on every case of conformance_cases.h, each call on its own picture, handed out in turn
// to the threads, so that different modules and sizes plan at the same moment. Each output must
// equal the same call made alone. Shared by the Linux test and the Windows conformance runner.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <thread>
#endif

#include "conformance_cases.h"
#include "module_loader.h"
#include "run.h"

namespace quen::test {

struct ConcurrentCall {
    const host::ModuleLibrary* module;
    std::string name;  // module, case and depth
    host::Image input;
    host::RunOptions options;
    host::RunResult alone;
};

// Runs body(thread index) on `count` threads at once and waits for all of them.
template <class Body>
void on_threads(int count, Body body) {
#if defined(_WIN32)
    struct Start {
        Body* body;
        int index;
    };
    std::vector<Start> starts;
    for (int i = 0; i < count; ++i) starts.push_back({&body, i});
    std::vector<HANDLE> handles;
    for (Start& start : starts)
        handles.push_back(CreateThread(nullptr, 0, [](void* p) -> DWORD {
            const Start* s = static_cast<const Start*>(p);
            (*s->body)(s->index);
            return 0;
        }, &start, 0, nullptr));
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (HANDLE h : handles) CloseHandle(h);
#else
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(body, i);
    for (std::thread& t : threads) t.join();
#endif
}

// The calls at one depth, each already made alone.
inline std::vector<ConcurrentCall> calls_made_alone(const std::vector<std::pair<std::string, const host::ModuleLibrary*>>& modules,
                                                    int32_t depth) {
    std::vector<ConcurrentCall> calls;
    for (const auto& [name, module] : modules)
        for (const conformance::Case& c : conformance::kCases) {
            host::RunOptions options;
            options.row_padding = c.padding_samples * host::Image::bytes_per_sample(depth);
            options.same_buffer = c.same_buffer;
            host::Image input = conformance::random_image(c, depth, 99);
            host::RunResult alone = host::run_filter(*module, input, options);
            calls.push_back({module, name + " " + conformance::file_stem(c, depth), std::move(input), options,
                             std::move(alone)});
        }
    return calls;
}

// Makes every call `rounds` times from `threads` threads at once; returns the names of the calls
// whose result differed from the call made alone (once per difference).
inline std::vector<std::string> differing_concurrent_calls(const std::vector<ConcurrentCall>& calls, int threads,
                                                           int rounds) {
    const std::size_t total = calls.size() * static_cast<std::size_t>(rounds);
    std::atomic<std::size_t> next{0};
    std::vector<std::vector<std::string>> differing(static_cast<std::size_t>(threads));
    on_threads(threads, [&](int t) {
        for (std::size_t i; (i = next.fetch_add(1)) < total;) {
            const ConcurrentCall& call = calls[i % calls.size()];
            const host::RunResult r = host::run_filter(*call.module, call.input, call.options);
            if (r.result != call.alone.result || r.image.data != call.alone.image.data)
                differing[static_cast<std::size_t>(t)].push_back(call.name);
        }
    });
    std::vector<std::string> all;
    for (const auto& d : differing) all.insert(all.end(), d.begin(), d.end());
    return all;
}

}  // namespace quen::test
