#!/usr/bin/env python3
"""Writes the keyed-archive fixtures of this folder.

Good files are made with plistlib, so they come from a writer other than ours:
  platform_layout.archive   every kind of value the campaign code may meet, in the
                            object layout the platform's archiver produces
  platform_layout.json      what it unarchives to, keys in archive order
  campaign_layout.archive   a two-recipient campaign, every UID placed by hand
Bad files (bad/) are crafted byte by byte or with plistlib; bad/expected.json maps
each to a fragment of the error it must give and tells whether it is already not a
valid property list ("plist": true) or only not a valid keyed archive.

Run it from anywhere; it rewrites the files beside it.
"""

import json
import os
import plistlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
UID = plistlib.UID


def klass(name, *chain):
    return {"$classname": name, "$classes": [name, *chain, "NSObject"]}


def archive(objects, root=1):
    top = {
        "$version": 100000,
        "$archiver": "NSKeyedArchiver",
        "$top": {"root": UID(root)},
        "$objects": objects,
    }
    return plistlib.dumps(top, fmt=plistlib.FMT_BINARY, sort_keys=False)


def platform_layout():
    keys = ["SUBJECT", "COUNT", "RATIO", "ENABLED", "BLOB", "NOTHING", "EMPTY", "MDATA",
            "LIST", "DICT", "NAME"]
    objects = [
        "$null",
        {"NS.keys": [UID(i) for i in range(2, 13)],
         "NS.objects": [UID(13), UID(15), UID(16), UID(17), UID(18), UID(0), UID(19), UID(21),
                        UID(23), UID(27), UID(25)],
         "$class": UID(31)},
        *keys,                                                   # 2..12
        {"NS.string": "Hello, w\u00f6rld \U0001F600", "$class": UID(14)},  # 13
        klass("NSMutableString", "NSString"),                    # 14
        42,                                                      # 15
        0.5,                                                     # 16
        True,                                                    # 17
        b"\x00\x01\x02",                                         # 18
        {"$class": UID(20)},                                     # 19
        klass("NSNull"),                                         # 20
        {"NS.data": b"abc", "$class": UID(22)},                  # 21
        klass("NSMutableData", "NSData"),                        # 22
        {"NS.objects": [UID(24), UID(25), UID(2)], "$class": UID(26)},  # 23
        "\u00e4-string",                                         # 24
        "plain",                                                 # 25
        klass("NSArray"),                                        # 26
        {"NS.keys": [UID(28)], "NS.objects": [UID(29)], "$class": UID(30)},  # 27
        "k",                                                     # 28
        -7,                                                      # 29
        klass("NSDictionary"),                                   # 30
        klass("NSMutableDictionary", "NSDictionary"),            # 31
    ]
    with open(os.path.join(HERE, "platform_layout.archive"), "wb") as f:
        f.write(archive(objects))
    expected = {
        "SUBJECT": "Hello, w\u00f6rld \U0001F600", "COUNT": 42, "RATIO": 0.5, "ENABLED": True,
        "BLOB": "AAEC", "NOTHING": None, "EMPTY": None, "MDATA": "YWJj",
        "LIST": ["\u00e4-string", "plain", "SUBJECT"], "DICT": {"k": -7}, "NAME": "plain",
    }
    with open(os.path.join(HERE, "platform_layout.json"), "w", encoding="utf-8") as f:
        json.dump(expected, f, ensure_ascii=False, indent=4)
        f.write("\n")


def campaign_layout():
    objects = [
        "$null",
        {"NS.keys": [UID(i) for i in range(2, 10)],
         "NS.objects": [UID(10), UID(11), UID(12), UID(13), UID(14), UID(14), UID(15), UID(19)],
         "$class": UID(23)},
        "SUBJECT", "FROM", "BODY", "HTML", "REPLYTO", "RETURNPATH", "COLUMNS", "RECIPIENTS",
        "Hi __NAME__",                                           # 10
        "a@b.c",                                                 # 11
        "Dear __NAME__",                                         # 12
        "<p>Dear __NAME__</p>",                                  # 13
        "",                                                      # 14, also RETURNPATH
        {"NS.objects": [UID(16), UID(17)], "$class": UID(18)},   # 15 COLUMNS
        "EMAIL",                                                 # 16
        "NAME",                                                  # 17
        klass("NSMutableArray", "NSArray"),                      # 18
        {"NS.objects": [UID(20), UID(24)], "$class": UID(18)},   # 19 RECIPIENTS
        {"NS.keys": [UID(16), UID(17)], "NS.objects": [UID(21), UID(22)], "$class": UID(23)},
        "x@y.z",                                                 # 21
        "Zo\u00eb",                                              # 22
        klass("NSMutableDictionary", "NSDictionary"),            # 23
        {"NS.keys": [UID(16), UID(17)], "NS.objects": [UID(25), UID(10)], "$class": UID(23)},
        "q@y.z",                                                 # 25
    ]
    with open(os.path.join(HERE, "campaign_layout.archive"), "wb") as f:
        f.write(archive(objects))


# --- crafted binary property lists -------------------------------------------------

def count_header(marker, n):
    if n < 15:
        return bytes([marker | n])
    return bytes([marker | 0x0F, 0x13]) + struct.pack(">Q", n)


def a_int(v):
    return b"\x10" + bytes([v]) if 0 <= v < 256 else b"\x13" + struct.pack(">q", v)


def a_str(s):
    return count_header(0x50, len(s)) + s.encode("ascii")


def a_arr(refs, rs=1):
    return count_header(0xA0, len(refs)) + b"".join(r.to_bytes(rs, "big") for r in refs)


def a_dict(keys, values, rs=1):
    return count_header(0xD0, len(keys)) + b"".join(r.to_bytes(rs, "big") for r in keys + values)


def bplist(objects, top=0, offset_size=1, ref_size=1, count=None, table=None, offsets=None):
    body = bytearray(b"bplist00")
    offs = []
    for o in objects:
        offs.append(len(body))
        body += o
    if offsets is not None:
        offs = offsets
    table_at = len(body)
    for o in offs:
        body += o.to_bytes(offset_size, "big")
    body += bytes(6) + bytes([offset_size, ref_size])
    body += struct.pack(">QQQ", len(objects) if count is None else count, top,
                        table_at if table is None else table)
    return bytes(body)


def bad_files():
    bad = {}
    good = bplist([a_arr([1, 2]), a_int(1), a_str("x")])

    # Container level.
    bad["empty"] = (b"", "header")
    bad["bad_magic"] = (b"bplist01" + good[8:], "header")
    bad["truncated"] = (good[: len(good) // 2], "too short")
    bad["truncated_trailer"] = (good[:-5] + good[-4:], "")
    bad["offset_size_zero"] = (good[:-26] + b"\x00" + good[-25:], "offset size")
    bad["ref_size_nine"] = (good[:-25] + b"\x09" + good[-24:], "reference size")
    bad["no_objects"] = (bplist([a_int(1)], count=0), "no objects")
    bad["top_out_of_range"] = (bplist([a_int(1)], top=5), "top object")
    bad["table_outside"] = (bplist([a_int(1)], table=0x7FFFFFFF), "offset table")
    bad["count_huge"] = (bplist([a_int(1)], count=1 << 62), "offset table")
    bad["object_offset_outside"] = (bplist([a_arr([1]), a_int(1)], offsets=[8, 200]), "outside the object area")
    bad["ref_out_of_range"] = (bplist([a_arr([1, 200]), a_int(1)]), "out of range")
    bad["array_self"] = (bplist([a_arr([0])]), "cycle")
    bad["array_cycle_indirect"] = (bplist([a_arr([1]), a_arr([2]), a_arr([0])]), "cycle")
    bad["dict_cycle"] = (bplist([a_dict([1], [0]), a_str("k")]), "cycle")
    bad["array_count_huge"] = (bplist([count_header(0xA0, 1 << 60) + b"\x00"]), "more than the file holds")
    bad["string_count_huge"] = (bplist([count_header(0x50, 1 << 40) + b"abc"]), "more than the file holds")
    bad["utf16_count_huge"] = (bplist([count_header(0x60, (1 << 63) + 1) + b"\x00a"]), "more than the file holds")
    bad["dict_count_huge"] = (bplist([count_header(0xD0, 1 << 63) + b"\x00\x00"]), "more than the file holds")
    bad["malformed_count"] = (bplist([b"\xAF\x55\x00"]), "malformed count")
    bad["int_128_too_big"] = (bplist([b"\x14" + b"\x00" * 7 + b"\x01" + b"\x00" * 8]), "64 bits")
    bad["int_size_32"] = (bplist([b"\x15" + b"\x00" * 32]), "unsupported size")
    bad["real_size_2"] = (bplist([b"\x21\x00\x00"]), "unsupported size")
    bad["unknown_marker"] = (bplist([b"\x70\x00"]), "unknown type")
    bad["uid_too_wide"] = (bplist([b"\x89" + b"\x00" * 10]), "wider than 8 bytes")
    bad["dict_key_not_string"] = (bplist([a_dict([1], [1]), a_int(3)]), "not a string")
    bad["truncated_integer"] = (bplist([b"\x13\x00\x00"]), "more than the file holds")
    deep = [a_arr([i + 1], 2) for i in range(600)] + [a_int(0)]
    bad["deep_nesting"] = (bplist(deep, offset_size=2, ref_size=2), "nesting deeper")
    # Shared arrays that expand to 2^40 values when walked as a tree.
    laughs = [a_arr([i + 1, i + 1]) for i in range(40)] + [a_int(0)]
    bad["shared_expansion"] = (bplist(laughs), "expands to more than")

    plist_level = set(bad)

    # Archive level (valid property lists).
    def dumps(top):
        return plistlib.dumps(top, fmt=plistlib.FMT_BINARY, sort_keys=False)

    arr = klass("NSArray")
    bad["not_an_archive"] = (dumps({"a": 1}), "not a keyed archive")
    bad["top_is_array"] = (dumps([1, 2]), "not a keyed archive")
    bad["wrong_archiver"] = (dumps({"$version": 100000, "$archiver": "SomethingElse",
                                    "$top": {"root": UID(1)}, "$objects": ["$null", "x"]}),
                             "not a keyed archive")
    bad["objects_not_array"] = (dumps({"$version": 100000, "$archiver": "NSKeyedArchiver",
                                       "$top": {"root": UID(1)}, "$objects": {"a": 1}}),
                                "\"$objects\"")
    bad["no_root"] = (dumps({"$version": 100000, "$archiver": "NSKeyedArchiver",
                             "$top": {"other": UID(1)}, "$objects": ["$null", "x"]}), "no \"root\"")
    bad["root_not_uid"] = (dumps({"$version": 100000, "$archiver": "NSKeyedArchiver",
                                  "$top": {"root": 1}, "$objects": ["$null", "x"]}), "not a UID")
    bad["root_uid_out_of_range"] = (archive(["$null", "x"], root=99), "UID 99 out of range")
    bad["member_uid_out_of_range"] = (archive(["$null", {"NS.objects": [UID(7)], "$class": UID(2)}, arr]),
                                      "UID 7 out of range")
    bad["array_contains_itself"] = (archive(["$null", {"NS.objects": [UID(1)], "$class": UID(2)}, arr]),
                                    "cycle")
    bad["indirect_cycle"] = (archive(["$null", {"NS.objects": [UID(3)], "$class": UID(2)}, arr,
                                      {"NS.objects": [UID(1)], "$class": UID(2)}]), "cycle")
    bad["unknown_class"] = (archive(["$null", {"NS.frame": "{0,0}", "$class": UID(2)},
                                     klass("BRWidgetThing")]), "\"BRWidgetThing\"")
    bad["class_uid_out_of_range"] = (archive(["$null", {"NS.objects": [], "$class": UID(40)}]),
                                     "class UID 40 out of range")
    bad["class_not_uid"] = (archive(["$null", {"NS.objects": [], "$class": "NSArray"}]), "not a UID")
    bad["class_without_name"] = (archive(["$null", {"NS.objects": [], "$class": UID(2)},
                                          {"$classes": ["NSArray"]}]), "no \"$classname\"")
    bad["missing_class"] = (archive(["$null", {"NS.objects": []}]), "no \"$class\"")
    bad["objects_not_uids"] = (archive(["$null", {"NS.objects": [1, 2], "$class": UID(2)}, arr]),
                               "other than UIDs")
    bad["keys_not_array"] = (archive(["$null", {"NS.keys": "k", "NS.objects": [], "$class": UID(2)},
                                      klass("NSDictionary")]), "not an array")
    bad["keys_values_mismatch"] = (archive(["$null", {"NS.keys": [UID(3)], "NS.objects": [],
                                                      "$class": UID(2)}, klass("NSDictionary"), "k"]),
                                   "1 keys but 0 values")
    bad["dictionary_key_number"] = (archive(["$null", {"NS.keys": [UID(3)], "NS.objects": [UID(3)],
                                                       "$class": UID(2)}, klass("NSDictionary"), 5]),
                                    "key that is not a string")
    bad["string_without_text"] = (archive(["$null", {"$class": UID(2)}, klass("NSMutableString", "NSString")]),
                                  "no \"NS.string\"")
    bad["string_text_number"] = (archive(["$null", {"NS.string": 5, "$class": UID(2)},
                                          klass("NSMutableString", "NSString")]), "wrong type")
    bad["bare_array_object"] = (archive(["$null", ["a"]]), "unsupported type")
    bad["bare_uid_object"] = (archive(["$null", UID(0)]), "unsupported type")
    nested = ["$null"] + [{"NS.objects": [UID(i + 2)], "$class": UID(700)} for i in range(600)]
    nested += ["end"] * (700 - len(nested)) + [arr]
    bad["archive_deep_nesting"] = (archive(nested), "nesting deeper")
    laughs = ["$null", arr] + [{"NS.objects": [UID(i + 3), UID(i + 3)], "$class": UID(1)} for i in range(40)]
    laughs.append("leaf")
    bad["archive_shared_expansion"] = (archive(laughs, root=2), "expands to more than")

    folder = os.path.join(HERE, "bad")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    expected = {}
    for name, (data, fragment) in sorted(bad.items()):
        with open(os.path.join(folder, name + ".bplist"), "wb") as f:
            f.write(data)
        expected[name + ".bplist"] = {"error": fragment, "plist": name in plist_level}
    with open(os.path.join(folder, "expected.json"), "w") as f:
        json.dump(expected, f, indent=2, sort_keys=True)
        f.write("\n")


if __name__ == "__main__":
    platform_layout()
    campaign_layout()
    bad_files()
