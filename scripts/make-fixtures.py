#!/usr/bin/env python3
"""Generate the small audio files under tests/fixtures/.

Run by hand when the fixtures must change, then commit the output; the build and CI only read
the committed files and need no encoder. Needs ffmpeg, lame, flac and vorbis-tools (oggenc).

Every file holds 2 seconds of a quiet 440 Hz tone (the APE file: silence), 8 kHz mono where
the codec allows it, and no tag of any kind.
"""

import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SECONDS = 2
RATE = 8000
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "fixtures")

# Keeps ffmpeg from writing its encoder name and other metadata into the output.
FFMPEG_QUIET = ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact"]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def ffmpeg(*args):
    run("ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", *args)


def wav_header(data_bytes, channels=1, bits=16, rate=RATE):
    block_align = channels * bits // 8
    return (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE"
            + b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * block_align,
                                    block_align, bits)
            + b"data" + struct.pack("<I", data_bytes))


def monkeys_audio(path):
    """A Monkey's Audio 3.99 file of 2 s of 16-bit mono silence in one frame.

    There is no Debian encoder, so the file is put together by hand: descriptor, header, a
    one-entry seek table, the stored WAV header and a single frame flagged as pure silence (a
    decoder outputs zeros without reading any coded samples).
    """
    blocks = RATE * SECONDS
    pcm_bytes = blocks * 2
    header_data = wav_header(pcm_bytes)
    # Frame words are stored little-endian. The CRC covers the decoded PCM bytes, stored
    # shifted right by one; its top bit announces the frame-flags word that follows
    # (1 = mono silence). The zero bytes feed the range decoder's start-up.
    crc = (zlib.crc32(bytes(pcm_bytes)) & 0xFFFFFFFF) >> 1
    frame = struct.pack("<II", crc | 0x80000000, 1) + bytes(8)

    descriptor_bytes, header_bytes, seek_table_bytes = 52, 24, 4
    frame_offset = descriptor_bytes + header_bytes + seek_table_bytes + len(header_data)
    ape_header = struct.pack("<HHIIIHHI",
                             2000,           # compression level: normal
                             0,              # format flags
                             73728 * 4,      # blocks per frame (version 3.95 and later)
                             blocks,         # blocks in the final (only) frame
                             1,              # total frames
                             16, 1, RATE)    # bits per sample, channels, sample rate
    seek_table = struct.pack("<I", frame_offset)
    md5 = hashlib.md5(header_data + frame + ape_header + seek_table).digest()
    descriptor = (b"MAC " + struct.pack("<HH", 3990, 0)
                  + struct.pack("<IIIIIII", descriptor_bytes, header_bytes, seek_table_bytes,
                                len(header_data), len(frame), 0, 0)
                  + md5)
    assert len(descriptor) == descriptor_bytes and len(ape_header) == header_bytes
    with open(path, "wb") as f:
        f.write(descriptor + ape_header + seek_table + header_data + frame)


def main():
    for tool in ("ffmpeg", "lame", "flac", "oggenc"):
        if not shutil.which(tool):
            sys.exit(f"make-fixtures: {tool} is missing (apt-get install ffmpeg lame flac "
                     "vorbis-tools)")
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "tone.wav")
        ffmpeg("-f", "lavfi", "-i", f"sine=frequency=440:sample_rate={RATE}:duration={SECONDS}",
               "-af", "volume=0.3", "-ac", "1", "-c:a", "pcm_s16le", *FFMPEG_QUIET, wav)

        def out(name):
            return os.path.join(OUT, name)

        # MPEG-2 layer III at 16 kHz: lame writes no ID3 tag unless asked to.
        run("lame", "--silent", "-m", "m", "-b", "8", "--resample", "16", wav, out("sample.mp3"))
        # A fixed stream serial number keeps the output the same from run to run.
        run("oggenc", "--quiet", "--serial", "1", "-q", "-1", "-o", out("sample.ogg"), wav)
        run("flac", "--silent", "--force", "--best", "--no-padding", "-o", out("sample.flac"), wav)
        # wmav2 needs at least 24 kbit/s at 8 kHz.
        ffmpeg("-i", wav, "-c:a", "wmav2", "-b:a", "24k", *FFMPEG_QUIET, out("sample.wma"))
        ffmpeg("-i", wav, "-c:a", "aac", "-b:a", "12k", *FFMPEG_QUIET, out("sample.m4a"))
    monkeys_audio(out("sample.ape"))

    # Not audio at all, under an audio extension: a fixed pseudo-random byte pattern.
    garbage = bytes((i * 7919 + 13) % 251 for i in range(4096))
    with open(out("garbage.mp3"), "wb") as f:
        f.write(garbage)


if __name__ == "__main__":
    main()
