#!/usr/bin/env python3
"""Writes the brisko-cli(1) manual page from the program's own help texts.

    help2roff.py BRISKO_CLI OUT.1 [OUT.1.gz]

The page is `brisko-cli --help` with each command's `--help` options under its
entry; nothing in it is written twice. The gzip copy has no time stamp or name,
so the same help texts give the same bytes.
"""

import gzip
import re
import subprocess
import sys


def run(program, *arguments):
    done = subprocess.run([program, *arguments], capture_output=True, text=True, timeout=60,
                          env={"LC_ALL": "C.UTF-8", "PATH": "/usr/bin:/bin"})
    if done.returncode != 0:
        sys.exit(f"help2roff: '{program} {' '.join(arguments)}' exited with {done.returncode}: {done.stderr}")
    return done.stdout


def roff(text):
    """Text safe in a roff line: backslashes and hyphens escaped, no leading control character."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def option_lines(help_text):
    """The "Options:" listing of a command's help as (option, description) pairs."""
    lines = help_text.split("\n")
    try:
        start = lines.index("Options:") + 1
    except ValueError:
        return []
    entries = []
    for line in lines[start:]:
        if not line.strip():
            break
        match = re.match(r"^  (\S.*?)(?: {2,}(.*))?$", line)
        if match and not line.startswith("    "):
            entries.append([match.group(1), match.group(2) or ""])
        elif entries:
            entries[-1][1] += " " + line.strip()
    return entries


def sections(help_text):
    """Splits the top-level help into its usage, its description and its "Heading:" sections."""
    usage, description, parts = [], [], []
    current = None
    for line in help_text.rstrip("\n").split("\n"):
        if re.match(r"^[A-Z][A-Za-z ]*:$", line):
            current = (line[:-1], [])
            parts.append(current)
        elif current is not None:
            current[1].append(line)
        elif line.startswith("Usage:") or (usage and line.startswith("       ")):
            usage.append(line.split(":", 1)[1].strip() if line.startswith("Usage:") else line.strip())
        else:
            description.append(line)
    return usage, description, parts


def entries(lines):
    """Two-level entries ("  name" then "      text") and the paragraphs after them."""
    items, trailing = [], []
    for line in lines:
        if line.startswith("      ") and items:
            items[-1][1].append(line.strip())
        elif line.startswith("  ") and line.strip():
            items.append((line.strip(), []))
        elif line.strip():
            trailing.append(line.strip())
    return items, trailing


def paragraphs(lines):
    out, current = [], []
    for line in lines + [""]:
        if line.strip():
            current.append(line.strip())
        elif current:
            out.append(" ".join(current))
            current = []
    return out


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    program, out_path = sys.argv[1], sys.argv[2]
    version = run(program, "--version").strip().split()[-1]
    usage, description, parts = sections(run(program, "--help"))

    page = [
        f'.TH BRISKO\\-CLI 1 "" "brisko-cli {roff(version)}" "User Commands"',
        ".SH NAME",
        "brisko\\-cli \\- send and inspect Brisko mail campaigns from the command line",
        ".SH SYNOPSIS",
    ]
    for line in usage:
        words = line.split()
        page.append(".B " + roff(words[0]))
        if len(words) > 1:
            page.append(roff(" ".join(words[1:])))
        page.append(".br")
    page.append(".SH DESCRIPTION")
    for paragraph in paragraphs(description):
        page += [".PP", roff(paragraph)]

    for heading, lines in parts:
        page.append(f'.SH "{roff(heading.upper())}"')
        items, trailing = entries(lines)
        for name, text in items:
            page += [".TP", ".B " + roff(name)]
            page += [roff(t) for t in text]
            if heading == "Commands":
                command = name.split()[0]
                options = option_lines(run(program, command, "--help"))
                if options:
                    page += [".RS", ".PP", "Options:"]
                    for option, explanation in options:
                        page += [".TP", ".B " + roff(option), roff(explanation)]
                    page.append(".RE")
        for paragraph in trailing:
            page += [".PP", roff(paragraph)]

    page += [".SH \"SEE ALSO\"", ".BR brisko (1)"]
    text = "\n".join(page) + "\n"
    with open(out_path, "w", encoding="utf-8") as out:
        out.write(text)
    if len(sys.argv) == 4:
        with open(sys.argv[3], "wb") as raw:
            with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as packed:
                packed.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
