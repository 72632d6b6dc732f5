// Whether the FFTW library can be called, with its planner safe for threads. Every module of a
// process shares one FFTW, and FFTW's planner keeps state that two threads planning at once
// corrupt; fftw_make_planner_thread_safe() makes FFTW serialise planning (and only planning: the
// transforms still run on their callers' threads, side by side).
// The Linux modules link FFTW and its threads library; the Windows modules bind FFTW on first use
// from libfftwx64_3-3.dll, which the editor's loader would not look for beside the module, so
// they load it themselves and may fail to find it.
#pragma once

#if !defined(_WIN32)
#include <fftw3.h>
#endif

namespace quen {

#if defined(_WIN32)
// Loads libfftwx64_3-3.dll from the module's own folder, else through the usual DLL search, and
// makes its planner safe for threads when the DLL has FFTW's threads built in (an older DLL
// without them is used as it is). False when neither search finds the DLL; a later call tries
// again, so a DLL copied into place while the editor runs is picked up.
bool fftw_ready();
#else
inline bool fftw_ready() {
    static const bool thread_safe = (fftw_make_planner_thread_safe(), true);  // once per module
    return thread_safe;
}
#endif

}  // namespace quen
