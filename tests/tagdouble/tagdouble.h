#pragma once

// Control functions of the recording tag library double (libtagdouble.so). Besides the
// tag library's entry points, the double exports these; a test reaches them with dlopen
// and dlsym on the file the loader loaded, so both share one copy of the double.
//
// Every entry-point call is logged as one line: name(arguments), handles shown as file,
// tag, props or null, texts in double quotes with their raw bytes, numbers in decimal.

// Empties the log and restores the default script: the file opens and is valid, has a
// tag and properties, every text getter answers null, numbers and length 0, saves work.
using TagDoubleReset = void (*)();
// Sets one answer of the script. Keys: open, valid, tag, properties, save (numbers, 0 =
// no handle or failure), length, track, year (numbers), and the texts title, artist,
// album, genre, comment, copyright, bpm, key (value null = the getter answers null).
using TagDoubleSet = void (*)(const char* key, const char* value);
// The log so far, lines separated by '\n'; valid until the next call into the double.
using TagDoubleLog = const char* (*)();
