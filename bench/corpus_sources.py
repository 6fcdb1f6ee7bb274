#!/usr/bin/python3
"""Makes the genuine 30-second pieces of the detector corpus as 16-bit 44.1 kHz WAV files.

Drum loops are arranged from hydrogen-drumkits' recorded samples; the other pieces are MIDI
written here and rendered by fluidsynth through the FluidR3 General MIDI soundfont. Soft and
quiet pieces are included on purpose (soft piano, pads under tape-like hiss), since those are
what a fixed-level cutoff search misreads.

Usage: corpus_sources.py OUTDIR
"""

import glob
import os
import struct
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 44100
SECONDS = 30
KITS = "/usr/share/hydrogen/data/drumkits"
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"


def decode(path):
    """Any audio file as a float32 stereo array at RATE."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "2", "-ar", str(RATE), "-"],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.float32).reshape(-1, 2).copy()


def write_wav(path, audio, rng):
    """16-bit with TPDF dither, as a recording would be delivered."""
    dither = (rng.random(audio.shape) - rng.random(audio.shape)) / 32768.0
    pcm = np.clip(np.round((audio + dither) * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(pcm.tobytes())


def fit(audio, peak_db):
    """Loops or cuts to 30 s and scales to the given peak level."""
    frames = RATE * SECONDS
    reps = int(np.ceil(frames / max(len(audio), 1)))
    audio = np.tile(audio, (reps, 1))[:frames]
    peak = np.max(np.abs(audio)) or 1.0
    return audio * (10 ** (peak_db / 20.0) / peak)


def hiss(rng, level_db, tilt=0.0):
    """Stereo noise at an RMS level in dBFS; a positive tilt makes it rise toward the top like tape hiss."""
    noise = rng.standard_normal((RATE * SECONDS, 2))
    if tilt:
        spectrum = np.fft.rfft(noise, axis=0)
        freqs = np.fft.rfftfreq(noise.shape[0], 1.0 / RATE)
        spectrum *= (1.0 + tilt * freqs / (RATE / 2))[:, None]
        noise = np.fft.irfft(spectrum, n=noise.shape[0], axis=0)
    noise /= np.sqrt(np.mean(noise ** 2))
    return noise * 10 ** (level_db / 20.0)


# --- drum loops ------------------------------------------------------------------------------

def pick(kit, patterns):
    for pattern in patterns:
        found = sorted(glob.glob(os.path.join(KITS, kit, pattern)))
        if found:
            return found[len(found) // 2]
    return None


DRUM_LOOPS = [
    # name, kit, kick, snare, hat, tempo, peak dB, hat gain
    ("drums-pacific-rock", "BJA_Pacific", ["BD_0*"], ["SD_0*", "SN*"], ["HH_0*"], 100, -1, 0.5),
    ("drums-colombo-soft", "ColomboAcousticDrumkit", ["bassdrum*soft*"], ["snare*"], ["hihat-closed*"], 84, -18, 0.35),
    ("drums-electric-empire", "ElectricEmpireKit", ["EE_Kick_Hard*"], ["EE_Snare_1*"], ["EE_Hat_Cl*"], 124, -2, 0.5),
    ("drums-forzee-ride", "ForzeeStereo", ["Kick*", "BassDrum*"], ["Snare*"], ["Ride*", "CrashRide18Bow*"], 96, -6, 0.4),
    ("drums-hand-percussion", "Gimme A Hand 1.0", ["CajonThumps-Med*"], ["CajonSlaps-Soft*"], ["Shaker*", "Clave-Soft*"], 110, -12, 0.4),
    ("drums-hardelectro", "HardElectro1", ["PowR_BD*"], ["PowR_SN*", "Clap*"], ["Hard_CHH*"], 128, -1, 0.6),
    ("drums-millo-quiet", "Millo-Drums_v.1", ["bd1*"], ["snare1*"], ["closehihat*"], 90, -26, 0.3),
    ("drums-millo-layered", "Millo_MultiLayered2", ["bd_02*"], ["jsnare_02*"], ["hhclosed_02*"], 118, -3, 0.5),
    ("drums-black-pearl-soft", "The Black Pearl 1.0", ["PearlKick-Soft*"], ["*Snare*Soft*", "PearlSideStick-Soft*"], ["*Hat*Soft*", "PaisteRide-Soft*"], 76, -20, 0.4),
    ("drums-varibreaks", "VariBreaks", ["VP Kick 1*"], ["VP Snare 2*"], ["VP Hat 1 Cl*"], 92, -4, 0.5),
    ("drums-djembe", "circAfrique v4", ["Djembe1 Bass*"], ["Djembe2 Slap*"], ["Djembe3 Tone*"], 104, -8, 0.6),
    ("drums-rumpf", "rumpf_kit_z01_h2", ["beats_01-1*"], ["beats_02-1*"], ["beats_03-1*", "beats_04-1*"], 98, -10, 0.4),
]


def drum_loop(kit, kick, snare, hat, tempo, hat_gain, rng):
    sixteenth = int(RATE * 60 / tempo / 4)
    bar = np.zeros((sixteenth * 16 * 2, 2), dtype=np.float32)
    samples = {}
    for role, patterns in (("kick", kick), ("snare", snare), ("hat", hat)):
        path = pick(kit, patterns) or pick(kit, ["*.flac", "*.wav", "*.aiff"])
        samples[role] = decode(path)
    hits = [("kick", s, 1.0) for s in (0, 6, 10, 16, 22, 26)]
    hits += [("snare", s, 0.9) for s in (4, 12, 20, 28)] + [("snare", 31, 0.3)]
    hits += [("hat", s, hat_gain * (1.0 if s % 4 == 0 else 0.6)) for s in range(0, 32, 2)]
    for role, step, gain in hits:
        sample = samples[role]
        start = step * sixteenth
        end = min(len(bar), start + len(sample))
        bar[start:end] += sample[: end - start] * gain * (0.85 + 0.3 * rng.random())
    return bar


# --- MIDI pieces -----------------------------------------------------------------------------

def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def midi_file(path, tempo, tracks):
    """tracks: list of (channel, program, [(start_beat, length_beats, note, velocity)])."""
    ticks = 480
    events = [(0, bytes([0xFF, 0x51, 3]) + int(60_000_000 / tempo).to_bytes(3, "big"))]
    for channel, program, notes in tracks:
        events.append((0, bytes([0xC0 | channel, program])))
        events.append((0, bytes([0xB0 | channel, 91, 60])))  # reverb send
        for start, length, note, velocity in notes:
            on = int(start * ticks)
            events.append((on, bytes([0x90 | channel, note, velocity])))
            events.append((on + int(length * ticks), bytes([0x80 | channel, note, 0])))
    events.sort(key=lambda e: (e[0], e[1][0] & 0xF0 == 0x90))
    body, now = b"", 0
    for time, data in events:
        body += varlen(time - now) + data
        now = time
    body += varlen(0) + bytes([0xFF, 0x2F, 0])
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, ticks))
        out.write(b"MTrk" + struct.pack(">I", len(body)) + body)


def arpeggio(chords, beats_per_chord, step, velocity, rng, octave=0):
    notes, beat = [], 0.0
    while beat < 64:
        chord = chords[int(beat // beats_per_chord) % len(chords)]
        for i in range(int(beats_per_chord / step)):
            note = chord[i % len(chord)] + octave
            notes.append((beat + i * step, step * 2.5, note, max(1, min(127, velocity + rng.integers(-6, 7)))))
        beat += beats_per_chord
    return notes


def pads(chords, beats_per_chord, velocity):
    return [(b * beats_per_chord, beats_per_chord, n, velocity)
            for b in range(int(64 / beats_per_chord)) for n in chords[b % len(chords)]]


def melody(scale, rng, velocity, step=1.0):
    notes, beat, degree = [], 0.0, 3
    while beat < 64:
        degree = int(np.clip(degree + rng.integers(-2, 3), 0, len(scale) - 1))
        length = step * rng.choice([1, 1, 2])
        notes.append((beat, length * 0.9, scale[degree], velocity + int(rng.integers(-8, 9))))
        beat += length
    return notes


C_MAJ = [[60, 64, 67, 72], [57, 60, 64, 69], [53, 57, 60, 65], [55, 59, 62, 67]]
D_MIN = [[62, 65, 69, 74], [58, 62, 65, 70], [60, 64, 67, 72], [57, 61, 64, 69]]
SCALE = [60, 62, 64, 67, 69, 72, 74, 76, 79, 81]


def midi_pieces(rng):
    # name, tempo, tracks, peak dB, hiss (level dB, tilt) or None
    return [
        ("piano-soft-arpeggio", 70, [(0, 0, arpeggio(C_MAJ, 4, 0.5, 30, rng))], -14, None),
        ("piano-quiet-hiss", 60, [(0, 0, arpeggio(D_MIN, 4, 1.0, 22, rng, -12))], -22, (-68, 3.0)),
        ("piano-chords", 90, [(0, 0, pads(C_MAJ, 2, 70) + melody(SCALE, rng, 80, 0.5))], -2, None),
        ("piano-nocturne-hiss", 56, [(0, 0, arpeggio(D_MIN, 8, 0.5, 35, rng) + melody(SCALE, rng, 45))], -10, (-62, 2.0)),
        ("epiano-ballad", 76, [(0, 4, pads(D_MIN, 4, 55) + melody(SCALE, rng, 60))], -8, None),
        ("ambient-pad-hiss", 50, [(0, 89, pads(D_MIN, 8, 50)), (1, 95, pads(C_MAJ, 16, 40))], -16, (-60, 4.0)),
        ("ambient-choir-hiss", 48, [(0, 91, pads(C_MAJ, 8, 45)), (1, 52, pads(D_MIN, 8, 35))], -20, (-64, 2.0)),
        ("ambient-strings", 54, [(0, 49, pads(D_MIN, 8, 60)), (1, 48, pads(C_MAJ, 16, 40))], -6, None),
        ("ambient-sweep-quiet", 40, [(0, 95, pads(C_MAJ, 16, 40)), (1, 88, pads(D_MIN, 8, 35))], -28, (-74, 1.0)),
        ("celesta-musicbox", 96, [(0, 8, arpeggio(C_MAJ, 4, 0.5, 60, rng, 12)), (1, 10, melody(SCALE, rng, 50))], -6, None),
        ("harp-and-flute", 84, [(0, 46, arpeggio(D_MIN, 4, 0.5, 55, rng)), (1, 73, melody(SCALE, rng, 70))], -4, None),
        ("guitar-nylon-soft", 72, [(0, 24, arpeggio(C_MAJ, 4, 0.5, 40, rng, -12))], -16, (-70, 1.0)),
        ("organ-church", 66, [(0, 19, pads(C_MAJ, 4, 70))], -3, None),
        ("vibes-jazz", 110, [(0, 11, melody(SCALE, rng, 65, 0.5)), (1, 32, arpeggio(D_MIN, 4, 1.0, 70, rng, -24))], -5, None),
        ("synth-lead-band", 120, [(0, 81, melody(SCALE, rng, 90, 0.5)), (1, 38, arpeggio(C_MAJ, 4, 1.0, 90, rng, -24)),
                                  (9, 0, [(b * 1.0, 0.5, 36 if b % 2 == 0 else 38, 100) for b in range(64)]
                                   + [(b * 0.5, 0.25, 42, 70) for b in range(128)])], -1, None),
        ("strings-quartet-soft", 64, [(0, 40, melody(SCALE, rng, 45)), (1, 42, pads(D_MIN, 4, 40))], -15, None),
    ]


def render(midi_path, rng):
    with tempfile.NamedTemporaryFile(suffix=".wav") as out:
        subprocess.run(["fluidsynth", "-ni", "-q", "-r", str(RATE), "-g", "0.6", "-F", out.name, SOUNDFONT, midi_path],
                       check=True, capture_output=True)
        return decode(out.name)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    rng = np.random.default_rng(22)
    for name, kit, kick, snare, hat, tempo, peak, hat_gain in DRUM_LOOPS:
        path = os.path.join(outdir, name + ".wav")
        if not os.path.exists(path):
            write_wav(path, fit(drum_loop(kit, kick, snare, hat, tempo, hat_gain, rng), peak), rng)
    for name, tempo, tracks, peak, noise in midi_pieces(rng):
        path = os.path.join(outdir, name + ".wav")
        if os.path.exists(path):
            continue
        with tempfile.NamedTemporaryFile(suffix=".mid") as mid:
            midi_file(mid.name, tempo, tracks)
            audio = fit(render(mid.name, rng), peak)
        if noise:
            audio = audio + hiss(rng, *noise)
        write_wav(path, audio, rng)


if __name__ == "__main__":
    main()
