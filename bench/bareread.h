// What any program must do at least for one file: open it with TagLib, read the ten fields
// the program shows (copyright, BPM and key through one property map) and the playing time,
// close it. Both benchmarks time loops of this against the program's own path.
#pragma once

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <cstddef>

// A sum of what was read, so that the compiler cannot drop the reads.
inline std::size_t bareRead(const char* path)
{
    TagLib::FileRef file(path);
    if (file.isNull())
        return 0;
    std::size_t checksum = 0;
    if (const TagLib::Tag* tag = file.tag()) {
        checksum += tag->title().size() + tag->artist().size() + tag->album().size() +
                    tag->comment().size() + tag->genre().size() + tag->year() + tag->track();
        const TagLib::PropertyMap properties = file.file()->properties();
        for (const char* key : {"COPYRIGHT", "BPM", "INITIALKEY"}) {
            const auto it = properties.find(key);
            if (it != properties.end() && !it->second.isEmpty())
                checksum += it->second.front().size();
        }
    }
    if (const TagLib::AudioProperties* properties = file.audioProperties())
        checksum += properties->lengthInSeconds();
    return checksum;
}
