// One round of everything the program does with a file, on arbitrary bytes: open, read every
// field, picture and the length, set every field and a picture, save, open again, read, strip,
// read. Shared by the
// libFuzzer targets and the test that replays the inputs they once crashed on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tagora::test {

// What one round saw, for the checks of the replay test; the fuzzers look only for crashes,
// hangs and sanitizer reports.
struct Round
{
    bool opened = false;            // the first open took the input as an audio file
    bool saved = false;             // the fields set were saved
    bool stripped = false;          // the tag was removed and that saved
    std::string titleAfterSave;     // read by the open after the save
    std::string titleAfterStrip;    // read by the open after the strip
    std::vector<std::string> texts; // every text the library returned
};

// The title every round sets.
extern const char* const kTitleSet;

// Writes `data` to a file named "input.<extension>" in a folder of this process's own and
// takes it through the library. Returns normally unless the library crashes or hangs.
Round exerciseFile(const std::uint8_t* data, std::size_t size, const char* extension);

// The folder exerciseFile() works in, made on first use and removed at exit.
const std::string& workFolder();

} // namespace tagora::test
