#!/usr/bin/env python3
"""vm_tools.py: the host-side helpers of vm_test.sh.

  modules KERNEL_TREE OUT NAME...  copy the named modules and everything they
      need (depends= and softdep= of .modinfo), decompressed, into OUT and
      print them in load order; names built into the kernel are left out.
  exfat IMAGE NAME[=WORD]...  print "NAME WORD" (after setting WORD if
      given) for each entry NAME (a path) of an exFAT image: the
      FileAttributes of its directory entries on disk, read without a driver.
"""
import lzma
import os
import re
import struct
import sys


def modinfo(path):
    data = open(path, "rb").read()
    if path.endswith(".xz"):
        data = lzma.decompress(data)
    needs = []
    for key, value in re.findall(rb"\0(depends|softdep)=([^\0]*)", data):
        if key == b"depends":
            needs += [n for n in value.decode().split(",") if n]
        else:  # "pre: a b post: c"
            needs += [n for n in value.decode().split() if not n.endswith(":")]
    return data, needs


def modules(tree, out, names):
    files = {}
    for folder, _, entries in os.walk(tree):
        for e in entries:
            base = e.split(".ko")[0]
            if ".ko" in e:
                files[base.replace("-", "_")] = os.path.join(folder, e)
    order, seen = [], set()

    def visit(name):
        name = name.replace("-", "_")
        if name in seen or name not in files:
            return
        seen.add(name)
        data, needs = modinfo(files[name])
        for n in needs:
            visit(n)
        open(os.path.join(out, name + ".ko"), "wb").write(data)
        order.append(name)

    for n in names:
        if n.replace("-", "_") not in files:
            sys.exit(f"vm_tools: no module {n} in {tree}")
        visit(n)
    print("\n".join(order))


class ExFat:
    def __init__(self, path):
        self.f = open(path, "r+b")
        boot = self.read(0, 512)
        if boot[3:11] != b"EXFAT   ":
            sys.exit(f"vm_tools: {path} is not exFAT")
        fat, heap, self.root = struct.unpack_from("<I4xI4xI", boot, 80)
        self.sector = 1 << boot[108]
        self.cluster = self.sector << boot[109]
        self.fat, self.heap = fat * self.sector, heap * self.sector

    def read(self, at, n):
        self.f.seek(at)
        return self.f.read(n)

    def load(self, first, size=0):
        """A folder as one buffer, with where each of its clusters lies; SIZE
        given: its clusters follow one another (no FAT chain)."""
        self.spans, c = [], first
        while 2 <= c < 0xFFFFFFF7 and len(self.spans) < 4096:
            self.spans.append(self.heap + (c - 2) * self.cluster)
            if size:
                c = c + 1 if len(self.spans) * self.cluster < size else 0
            else:
                c = struct.unpack("<I", self.read(self.fat + 4 * c, 4))[0]
        self.dir = bytearray(b"".join(self.read(s, self.cluster) for s in self.spans))

    def find(self, path):
        """Offset of the File entry (0x85) of PATH in its folder's buffer, and its set's length."""
        self.load(self.root)
        for depth, name in enumerate(path.split("/")):
            d = self.dir
            at = next((at for at in range(0, len(d), 32) if d[at] == 0x85 and self.name(at) == name), None)
            if at is None:
                sys.exit(f"vm_tools: no entry {path} in the image")
            if depth == path.count("/"):
                return at, 32 * (d[at + 1] + 1)
            flags, first, size = struct.unpack_from("<xB18xIQ", d, at + 32)
            self.load(first, size if flags & 2 else 0)

    def name(self, at):
        d, count = self.dir, self.dir[at + 1]
        length = d[at + 32 + 3] if d[at + 32] == 0xC0 else 0
        chars = b"".join(d[at + 32 * i + 2:at + 32 * i + 32] for i in range(2, count + 1))
        return chars[:2 * length].decode("utf-16-le")

    def word(self, name):
        at, _ = self.find(name)
        return struct.unpack_from("<H", self.dir, at + 4)[0]

    def set_word(self, name, word):
        at, size = self.find(name)
        struct.pack_into("<H", self.dir, at + 4, word)
        check = 0
        for i in range(size):
            if i not in (2, 3):  # the checksum's own bytes
                check = (((check >> 1) | (check << 15)) + self.dir[at + i]) & 0xFFFF
        struct.pack_into("<H", self.dir, at + 2, check)
        for i in range(at, at + size, 32):  # an entry set may cross clusters
            self.f.seek(self.spans[i // self.cluster] + i % self.cluster)
            self.f.write(self.dir[i:i + 32])


def main(argv):
    if len(argv) >= 4 and argv[1] == "modules":
        modules(argv[2], argv[3], argv[4:])
    elif len(argv) >= 4 and argv[1] == "exfat":
        image = ExFat(argv[2])
        for arg in argv[3:]:
            name, _, word = arg.partition("=")
            if word:
                image.set_word(name, int(word, 0))
            print(f"{name} 0x{image.word(name):x}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
