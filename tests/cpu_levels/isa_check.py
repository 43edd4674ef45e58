#!/usr/bin/env python3
"""Fails when a built binary uses an instruction its level does not guarantee.

    isa_check.py LEVEL FILE [LEVEL FILE ...]

LEVEL is one of: baseline (x86-64: SSE2), sse3, avx, avx2, avx512f. Each file
is disassembled with objdump and every instruction is classified by the
extension it needs; anything above the level is printed with its address and
counted. The emulator cannot run AVX-512 and skips code it never reaches, so
this check sees what the emulated runs cannot: every instruction in the file.
"""
import re
import subprocess
import sys

ORDER = ["baseline", "sse3", "ssse3", "sse4.1", "sse4.2", "avx", "avx2", "avx512f"]
# Extensions no engine level guarantees at all: what needs them is refused
# at every level (the processor may lack them even at level 10).
NEVER = {"fma", "fma4", "bmi", "f16c", "avx512vl", "avx512bw", "avx512dq", "avx512-other"}

SSE3 = {"addsubpd", "addsubps", "haddpd", "haddps", "hsubpd", "hsubps", "lddqu", "movddup",
        "movshdup", "movsldup", "fisttp", "fisttps", "fisttpl", "fisttpll", "monitor", "mwait"}
SSSE3 = {"pshufb", "phaddw", "phaddd", "phaddsw", "phsubw", "phsubd", "phsubsw", "pmaddubsw",
         "pmulhrsw", "psignb", "psignw", "psignd", "palignr", "pabsb", "pabsw", "pabsd"}
SSE41 = {"blendpd", "blendps", "blendvpd", "blendvps", "pblendvb", "pblendw", "dppd", "dpps",
         "extractps", "insertps", "movntdqa", "mpsadbw", "packusdw", "pcmpeqq", "pextrb",
         "pextrd", "pextrq", "pinsrb", "pinsrd", "pinsrq", "pmaxsb", "pmaxsd", "pmaxud",
         "pmaxuw", "pminsb", "pminsd", "pminud", "pminuw", "pmuldq", "pmulld", "ptest",
         "roundpd", "roundps", "roundsd", "roundss", "phminposuw"}
SSE42 = {"pcmpgtq", "pcmpestri", "pcmpestrm", "pcmpistri", "pcmpistrm", "crc32", "crc32b",
         "crc32w", "crc32l", "crc32q", "popcnt"}
# tzcnt is left out: its encoding is "rep bsf", which every x86-64 processor
# runs as bsf, and compilers emit it for inputs known not to be zero, where
# the two agree.
BMI = {"andn", "bextr", "blsi", "blsmsk", "blsr", "lzcnt", "bzhi", "mulx", "pdep", "pext",
       "rorx", "sarx", "shlx", "shrx", "movbe"}
# AVX2 instructions recognisable by name alone (in any vector width).
AVX2_NAMES = re.compile(r"^v(pbroadcast[bwdq]|broadcasti128|perm[dq]|permp[sd]|perm2i128|"
                        r"inserti128|extracti128|pmaskmov[dq]|ps[lr]lv[dq]|psrav[dq]|"
                        r"p?gather\w+|pblendd)$")
# 256-bit integer forms that AVX (level 7) does not have.
AVX1_YMM_INTEGER = {"vptest", "vpermilps", "vpermilpd", "vperm2f128"}
FMA = re.compile(r"^vf(n?m(add|sub)|maddsub|msubadd)\d{3}[ps][sd]$")
# AVX-512 instructions that need BW or DQ even on 512-bit registers: byte
# and word element forms, and the mask and float-logic forms F lacks.
BW_NAMES = re.compile(r"^(kmov[dq]|k\w+[dq]|vpmov(b2m|w2m|m2b|m2w)|vpcmp\w*[bw]|vptestn?m[bw]|"
                      r"vpblendm[bw]|vperm(t2|i2)?w|vps(ll|ra|rl)v?w|vpsadbw|vdbpsadbw|"
                      r"vp(add|sub)u?s?[bw]|vpmul(l|h|hu|hrs)w|vpshuf(b|hw|lw)|vpmadd(wd|ubsw)|"
                      r"vpack(ss|us)(wb|dw)|vpunpck[hl](bw|wd)|vpalignr|vpavg[bw]|vpabs[bw]|"
                      r"vp(min|max)[su][bw]|vpmov[sz]xbw|vpbroadcast[bw]|vp(extr|insr)[bw]|"
                      r"vps[lr]ldq|vpmovu?s?wb|vmovdqu(8|16))$")
DQ_NAMES = re.compile(r"^(kmovb|k\w+b|vpmov(d2m|q2m|m2d|m2q)|vpmullq|vcvt\w*qq\w*|"
                      r"vfpclass\w+|vrange\w+|vreduce\w+|v(extract|insert)[fi](64x2|32x8)|"
                      r"vbroadcast[fi](32x2|64x2|32x8)|v(and|andn|or|xor)p[sd]|vp(extr|insr)[dq])$")
SCALAR = re.compile(r"(s[sd]|si2s[sd]\w?|s[sd]2u?si\w?|^vmov[dq]|^vcomis[sd]|^vucomis[sd])$")
PREFIXES = {"66", "67", "f2", "f3", "2e", "3e", "26", "36", "64", "65", "f0"}


def needs(mnemonic, operands, raw):
    """The extension an instruction needs, or None for baseline x86-64."""
    m = mnemonic.split(".")[0]
    if m.startswith("rep") or m.startswith("lock") or m in ("bnd", "notrack", "data16", "cs", "ds"):
        return None
    if m.startswith("k") and re.search(r"%k[0-7]\b", operands):
        return "avx512bw" if BW_NAMES.match(m) else "avx512dq" if DQ_NAMES.match(m) else "avx512f"
    opcode = next((b for b in raw if b not in PREFIXES), "")
    if opcode == "62":  # EVEX
        if "%zmm" not in operands and not SCALAR.search(m):
            return "avx512vl"  # an EVEX form on xmm/ymm registers
        if BW_NAMES.match(m):
            return "avx512bw"
        if DQ_NAMES.match(m):
            return "avx512dq"
        return "avx512f"
    if m in BMI:
        return "bmi"
    if m in ("vcvtph2ps", "vcvtps2ph"):
        return "f16c"
    if FMA.match(m):
        return "fma"
    if re.match(r"^vf(n?m(add|sub)|maddsub|msubadd)[ps][sd]$", m):
        return "fma4"
    if m.startswith("v") and m not in ("verr", "verw"):
        if AVX2_NAMES.match(m) or (m.startswith("vp") and "%ymm" in operands and
                                   m not in AVX1_YMM_INTEGER):
            return "avx2"
        if m.startswith("vbroadcasts") and re.match(r"^%xmm", operands):
            return "avx2"  # register-source broadcast
        return "avx"
    if m in SSE42:
        return "sse4.2"
    if m in SSE41:
        return "sse4.1"
    if m in SSSE3:
        return "ssse3"
    if m in SSE3:
        return "sse3"
    return None


def above(level, extension):
    if extension in NEVER:
        return True
    return ORDER.index(extension) > ORDER.index(level)


def check(level, path):
    dump = subprocess.run(["objdump", "-d", "-w", path], check=True, capture_output=True,
                          text=True).stdout
    line_re = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\t(\S+)\s*(.*)$")
    faults = []
    count = 0
    for line in dump.splitlines():
        match = line_re.match(line)
        if not match:
            continue
        count += 1
        address, raw, mnemonic, operands = match.groups()
        extension = needs(mnemonic, operands, raw.split())
        if extension and above(level, extension):
            faults.append(f"  {address}: {mnemonic} {operands}  needs {extension.upper()}")
    if count == 0:
        print(f"{path}: objdump found no instructions")
        return False
    if faults:
        print(f"{path} (level {level}): {len(faults)} instructions above the level")
        print("\n".join(faults[:40]))
        return False
    print(f"{path} (level {level}): {count} instructions, none above the level")
    return True


def main(argv):
    if len(argv) < 2 or len(argv) % 2:
        print(__doc__)
        return 2
    ok = True
    for level, path in zip(argv[0::2], argv[1::2]):
        if level not in ORDER:
            print(f"unknown level '{level}'")
            return 2
        ok = check(level, path) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
