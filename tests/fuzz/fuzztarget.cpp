// libFuzzer entry point; built once per extension (TAGORA_FUZZ_EXTENSION), because TagLib
// chooses the parser by the file name.
#include "fuzzharness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tagora::test::exerciseFile(data, size, TAGORA_FUZZ_EXTENSION);
    return 0;
}
