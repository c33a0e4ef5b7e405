#pragma once
// The audio types the program handles, from the build (cmake/TagoraAudioTypes.cmake), where
// the fuzz targets and the bench find the same list.

#include <QString>

namespace tagora::test {

inline const char* const kAudioTypes[] = {TAGORA_AUDIO_TYPES};

// Whether a file name's suffix, in any case, is one of them.
inline bool isAudioType(const QString& suffix)
{
    for (const char* type : kAudioTypes) {
        if (suffix.compare(QLatin1String(type), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace tagora::test
