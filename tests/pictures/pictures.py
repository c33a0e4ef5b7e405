#!/usr/bin/python3
"""Pictures as another tag library (mutagen) reads and writes them.

    pictures.py make FILE...  tags each FILE as richtags.py does (a front cover among much else)
                              and adds a back cover (a PNG, description "back") in the format's
                              standard picture item
    pictures.py wrapped FILE...  puts a METADATA_BLOCK_PICTURE into the Vorbis comment of each
                              FILE (Ogg or FLAC) whose MIME type length wraps around in 32 bits
    pictures.py pcm FILE...   writes a short silent WAV or AIFF (by the extension) with an ID3v2
                              tag holding the back cover
    pictures.py dump FILE...  for each FILE, "== FILE", its pictures as
                              "picture=type|mime|description|length|sha1" (MP4 has no type or
                              description: 3 and ""; APE stores no MIME type: "-"), then every
                              other item as richtags.py dumps it
"""
import base64
import contextlib
import hashlib
import io
import os
import struct
import sys

import mutagen

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "preservation"))
import richtags  # noqa: E402

from mutagen import apev2, asf, flac, id3, mp4, oggvorbis

BACK = b"\x89PNG\r\n\x1a\n" + b"back cover " * 40


def line(kind, mime, desc, data):
    return "picture=%d|%s|%s|%d|%s" % (kind, mime, desc, len(data), hashlib.sha1(data).hexdigest())


def back_picture():
    pic = flac.Picture()
    pic.type, pic.mime, pic.desc, pic.data = 4, "image/png", "back", BACK
    return pic


def asf_picture(kind, mime, desc, data):
    return (bytes([kind]) + len(data).to_bytes(4, "little") + (mime + "\0").encode("utf-16-le")
            + (desc + "\0").encode("utf-16-le") + data)


def parse_asf_picture(value):
    kind, size = value[0], int.from_bytes(value[1:5], "little")
    texts, pos = [], 5
    for _ in range(2):
        end = pos
        while value[end:end + 2] != b"\0\0":
            end += 2
        texts.append(value[pos:end].decode("utf-16-le"))
        pos = end + 2
    return line(kind, texts[0], texts[1], value[pos:pos + size])


def id3_present(path):
    with open(path, "rb") as f:
        return f.read(3) == b"ID3"


def back(path):
    ext = path.rsplit(".", 1)[1]
    if ext == "mp3":
        tags = id3.ID3(path) if id3_present(path) else id3.ID3()
        tags.add(id3.APIC(encoding=3, mime="image/png", type=4, desc="back", data=BACK))
        tags.save(path, v2_version=4)
    elif ext == "flac":
        f = flac.FLAC(path)
        f.add_picture(back_picture())
        f.save()
    elif ext == "ogg":
        f = oggvorbis.OggVorbis(path)
        f.tags["METADATA_BLOCK_PICTURE"] = f.tags.get("METADATA_BLOCK_PICTURE", []) + [
            base64.b64encode(back_picture().write()).decode()]
        f.save()
    elif ext == "m4a":
        f = mp4.MP4(path)
        f.tags["covr"] = f.tags.get("covr", []) + [
            mp4.MP4Cover(BACK, imageformat=mp4.MP4Cover.FORMAT_PNG)]
        f.save()
    elif ext == "wma":
        f = asf.ASF(path)
        f.tags["WM/Picture"] = f.tags.get("WM/Picture", []) + [
            asf.ASFByteArrayAttribute(asf_picture(4, "image/png", "back", BACK))]
        f.save()
    elif ext == "ape":
        try:
            tags = apev2.APEv2(path)
        except apev2.APENoHeaderError:
            tags = apev2.APEv2()
        tags["Cover Art (Back)"] = apev2.APEValue(b"back\x00" + BACK, apev2.BINARY)
        tags.save(path)


APE_TYPES = ["Other", "Png Icon", "Icon", "Front", "Back", "Leaflet", "Media", "Lead Artist",
             "Artist", "Conductor", "Band", "Composer", "Lyricist", "Recording Location",
             "During Recording", "During Performance", "Movie Screen Capture", "Colored Fish",
             "Illustration", "Band Logo", "Publisher Logo"]


PICTURE_KEYS = ("apic:", "picture=", "metadata_block_picture=", "covr=", "wm/picture=",
                "cover art (")


def dump(path):
    ext = path.rsplit(".", 1)[1]
    lines = []
    if ext == "mp3":
        lines = [line(p.type, p.mime, p.desc, p.data) for p in id3.ID3(path).getall("APIC")]
    elif ext in ("wav", "aiff"):
        tags = mutagen.File(path).tags
        lines = [line(p.type, p.mime, p.desc, p.data) for p in tags.getall("APIC")]
    elif ext == "flac":
        lines = [line(p.type, p.mime, p.desc, p.data) for p in flac.FLAC(path).pictures]
    elif ext == "ogg":
        for value in oggvorbis.OggVorbis(path).tags.get("METADATA_BLOCK_PICTURE", []):
            p = flac.Picture(base64.b64decode(value))
            lines.append(line(p.type, p.mime, p.desc, p.data))
    elif ext == "m4a":
        formats = {mp4.MP4Cover.FORMAT_JPEG: "image/jpeg", mp4.MP4Cover.FORMAT_PNG: "image/png"}
        for c in mp4.MP4(path).tags.get("covr", []):
            lines.append(line(3, formats[c.imageformat], "", bytes(c)))
    elif ext == "wma":
        lines = [parse_asf_picture(a.value) for a in asf.ASF(path).tags.get("WM/Picture", [])]
    elif ext == "ape":
        for key, value in apev2.APEv2(path).items():
            if key.lower().startswith("cover art (") and value.kind == apev2.BINARY:
                desc, data = value.value.split(b"\0", 1)
                kind = [t.lower() for t in APE_TYPES].index(key[11:-1].lower())
                lines.append(line(kind, "-", desc.decode(), data))
    print("== " + path)
    for entry in sorted(lines):
        print(entry)
    items = io.StringIO()
    with contextlib.redirect_stdout(items):
        richtags.dump(path)
    for item in items.getvalue().splitlines():
        if not item.lower().startswith(PICTURE_KEYS):
            print(item)


def make(path):
    taggers = {"mp3": richtags.tag_mp3, "flac": richtags.tag_flac, "ogg": richtags.tag_ogg,
               "m4a": richtags.tag_m4a, "ape": richtags.tag_ape, "wma": richtags.tag_wma}
    taggers[path.rsplit(".", 1)[1]](path)
    back(path)


def wrapped(path):
    block = (struct.pack(">II", 3, 0xFFFFFFF0) + b"image/png" + struct.pack(">I", 0) +
             struct.pack(">IIIII", 1, 1, 24, 0, len(BACK)) + BACK)
    f = flac.FLAC(path) if path.endswith(".flac") else oggvorbis.OggVorbis(path)
    if f.tags is None:
        f.add_tags()
    f.tags["METADATA_BLOCK_PICTURE"] = [base64.b64encode(block).decode()]
    f.save()


def pcm(path):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        import aifc
        import wave
        out = wave.open(path, "wb") if path.endswith(".wav") else aifc.open(path, "wb")
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"\0\0" * 16000)
        out.close()
    f = mutagen.File(path)
    f.add_tags()
    f.tags.add(id3.APIC(encoding=3, mime="image/png", type=4, desc="back", data=BACK))
    f.save()


def main():
    for path in sys.argv[2:]:
        {"make": make, "dump": dump, "wrapped": wrapped, "pcm": pcm}[sys.argv[1]](path)


if __name__ == "__main__":
    main()
