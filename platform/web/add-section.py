#!/usr/bin/env python3
"""Copies a WebAssembly module with a custom section appended: MODULE NAME CONTENTS OUT.

The web build puts the resource store into tessic.wasm this way; a custom section of the
given name that the module already has is dropped first, so the output has exactly one."""
import sys


def leb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def read_leb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def main():
    module_path, name, contents_path, out_path = sys.argv[1:]
    module = open(module_path, "rb").read()
    if module[:8] != b"\0asm\1\0\0\0":
        sys.exit(f"{module_path}: not a WebAssembly module")
    kept = bytearray(module[:8])
    at = 8
    while at < len(module):
        start = at
        section_id = module[at]
        size, body = read_leb(module, at + 1)
        end = body + size
        if section_id == 0:
            name_size, name_at = read_leb(module, body)
            if module[name_at:name_at + name_size] == name.encode():
                at = end
                continue
        kept += module[start:end]
        at = end
    contents = open(contents_path, "rb").read()
    encoded = leb(len(name.encode())) + name.encode()
    kept += b"\0" + leb(len(encoded) + len(contents)) + encoded + contents
    open(out_path, "wb").write(kept)


main()
