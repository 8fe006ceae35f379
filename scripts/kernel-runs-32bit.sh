#!/usr/bin/env bash
# Exit status 0 when this kernel runs 32-bit x86 programs. Found out by trying, not by reading settings: a 96-byte
# static i386 ELF program whose only act is the exit system call (int 0x80) with status 42 is written and run. A
# kernel without IA-32 emulation refuses it ("Exec format error"). Needs nothing but bash: it runs before the
# bootstrap has installed anything.
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one loadable segment at 0x08048000 (32 bytes), then: mov eax,1; mov ebx,42; int 0x80.
printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
  '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00' \
  '\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00' \
  '\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
