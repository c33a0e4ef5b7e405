// A stand-in for libtagwrapper.so that touches no file: it answers from a script the test
// sets and logs every call, so a test can check the exact sequence of library calls.
#include "tagwrapper/tagwrapper.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#define TAGDOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Distinct addresses serve as the handles; the double never dereferences them.
char g_fileObject, g_tagObject, g_propertiesObject;
TagLib_File* const kFile = reinterpret_cast<TagLib_File*>(&g_fileObject);
TagLib_Tag* const kTag = reinterpret_cast<TagLib_Tag*>(&g_tagObject);
const TagLib_AudioProperties* const kProperties =
    reinterpret_cast<const TagLib_AudioProperties*>(&g_propertiesObject);

struct Script
{
    std::map<std::string, long long> numbers;
    std::map<std::string, std::string> texts; // absent: the getter answers null
};

Script g_script;
std::string g_log;
std::string g_logCopy;
std::vector<char*> g_returnedTexts;

void resetScript()
{
    g_script = Script();
    g_script.numbers = {{"open", 1}, {"valid", 1},  {"tag", 1},   {"properties", 1},
                        {"save", 1}, {"length", 0}, {"track", 0}, {"year", 0}};
}

long long number(const std::string& key)
{
    return g_script.numbers[key];
}

std::string handleName(const void* handle)
{
    if (!handle)
        return "null";
    if (handle == kFile)
        return "file";
    if (handle == kTag)
        return "tag";
    if (handle == kProperties)
        return "props";
    return "?";
}

std::string quoted(const char* text)
{
    return text ? "\"" + std::string(text) + "\"" : "NULL";
}

void record(const std::string& name, const std::string& arguments = std::string())
{
    g_log += name + "(" + arguments + ")\n";
}

// Like the real library, returned texts stay valid until taglib_tag_free_strings; freeing
// them there lets the address sanitizer catch a caller that keeps one too long.
char* answerText(const std::string& key)
{
    const auto found = g_script.texts.find(key);
    if (found == g_script.texts.end())
        return nullptr;
    char* copy = static_cast<char*>(std::malloc(found->second.size() + 1));
    std::memcpy(copy, found->second.c_str(), found->second.size() + 1);
    g_returnedTexts.push_back(copy);
    return copy;
}

char* getText(const char* name, const void* handle, const std::string& key)
{
    record(name, handleName(handle));
    return answerText(key);
}

void setText(const char* name, const void* handle, const char* text)
{
    record(name, handleName(handle) + ", " + quoted(text));
}

struct Initialiser
{
    Initialiser() { resetScript(); }
} g_initialiser;

} // namespace

TAGDOUBLE_EXPORT void tagdouble_reset()
{
    resetScript();
    g_log.clear();
}

TAGDOUBLE_EXPORT void tagdouble_set(const char* key, const char* value)
{
    const std::string name = key;
    if (g_script.numbers.count(name)) {
        g_script.numbers[name] = value ? std::atoll(value) : 0;
    } else if (value) {
        g_script.texts[name] = value;
    } else {
        g_script.texts.erase(name);
    }
}

TAGDOUBLE_EXPORT const char* tagdouble_log()
{
    g_logCopy = g_log;
    return g_logCopy.c_str();
}

void taglib_set_strings_unicode(int unicode)
{
    record(__func__, std::to_string(unicode));
}

void taglib_tag_free_strings(void)
{
    record(__func__);
    for (char* text : g_returnedTexts)
        std::free(text);
    g_returnedTexts.clear();
}

TagLib_File* taglib_file_newu(const char* path)
{
    record(__func__, quoted(path));
    return number("open") ? kFile : nullptr;
}

void taglib_file_free(TagLib_File* file)
{
    record(__func__, handleName(file));
}

int taglib_file_is_valid(const TagLib_File* file)
{
    record(__func__, handleName(file));
    return static_cast<int>(number("valid"));
}

TagLib_Tag* taglib_file_tag(const TagLib_File* file)
{
    record(__func__, handleName(file));
    return number("tag") ? kTag : nullptr;
}

const TagLib_AudioProperties* taglib_file_audioproperties(const TagLib_File* file)
{
    record(__func__, handleName(file));
    return number("properties") ? kProperties : nullptr;
}

int taglib_audioproperties_length(const TagLib_AudioProperties* properties)
{
    record(__func__, handleName(properties));
    return static_cast<int>(number("length"));
}

int taglib_file_save_ex(TagLib_File* file, int options)
{
    record(__func__, handleName(file) + ", " + std::to_string(options));
    return static_cast<int>(number("save"));
}

// clang-format off
char* taglib_tag_title(const TagLib_Tag* tag) { return getText(__func__, tag, "title"); }
char* taglib_tag_artist(const TagLib_Tag* tag) { return getText(__func__, tag, "artist"); }
char* taglib_tag_album(const TagLib_Tag* tag) { return getText(__func__, tag, "album"); }
char* taglib_tag_genre(const TagLib_Tag* tag) { return getText(__func__, tag, "genre"); }
char* taglib_tag_comment(const TagLib_Tag* tag) { return getText(__func__, tag, "comment"); }
char* taglib_tag_get_bpm(TagLib_File* file) { return getText(__func__, file, "bpm"); }
void taglib_tag_set_title(TagLib_Tag* tag, const char* text) { setText(__func__, tag, text); }
void taglib_tag_set_artist(TagLib_Tag* tag, const char* text) { setText(__func__, tag, text); }
void taglib_tag_set_album(TagLib_Tag* tag, const char* text) { setText(__func__, tag, text); }
void taglib_tag_set_genre(TagLib_Tag* tag, const char* text) { setText(__func__, tag, text); }
void taglib_tag_set_comment(TagLib_Tag* tag, const char* text) { setText(__func__, tag, text); }
void taglib_tag_set_key(TagLib_File* file, const char* text) { setText(__func__, file, text); }
// clang-format on

unsigned int taglib_tag_track(const TagLib_Tag* tag)
{
    record(__func__, handleName(tag));
    return static_cast<unsigned int>(number("track"));
}

unsigned int taglib_tag_year(const TagLib_Tag* tag)
{
    record(__func__, handleName(tag));
    return static_cast<unsigned int>(number("year"));
}

void taglib_tag_set_track(TagLib_Tag* tag, unsigned int track)
{
    record(__func__, handleName(tag) + ", " + std::to_string(track));
}

void taglib_tag_set_year(TagLib_Tag* tag, unsigned int year)
{
    record(__func__, handleName(tag) + ", " + std::to_string(year));
}

char* taglib_tag_get_byname(TagLib_File* file, const char* name)
{
    record(__func__, handleName(file) + ", " + quoted(name));
    return answerText("copyright");
}

void taglib_tag_set_byname(TagLib_File* file, const char* name, const char* value)
{
    record(__func__, handleName(file) + ", " + quoted(name) + ", " + quoted(value));
}

// The partial build lacks one entry point of each operation, to show that a library
// missing names cannot crash the program.
#ifndef TAGDOUBLE_PARTIAL
char* taglib_tag_get_key(TagLib_File* file)
{
    return getText(__func__, file, "key");
}

void taglib_tag_set_bpm(TagLib_File* file, const char* text)
{
    setText(__func__, file, text);
}

void taglib_tag_remove(TagLib_File* file)
{
    record(__func__, handleName(file));
}
#endif
