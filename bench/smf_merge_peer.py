#!/usr/bin/python3
"""Peer of the SMF conversion benchmark: python3-mido reads each file, merges its tracks into one
and writes a format-0 file to memory. Prints the best total CPU seconds over the repetitions."""
import io
import sys
import time

import mido


def convert(path):
    source = mido.MidiFile(path)
    merged = mido.MidiFile(type=0, ticks_per_beat=source.ticks_per_beat)
    merged.tracks.append(mido.merge_tracks(source.tracks))
    merged.save(file=io.BytesIO())


def main(repetitions, paths):
    best = None
    for _ in range(repetitions):
        start = time.process_time()
        for path in paths:
            convert(path)
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
    print(f'{best:.6f}')


if __name__ == '__main__':
    main(int(sys.argv[1]), sys.argv[2:])
