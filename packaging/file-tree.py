#!/usr/bin/env python3
"""Writes a WiX fragment that installs a folder tree as it is: every file of
SOURCE (its subfolders included) into the same place below the Directory
DIRECTORY_REF, one component per file, all in the ComponentGroup GROUP.

    file-tree.py DIRECTORY_REF GROUP SOURCE > fragment.wxs

An empty or missing SOURCE gives an empty group. Identifiers are derived from
the group and the file's relative path, so the same tree gives the same
fragment; component GUIDs are left to wixl ("*": derived from the installed
path), so a file keeps its component from one version of the package to the
next, which is what lets a major upgrade replace it in place.
"""

import hashlib
import os
import sys
from xml.sax.saxutils import quoteattr


def ident(kind, group, relative):
    digest = hashlib.sha1(f"{group}/{relative}".encode("utf-8")).hexdigest()[:32]
    return f"{kind}{digest}"


def tree(out, group, source, relative, depth):
    folder = os.path.join(source, relative)
    names = sorted(os.listdir(folder))
    pad = "  " * depth
    for name in names:
        path = os.path.join(folder, name)
        rel = os.path.join(relative, name) if relative else name
        if os.path.isdir(path):
            out.append(f"{pad}<Directory Id={quoteattr(ident('d', group, rel))} Name={quoteattr(name)}>")
            tree(out, group, source, rel, depth + 1)
            out.append(f"{pad}</Directory>")
        elif os.path.isfile(path):
            component = ident("c", group, rel)
            out.append(f"{pad}<Component Id={quoteattr(component)} Guid=\"*\" Win64=\"yes\">")
            out.append(f"{pad}  <File Id={quoteattr(ident('f', group, rel))} Name={quoteattr(name)} "
                       f"Source={quoteattr(path)} KeyPath=\"yes\"/>")
            out.append(f"{pad}</Component>")
            components.append(component)


components = []


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    directory_ref, group, source = sys.argv[1:]
    body = []
    if os.path.isdir(source):
        tree(body, group, source, "", 3)
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
             '  <Fragment>',
             f'    <DirectoryRef Id={quoteattr(directory_ref)}>']
    lines += body
    lines += ['    </DirectoryRef>',
              f'    <ComponentGroup Id={quoteattr(group)}>']
    lines += [f'      <ComponentRef Id="{c}"/>' for c in components]
    lines += ['    </ComponentGroup>', '  </Fragment>', '</Wix>', '']
    sys.stdout.write("\n".join(lines))


if __name__ == "__main__":
    main()
