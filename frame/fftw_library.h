// Whether the FFTW library can be called. The Linux modules link FFTW and always have it; the
// Windows modules bind it on first use from libfftwx64_3-3.dll, which the editor's loader would
// not look for beside the module, so they load it themselves and may fail to find it.
#pragma once

namespace quen {

#if defined(_WIN32)
// Loads libfftwx64_3-3.dll from the module's own folder, else through the usual DLL search.
// False when neither finds it; a later call tries again, so a DLL copied into place while the
// editor runs is picked up.
bool fftw_library_loaded();
#else
inline bool fftw_library_loaded() { return true; }
#endif

}  // namespace quen
