#!/usr/bin/env python3
"""Writes beep2.wav, the record button's start and stop sound: a short two-tone chime (A5 with
a soft octave), 0.25 s, 44.1 kHz 16-bit mono, with a quick attack and an exponential tail so
it neither clicks nor drags. Run it to remake the file."""
import math
import struct
import sys
import wave

RATE = 44100
LENGTH = 0.25


def sample(t):
    attack = min(1.0, t / 0.006)
    tail = math.exp(-t * 14.0)
    tone = 0.72 * math.sin(2 * math.pi * 880 * t) + 0.22 * math.sin(2 * math.pi * 1760 * t) \
        + 0.06 * math.sin(2 * math.pi * 2640 * t)
    fade = min(1.0, (LENGTH - t) / 0.01)  # the last 10 ms go to silence
    return 0.6 * attack * tail * fade * tone


def main(path):
    frames = bytearray()
    for i in range(int(RATE * LENGTH)):
        frames += struct.pack('<h', int(round(32767 * sample(i / RATE))))
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'beep2.wav')
