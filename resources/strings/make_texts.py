#!/usr/bin/env python3
"""The setup's texts: every language's file turned into C++ at build time, and the gate CI runs.

  make_texts.py DIR --header H --source S [--pseudo P]   write the ids, English and the blob
  make_texts.py DIR --check                               every language complete and consistent

English (en.txt) is kept as plain strings in the program; the other languages are one LZMA blob
(the decoder the setup carries for its packages reads it), each language's texts in the order
of the ids, separated by NUL bytes, an absent text empty (the setup shows English for it).
"""
import argparse
import lzma
import pathlib
import re
import sys

ID = re.compile(r"^[a-z][a-z0-9_]*$")
PLACEHOLDER = re.compile(r"\{[1-9]?\}")
ACCENTS = dict(zip("AaCcEeIiNnOoSsUuYyZz", "ÅåÇçÉéÎîÑñÖöŠšÛûÝýŽž"))


def read_language(path):
    """(ordered [(id, text)], [problems]) of one file."""
    entries, problems, seen = [], [], set()
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        key, sep, text = line.partition(" = ")
        if not sep or not ID.match(key):
            problems.append(f"{path.name}:{number}: not 'id = text'")
            continue
        if key in seen:
            problems.append(f"{path.name}:{number}: {key} given twice")
        seen.add(key)
        entries.append((key, text.replace("\\n", "\n").replace("\\t", "\t")))
    return entries, problems


def accelerators(text):
    """The letters marked with a single '&' ('&&' is a plain ampersand)."""
    return [m.group(1).lower() for m in re.finditer(r"(?<!&)&([^&\s])", text.replace("&&", ""))]


def check(folder):
    english, problems = read_language(folder / "en.txt")
    ids = dict(english)
    for path in sorted(folder.glob("*.txt")):
        if path.name == "en.txt":
            continue
        entries, own = read_language(path)
        problems += own
        texts = dict(entries)
        for key in ids:
            if key not in texts:
                problems.append(f"{path.name}: {key} missing")
            elif not texts[key].strip():
                problems.append(f"{path.name}: {key} empty")
        for key, text in texts.items():
            if key not in ids:
                problems.append(f"{path.name}: {key} is no id of en.txt")
                continue
            # Numbered ones may come in another order; "{}" is one detail, as often as English.
            if sorted(PLACEHOLDER.findall(text)) != sorted(PLACEHOLDER.findall(ids[key])):
                problems.append(f"{path.name}: {key} has other placeholders than English")
            if len(accelerators(text)) != len(accelerators(ids[key])):
                problems.append(f"{path.name}: {key} has another number of accelerators")
        windows = {}
        for key, text in texts.items():
            for letter in accelerators(text):
                windows.setdefault((key.split("_")[0], letter), []).append(key)
        for (window, letter), keys in sorted(windows.items()):
            if len(keys) > 1:
                problems.append(f"{path.name}: accelerator '{letter}' twice in {window}: "
                                + ", ".join(keys))
    return problems


def pseudo(text):
    """Accented and 40 % longer, placeholders and accelerators kept, so clipping shows."""
    body = "".join(ACCENTS.get(c, c) for c in text)
    return "[" + body + " " + "·" * max(1, (len(text) * 2) // 5 - 3) + "]"


def c_string(text):
    out = '"'
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out += "\\" + ch
        elif 32 <= byte < 127 and ch != "?":
            out += ch
        else:
            out += "\\%03o" % byte
    return out + '"'


def byte_array(name, data):
    rows = [",".join(str(b) for b in data[i:i + 32]) for i in range(0, len(data), 32)]
    return (f"extern const unsigned char {name}[] = {{\n" + ",\n".join(rows) + "};\n"
            f"extern const unsigned {name}Size = {len(data)};\n")


def generate(folder, header, source, pseudo_source):
    english, problems = read_language(folder / "en.txt")
    if problems:
        sys.exit("\n".join(problems))
    ids = [key for key, _ in english]
    others = sorted(p for p in folder.glob("*.txt") if p.name != "en.txt")
    tags = ["en"] + [p.stem for p in others]
    plain = b""
    for path in others:
        texts = dict(read_language(path)[0])
        plain += b"".join(texts.get(key, "").encode("utf-8") + b"\0" for key in ids)
    packed = lzma.compress(plain, format=lzma.FORMAT_ALONE,
                           filters=[{"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME,
                                     "lc": 1, "lp": 0, "pb": 0}])
    note = "// Generated from resources/strings/*.txt by make_texts.py: edit those files.\n"
    pathlib.Path(header).write_text(
        "#pragma once\n" + note + "namespace tessaryn {\n\n"
        "enum class Text : unsigned short {\n"
        + "".join(f"    {key},\n" for key in ids) + "    None,\n};\n\n"
        f"inline constexpr int kTextCount = {len(ids)};\n"
        f"inline constexpr int kLanguageCount = {len(tags)};\n"
        "// English first, then the blob's languages in its order.\n"
        "inline constexpr const char* kLanguageTags[kLanguageCount] = {"
        + ", ".join(f'"{t}"' for t in tags) + "};\n\n}  // namespace tessaryn\n",
        encoding="utf-8")
    english_array = ("extern const char* const kEnglishTexts[kTextCount] = {\n"
                     + "".join(f"    {c_string(text)},\n" for _, text in english) + "};\n")
    pathlib.Path(source).write_text(
        note + '#include "ui_text_ids.h"\n\nnamespace tessaryn {\n\n' + english_array
        + byte_array("kTranslations", packed)
        + f"extern const unsigned kTranslationsPlainSize = {len(plain)};\n\n"
        "}  // namespace tessaryn\n", encoding="utf-8")
    if pseudo_source:
        pathlib.Path(pseudo_source).write_text(
            note + '#include "ui_text_ids.h"\n\nnamespace tessaryn {\n\n'
            "extern const char* const kPseudoTexts[kTextCount] = {\n"
            + "".join(f"    {c_string(pseudo(text))},\n" for _, text in english)
            + "};\n\n}  // namespace tessaryn\n", encoding="utf-8")
    print(f"texts: {len(ids)} ids, {len(tags)} languages, blob {len(packed)} bytes "
          f"({len(plain)} unpacked)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--header")
    parser.add_argument("--source")
    parser.add_argument("--pseudo")
    args = parser.parse_args()
    if args.check:
        problems = check(args.folder)
        print("\n".join(problems) if problems else "texts: every language complete")
        return 1 if problems else 0
    generate(args.folder, args.header, args.source, args.pseudo)
    return 0


if __name__ == "__main__":
    sys.exit(main())
