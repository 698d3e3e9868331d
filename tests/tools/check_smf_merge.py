#!/usr/bin/python3
"""Checks converted MIDI payloads with a reader independent of the converter.

Usage: check_smf_merge.py SOURCE.mid CONVERTED.PDB [SOURCE.mid CONVERTED.PDB ...]

For every pair: the database is at most 64000 bytes; its payload (after the 86-byte database
header and the 38-byte record header) is a format-0 SMF; a payload longer than the source's
events ends with All Sound Off on channels 0..15 and End of Track; and its events, as
(absolute tick, message bytes), equal the source's events merged by time, channel (system and
meta events count as channel 0), track and file order, apart from the inserted Master Volume
messages. Prints one line per file and exits non-zero on the first mismatch.
"""
import io
import sys

import mido

DATABASE_LIMIT = 64000
PAYLOAD_OFFSET = 86 + 38
INSERTED_VOLUME = (0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7)
TAIL = bytes(b for channel in range(16) for b in (0x00, 0xB0 | channel, 0x78, 0x00)) + bytes((0, 0xFF, 0x2F, 0))


def message_bytes(message):
    return tuple(message.bytes())


def designed_merge(source):
    events = []
    for track_index, track in enumerate(source.tracks):
        tick = 0
        for order, message in enumerate(track):
            tick += message.time
            if message.is_meta and message.type == 'end_of_track':
                continue
            channel = getattr(message, 'channel', 0)
            events.append((tick, channel, track_index, order, message_bytes(message)))
    events.sort(key=lambda e: e[:4])
    return [(e[0], e[4]) for e in events]


def payload_events(payload):
    converted = mido.MidiFile(file=io.BytesIO(payload))
    if converted.type != 0 or len(converted.tracks) != 1:
        raise AssertionError('payload is not a format-0 file with one track')
    events, tick = [], 0
    for message in converted.tracks[0]:
        tick += message.time
        if message.is_meta and message.type == 'end_of_track':
            continue
        events.append((tick, message_bytes(message)))
    return events


def check(source_path, database_path):
    with open(database_path, 'rb') as database_file:
        database = database_file.read()
    if len(database) > DATABASE_LIMIT:
        raise AssertionError(f'database has {len(database)} bytes')
    payload = database[PAYLOAD_OFFSET:]
    expected = [e for e in designed_merge(mido.MidiFile(source_path)) if e[1] != INSERTED_VOLUME]
    actual = [e for e in payload_events(payload) if e[1] != INSERTED_VOLUME]
    shortened = payload.endswith(TAIL) and len(actual) - 16 < len(expected)
    if shortened:
        actual = actual[:-16]
    if actual != expected[:len(actual)] or (not shortened and len(actual) != len(expected)):
        first = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e), min(len(actual), len(expected)))
        raise AssertionError(f'event {first} differs: {actual[first:first + 2]} != {expected[first:first + 2]}')
    print(f'{source_path}: {len(actual)} of {len(expected)} events match{", shortened" if shortened else ""}')


def main(arguments):
    if len(arguments) % 2:
        print(__doc__, file=sys.stderr)
        return 2
    for source_path, database_path in zip(arguments[0::2], arguments[1::2]):
        try:
            check(source_path, database_path)
        except Exception as error:  # any mismatch or parse failure fails the check
            print(f'{source_path}: {error}', file=sys.stderr)
            return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
