#!/usr/bin/env python3
"""Differential test of the platform's XML property lists against plistlib.

Every document is read by both; they must accept and refuse alike, and agree
on the value. Everything our layer reads is written back and must read in
plistlib as the same value; every value our layer writes must read in
plistlib as that value, and a value refused on writing must be one that no
XML property list can carry. Differences made on purpose are listed below
with their reason; anything else is a fault and fails the run.

  plist_oracle.py DRIVER                 the generated corpus
  plist_oracle.py DRIVER --files DIR...  fuzz inputs (first byte: options)
  plist_oracle.py DRIVER --dump DIR      writes the corpus as fuzz seeds
"""
import argparse
import datetime
import encodings.aliases
import math
import os
import plistlib
import re
import struct
import subprocess
import sys

import plist_oracle_corpus as corpus

EPOCH = datetime.datetime(2001, 1, 1)
HEADER = corpus.HEADER + b'<plist version="1.0">\n'


class Refused(Exception):
    pass


def tokens(value):
    """plistlib's value in the driver's token form."""
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, int):
        return "i%d" % value
    if isinstance(value, float):
        return "fnan" if math.isnan(value) else corpus.f(value)
    if isinstance(value, str):
        return corpus.s(value)
    if isinstance(value, bytes):
        return corpus.d(value)
    if isinstance(value, datetime.datetime):
        return corpus.t((value - EPOCH).total_seconds())
    if isinstance(value, list):
        return " ".join(["a%d" % len(value)] + [tokens(x) for x in value])
    if isinstance(value, dict):
        pairs = sorted((tokens(k), tokens(v)) for k, v in value.items())
        return " ".join(["D%d" % len(pairs)] + [x for p in pairs for x in p])
    raise TypeError(type(value))


def python_value(words):
    """The Python value for driver tokens; Refused when Python cannot hold it."""
    word = next(words)
    kind, rest = word[0], word[1:]
    if kind == "s":
        return bytes.fromhex(rest).decode("utf-16-be", "surrogatepass")
    if kind == "i":
        return int(rest)
    if kind == "f":
        return struct.unpack(">d", bytes.fromhex(rest))[0]
    if kind in "TF":
        return kind == "T"
    if kind == "d":
        return bytes.fromhex(rest)
    if kind == "t":
        seconds = struct.unpack(">d", bytes.fromhex(rest))[0]
        try:  # the document carries whole seconds
            return EPOCH + datetime.timedelta(seconds=math.floor(seconds))
        except (OverflowError, ValueError) as error:
            raise Refused("no such date: %s" % error)
    if kind == "a":
        return [python_value(words) for _ in range(int(rest))]
    if kind == "D":
        out = {}
        for _ in range(int(rest)):
            key = python_value(words)
            out[key] = python_value(words)
        return out
    raise ValueError(word)


def plistlib_read(document):
    try:
        value = plistlib.loads(document, fmt=plistlib.FMT_XML)
    except Exception as error:  # every refusal, whatever its kind
        return None, "%s: %s" % (type(error).__name__, error)
    if value is None:
        return None, "no object"
    return tokens(value), None


def run_driver(driver, records):
    payload = b"".join(records)
    done = subprocess.run([driver], input=payload, capture_output=True, check=True)
    lines = done.stdout.decode("utf-8", "replace").split("\n")
    return lines[: len(records)]


def non_ascii_name(document):
    """Whether a tag, attribute or processing-instruction name holds a
    non-ASCII character."""
    # UTF-16 only when the document says so by its first bytes: any even
    # number of bytes decodes as UTF-16, mostly into nonsense.
    utf16 = document[:2] in (b"\xff\xfe", b"\xfe\xff", b"<\x00", b"\x00<")
    for codec in ("utf-16", "utf-8", "latin-1") if utf16 else ("utf-8", "latin-1"):
        try:
            text = document.decode(codec)
            break
        except UnicodeDecodeError:
            continue
    return re.search(r"<[?/]?[^\s>=\"']*[^\x00-\x7f]|<!DOCTYPE\s+[^\s>]*[^\x00-\x7f]|"
                     r"\s[^\s=<>\"']*[^\x00-\x7f][^\s=<>]*=", text) is not None


def squeezed(name):
    return re.sub(r"[^a-z0-9]", "", name.lower())


def known_but_for_punctuation(document):
    """Whether the declared encoding is one Python knows once punctuation
    is ignored."""
    found = re.match(rb"<\?xml[^>]*encoding=[\"']([^\"']*)[\"']", document)
    names = set(encodings.aliases.aliases) | set(encodings.aliases.aliases.values())
    return found is not None and squeezed(found.group(1).decode("latin-1")) in {
        squeezed(n) for n in names}


# Differences made on purpose: (reason, test of our answer and plistlib's).
# Each test sees our error text (or None), plistlib's tokens (or None), and
# plistlib's error text.
LISTED = [
    ("plistlib ignores elements it does not know (and the text before them); "
     "ours refuses them rather than drop data", lambda e, v, pe, doc: v and e and (
         "unknown element" in e or "holds elements" in e)),
    ("plistlib ignores text inside <true/> and <false/>; ours refuses it",
     lambda e, v, pe, doc: v and e and "must be empty" in e),
    ("plistlib drops text between the elements of a container or around the "
     "object; ours refuses it rather than drop data", lambda e, v, pe, doc: v and e and (
         "text inside" in e or "text around" in e)),
    ("plistlib keeps the last of several objects in <plist>; ours refuses them",
     lambda e, v, pe, doc: v and e and "exactly one object" in e),
    ("plistlib reads any element as the root; ours wants <plist> (or a bare "
     "<dict> or <array>)", lambda e, v, pe, doc: v and e and "is not <plist>" in e),
    ("plistlib reads a <key> that is empty as no key at all; ours pairs every key "
     "with a value", lambda e, v, pe, doc: v and e and "without a value" in e),
    ("plistlib decodes base64 leniently (skips stray characters, loose padding); "
     "ours refuses damaged data", lambda e, v, pe, doc: v and e and "base64" in e),
    ("Python integers have no bound; our numbers are 64-bit and refuse more",
     lambda e, v, pe, doc: v and e and "64-bit range" in e),
    ("Python's int() and float() also take digit-group underscores and "
     "non-ASCII digits; ours takes the ASCII forms only",
     lambda e, v, pe, doc: v and e and "is not a number" in e),
    ("plistlib ignores text after the Z of a date; ours refuses it",
     lambda e, v, pe, doc: v and e and "invalid date" in e),
    ("ours reads a hexadecimal integer with a sign or surrounding spaces, "
     "which plistlib sends to int() as decimal", lambda e, v, pe, doc: e is None and pe and
     "int()" in pe),
    ("expat skips an undefined entity when the document names an external DTD; "
     "ours refuses it", lambda e, v, pe, doc: v and e and "undefined entity" in e),
    ("nesting deeper than 512 is refused to keep the stack safe",
     lambda e, v, pe, doc: v and e and "too deep" in e),
    ("expat takes any version number in the XML declaration; ours takes the "
     "XML 1.x it reads", lambda e, v, pe, doc: v and e and "version is not 1.x" in e),
    ("expat judges non-ASCII characters in names by the tables of XML 1.0's "
     "fourth edition; ours by the fifth edition's, which allow more",
     lambda e, v, pe, doc: e is None and pe and "invalid token" in pe and non_ascii_name(doc)),
    ("ICU matches encoding names ignoring punctuation (\"IS.O-8859-1\"); "
     "Python's codec registry does not", lambda e, v, pe, doc: e is None and pe and
     "unknown encoding" in pe and known_but_for_punctuation(doc)),
    ("plistlib refuses entity declarations in a document type; ours refuses "
     "any declarations there", lambda e, v, pe, doc: v and e and "declarations of its own" in e),
]

# Writes that our layer refuses and plistlib does not: the reason is what
# plistlib's own output does in its reader.
WRITE_LISTED = [
    ("plistlib writes U+FFFE and U+FFFF, which no XML reader (its own "
     "included) accepts; ours refuses them", lambda v, xml: xml is not None and
     plistlib_read(xml)[1] is not None),
    ("nesting deeper than 512 is refused to keep the stack safe",
     lambda v, xml: xml is not None and xml.count(b"<array>") > 512),
]


def listed(table, *args):
    for reason, test in table:
        if test(*args):
            return reason
    return None


def check_reads(driver, named_documents, tally, faults):
    results = run_driver(driver, [b"R %d\n" % len(doc) + doc for _, doc in named_documents])
    for (name, doc), line in zip(named_documents, results):
        theirs, their_error = plistlib_read(doc)
        ours_error, ours, written = None, None, None
        if line.startswith("OK "):
            ours, written_hex = line[3:].rsplit(" ", 1)
            written = bytes.fromhex(written_hex)
        else:
            ours_error = line
        fault = None
        if ours_error is not None:
            if not ours_error.startswith("ERR 3840 ") or "at line" not in ours_error:
                fault = "refusal without code 3840 and a line: " + ours_error
            elif theirs is not None:
                reason = listed(LISTED, ours_error, theirs, their_error, doc)
                if reason is None:
                    fault = "ours refuses (%s), plistlib reads %s" % (ours_error, theirs[:200])
                else:
                    tally.setdefault(reason, []).append(name)
                    continue
        else:
            if theirs is None:
                reason = listed(LISTED, None, None, their_error, doc)
                if reason is not None:
                    tally.setdefault(reason, []).append(name)
                    continue
                fault = "ours reads %s, plistlib refuses (%s)" % (ours[:200], their_error)
            elif ours != theirs:
                fault = "values differ: ours %s, plistlib %s" % (ours[:200], theirs[:200])
            elif not written.startswith(HEADER):
                fault = "written without the standard header"
            elif plistlib_read(written)[0] != ours:
                fault = "plistlib reads our rewrite differently: %s" % (plistlib_read(written),)
        if fault:
            faults.append("read %s: %s\n    document %r" % (name, fault, doc[:300]))
        else:
            tally.setdefault("agree", []).append(name)


def check_writes(driver, named_values, tally, faults):
    results = run_driver(driver, [("W %s\n" % words).encode() for _, words in named_values])
    for (name, value_tokens), line in zip(named_values, results):
        try:
            value, python_refusal = python_value(iter(value_tokens.split(" "))), None
        except Refused as error:
            value, python_refusal = None, str(error)
        their_xml = None
        if python_refusal is None:
            try:
                their_xml = plistlib.dumps(value, fmt=plistlib.FMT_XML, sort_keys=True)
            except Exception as error:
                python_refusal = "%s: %s" % (type(error).__name__, error)
        fault = None
        if line.startswith("OK "):
            xml = bytes.fromhex(line[3:])
            read, error = plistlib_read(xml)
            if python_refusal is not None:
                fault = "ours writes what plistlib refuses to (%s)" % python_refusal
            elif error is not None:
                fault = "plistlib cannot read what ours wrote: %s" % error
            elif read != tokens(value):
                fault = "plistlib reads %s, the value was %s" % (read[:200], tokens(value)[:200])
            elif not xml.startswith(HEADER):
                fault = "written without the standard header"
        elif not line.startswith("ERR 3851 ") or len(line) < 20:
            fault = "refusal without code 3851 and a message: " + line
        elif python_refusal is None:
            reason = listed(WRITE_LISTED, value, their_xml)
            if reason is None:
                fault = "ours refuses (%s), plistlib writes it" % line
            else:
                tally.setdefault(reason, []).append(name)
                continue
        if fault:
            faults.append("write %s: %s" % (name, fault))
        else:
            tally.setdefault("agree", []).append(name)


def fuzz_inputs(folders):
    out = []
    for folder in folders:
        if not os.path.isdir(folder):
            continue
        for root, _, files in os.walk(folder):
            for file in sorted(files):
                with open(os.path.join(root, file), "rb") as handle:
                    raw = handle.read()
                if raw:
                    out.append((os.path.join(root, file), raw[1:]))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("driver")
    parser.add_argument("--files", nargs="+", help="fuzz corpus folders to replay")
    parser.add_argument("--dump", help="write the generated documents as fuzz seeds here")
    parser.add_argument("--verbose", action="store_true", help="name every listed document")
    args = parser.parse_args()
    sys.setrecursionlimit(50000)  # the deep documents nest thousands of levels
    tally, faults = {}, []
    if args.dump:
        os.makedirs(args.dump, exist_ok=True)
        for k, (name, doc) in enumerate(corpus.documents()):
            if len(doc) > 8192:  # seeds stay small; the test itself has the big ones
                continue
            slug = "".join(c if c.isalnum() else "-" for c in name.lower())[:40].strip("-")
            with open(os.path.join(args.dump, "oracle-%03d-%s" % (k, slug)), "wb") as handle:
                handle.write(bytes([k % 3]) + doc)  # the first byte picks the mutability
        return 0
    if args.files:
        documents = fuzz_inputs(args.files)
        if not documents:
            print("no inputs in " + " ".join(args.files))
            return 2
        check_reads(args.driver, documents, tally, faults)
        total = len(documents)
    else:
        documents, values = corpus.documents(), corpus.values()
        # Whatever plistlib writes is a document from another implementation.
        for name, value_tokens in values:
            try:
                documents.append(("plistlib wrote " + name, plistlib.dumps(
                    python_value(iter(value_tokens.split(" "))), fmt=plistlib.FMT_XML)))
            except Exception:
                pass
        check_reads(args.driver, documents, tally, faults)
        check_writes(args.driver, values, tally, faults)
        total = len(documents) + len(values)
    agree = len(tally.pop("agree", []))
    listed_count = sum(len(names) for names in tally.values())
    for reason, names in sorted(tally.items()):
        print("listed %3d: %s" % (len(names), reason))
        if args.verbose:
            print("    " + "; ".join(names))
    for fault in faults:
        print("FAULT " + fault)
    print("corpus %d: agree %d, listed %d, fault %d" % (total, agree, listed_count, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
