#pragma once
// The window's audio types, which the tests go through one by one, from the program's one list
// (cmake/TagoraAudioTypes.cmake).

#include "tagora/audiotypes.h"

namespace tagora::test {

inline constexpr const auto& kAudioTypes = kWindowAudioTypes;

} // namespace tagora::test
