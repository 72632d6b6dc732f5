// Which scratch arrays a transform needs, and so how many image columns enter it. Each module's
// shape is given by its line in the module list (resources/modules.txt).
#pragma once

namespace quen {

enum class Shape {
    FullComplex,            // all columns, one complex spectrum array
    LastTwoColumnsLeftOut,  // a real-input transform of the first columns - 2 (the half spectrum
                            // needs the last two for its layout): a complex and a real array, both
                            // 4x larger
};

}  // namespace quen
