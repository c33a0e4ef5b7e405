// One round of everything the program does with a file, on arbitrary bytes: open, read every
// field and the length, set every field, save, open again, read, strip, read. Shared by the
// libFuzzer targets and the test that replays the inputs they once crashed on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Writes `data` to a file named "input.<extension>" in a folder of this process's own and
// takes it through the library. Returns normally unless the library crashes or hangs.
void exerciseFile(const std::uint8_t* data, std::size_t size, const char* extension);

// The folder exerciseFile() works in, made on first use and removed at exit.
const std::string& workFolder();

} // namespace fuzzing
