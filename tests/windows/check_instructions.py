#!/usr/bin/python3
"""Lists instructions a Pentium (i586, no MMX) cannot execute in our object code.

usage: check_instructions.py OBJDUMP FILE...

FILE is an object or a static library of the stub. Exit status 0 when every
code section holds only Pentium instructions; otherwise prints each offending
instruction with its member and function and exits 1.

The stub image itself cannot pass this: the MinGW startup code (crt2.o) that
every image of this toolchain starts in already executes a CMOV. So the check
covers the code we compile, where a wrong -march is caught.
"""
import re
import subprocess
import sys

# Mnemonics of instructions the Pentium lacks: Pentium Pro and later
# conditional moves, compares and fast system calls; MMX, SSE and 3DNow state
# and cache control.
MNEMONICS = re.compile(
    r"^(cmov|fcmov|fcomi|fucomi|sysenter|sysexit|syscall|sysret|rdpmc|rdtscp|"
    r"emms|femms|pf|pi2f|pf2i|ldmxcsr|stmxcsr|fxsave|fxrstor|xsave|xrstor|xgetbv|"
    r"prefetch|[lms]fence|clflush|movnti|fisttp|monitor|mwait|popcnt|lzcnt|movbe|"
    r"crc32|rdrand|rdseed|andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|mulx|rorx|"
    r"sarx|shlx|shrx|adcx|adox)")
# Any MMX, SSE or AVX register operand.
VECTOR_REGISTER = re.compile(r"%([xyz]?mm\d|k[0-7]\b)")
PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}
# 0F 18..1F are the hint NOPs and prefetches of the Pentium Pro and later
# (long NOP padding, ENDBR32); a Pentium raises invalid opcode on them.
HINT_NOPS = range(0x18, 0x20)
# "tzcnt" is F3 0F BC: GCC emits it (rep bsf) for generic tuning where the
# operand is known nonzero, and older processors run it as BSF; not flagged.

LINE = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\t(.*)$")


def offending(raw, text):
    """Why the instruction needs more than a Pentium, or None."""
    mnemonic = text.split()[0] if text.split() else ""
    if mnemonic == "(bad)":
        return "undecodable bytes in a code section"
    if MNEMONICS.match(mnemonic):
        return mnemonic
    if VECTOR_REGISTER.search(text):
        return "vector register"
    body = raw
    while body and body[0] in PREFIXES:
        body = body[1:]
    if len(body) >= 2 and body[0] == 0x0F and body[1] in HINT_NOPS:
        return "0F %02X hint/long NOP" % body[1]
    return None


def scan(objdump, path):
    """(instructions seen, [(member, function, offset, instruction, why)])."""
    out = subprocess.run([objdump, "-dw", path], check=True, capture_output=True, text=True).stdout
    member, function, start, count, found = path, "?", 0, 0, []
    for line in out.splitlines():
        header = re.match(r"^(\S+):\s+file format ", line)
        if header:
            member = header.group(1)
            continue
        label = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
        if label:
            start, function = int(label.group(1), 16), label.group(2)
            continue
        m = LINE.match(line)
        if not m:
            continue
        count += 1
        raw = bytes(int(b, 16) for b in m.group(2).split())
        why = offending(raw, m.group(3))
        if why:
            found.append((member, function, int(m.group(1), 16) - start, m.group(3).strip(), why))
    return count, found


def main(objdump, paths):
    failures = 0
    for path in paths:
        count, found = scan(objdump, path)
        if count == 0:
            # A file with no code means the test was handed the wrong inputs.
            print("FAIL: %s: no instructions disassembled" % path)
            failures += 1
        for member, function, offset, text, why in found:
            print("FAIL: %s: %s+0x%x: %s (%s)" % (member, function, offset, text, why))
        failures += len(found)
        print("%s: %d instructions, %d beyond the Pentium" % (path, count, len(found)))
    print("%d failures" % failures if failures else "only Pentium instructions")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
