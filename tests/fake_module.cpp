// A module that breaks the host protocol in one way, chosen when it is built, for the checks of
// the host library: QUEN_FAKE_FAULT 1 requests a selection mask on start, 2 asks for more data
// after continue; without QUEN_FAKE_FAULT the library exports no entry point at all.
#include <cstdint>

#include "filter_record.h"

#ifdef QUEN_FAKE_FAULT
QUEN_EXPORT void ENTRYPOINT(int16_t selector, FilterRecord* record, intptr_t*, int16_t* result) {
    *result = noErr;
    const Rect whole{0, 0, record->imageSize.v, record->imageSize.h};
    if (selector == filterSelectorStart) {
        record->inRect = record->outRect = whole;
        record->inLoPlane = record->outLoPlane = 0;
        record->inHiPlane = record->outHiPlane = static_cast<int16_t>(record->planes - 1);
        record->maskRect = QUEN_FAKE_FAULT == 1 ? whole : Rect{0, 0, 0, 0};
    }
    // Fault 2 leaves the rectangles as they were on continue, which asks for the same data again.
}
#else
QUEN_EXPORT void not_an_entry_point() {}
#endif
