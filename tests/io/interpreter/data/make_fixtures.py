#!/usr/bin/env python3
"""Writes the binary command files the interpreter tests read (checked in;
rerun only to add fixtures: the files pin the binary forms and codes).

script.vxb and script_swapped.vxb hold, in the reader's and the other byte
order, the records of script.txt plus a record of a procedure code the
library does not have."""
import struct, sys, os

def build(order):
    w = lambda v: struct.pack(order + 'I', v)
    d = lambda v: struct.pack(order + 'd', v)
    f = lambda v: struct.pack(order + 'f', v)
    text = lambda s: w(len(s) + 1) + s.encode() + b'\0'
    def record(code, result, args):
        return w(code) + w(result) + w(len(args)) + args
    out = b'\xfeVXB' + w(0x01020304) + w(0) + w(4) + w(0) + w(7) + w(0xFFFFFFFF)
    out += record(0x90002, 70, b'')                                    # h70 = VoViewCreate
    out += record(0x7fff0001, 0, w(1) + w(2))                          # a code no library has
    out += record(0x9000b, 0, w(70) + w(160) + w(120) + d(1.0))        # VoViewSetResolution
    out += record(0x90005, 0, w(70))                                   # VoViewSet
    out += record(0x5000c, 2, w(0x50008) + text("point"))              # s = VoShaderCreate
    out += record(0x50012, 0, w(2) + text("intensity") + w(3) + f(2.5))  # VoShaderSetArg
    out += record(0x5000d, 0, w(2))                                    # VoShaderDestroy
    out += w(0)
    return out

here = os.path.dirname(os.path.abspath(__file__))
native = '<' if sys.byteorder == 'little' else '>'
other = '>' if native == '<' else '<'
open(os.path.join(here, 'script.vxb'), 'wb').write(build(native))
open(os.path.join(here, 'script_swapped.vxb'), 'wb').write(build(other))
