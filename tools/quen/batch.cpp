// The per-file loop shared by the commands that write results.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace quen::tool {
namespace {

// What one file of a batch printed, kept until its turn comes.
struct Report {
    std::string out;
    std::string err;
    bool ok = false;
    bool skipped = false;  // not done: the same file as an earlier input, or its result already there
};

Report run_one(const FileJob& one, const std::string& input, const fs::path& target) {
    Report report;
    std::vector<std::string> warnings;
    try {
        report.out = one(input, target, warnings);
        report.ok = true;
    } catch (const std::runtime_error& e) {
        report.err = std::string("quen: ") + e.what() + "\n";
    } catch (const std::bad_alloc&) {
        report.err = "quen: " + input + ": not enough memory\n";
    }
    std::string w;
    for (const std::string& warning : warnings) w += "quen: warning: " + warning + "\n";
    report.err = w + report.err;
    return report;
}

}  // namespace

int32_t parse_count(const std::string& option, const std::string& text, int32_t low, int32_t high) {
    const double v = parse_numbers(option, text, 1)[0];
    if (v != static_cast<int32_t>(v) || v < low || v > high)
        throw UsageError(option + " '" + text + "': expected a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return static_cast<int32_t>(v);
}

int32_t parse_jobs(const ParsedArgs& parsed) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::string* jobs_text = parsed.single("-j");
    return jobs_text ? parse_count("-j", *jobs_text, 1, 256) : static_cast<int32_t>(cores);
}

int run_batch(const std::vector<std::string>& inputs, const std::vector<fs::path>& targets, int32_t jobs, std::FILE* summary,
              bool skip_existing, const FileJob& one) {
    // Two inputs of the same name would write one result: the later ones are refused.
    const std::size_t n = inputs.size();
    std::vector<Report> reports(n);
    std::vector<char> done(n, 0);
    std::set<fs::path> claimed;
    for (std::size_t i = 0; i < n; ++i)
        if (targets[i].empty()) {
            reports[i] = {"", "quen: " + inputs[i] + ": given again: done once\n", true, true};
            done[i] = 1;
        } else if (std::error_code ec; skip_existing && fs::exists(targets[i], ec)) {
            reports[i] = {inputs[i] + " -> " + targets[i].string() + ": skipped, the output is already there\n", "", true, true};
            done[i] = 1;
        } else if (!claimed.insert(fs::weakly_canonical(targets[i])).second) {
            reports[i].err = "quen: " + inputs[i] + ": skipped: its output " + targets[i].string() +
                             " was already written by an earlier input\n";
            done[i] = 1;
        }
    const auto start = std::chrono::steady_clock::now();
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < n;) {
            if (done[i]) continue;
            Report report = run_one(one, inputs[i], targets[i]);
            const std::lock_guard lock(mutex);
            reports[i] = std::move(report);
            done[i] = 1;
            finished.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int32_t w = 0; w < std::min<int32_t>(jobs, static_cast<int32_t>(n)); ++w) workers.emplace_back(work);

    int failed = 0;
    std::size_t skipped = 0;
    for (std::size_t i = 0; i < n; ++i) {
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] { return done[i] != 0; });
        }
        std::fputs(reports[i].out.c_str(), stdout);
        std::fflush(stdout);
        std::fputs(reports[i].err.c_str(), stderr);
        failed += reports[i].ok ? 0 : 1;
        skipped += reports[i].skipped ? 1 : 0;
    }
    for (std::thread& t : workers) t.join();
    if (summary) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const std::string skips = skipped ? ", " + std::to_string(skipped) + " skipped" : "";
        std::fprintf(summary, "%zu file%s: %zu written%s, %d failed, %.2f s\n", n, n == 1 ? "" : "s",
                    n - static_cast<std::size_t>(failed) - skipped, skips.c_str(), failed, took.count());
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace quen::tool
