#!/usr/bin/env python3
"""Writes the slot lists of the JNIEnv and JavaVM function tables, in table
order, as X-macros, taken from the jni.h that the bridge is compiled with.

The bridge fills every slot it does not forward with a stub that names the
slot, so the lists must follow the header exactly; the bridge checks the
counts against sizeof of the tables at compile time."""
import re
import sys


def slots(text, struct):
    start = text.index('struct %s {' % struct)
    end = text.index('};', start)
    body = text[start:end]
    names = []
    for m in re.finditer(r'void \*(reserved\d+)\s*;|\(JNICALL \*(\w+)\)', body):
        names.append(m.group(1) or m.group(2))
    return names


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: gen_jni_slots.py JNI_H OUTPUT_H')
    with open(sys.argv[1], encoding='utf-8') as f:
        text = f.read()
    env = slots(text, 'JNINativeInterface_')
    vm = slots(text, 'JNIInvokeInterface_')
    lines = ['/* Generated from %s by gen_jni_slots.py. */' % sys.argv[1],
             '#define JNIENV_SLOT_COUNT %d' % len(env),
             '#define JAVAVM_SLOT_COUNT %d' % len(vm),
             '#define JNIENV_SLOTS(X) \\']
    lines += ['    X(%d, %s) \\' % (i, n) for i, n in enumerate(env)]
    lines += ['', '#define JAVAVM_SLOTS(X) \\']
    lines += ['    X(%d, %s) \\' % (i, n) for i, n in enumerate(vm)]
    lines.append('')
    with open(sys.argv[2], 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
