#!/usr/bin/python3
"""Tags an audio file the way other software tags a real collection, or lists what a file holds.

    richtags.py tag FILE    adds full dates, track totals, several values, cover art, lyrics,
                            ReplayGain and MusicBrainz items to FILE (by its extension)
    richtags.py id3v23 FILE   gives an MP3 an ID3v2.3 tag as most taggers write it
    richtags.py mp3gain FILE  the same, with the APEv2 tag mp3gain leaves and an ID3v1 tag
    richtags.py id3v1 FILE    gives an MP3 an ID3v1 tag alone
    richtags.py dump FILE...  prints every tag item of each FILE as mutagen reads it, one per
                              line (after a line "== FILE" when there are several)
    richtags.py frames FILE   prints an MP3's ID3v2 version and frames as stored (no
                              translation), its APE items, ID3v1 block and the audio's hash
    richtags.py values FILE   prints the title, artist, genre, track and date values, one
                              field per line, values separated by "|"

Written with mutagen, so that the files under test come from another tag library than ours.
"""
import hashlib
import sys

import mutagen
from mutagen import apev2, asf, flac, id3, mp4, oggvorbis

PICTURE = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4
MBID = "7f3b8c2e-1d4a-4c55-9a0b-3e2f1d0c9b8a"
LYRICS = "First line\nSecond line"


def flac_picture():
    pic = flac.Picture()
    pic.type = 3
    pic.mime = "image/png"
    pic.desc = "front"
    pic.width = pic.height = 1
    pic.depth = 24
    pic.data = PICTURE
    return pic


def tag_mp3(path):
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=3, text="Old Title"))
    tags.add(id3.TPE1(encoding=1, text=["Ann", "Bob"]))
    tags.add(id3.TALB(encoding=3, text="The Album"))
    tags.add(id3.TRCK(encoding=0, text="3/12"))
    tags.add(id3.TPOS(encoding=0, text="1/2"))
    tags.add(id3.TDRC(encoding=0, text="2019-05-17"))
    tags.add(id3.TCON(encoding=3, text=["Rock", "Pop"]))
    tags.add(id3.COMM(encoding=3, lang="eng", desc="", text="A comment"))
    tags.add(id3.COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000A1B 00000C2D"))
    tags.add(id3.TCOP(encoding=3, text="(C) 2019 Label"))
    tags.add(id3.TBPM(encoding=0, text="120"))
    tags.add(id3.TKEY(encoding=0, text="Am"))
    tags.add(id3.USLT(encoding=3, lang="eng", desc="", text=LYRICS))
    tags.add(id3.APIC(encoding=3, mime="image/png", type=3, desc="front", data=PICTURE))
    tags.add(id3.TXXX(encoding=3, desc="REPLAYGAIN_TRACK_GAIN", text="-6.50 dB"))
    tags.add(id3.TXXX(encoding=3, desc="MusicBrainz Album Id", text=MBID))
    tags.add(id3.UFID(owner="http://musicbrainz.org", data=MBID.encode()))
    tags.save(path, v2_version=4)


def tag_id3v23(path):
    """Frames as a 2.3 tagger writes them: TYER and TDAT, not TDRC, and UTF-16 texts."""
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=1, text="Old Title"))
    tags.add(id3.TPE1(encoding=1, text="Ann/Bob"))
    tags.add(id3.TALB(encoding=1, text="The Album"))
    tags.add(id3.TRCK(encoding=0, text="3/12"))
    tags.add(id3.TPOS(encoding=0, text="1/2"))
    tags.add(id3.TYER(encoding=1, text="2019"))
    tags.add(id3.TDAT(encoding=1, text="1705"))
    tags.add(id3.TIME(encoding=0, text="1230"))
    tags.add(id3.TCON(encoding=1, text="(17)Rock"))
    tags.add(id3.COMM(encoding=1, lang="eng", desc="", text="A comment"))
    tags.add(id3.COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000A1B 00000C2D"))
    tags.add(id3.USLT(encoding=1, lang="eng", desc="", text=LYRICS))
    tags.add(id3.APIC(encoding=0, mime="image/png", type=3, desc="front", data=PICTURE))
    tags.add(id3.TXXX(encoding=1, desc="REPLAYGAIN_TRACK_GAIN", text="-6.50 dB"))
    tags.add(id3.UFID(owner="http://musicbrainz.org", data=MBID.encode()))
    tags.add(id3.POPM(email="rating@example.org", rating=196, count=3))
    tags.add(id3.PCNT(count=7))
    tags.add(id3.PRIV(owner="WM/MediaClassPrimaryID", data=b"\x01\x02\x03"))
    tags.add(id3.GEOB(encoding=0, mime="application/x-test", filename="a.bin", desc="blob",
                      data=b"\x00\x01binary"))
    tags.add(id3.WXXX(encoding=0, desc="shop", url="http://example.org/"))
    tags.add(id3.RVAD(adjustments=[13878, 13878, 0, 0]))
    for frame in (id3.TSOP, id3.TSOA, id3.TSOT, id3.TSO2):
        tags.add(frame(encoding=1, text="Sort " + frame.__name__))
    tags.add(id3.TCMP(encoding=0, text="1"))
    tags.save(path, v2_version=3, v1=0)


def tag_mp3gain(path):
    tag_id3v23(path)
    ape = apev2.APEv2()
    ape["MP3GAIN_MINMAX"] = "080,140"
    ape["MP3GAIN_UNDO"] = "+003,+003,N"
    ape["REPLAYGAIN_TRACK_GAIN"] = "-3.10 dB"
    ape["REPLAYGAIN_TRACK_PEAK"] = "0.912345"
    ape.save(path)
    with open(path, "ab") as f:
        f.write(make_id3v1("Old Title", "Ann"))


def make_id3v1(title, artist):
    block = b"TAG" + title.encode().ljust(30, b"\0") + artist.encode().ljust(30, b"\0")
    return block + b"The Album".ljust(30, b"\0") + b"2019" + b"v1 comment".ljust(28, b"\0") \
        + b"\0\x03" + b"\x11"


def tag_id3v1(path):
    with open(path, "ab") as f:
        f.write(make_id3v1("Old Title", "Ann"))


def frames(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        tags = id3.ID3(path, translate=False, load_v1=False)
        print("version=%d.%d" % tags.version[:2])
        for frame in sorted(tags.values(), key=lambda f: f.HashKey):
            print("%s=%s" % (frame.HashKey, describe_frame(frame)))
        audio_start = tags.size
    except id3.ID3NoHeaderError:
        audio_start = 0
    end = len(data)
    if data[-128:-125] == b"TAG":
        end -= 128
        print("id3v1=%s" % data[-128:].hex())
    if data[end - 32:end - 24] == b"APETAGEX":
        flags = int.from_bytes(data[end - 12:end - 8], "little")
        end -= int.from_bytes(data[end - 20:end - 16], "little") + (32 if flags >> 31 else 0)
        for key, value in apev2.APEv2(path).items():
            print("ape:%s=%s" % (key, describe(value.value)))
    print("audio=%s" % describe(data[audio_start:end]))


def describe_frame(frame):
    fields = []
    for part in frame._framespec + frame._optionalspec:
        value = getattr(frame, part.name, None)
        fields.append("%s=%s" % (part.name, describe(value) if isinstance(value, bytes)
                                 else repr(value)))
    return ", ".join(fields)


FIELD_KEYS = {
    "mp3": ("TIT2", "TPE1", "TCON", "TRCK", "TDRC"),
    "ogg": ("title", "artist", "genre", "tracknumber", "date"),
    "flac": ("title", "artist", "genre", "tracknumber", "date"),
    "m4a": ("\xa9nam", "\xa9ART", "\xa9gen", "trkn", "\xa9day"),
    "wma": ("Title", "Author", "WM/Genre", "WM/TrackNumber", "WM/Year"),
    "ape": ("Title", "Artist", "Genre", "Track", "Year"),
}


def values(path):
    f = mutagen.File(path)
    kind = path.rsplit(".", 1)[1]
    for name, key in zip(("title", "artist", "genre", "track", "date"), FIELD_KEYS[kind]):
        found = f.tags.get(key) if f.tags is not None else None
        if found is None:
            texts = []
        elif kind == "mp3":
            texts = [str(t) for t in found.text]
        elif kind == "ape":
            texts = list(found)
        elif kind == "m4a" and key == "trkn":
            texts = ["%d/%d" % pair for pair in found]
        else:
            texts = [str(v) for v in found]
        if name == "track" and kind in ("ogg", "flac") and "tracktotal" in f.tags:
            texts = ["%s/%s" % (texts[0], f.tags["tracktotal"][0])]
        print("%s=%s" % (name, "|".join(t for t in texts if t != "")))


def tag_xiph(tags, track_style):
    tags["TITLE"] = "Old Title"
    tags["ARTIST"] = ["Ann", "Bob"]
    tags["ALBUM"] = "The Album"
    if track_style == "slash":
        tags["TRACKNUMBER"] = "3/12"
    else:
        tags["TRACKNUMBER"] = "3"
        tags["TRACKTOTAL"] = "12"
    tags["DATE"] = "2019-05-17"
    tags["GENRE"] = ["Rock", "Pop"]
    tags["COMMENT"] = "A comment"
    tags["DESCRIPTION"] = "A description"
    tags["COPYRIGHT"] = "(C) 2019 Label"
    tags["BPM"] = "120"
    tags["INITIALKEY"] = "Am"
    tags["LYRICS"] = LYRICS
    tags["REPLAYGAIN_TRACK_GAIN"] = "-6.50 dB"
    tags["MUSICBRAINZ_TRACKID"] = MBID


def tag_flac(path):
    f = flac.FLAC(path)
    if f.tags is None:
        f.add_tags()
    tag_xiph(f.tags, "total")
    f.clear_pictures()
    f.add_picture(flac_picture())
    f.save()


def tag_ogg(path):
    import base64
    f = oggvorbis.OggVorbis(path)
    tag_xiph(f.tags, "slash")
    f.tags["METADATA_BLOCK_PICTURE"] = base64.b64encode(flac_picture().write()).decode()
    f.save()


def tag_m4a(path):
    f = mp4.MP4(path)
    if f.tags is None:
        f.add_tags()
    t = f.tags
    t["\xa9nam"] = "Old Title"
    t["\xa9ART"] = ["Ann", "Bob"]
    t["\xa9alb"] = "The Album"
    t["trkn"] = [(3, 12)]
    t["disk"] = [(1, 2)]
    t["\xa9day"] = "2019-05-17"
    t["\xa9gen"] = ["Rock", "Pop"]
    t["\xa9cmt"] = "A comment"
    t["cprt"] = "(C) 2019 Label"
    t["tmpo"] = [120]
    t["----:com.apple.iTunes:initialkey"] = [mp4.MP4FreeForm(b"Am")]
    t["\xa9lyr"] = LYRICS
    t["covr"] = [mp4.MP4Cover(PICTURE, imageformat=mp4.MP4Cover.FORMAT_PNG)]
    t["----:com.apple.iTunes:replaygain_track_gain"] = [mp4.MP4FreeForm(b"-6.50 dB")]
    t["----:com.apple.iTunes:MusicBrainz Track Id"] = [mp4.MP4FreeForm(MBID.encode())]
    f.save()


def tag_ape(path):
    try:
        tags = apev2.APEv2(path)
    except apev2.APENoHeaderError:
        tags = apev2.APEv2()
    tags["Title"] = "Old Title"
    tags["Artist"] = ["Ann", "Bob"]
    tags["Album"] = "The Album"
    tags["Track"] = "3/12"
    tags["Year"] = "2019-05-17"
    tags["Genre"] = ["Rock", "Pop"]
    tags["Comment"] = "A comment"
    tags["Copyright"] = "(C) 2019 Label"
    tags["BPM"] = "120"
    tags["INITIALKEY"] = "Am"
    tags["Lyrics"] = LYRICS
    tags["REPLAYGAIN_TRACK_GAIN"] = "-6.50 dB"
    tags["MUSICBRAINZ_TRACKID"] = MBID
    tags["Cover Art (Front)"] = apev2.APEValue(b"front.png\x00" + PICTURE, apev2.BINARY)
    tags.save(path)


def tag_wma(path):
    f = asf.ASF(path)
    t = f.tags
    t["Title"] = "Old Title"
    t["Author"] = ["Ann", "Bob"]
    t["WM/AlbumTitle"] = "The Album"
    t["WM/TrackNumber"] = [asf.ASFDWordAttribute(3)]
    t["WM/PartOfSet"] = "1/2"
    t["WM/Year"] = "2019"
    t["WM/Genre"] = ["Rock", "Pop"]
    t["Description"] = "A comment"
    t["Copyright"] = "(C) 2019 Label"
    t["WM/BeatsPerMinute"] = "120"
    t["WM/InitialKey"] = "Am"
    t["WM/Lyrics"] = LYRICS
    t["replaygain_track_gain"] = "-6.50 dB"
    t["MusicBrainz/Track Id"] = MBID
    picture = (b"\x03" + len(PICTURE).to_bytes(4, "little") + "image/png\0".encode("utf-16-le")
               + "\0".encode("utf-16-le") + PICTURE)
    t["WM/Picture"] = [asf.ASFByteArrayAttribute(picture)]
    f.save()


def describe(value):
    if isinstance(value, bytes):
        return "bytes:%d:%s" % (len(value), hashlib.sha1(value).hexdigest())
    for name in ("data", "value"):
        data = getattr(value, name, None)
        if isinstance(data, bytes) and len(data) > 64:
            return "%s:%s" % (type(value).__name__, describe(data))
    return repr(value)


def dump(path):
    f = mutagen.File(path)
    lines = []
    for key, value in (f.tags.items() if f.tags is not None else []):
        values = value if isinstance(value, list) else [value]
        lines.append("%s=%s" % (key, " | ".join(describe(v) for v in values)))
    if isinstance(f, flac.FLAC):
        lines += ["picture=%s" % describe(p.data) for p in f.pictures]
    if path.endswith(".mp3"):
        try:
            ape = apev2.APEv2(path)
            lines += ["ape:%s=%s" % (k, describe(v.value)) for k, v in ape.items()]
        except apev2.APENoHeaderError:
            pass
    for line in sorted(lines):
        print(line)


def main():
    command, paths = sys.argv[1], sys.argv[2:]
    if command == "dump":
        for path in paths:
            if len(paths) > 1:
                print("== " + path)
            dump(path)
        return
    path = paths[0]
    commands = {"id3v23": tag_id3v23, "mp3gain": tag_mp3gain, "id3v1": tag_id3v1,
                "frames": frames, "values": values}
    if command in commands:
        commands[command](path)
        return
    taggers = {"mp3": tag_mp3, "flac": tag_flac, "ogg": tag_ogg, "m4a": tag_m4a, "ape": tag_ape,
               "wma": tag_wma}
    taggers[path.rsplit(".", 1)[1]](path)


if __name__ == "__main__":
    main()
