"""The documents and values of the property-list differential test.

Documents are (name, bytes) pairs: valid ones of every type and edge value,
and hostile ones of every fault class the reader has had. Values are
(name, tokens) pairs in the driver's token form (see plist_oracle_driver.cpp).
"""
import math
import struct

HEADER = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
          b'<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
          b'"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n')


def wrap(body, header=HEADER):
    if isinstance(body, str):
        body = body.encode("utf-8")
    return header + b'<plist version="1.0">\n' + body + b"\n</plist>\n"


def s(text):
    return "s" + text.encode("utf-16-be", "surrogatepass").hex()


def i(value):
    return "i%d" % value


def f(value):
    return "f%016x" % struct.unpack("<Q", struct.pack("<d", value))[0]


def t(seconds):
    return "t%016x" % struct.unpack("<Q", struct.pack("<d", seconds))[0]


def d(raw):
    return "d" + raw.hex()


def a(*items):
    return " ".join(["a%d" % len(items), *items])


def dct(*pairs):
    return " ".join(["D%d" % len(pairs)] + [x for pair in pairs for x in pair])


# Seconds from 2001-01-01 to the start of a year (proleptic Gregorian, UTC).
def year_start(year):
    days = 0
    for y in range(min(year, 2001), max(year, 2001)):
        days += 366 if (y % 4 == 0 and y % 100 != 0) or y % 400 == 0 else 365
    return float(days * 86400 if year >= 2001 else -days * 86400)


def values():
    strings = ["", "plain", "a <b> & \"c\" 'd' ]]>", "\u00e9 \u00fc \u4e2d\u6587 \U0001F600",
               "\t\n", "  spaced  ", "a\r\nb\rc", "x" * 5000, "\u0085\u2028\ufffd\ue000",
               "%@ %d {}"]
    out = [("string %d" % k, s(x)) for k, x in enumerate(strings)]
    for k, n in enumerate([0, 1, -1, 2**31, 2**63 - 1, -2**63, 10**18]):
        out.append(("integer %d" % k, i(n)))
    reals = [0.0, -0.0, 1 / 3, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
             math.inf, -math.inf, math.nan, 1e22, 0.1, -123.456, 2.0**53 + 1]
    out += [("real %d" % k, f(x)) for k, x in enumerate(reals)]
    out += [("true", "T"), ("false", "F")]
    for k, raw in enumerate([b"", b"\0", b"ab", b"abc", bytes(range(256)), b"\xff" * 1001]):
        out.append(("data %d" % k, d(raw)))
    dates = [0.0, -978307200.0, year_start(1), year_start(10000) - 1, year_start(999) - 1,
             year_start(1600) + 59 * 86400, 0.5, -0.5, 1e9, year_start(1970) + 86399]
    out += [("date %d" % k, t(x)) for k, x in enumerate(dates)]
    everything = dct((s("z"), a(i(1), f(2.5), "T")), (s("\u00e9t\u00e9"), s("summer")),
                     (s(""), d(b"k")), (s("a&b"), dct()), (s("when"), t(1.0)), (s("list"), a()))
    out.append(("dict of everything", everything))
    out.append(("array 512 deep", "a1 " * 511 + "a0"))
    out.append(("dict 512 deep", "D1 s0061 " * 511 + "D0"))
    # Values no XML document can carry, or that no reader accepts back.
    bad = ["\x00", "a\x01b", "\x08", "\x0b", "\x0c", "\x0e", "\x1f", "\ufffe", "\uffff",
           "\ud800", "a\udc00", "\udc00\ud800"]
    out += [("unwritable string %d" % k, s(x)) for k, x in enumerate(bad)]
    out.append(("unwritable key", dct((s("k\x02"), i(1)))))
    out.append(("unwritable nested", a(dct((s("k"), a(s("ok"), s("\x7f\x10")))))))
    for k, x in enumerate([year_start(0), year_start(10000), year_start(-5), math.nan, 1e20,
                           -1e20, math.inf, -math.inf]):
        out.append(("unwritable date %d" % k, t(x)))
    out.append(("number key", dct((i(1), s("v")))))
    out.append(("array 513 deep", "a1 " * 512 + "a0"))
    return out


def documents():
    out = []

    def add(name, body, header=HEADER):
        out.append((name, wrap(body, header)))

    # Text split by comments, processing instructions and CDATA sections.
    add("split integer", "<integer>1<!--c-->2</integer>")
    add("split string cdata", "<string>a<![CDATA[b]]>c</string>")
    add("split string pi", "<string>a<?pi x?>b</string>")
    add("split key", "<dict><key>k<!--c-->ey</key><true/></dict>")
    add("split data", "<data>AQ<!--c-->ID</data>")
    add("split date", "<date>2020-01-01<!--c-->T00:00:00Z</date>")
    add("split real", "<real>1.<!---->5</real>")
    add("cdata only", "<string><![CDATA[<&>]]></string>")
    add("cdata with ]]", "<string><![CDATA[a]]]]><![CDATA[>b]]></string>")
    # Characters XML does not allow, raw or as references.
    for ref in ["&#0;", "&#1;", "&#x1F;", "&#xFFFE;", "&#xFFFF;", "&#xD800;", "&#x110000;",
                "&#9;&#10;&#13;", "&#x1F600;", "&#65;&#x42;&#x000043;", "&#;", "&#x;",
                "&#-1;", "&#99999999999;", "&#65b", "&#x41"]:
        add("reference " + ref, "<string>a%sb</string>" % ref)
    for raw in [b"\x01", b"\x1f", b"\xef\xbf\xbe", b"\xff", b"\xc0\xaf", b"\xed\xa0\x80",
                b"\xe9t\xe9", b"\xf4\x90\x80\x80", b"\x7f\xc2\x85"]:
        add("raw bytes " + raw.hex(), b"<string>a" + raw + b"b</string>")
    # Dates.
    for date in ["2020-02-29T12:00:00Z", "2020-02-30T00:00:00Z", "2019-02-29T00:00:00Z",
                 "2020-04-31T00:00:00Z", "2020-01-01T24:00:00Z", "2020-01-01T23:60:00Z",
                 "2020-01-01T23:59:60Z", "0000-01-01T00:00:00Z", "0001-01-01T00:00:00Z",
                 "9999-12-31T23:59:59Z", "10000-01-01T00:00:00Z", "999-12-31T00:00:00Z",
                 "2020-01-01T-1:00:00Z", "2020-1-1T00:00:00Z", "2020-01-01T00:00:00",
                 "2020-01-01Z", "2020-01-01T05Z", "2020-01-01T05:06Z", "2020Z", "2020-01Z",
                 " 2020-01-01T00:00:00Z", "2020-01-01T00:00:00Z ", "2020-00-10T00:00:00Z",
                 "2020-13-10T00:00:00Z", "2020-01-00T00:00:00Z", "+2020-01-01T00:00:00Z",
                 "1600-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "yesterday", ""]:
        add("date " + date, "<date>%s</date>" % date)
    # Line ends.
    add("crlf string", b"<string>a\r\nb\rc\r\r\nd</string>")
    add("crlf key", b"<dict><key>k\r\ney</key><string>\r</string></dict>")
    add("cr in cdata", b"<string><![CDATA[a\r\nb]]></string>")
    out.append(("crlf document", wrap("<array>\n<true/>\n</array>").replace(b"\n", b"\r\n")))
    out.append(("cr document", wrap("<array>\n<true/>\n</array>").replace(b"\n", b"\r")))
    # Encodings named in the declaration.
    def declared(enc, body, codec=None):
        text = ('<?xml version="1.0" encoding="%s"?>\n<plist version="1.0">%s</plist>\n'
                % (enc, body))
        return text.encode(codec or enc)
    for enc in ["ISO-8859-1", "latin1", "US-ASCII", "UTF-8", "utf-8", "windows-1252",
                "ISO-8859-15", "KOI8-R", "UTF-16", "UTF-16LE", "UTF-16BE"]:
        body = "<string>caf\u00e9 \u00ab</string>" if "ASCII" not in enc else "<string>x</string>"
        try:
            out.append(("encoding " + enc, declared(enc, body)))
        except (LookupError, UnicodeEncodeError):
            pass
    out.append(("encoding latin1 c1", declared("ISO-8859-1", "<string>\x85\x9f</string>")))
    out.append(("encoding ascii high byte",
                declared("US-ASCII", "<string>\u00e9</string>", "latin-1")))
    out.append(("encoding utf8 declared latin1 bytes",
                declared("UTF-8", "<string>\u00e9</string>", "latin-1")))
    out.append(("encoding shift_jis", declared("Shift_JIS", "<string>x</string>", "ascii")))
    out.append(("encoding bogus", declared("no-such-encoding", "<string>x</string>", "ascii")))
    out.append(("utf8 bom", b"\xef\xbb\xbf" + wrap("<string>\u00e9</string>")))
    out.append(("utf16 bom, no declaration",
                '<plist version="1.0"><string>\u00e9</string></plist>'.encode("utf-16")))
    # Malformed XML.
    out.append(("text after root", wrap("<true/>") + b"junk"))
    out.append(("second root", wrap("<true/>") + b'<plist version="1.0"><true/></plist>'))
    out.append(("comment and pi after root", wrap("<true/>") + b"<!-- c --><?pi x?>\n  \n"))
    out.append(("declaration not at start", b" " + wrap("<true/>")))
    out.append(("declaration after comment", b"<!-- c -->" + wrap("<true/>")))
    out.append(("declaration in body", wrap('<?xml version="1.0"?><true/>', b"")))
    for body in ["<string>a&foo;b</string>", "<string>a & b</string>", "<string>a&b</string>",
                 "<string>a ]]> b</string>", "<string>a ]] > b</string>",
                 "<string>&lt;&gt;&amp;&apos;&quot;</string>", "<string>a<!-- x -- y -->b</string>",
                 "<string>a<!-- x --->b</string>", "<real>+-1</real>", "<integer>+-1</integer>",
                 "<integer>--1</integer>", "<real>++1</real>", "<string>a < b</string>"]:
        add("markup " + body, body)
    add("undefined entity without doctype", "<string>a&foo;b</string>", b"")
    out.append(("duplicate attribute",
                HEADER + b'<plist version="1.0" version="1.0"><true/></plist>'))
    out.append(("attribute with entity", HEADER + b'<plist version="1&#46;0"><true/></plist>'))
    out.append(("attribute bad entity", HEADER + b'<plist version="&bad;"><true/></plist>'))
    out.append(("attribute with ]]>", HEADER + b'<plist version="]]>"><true/></plist>'))
    out.append(("attribute with lt", HEADER + b'<plist version="<"><true/></plist>'))
    out.append(("unquoted attribute", HEADER + b"<plist version=1.0><true/></plist>"))
    out.append(("entity declaration", b'<?xml version="1.0"?>\n<!DOCTYPE plist '
                b'[<!ENTITY x "y">]>\n<plist><string>&x;</string></plist>'))
    out.append(("billion laughs", b'<?xml version="1.0"?>\n<!DOCTYPE plist [<!ENTITY a "aaaa">'
                b'<!ENTITY b "&a;&a;&a;&a;">]>\n<plist><string>&b;</string></plist>'))
    out.append(("doctype with element declaration", b'<?xml version="1.0"?>\n<!DOCTYPE plist '
                b'[<!ELEMENT plist ANY>]>\n<plist><string>x</string></plist>'))
    out.append(("doctype after root", wrap("<true/>") + b"<!DOCTYPE plist>"))
    out.append(("two doctypes", HEADER + HEADER[HEADER.index(b"<!DOCTYPE"):] + wrap("<true/>", b"")))
    out.append(("mismatched tags", wrap("<array><true/></dict>")))
    # Numbers.
    for text in ["0x1F", "0X1f", "-0x1", " 12 ", "+12", "1_000", "", "\u0661\u0662", "12 34",
                 "0x", "9223372036854775807", "-9223372036854775808", "9223372036854775808",
                 "-9223372036854775809", "99999999999999999999", "18446744073709551615", "1.5"]:
        add("integer " + text, "<integer>%s</integer>" % text)
    for text in ["1.5", ".5", "5.", "1e5", "1E+05", "inf", "-Infinity", "NaN", "+nan", "-nan",
                 "nan(1)", "1.5.2", "0x1p3", "1_0.5", " 2.5 ", "1e400", "-1e400", "1e-400",
                 "4.9406564584124654e-324", "-0", "", "infinit"]:
        add("real " + text, "<real>%s</real>" % text)
    # Structure.
    for body in ["<string>   </string>", "<string/>", "<string>\n</string>",
                 "<dict><key></key><string>v</string></dict>", "<dict><key/><true/></dict>",
                 "<dict><key></key></dict>", "<dict><key>a</key></dict>",
                 "<dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict>",
                 "<dict><string>a</string><string>b</string></dict>",
                 "<dict><key>a</key><key>b</key><true/></dict>", "<true/>", "<true></true>",
                 "<true>x</true>", "<true><!--c--></true>", "<array><bogus/></array>",
                 "<string><b>x</b></string>", "<string>a</string><string>b</string>", "",
                 "<dict>junk<key>a</key><true/></dict>", "<array>x<true/></array>",
                 "<data>AQ!D</data>", "<data>AQ=D</data>", "<data>A</data>",
                 "<data>AQ==AQ==</data>", "<data>====</data>", "<data>AQID\n  BAUG</data>",
                 "<data>AQ</data>", "<data>AR==</data>", "<data></data>"]:
        add("structure " + body, body)
    good = wrap("<dict><key>a</key><array><integer>1</integer><string>x</string></array></dict>")
    for cut in [0, 10, 60, len(HEADER) + 5, len(good) // 2, len(good) - 12, len(good) - 3]:
        out.append(("truncated at %d" % cut, good[:cut]))
    for doc in [b"", b"   ", b"not xml at all", b"<html><body/></html>", b"<string>x</string>",
                b"<dict/>", b'<plist version="1.0"></plist>', b"bplist00\x01\x02", b"<plist>"]:
        out.append(("document " + repr(doc), doc))
    for declaration in [b'<?xml version="1.1"?>', b'<?xml version="2.0"?>', b"<?xml?>",
                        b'<?xml encoding="UTF-8"?>', b'<?xml version="1.0" standalone="maybe"?>',
                        b'<?xml version="1.0" standalone="yes" encoding="UTF-8"?>',
                        b'<?xml version="1.0" encoding="UTF 8"?>', b'<?xml version="1.0" x="y"?>']:
        add("declaration " + declaration.decode(), "<true/>", declaration + b"\n")
    for doctype in [b"<!DOCTYPE plist>", b'<!DOCTYPE plist SYSTEM "x.dtd">',
                    b'<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN">',
                    b'<!DOCTYPE plist PUBLIC "a{b" "x.dtd">', b'<!DOCTYPE plist PUBLIK "a" "b">',
                    b"<!DOCTYPE>", b'<!DOCTYPE plist "x.dtd">', b"<!DOCTYPEplist>"]:
        add("doctype " + doctype.decode(), "<true/>", doctype + b"\n")
    add("no declaration", "<true/>", b"")
    add("standalone", "<true/>", b'<?xml version="1.0" standalone="yes"?>\n')
    for depth in [512, 513, 5000]:
        add("depth %d" % depth, "<array>" * depth + "</array>" * depth)
    return out
