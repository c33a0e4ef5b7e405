#include "fuzzharness.h"

#include "tagwrapper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace tagora::test {

const char* const kTitleSet = "Titel \xc3\xbc \xe6\x97\xa5\xe6\x9c\xac";

namespace {

std::string g_folder;

void removeWorkFolder()
{
    if (g_folder.empty())
        return;
    if (DIR* dir = ::opendir(g_folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ::unlink((g_folder + '/' + entry->d_name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(g_folder.c_str());
}

bool writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    while (size > 0 && ok) {
        const ssize_t n = ::write(fd, data, size);
        ok = n > 0;
        if (ok) {
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    return ::close(fd) == 0 && ok;
}

// Every picture's type, texts and bytes, through each family's picture parser.
template <typename Keep> void readPictures(TagLib_File* file, Keep keep)
{
    const int count = taglib_tag_get_cover_count(file);
    for (int i = 0; i < count; ++i) {
        int type = 0;
        char* mime = nullptr;
        char* description = nullptr;
        unsigned int size = 0;
        if (taglib_tag_get_cover(file, i, &type, &mime, &description)) {
            keep(mime);
            keep(description);
        }
        taglib_tag_get_cover_data(file, i, &size);
    }
}

// Reads every text, so that TagLib converts each, and keeps them; returns the title.
std::string readEverything(TagLib_File* file, Round& round)
{
    auto keep = [&round](const char* text) {
        if (text)
            round.texts.emplace_back(text);
        return text ? std::string(text) : std::string();
    };
    std::string title;
    taglib_file_is_valid(file);
    if (const TagLib_Tag* tag = taglib_file_tag(file)) {
        title = keep(taglib_tag_title(tag));
        keep(taglib_tag_artist(tag));
        keep(taglib_tag_album(tag));
        keep(taglib_tag_comment(tag));
        keep(taglib_tag_genre(tag));
        taglib_tag_year(tag);
        taglib_tag_track(tag);
    }
    keep(taglib_tag_get_byname(file, "COPYRIGHT"));
    keep(taglib_tag_get_bpm(file));
    keep(taglib_tag_get_key(file));
    readPictures(file, keep);
    if (const TagLib_AudioProperties* properties = taglib_file_audioproperties(file)) {
        taglib_audioproperties_length(properties);
        taglib_audioproperties_bitrate(properties);
        taglib_audioproperties_samplerate(properties);
        taglib_audioproperties_channels(properties);
    }
    taglib_tag_free_strings();
    return title;
}

// Field values: fixed texts in several scripts and a few bytes of the input itself, which
// need not be valid UTF-8.
void writeEverything(TagLib_File* file, const std::uint8_t* data, std::size_t size)
{
    const std::size_t n = size < 24 ? size : 24;
    const std::string tail(reinterpret_cast<const char*>(data + size - n), n);
    if (TagLib_Tag* tag = taglib_file_tag(file)) {
        taglib_tag_set_title(tag, kTitleSet);
        taglib_tag_set_artist(tag, tail.c_str());
        taglib_tag_set_album(tag, "");
        taglib_tag_set_comment(tag, "line one\nline two \xf0\x9f\x8e\xb5");
        taglib_tag_set_genre(tag, "Jazz");
        taglib_tag_set_year(tag, size % 3000);
        taglib_tag_set_track(tag, static_cast<unsigned>(size % 7));
    }
    taglib_tag_set_byname(file, "COPYRIGHT", tail.c_str());
    taglib_tag_set_bpm(file, size % 2 ? "120" : "fast");
    taglib_tag_set_key(file, "F\xe2\x99\xaf");
    // The first picture there was goes, and one made of the input's bytes comes in.
    const std::string picture = std::string("\x89PNG\r\n\x1a\n", 8) + tail;
    taglib_tag_remove_cover(file, 0);
    taglib_tag_set_cover(file, 3, "image/png", tail.c_str(), picture.data(),
                         static_cast<unsigned int>(picture.size()));
}

} // namespace

const std::string& workFolder()
{
    if (g_folder.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tagora-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            g_folder = pattern;
            std::atexit(removeWorkFolder);
        }
    }
    return g_folder;
}

Round exerciseFile(const std::uint8_t* data, std::size_t size, const char* extension)
{
    if (workFolder().empty())
        std::abort(); // nowhere to write: better no run than a run that tests nothing
    const std::string path = workFolder() + "/input." + extension;
    if (!writeFile(path, data, size))
        std::abort();
    taglib_set_strings_unicode(1);

    Round round;
    if (TagLib_File* file = taglib_file_newu(path.c_str())) {
        round.opened = true;
        readEverything(file, round);
        writeEverything(file, data, size);
        round.saved = taglib_file_save_ex(file, 3) != 0;
        taglib_file_free(file);
    }
    if (TagLib_File* file = taglib_file_newu(path.c_str())) {
        round.titleAfterSave = readEverything(file, round);
        taglib_tag_remove(file);
        round.stripped = taglib_file_save_ex(file, 3) != 0;
        taglib_file_free(file);
    }
    if (TagLib_File* file = taglib_file_newu(path.c_str())) {
        round.titleAfterStrip = readEverything(file, round);
        taglib_file_free(file);
    }
    taglib_tag_free_strings();
    return round;
}

} // namespace tagora::test
