#pragma once

namespace tagora::cli {

// SIGINT and SIGTERM are noted rather than acted on at once: the file being saved is
// finished (or left as it was) and its journal record settled before the command stops.
// SIGXFSZ is ignored, so a file-size limit fails one save with EFBIG instead of killing
// the program halfway through a copy.
void watchSignals();

// The stop signal received so far, 0 for none.
int stopSignal();

} // namespace tagora::cli
