#!/usr/bin/env python3
"""Checks that no #include crosses the project's layers the wrong way.

The layer table is written by CMake at configure time from the targets themselves: each layer
names the folders it owns and the layers it links. A file may include headers of its own layer and
of the layers its layer links directly; anything else is a dependency the build does not declare.

Table lines:
    root <folder that quoted includes are relative to>
    layer <name> <folder or file> [<folder or file>...]
    skip <folder or file>          (built for another platform: that platform's table checks it)
    link <name> <linked layer>

With --as LAYER FILE..., only the given files are checked, as if LAYER owned them: that is how the
committed wrong-include fixture proves that the real table rejects what it must.
"""
import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")


def read_table(path):
    roots, owners, links = [], [], {}
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "root" and len(words) == 2:
                roots.append(os.path.abspath(words[1]))
            elif words[0] == "layer" and len(words) >= 3:
                for folder in words[2:]:
                    owners.append((os.path.abspath(folder), words[1]))
                links.setdefault(words[1], set())
            elif words[0] == "skip" and len(words) == 2:
                owners.append((os.path.abspath(words[1]), None))
            elif words[0] == "link" and len(words) == 3:
                links.setdefault(words[1], set()).add(words[2])
            else:
                sys.exit(f"{path}:{number}: cannot read this line")
    # The deepest path owns a file: src/hid/linux belongs to its own layer, not to src/hid's, and
    # a seam header named on its own to the seams, not to its folder's layer.
    owners.sort(key=lambda owner: len(owner[0]), reverse=True)
    return roots, owners, links


def owner_of(path, owners):
    for folder, layer in owners:
        if path == folder or path.startswith(folder + os.sep):
            return layer
    return None


def resolve(name, including_file, roots):
    for base in [os.path.dirname(including_file)] + roots:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None  # a system or generated header: not ours to check


def owned_files(owners):
    for path, layer in owners:
        if layer is None:
            continue
        if os.path.isfile(path):
            yield path, layer
            continue
        for directory, _, files in os.walk(path):
            for file_name in sorted(files):
                file_path = os.path.join(directory, file_name)
                if owner_of(file_path, owners) == layer:
                    yield file_path, layer


def wrong_includes(path, layer, roots, owners, links):
    with open(path, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = resolve(match.group(1), path, roots)
            other = owner_of(target, owners) if target else None
            if other is None or other == layer or other in links.get(layer, ()):
                continue
            yield (f"{path}:{number}: includes \"{match.group(1)}\" of layer {other}, which "
                   f"layer {layer} does not link")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table")
    parser.add_argument("--as", dest="as_layer", metavar="LAYER")
    parser.add_argument("files", nargs="*")
    args = parser.parse_intermixed_args()
    roots, owners, links = read_table(args.table)
    if args.as_layer:
        if args.as_layer not in links:
            sys.exit(f"no layer {args.as_layer} in {args.table}")
        checked = [(os.path.abspath(f), args.as_layer) for f in args.files]
    else:
        checked = [(path, layer) for path, layer in owned_files(owners)
                   if path.endswith(SOURCE_SUFFIXES)]
    problems = [problem for path, layer in checked
                for problem in wrong_includes(path, layer, roots, owners, links)]
    for problem in problems:
        print(problem)
    print(f"{len(checked)} files checked, {len(problems)} wrong includes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
