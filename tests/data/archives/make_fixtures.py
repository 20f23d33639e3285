#!/usr/bin/env python3
"""Writes the keyed-archive fixtures of this folder with plistlib, a writer other than ours.
platform_layout.json is what platform_layout.archive unarchives to; bad/expected.json gives each
crafted bad file a fragment of its error and whether it is not even a property list ("plist")."""

import json, os, plistlib, struct

HERE = os.path.dirname(os.path.abspath(__file__))
UID = plistlib.UID


def klass(name, *chain):
    return {"$classname": name, "$classes": [name, *chain, "NSObject"]}


def dumps(top):
    return plistlib.dumps(top, fmt=plistlib.FMT_BINARY, sort_keys=False)


def archive(objects, root=1, top=None, archiver="NSKeyedArchiver"):
    return dumps({"$version": 100000, "$archiver": archiver,
                  "$top": {"root": UID(root)} if top is None else top, "$objects": objects})


def arc(*objects, **options):
    return archive(["$null", *objects], **options)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def platform_layout():
    keys = ["SUBJECT", "COUNT", "RATIO", "ENABLED", "BLOB", "NOTHING", "EMPTY", "MDATA", "LIST", "DICT", "NAME"]
    objects = [
        "$null",
        {"NS.keys": [UID(i) for i in range(2, 13)],
         "NS.objects": [UID(i) for i in (13, 15, 16, 17, 18, 0, 19, 21, 23, 27, 25)], "$class": UID(31)},
        *keys,                                                                    # 2..12
        {"NS.string": "Hello, w\u00f6rld \U0001F600", "$class": UID(14)},         # 13
        klass("NSMutableString", "NSString"), 42, 0.5, True, b"\x00\x01\x02",     # 14..18
        {"$class": UID(20)}, klass("NSNull"),                                     # 19, 20
        {"NS.data": b"abc", "$class": UID(22)}, klass("NSMutableData", "NSData"),  # 21, 22
        {"NS.objects": [UID(24), UID(25), UID(2)], "$class": UID(26)},            # 23
        "\u00e4-string", "plain", klass("NSArray"),                               # 24..26
        {"NS.keys": [UID(28)], "NS.objects": [UID(29)], "$class": UID(30)},       # 27
        "k", -7, klass("NSDictionary"), klass("NSMutableDictionary", "NSDictionary"),  # 28..31
    ]
    write("platform_layout.archive", archive(objects))
    expected = {
        "SUBJECT": "Hello, w\u00f6rld \U0001F600", "COUNT": 42, "RATIO": 0.5, "ENABLED": True,
        "BLOB": "AAEC", "NOTHING": None, "EMPTY": None, "MDATA": "YWJj",
        "LIST": ["\u00e4-string", "plain", "SUBJECT"], "DICT": {"k": -7}, "NAME": "plain",
    }
    write("platform_layout.json", (json.dumps(expected, ensure_ascii=False, indent=4) + "\n").encode("utf-8"))


def campaign_layout():
    objects = [
        "$null",
        {"NS.keys": [UID(i) for i in range(2, 10)],
         "NS.objects": [UID(i) for i in (10, 11, 12, 13, 14, 14, 15, 19)], "$class": UID(23)},
        "SUBJECT", "FROM", "BODY", "HTML", "REPLYTO", "RETURNPATH", "COLUMNS", "RECIPIENTS",
        "Hi __NAME__", "a@b.c", "Dear __NAME__", "<p>Dear __NAME__</p>", "",     # 10..14 (14 twice)
        {"NS.objects": [UID(16), UID(17)], "$class": UID(18)},                    # 15 COLUMNS
        "EMAIL", "NAME", klass("NSMutableArray", "NSArray"),                      # 16..18
        {"NS.objects": [UID(20), UID(24)], "$class": UID(18)},                    # 19 RECIPIENTS
        {"NS.keys": [UID(16), UID(17)], "NS.objects": [UID(21), UID(22)], "$class": UID(23)},
        "x@y.z", "Zo\u00eb", klass("NSMutableDictionary", "NSDictionary"),      # 21..23
        {"NS.keys": [UID(16), UID(17)], "NS.objects": [UID(25), UID(10)], "$class": UID(23)},
        "q@y.z",                                                                  # 25
    ]
    write("campaign_layout.archive", archive(objects))


# --- crafted binary property lists -------------------------------------------------

def count_header(marker, n):
    return bytes([marker | n]) if n < 15 else bytes([marker | 0x0F, 0x13]) + struct.pack(">Q", n)


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
    table_at = len(body)
    for o in offs if offsets is None else offsets:
        body += o.to_bytes(offset_size, "big")
    body += bytes(6) + bytes([offset_size, ref_size])
    body += struct.pack(">QQQ", len(objects) if count is None else count, top, table_at if table is None else table)
    return bytes(body)


def bad_files():
    good = bplist([a_arr([1, 2]), a_int(1), a_str("x")])
    deep, laughs = [a_arr([i + 1], 2) for i in range(600)], [a_arr([i + 1, i + 1]) for i in range(40)]
    bad = {
        # Container level.
        "empty": (b"", "header"),
        "bad_magic": (b"bplist01" + good[8:], "header"),
        "truncated": (good[: len(good) // 2], "too short"),
        "truncated_trailer": (good[:-5] + good[-4:], ""),
        "offset_size_zero": (good[:-26] + b"\x00" + good[-25:], "offset size"),
        "ref_size_nine": (good[:-25] + b"\x09" + good[-24:], "reference size"),
        "no_objects": (bplist([a_int(1)], count=0), "no objects"),
        "top_out_of_range": (bplist([a_int(1)], top=5), "top object"),
        "table_outside": (bplist([a_int(1)], table=0x7FFFFFFF), "offset table"),
        "count_huge": (bplist([a_int(1)], count=1 << 62), "offset table"),
        "object_offset_outside": (bplist([a_arr([1]), a_int(1)], offsets=[8, 200]), "outside the object area"),
        "ref_out_of_range": (bplist([a_arr([1, 200]), a_int(1)]), "out of range"),
        "array_self": (bplist([a_arr([0])]), "cycle"),
        "array_cycle_indirect": (bplist([a_arr([1]), a_arr([2]), a_arr([0])]), "cycle"),
        "dict_cycle": (bplist([a_dict([1], [0]), a_str("k")]), "cycle"),
        "array_count_huge": (bplist([count_header(0xA0, 1 << 60) + b"\x00"]), "more than the file holds"),
        "string_count_huge": (bplist([count_header(0x50, 1 << 40) + b"abc"]), "more than the file holds"),
        "utf16_count_huge": (bplist([count_header(0x60, (1 << 63) + 1) + b"\x00a"]), "more than the file holds"),
        "dict_count_huge": (bplist([count_header(0xD0, 1 << 63) + b"\x00\x00"]), "more than the file holds"),
        "malformed_count": (bplist([b"\xAF\x55\x00"]), "malformed count"),
        "int_128_too_big": (bplist([b"\x14" + b"\x00" * 7 + b"\x01" + b"\x00" * 8]), "64 bits"),
        "int_size_32": (bplist([b"\x15" + b"\x00" * 32]), "unsupported size"),
        "real_size_2": (bplist([b"\x21\x00\x00"]), "unsupported size"),
        "unknown_marker": (bplist([b"\x70\x00"]), "unknown type"),
        "uid_too_wide": (bplist([b"\x89" + b"\x00" * 10]), "wider than 8 bytes"),
        "dict_key_not_string": (bplist([a_dict([1], [1]), a_int(3)]), "not a string"),
        "truncated_integer": (bplist([b"\x13\x00\x00"]), "more than the file holds"),
        "deep_nesting": (bplist(deep + [a_int(0)], offset_size=2, ref_size=2), "nesting deeper"),
        "shared_expansion": (bplist(laughs + [a_int(0)]), "expands to more than"),  # 2^40 values as a tree
    }
    plist_level = set(bad)

    # Archive level (valid property lists).
    arr, dic, mstr = klass("NSArray"), klass("NSDictionary"), klass("NSMutableString", "NSString")
    nested = ["$null"] + [{"NS.objects": [UID(i + 2)], "$class": UID(700)} for i in range(600)]
    nested += ["end"] * (700 - len(nested)) + [arr]
    shared = ["$null", arr] + [{"NS.objects": [UID(i + 3), UID(i + 3)], "$class": UID(1)} for i in range(40)]
    bad.update({
        "not_an_archive": (dumps({"a": 1}), "not a keyed archive"),
        "top_is_array": (dumps([1, 2]), "not a keyed archive"),
        "wrong_archiver": (arc("x", archiver="SomethingElse"), "not a keyed archive"),
        "objects_not_array": (archive({"a": 1}), "\"$objects\""),
        "no_root": (arc("x", top={"other": UID(1)}), "no \"root\""),
        "root_not_uid": (arc("x", top={"root": 1}), "not a UID"),
        "root_uid_out_of_range": (arc("x", root=99), "UID 99 out of range"),
        "member_uid_out_of_range": (arc({"NS.objects": [UID(7)], "$class": UID(2)}, arr), "UID 7 out of range"),
        "array_contains_itself": (arc({"NS.objects": [UID(1)], "$class": UID(2)}, arr), "cycle"),
        "indirect_cycle": (arc({"NS.objects": [UID(3)], "$class": UID(2)}, arr,
                               {"NS.objects": [UID(1)], "$class": UID(2)}), "cycle"),
        "unknown_class": (arc({"NS.frame": "{0,0}", "$class": UID(2)}, klass("BRWidgetThing")), "\"BRWidgetThing\""),
        "class_uid_out_of_range": (arc({"NS.objects": [], "$class": UID(40)}), "class UID 40 out of range"),
        "class_not_uid": (arc({"NS.objects": [], "$class": "NSArray"}), "not a UID"),
        "class_without_name": (arc({"NS.objects": [], "$class": UID(2)}, {"$classes": ["NSArray"]}),
                               "no \"$classname\""),
        "missing_class": (arc({"NS.objects": []}), "no \"$class\""),
        "objects_not_uids": (arc({"NS.objects": [1, 2], "$class": UID(2)}, arr), "other than UIDs"),
        "keys_not_array": (arc({"NS.keys": "k", "NS.objects": [], "$class": UID(2)}, dic), "not an array"),
        "keys_values_mismatch": (arc({"NS.keys": [UID(3)], "NS.objects": [], "$class": UID(2)}, dic, "k"),
                                 "1 keys but 0 values"),
        "dictionary_key_number": (arc({"NS.keys": [UID(3)], "NS.objects": [UID(3)], "$class": UID(2)}, dic, 5),
                                  "key that is not a string"),
        "string_without_text": (arc({"$class": UID(2)}, mstr), "no \"NS.string\""),
        "string_text_number": (arc({"NS.string": 5, "$class": UID(2)}, mstr), "wrong type"),
        "bare_array_object": (arc(["a"]), "unsupported type"),
        "bare_uid_object": (arc(UID(0)), "unsupported type"),
        "archive_deep_nesting": (archive(nested), "nesting deeper"),
        "archive_shared_expansion": (archive(shared + ["leaf"], root=2), "expands to more than"),
    })

    folder = os.path.join(HERE, "bad")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    expected = {}
    for name, (data, fragment) in sorted(bad.items()):
        write(os.path.join("bad", name + ".bplist"), data)
        expected[name + ".bplist"] = {"error": fragment, "plist": name in plist_level}
    write(os.path.join("bad", "expected.json"), (json.dumps(expected, indent=2, sort_keys=True) + "\n").encode())


if __name__ == "__main__":
    platform_layout()
    campaign_layout()
    bad_files()
