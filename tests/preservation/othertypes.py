#!/usr/bin/python3
"""Makes a tiny file of one of the types only tagora-cli lists, tagged as other software tags it.

    othertypes.py make M4A FILE...  writes each FILE (its type by its extension: opus oga spx wv
                                    mpc tta wav aif aiff, or m4b m4p mp4 3g2 from the M4A file)
                                    and tags it with mutagen the way richtags.py tags the six

The audio is the least each format's readers (mutagen's and TagLib's) accept: a header and a
few bytes, so every file stays under a few KB.
"""
import os
import shutil
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import richtags  # noqa: E402
from mutagen import aiff, id3, oggflac, oggopus, oggspeex, trueaudio, wave  # noqa: E402
from mutagen.ogg import OggPage  # noqa: E402

VENDOR = b"othertypes"


def vorbis_comment():
    return struct.pack("<I", len(VENDOR)) + VENDOR + struct.pack("<I", 0)


def ogg(path, packets, granule):
    """One packet a page: the headers, then the audio packet at `granule`."""
    data = b""
    for sequence, packet in enumerate(packets):
        page = OggPage()
        page.serial = 0x7A60
        page.sequence = sequence
        page.packets = [packet]
        page.position = granule if sequence == len(packets) - 1 else 0
        page.first = sequence == 0
        page.last = sequence == len(packets) - 1
        data += page.write()
    with open(path, "wb") as f:
        f.write(data)


def make_opus(path):
    head = b"OpusHead" + struct.pack("<BBHIhB", 1, 1, 312, 48000, 0, 0)
    ogg(path, [head, b"OpusTags" + vorbis_comment(), b"\xf8\xff\xfe"], 48000 + 312)


def make_spx(path):
    head = b"Speex   " + b"1.2".ljust(20, b"\0")
    head += struct.pack("<13i", 1, 80, 8000, 0, 4, 1, -1, 160, 0, 1, 0, 0, 0)
    ogg(path, [head, vorbis_comment(), b"\x00" * 20], 8000)


def flac_streaminfo(rate, channels, bits, samples):
    packed = rate << 44 | (channels - 1) << 41 | (bits - 1) << 36 | samples
    return struct.pack(">HH", 4096, 4096) + b"\0" * 6 + packed.to_bytes(8, "big") + b"\0" * 16


def make_oga(path):
    streaminfo = flac_streaminfo(44100, 1, 16, 44100)
    head = b"\x7fFLAC\x01\x00" + struct.pack(">H", 1) + b"fLaC"
    head += b"\x00" + len(streaminfo).to_bytes(3, "big") + streaminfo
    comment = vorbis_comment()
    comments = b"\x84" + len(comment).to_bytes(3, "big") + comment
    ogg(path, [head, comments, b"\xff\xf8\x69\x08\x00\x00\x00"], 44100)


def make_wv(path):
    flags = 1 | 1 << 2 | 0x1800 | 9 << 23  # 16 bits, mono, one block, 44100 Hz
    header = b"wvpk" + struct.pack("<IHBBIIIII", 24, 0x410, 0, 0, 44100, 0, 44100, flags, 0)
    with open(path, "wb") as f:
        f.write(header)


def make_mpc(path):
    # Stream version 7: frame count, then the sample rate in bits 16-17 of the flags (44100).
    header = b"MP+\x07" + struct.pack("<II", 40, 0) + b"\0" * 20
    with open(path, "wb") as f:
        f.write(header + b"\0" * 64)


def make_tta(path):
    header = b"TTA1" + struct.pack("<HHHII", 1, 1, 16, 44100, 44100)
    with open(path, "wb") as f:
        f.write(header + b"\0" * 4 + b"\0" * 64)


def make_wav(path):
    samples = b"\0\0" * 400
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 16000, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(samples)) + samples
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def make_aiff(path):
    samples = b"\0\0" * 400
    rate_8000 = b"\x40\x0b\xfa" + b"\0" * 7  # 80-bit extended
    comm = struct.pack(">hIh", 1, 400, 16) + rate_8000
    body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm
    body += b"SSND" + struct.pack(">III", len(samples) + 8, 0, 0) + samples
    with open(path, "wb") as f:
        f.write(b"FORM" + struct.pack(">I", len(body)) + body)


def richtags_id3():
    """The ID3v2 frames richtags.py gives an MP3, for a file with an ID3v2 tag elsewhere."""
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "frames.mp3")
        open(path, "wb").close()
        richtags.tag_mp3(path)
        return id3.ID3(path)


def tag_id3_chunk(f):
    f.add_tags()
    for frame in richtags_id3().values():
        f.tags.add(frame)
    f.save()


def tag_ogg_file(f):
    richtags.tag_xiph(f.tags, "slash")
    f.save()


MAKERS = {
    "opus": (make_opus, lambda p: tag_ogg_file(oggopus.OggOpus(p))),
    "spx": (make_spx, lambda p: tag_ogg_file(oggspeex.OggSpeex(p))),
    "oga": (make_oga, lambda p: tag_ogg_file(oggflac.OggFLAC(p))),
    "wv": (make_wv, richtags.tag_ape),
    "mpc": (make_mpc, richtags.tag_ape),
    "tta": (make_tta, lambda p: tag_id3_chunk(trueaudio.TrueAudio(p))),
    "wav": (make_wav, lambda p: tag_id3_chunk(wave.WAVE(p))),
    "aif": (make_aiff, lambda p: tag_id3_chunk(aiff.AIFF(p))),
    "aiff": (make_aiff, lambda p: tag_id3_chunk(aiff.AIFF(p))),
}


def make(m4a, path):
    kind = path.rsplit(".", 1)[1]
    if kind in ("m4b", "m4p", "mp4", "3g2"):
        shutil.copyfile(m4a, path)
        richtags.tag_m4a(path)
        return
    make_file, tag = MAKERS[kind]
    make_file(path)
    tag(path)


def main():
    if len(sys.argv) < 4 or sys.argv[1] != "make":
        sys.exit("usage: othertypes.py make M4A FILE...")
    for path in sys.argv[3:]:
        make(sys.argv[2], path)


if __name__ == "__main__":
    main()
