"""An independent reader agrees: mutagen writes a corpus of ID3v2 tags (and two are built by
hand), `sondrel process --tag --yes` rewrites them, and mutagen reads every frame back equal
apart from our one comment, with the audio bytes after the tag unchanged.

    python3 mutagen_reads_back_every_frame.py SONDREL SONDREL_FIXTURES
"""
import os
import struct
import subprocess
import sys
import tempfile

from mutagen.id3 import (APIC, CHAP, COMM, CTOC, CTOCFlags, GEOB, ID3, POPM, PRIV, TALB, TBPM, TCOM,
                         TCON, TDRC, TIT2, TKEY, TPE1, TPE2, TRCK, TXXX, UFID, USLT)

OURS = "COMM:Sondrel Quality Check:eng"
JPEG = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10]) + b"JFIF\0" + bytes(range(256)) * 4
PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(255, -1, -1)) * 3


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def tag_length(data):
    if data[:3] != b"ID3":
        return 0
    footer = 10 if data[3] == 4 and data[5] & 0x10 else 0
    return 10 + footer + int.from_bytes(synchsafe_decode(data[6:10]), "big")


def synchsafe_decode(b):
    n = (b[0] << 21) | (b[1] << 14) | (b[2] << 7) | b[3]
    return n.to_bytes(4, "big")


def rich_tags(version):
    tags = ID3()
    tags.add(TIT2(encoding=3, text=["Café 東京"]))
    tags.add(TPE1(encoding=2 if version == 4 else 1, text=["Ärtist Ōne"]))
    tags.add(TALB(encoding=1, text=["Ålbum ☃"]))
    tags.add(TPE2(encoding=0, text=["Ålbum Ärtist"]))
    tags.add(TCOM(encoding=3, text=["Çomposer", "Second"]))
    tags.add(TCON(encoding=3, text=["Électro"]))
    tags.add(TRCK(encoding=0, text=["3/12"]))
    tags.add(TBPM(encoding=0, text=["128"]))
    tags.add(TKEY(encoding=1, text=["8A"]))
    tags.add(TDRC(encoding=0, text=["2024-05-01"]))
    tags.add(COMM(encoding=1, lang="eng", desc="", text=["Energy 8 - play at peak time"]))
    tags.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=[" 00000A1B 00000B2C"]))
    tags.add(COMM(encoding=3, lang="fra", desc="Mood", text=["Joyeux é"]))
    tags.add(COMM(encoding=2 if version == 4 else 0, lang="deu", desc="", text=["Gut"]))
    tags.add(USLT(encoding=1, lang="eng", desc="", text="First verse\nSecond line"))
    tags.add(USLT(encoding=3, lang="eng", desc="Chorus", text="La la ♪"))
    tags.add(USLT(encoding=1, lang="jpn", desc="", text="歌詞"))
    tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="Cover A", data=JPEG))
    tags.add(APIC(encoding=1, mime="image/png", type=3, desc="Cover B ☃", data=PNG))
    tags.add(APIC(encoding=3, mime="image/png", type=4, desc="", data=PNG))
    tags.add(TXXX(encoding=1, desc="REPLAYGAIN_TRACK_GAIN", text=["-7.10 dB"]))
    tags.add(POPM(email="dj@example.org", rating=196, count=7))
    tags.add(GEOB(encoding=0, mime="application/octet-stream", filename="", desc="Serato Markers2",
                  data=b"\xab" * 64))
    tags.add(PRIV(owner="Traktor4", data=b"\x00\xff\x10\x80"))
    tags.add(UFID(owner="http://musicbrainz.org", data=b"c0ffee"))
    tags.add(CHAP(element_id="ch0", start_time=0, end_time=1000, start_offset=0xFFFFFFFF,
                  end_offset=0xFFFFFFFF, sub_frames=[TIT2(encoding=3, text=["Intro ☃"])]))
    tags.add(CTOC(element_id="toc", flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
                  child_element_ids=["ch0"], sub_frames=[TIT2(encoding=3, text=["Chapters"])]))
    return tags


def frame(version, ident, body, flags=b"\0\0"):
    size = synchsafe(len(body)) if version == 4 else struct.pack(">I", len(body))
    return ident.encode() + size + flags + body


def hand_built_tag(version, frames, padding=100):
    body = frames + b"\0" * padding
    return b"ID3" + bytes([version, 0, 0]) + synchsafe(len(body)) + body


def utf8_v23():
    # Many taggers write UTF-8 (0x03) into version 2.3 tags.
    return hand_built_tag(3, frame(3, "TIT2", b"\x03Caf\xc3\xa9\0") + frame(3, "TPE1", b"\x03Ren\xc3\xa9e")
                          + frame(3, "COMM", b"\x00engMood\0Joyeux")
                          + frame(3, "USLT", b"\x03eng\xc3\xa9t\xc3\xa9\0L\xc3\xa0"))


def itunes_v24():
    # iTunes long wrote version 2.4 frame sizes as plain numbers.
    def plain(ident, body):
        return ident.encode() + struct.pack(">I", len(body)) + b"\0\0" + body
    cover = b"\x00image/jpeg\x00\x03\x00" + (JPEG * 3)[:3018 - 14]
    return hand_built_tag(4, plain("TIT2", b"\x01\xff\xfeT\0i\0t\0l\0e\0\0\0") + plain("APIC", cover)
                          + plain("TPE1", b"\x00Artist after the picture"))


def zero_padded(version):
    # Numbers as DJ libraries hold them, and (in version 2.3) an artist whose first value is empty.
    numbers = {"TRCK": b"\x0003/12", "TPOS": b"\x001/02", "TBPM": b"\x000128", "TCON": b"\x00(013)",
               "TLEN": b"\x000245000"}
    if version == 3:
        numbers.update({"TYER": b"\x000999", "TPE1": b"\x00\x00Second"})
    else:
        numbers.update({"TRCK": b"\x0007"})
    return hand_built_tag(version, b"".join(frame(version, ident, body) for ident, body in numbers.items()))


def raw_frames(data):
    """(identifier, body) of every frame of a version 2.3 or 2.4 tag, in order."""
    version, end, at, frames = data[3], tag_length(data), 10, []
    while at + 10 <= end and data[at] != 0:
        size = data[at + 4:at + 8]
        length = int.from_bytes(synchsafe_decode(size) if version == 4 else size, "big")
        frames.append((data[at:at + 4], data[at + 10:at + 10 + length]))
        at += 10 + length
    return frames


def frames_of(path):
    tags = ID3(path, translate=False)
    frames = {}
    for key, value in tags.items():
        frames[key] = {name: repr(field) for name, field in vars(value).items() if name != "encoding"}
    return tags.version, frames


def main():
    # The fixture library's folder (as CTest generates it once per run), or its generator.
    sondrel, fixtures = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, XDG_DATA_HOME=work + "/data", XDG_CONFIG_HOME=work + "/config", HOME=work)
        if not os.path.isdir(fixtures):
            subprocess.run([fixtures, work + "/fixtures"], check=True, stdout=subprocess.DEVNULL, env=env)
            fixtures = work + "/fixtures"
        with open(fixtures + "/stereo-44100-mp3-cbr128-from-lossless.mp3", "rb") as source:
            encoded = source.read()
        audio = encoded[tag_length(encoded):]
        library = work + "/library"
        os.mkdir(library)

        files = {}
        for version in (3, 4):
            path = f"{library}/mutagen-v2{version}.mp3"
            with open(path, "wb") as out:
                out.write(audio)
            rich_tags(version).save(path, v2_version=version)
            files[path] = None
        exact = {f"{library}/zero-padded-v23.mp3", f"{library}/zero-padded-v24.mp3"}
        for name, tag in (("utf8-v23.mp3", utf8_v23()), ("itunes-v24.mp3", itunes_v24()),
                          ("zero-padded-v23.mp3", zero_padded(3)), ("zero-padded-v24.mp3", zero_padded(4))):
            with open(f"{library}/{name}", "wb") as out:
                out.write(tag + audio)
            files[f"{library}/{name}"] = None

        before = {}
        exact_frames = {}
        for path in files:
            with open(path, "rb") as data:
                content = data.read()
            before[path] = (frames_of(path), content[tag_length(content):])
            if path in exact:
                exact_frames[path] = raw_frames(content)
        assert len(eval(before[f"{library}/itunes-v24.mp3"][0][1]["APIC:"]["data"])) == 3018 - 14
        assert eval(before[f"{library}/itunes-v24.mp3"][0][1]["TPE1"]["text"]) == ["Artist after the picture"]

        run = subprocess.run([sondrel, "process", library, "--tag", "--yes"], env=env,
                             capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"sondrel process exited {run.returncode}:\n{run.stdout}\n{run.stderr}")

        failures = []
        for path, ((version, frames), old_audio) in before.items():
            with open(path, "rb") as data:
                content = data.read()
            new_version, new_frames = frames_of(path)
            name = os.path.basename(path)
            if content[tag_length(content):] != old_audio:
                failures.append(f"{name}: the audio bytes changed")
            if new_version != version:
                failures.append(f"{name}: version {version} became {new_version}")
            ours = new_frames.pop(OURS, None)
            if ours is None or not eval(ours["text"])[0].startswith("Detected bitrate: "):
                failures.append(f"{name}: our comment is missing")
            # Frames we did not change go back byte for byte.
            for ident, body in exact_frames.get(path, []):
                if (ident, body) not in raw_frames(content):
                    failures.append(f"{name}: {ident.decode()} {body!r} is not written back as it was")
            for key in sorted(set(frames) | set(new_frames)):
                if frames.get(key) != new_frames.get(key):
                    failures.append(f"{name}: {key}: {frames.get(key)} became {new_frames.get(key)}")
        if failures:
            sys.exit("\n".join(failures))
        print(f"{len(before)} files: every frame read back equal, the audio unchanged")


if __name__ == "__main__":
    main()
