// The decisions of one pass, by peak group (Detection::group): the first rule that settles a group
// decides it; a group to be filled may still be settled by a later rule (a sweep found from
// another peak of its ridge).
#pragma once

#include <cstddef>
#include <vector>

#include "verdicts.h"

namespace quen::cleaning {

class Decisions {
public:
    explicit Decisions(int32_t groups) : of_(static_cast<std::size_t>(groups) + 1) {}
    // Left alone or taken out otherwise than by filling its peak.
    bool settled(int32_t group) const {
        const Verdict v = of_[static_cast<std::size_t>(group)].verdict;
        return v != Verdict::Undecided && v != Verdict::Fill && v != Verdict::LowPass;
    }
    // Decides the group unless it is settled already; returns whether it was decided now.
    bool decide(int32_t group, const Decision& d) {
        if (settled(group)) return false;
        of_[static_cast<std::size_t>(group)] = d;
        return true;
    }
    // Decides the group whatever was decided before (a peak kept as a part of the frame that the
    // weak waves' search finds to be one wave after all).
    void overrule(int32_t group, const Decision& d) { of_[static_cast<std::size_t>(group)] = d; }
    const Decision& operator[](int32_t group) const { return of_[static_cast<std::size_t>(group)]; }

private:
    std::vector<Decision> of_;
};

}  // namespace quen::cleaning
