#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Each seed is a small valid input or an edge case of the format its target
reads. Run it again after changing it; files it no longer makes are left
alone, so that regression inputs added by hand stay (they are named
crash-*, never seed-*).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def bmp(width, height, bits, pixels, table=(), compression=0, clr_used=0, file_size=None,
        offset=None, header_size=40):
    off = 54 + 4 * len(table) if offset is None else offset
    size = off + len(pixels) if file_size is None else file_size
    head = b"BM" + struct.pack("<IHHI", size, 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression,
                       len(pixels), 2835, 2835, clr_used, 0)
    return head + info + b"".join(struct.pack("<I", e) for e in table) + pixels


def sdat(entries, count=None, first=0):
    """entries: (name, type, data[, offset, length])"""
    at = 5 + sum(8 + len(e[0]) + 1 for e in entries)
    out = bytes([first]) + be32(len(entries) if count is None else count)
    for e in entries:
        name, typ, data = e[0], e[1], e[2]
        off = e[3] if len(e) > 3 and e[3] is not None else at
        length = e[4] if len(e) > 4 else len(data)
        out += be32(off) + struct.pack(">HH", typ, length & 0xFFFF) + name + b"\0"
        at += len(data)
    for e in entries:
        out += e[2]
    return out


# --- S.DAT ------------------------------------------------------------------
small_bmp = bmp(2, 2, 24, b"\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xa0\xb0\xc0\0\0")
write("config_file", "every-kind", sdat([
    (b"sync.properties", 14, b"name=Demo\nregistry=Software\\Co\\App\\\n"),
    (b"main.bmp", 3, small_bmp),
    (b"notes", 1, b"caf\xe9 \x93quoted\x94"),
    (b"more", 2, b"second kind of text")], first=0xA5))
write("config_file", "empty", b"")
write("config_file", "too-short", b"\0\0\0")
write("config_file", "no-entries", b"\0" + be32(0))
write("config_file", "count-beyond-entries", sdat([(b"a", 1, b"text")], count=0xFFFFFFFF))
write("config_file", "data-past-end", sdat([(b"a", 1, b"text", 1000)]))
write("config_file", "name-without-zero", b"\0" + be32(1) + be32(13) + b"\0\x01\0\x04abc")
write("config_file", "later-name-wins", sdat([
    (b"x", 1, b"first"), (b"x", 14, b"k=v\n"), (b"x", 99, b"skipped")]))
write("config_file", "bitmap-lying-size", sdat([
    (b"main.bmp", 3, b"BM" + struct.pack("<I", 0xFFFFFF) + b"\0" * 60)]))
write("config_file", "bitmap-offset-at-end", sdat([(b"b", 3, b"", 14 + 1 + 5)]))

# --- property text ---------------------------------------------------------
write("property_set", "lines", "name=Demo\nregistry=Software\\Co\\App\\\nlog=YES\n")
write("property_set", "rules", "a=b=c\n name=spaced\n#name=commented\nno equals sign\n=empty key\n"
      "a=later\r\nlast=no line feed")
write("property_set", "crlf", "x=1\r\ny=2\r\n\r\n")
write("property_set", "empty", "")
write("property_set", "only-breaks", "\n\r\n\r\r\n")

# --- tokenizer: first byte = number of delimiters (mod 5), delimiters, text --
write("tokenizer", "lines", b"\x01\n" + b"OK\n2\nnews|3|0\n")
write("tokenizer", "fields", b"\x02|\n" + b"Headlines|1|a|b|10|news|x")
write("tokenizer", "empty-tokens", b"\x01," + b",,a,,b,")
write("tokenizer", "carriage-returns", b"\x01\n" + b"a\r\nb\r\r\n\r")
write("tokenizer", "no-delimiters", b"\x00" + b"all one token")
write("tokenizer", "zero-byte-delimiter", b"\x02\0\n" + b"a\0b\nc")

# --- profile reply ------------------------------------------------------------
reply = ("OK\n2\nnews|3|0\nsport|5|1\n3\n"
         "Headlines|1|a|b|10|news|x\nScores|2|c|d|11|sport|y\nWeather|3|e|f|12|weather|z\n")
write("profile_reply", "ok", reply)
write("profile_reply", "ok-crlf", reply.replace("\n", "\r\n"))
write("profile_reply", "short-lines", "ok\n0\n1\nShort|4|a|b|9\n")
write("profile_reply", "duplicates", "OK\n3\nnews|3|0\nsport|4|0\nnews|9|0\n2\n"
      "Old|1|a|b|1|news|x\nNew|1|c|d|2|news|y\n")
write("profile_reply", "huge-count", "OK\n2000000000\nnews|3|0\n")
write("profile_reply", "negative-count", "OK\n-5\n-7\nA|1\n")
write("profile_reply", "redirect", "REDIRECT\n?m=renew&x=1\nupdate\n")
write("profile_reply", "redirect-login", "redirect\r\n/page\r\nlogin\r\n")
write("profile_reply", "error", "ERROR\nnews|3|0\nupdate\n")
write("profile_reply", "zero-byte", "OK\n1\nne\0ws|3|0\n")

# --- .edm body -------------------------------------------------------------------


def edm(count, records):
    return be32(count) + b"".join(be32(len(r)) + r for r in records)


def split_record(first, length, seed=0x61):
    r = b"TAG!" + be32(first) + bytes((seed + i % 23) & 0xFF for i in range(8, length))
    return r[:length]


write("edm_body", "whole", edm(1, [b"0123456789"]))
write("edm_body", "whole-count-0", edm(0, [b"abc", b"abcde"]))
write("edm_body", "split", edm(3, [split_record(10, 30), split_record(8, 8), split_record(20, 64)]))
write("edm_body", "split-at-end", edm(2, [split_record(16, 16)]))
write("edm_body", "split-past-length", edm(2, [split_record(17, 16)]))
write("edm_body", "split-too-short", edm(2, [b"1234567"]))
write("edm_body", "too-long", edm(3, [split_record(8, 16)]) + be32(66001))
write("edm_body", "only-count", be32(1))
write("edm_body", "empty", b"")
write("edm_body", "cut-length", edm(1, [b"0123456789"]) + b"\0\0")
write("edm_body", "cut-record", edm(1, [b"0123456789"])[:-1])
write("edm_body", "empty-records", edm(5, [b""] * 5))

# --- resource status list -----------------------------------------------------
write("resource_status", "list", "ok\r\nsecond|line|is|ignored\r\n1|CAB|r1|a.cab|extra\r\nab\r\n"
      "2|INI|r2\r\n3|BMP|r3|x\r\n3|BMP|r4|y\r\n  \n\n")
write("resource_status", "refused", "FAIL\nx\n1|CAB|r|a\n")
write("resource_status", "ok-only", "Ok \t\r\n")
write("resource_status", "empty", "")
write("resource_status", "empty-fields", "OK\n\n|||\n||\nabc\n")

# --- keep reply -------------------------------------------------------------------
write("keep_reply", "ok", "OK\n")
write("keep_reply", "nob", "OK\nnob\n")
write("keep_reply", "nob-upper", "OK\nNOB\n")
write("keep_reply", "blanks", "ok \t\r\nsee you  \r\nignored\n")
write("keep_reply", "refused", "FAIL\nnob\n")
write("keep_reply", "long-line", "OK\n" + "m" * 3000 + "\nnob\n")
write("keep_reply", "empty-message", "OK\n \r\n")
write("keep_reply", "no-line-feed", "OK")

# --- bitmaps -------------------------------------------------------------------------
write("dib_image", "24-bit", small_bmp)
write("dib_image", "1-bit", bmp(9, 2, 1, b"\xaa\x80\0\0\x55\x00\0\0", table=(0x000000, 0xFFFFFF)))
write("dib_image", "4-bit", bmp(3, 1, 4, b"\x01\x20\0\0", table=tuple(range(0, 16 * 0x111111, 0x111111))))
write("dib_image", "8-bit-used", bmp(2, 2, 8, b"\x00\x01\0\0\x02\x05\0\0", table=(0xFF0000, 0x00FF00, 0x0000FF),
                                    clr_used=3))
write("dib_image", "16-bit", bmp(2, 1, 16, b"\x1f\x00\xe0\x7c"))
write("dib_image", "16-bit-fields", bmp(2, 1, 16, b"\x1f\x00\xe0\x07", table=(0xF800, 0x07E0, 0x001F),
                                       compression=3))
write("dib_image", "32-bit", bmp(1, 2, 32, b"\x01\x02\x03\x00\x04\x05\x06\x00"))
write("dib_image", "32-bit-fields", bmp(1, 1, 32, b"\x00\x00\xff\xff", table=(0xFF000000, 0xFF0000, 0xFF00),
                                       compression=3))
write("dib_image", "top-down", bmp(2, -2, 24, b"\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xa0\xb0\xc0\0\0"))
write("dib_image", "pixels-cut-short", bmp(4, 4, 24, b"\x11" * 10))
write("dib_image", "file-size-zero", bmp(2, 2, 24, b"\x22" * 16, file_size=0))
write("dib_image", "wide", bmp(40, 1, 8, b"\x03" * 40, table=(0, 0x808080, 0xFFFFFF, 0x123456)))
write("dib_image", "huge-header", bmp(0x7FFFFFFF, 0x7FFFFFFF, 32, b"\0" * 8))
write("dib_image", "bad-header-size", bmp(1, 1, 24, b"\0" * 4, header_size=12))

# --- packed record properties of the handheld image ------------------------------------
def prop(pid, data):
    return struct.pack("<II", pid, len(data)) + data


num = lambda pid, v: prop(pid, struct.pack("<I", v))
text = lambda pid, s: prop(pid, s.encode("utf-16-le"))
write("packed_props", "empty", b"")
write("packed_props", "record", num(0x00640013, 5) + text(0x0065001F, "hello") + prop(0x00660041, b"\x01\x02"))
write("packed_props", "out-of-order-repeated", num(0x00650013, 1) + num(0x00640013, 2) + num(0x00650013, 3))
write("packed_props", "odd-text", prop(0x0065001F, b"abc"))
write("packed_props", "short-number", prop(0x00640013, b"\x01\x02"))
write("packed_props", "length-past-end", struct.pack("<II", 0x00660041, 0xFFFFFFF0) + b"xy")
write("packed_props", "trailing-bytes", num(0x00640013, 7) + b"\x01\x02\x03")
