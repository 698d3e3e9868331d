#pragma once

namespace tonaro {

// Result codes of item, row and player operations; only the user interface turns them into text.
enum ResultCode : int {
    kResultOk = 0,
    kResultUnsupported = 1,  // the data is not in a supported form
    kResultNoMemory = 3,
    kResultNoInput = 4,      // no file given, or a size limit too small
    kResultCancelled = 6,    // the user cancelled through the progress state
    kResultFailed = 8,       // no data, or another failure
};

}  // namespace tonaro
