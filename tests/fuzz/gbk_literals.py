#!/usr/bin/env python3
"""Copies a C++ source file with every non-ASCII character of its narrow string literals written
as GB18030 hexadecimal escapes.

The program's narrow literals are GBK byte strings (g++ -fexec-charset=GB18030). clang accepts only
UTF-8 as the execution character set, so the clang builds (the fuzz targets) compile copies made by
this script. u8/u/U/L literals, identifiers and comments stay as written.

Usage: gbk_literals.py SOURCE OUTPUT
"""
import os
import sys

HEX_DIGITS = set("0123456789abcdefABCDEF")
WIDE_PREFIXES = ("u8", "u", "U", "L")


def identifier_before(text, pos):
    start = pos
    while start > 0 and (text[start - 1].isalnum() or text[start - 1] == "_"):
        start -= 1
    return text[start:pos]


def convert(text, path):
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(text[i:end])
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(text[i:end])
            i = end
        elif c == '"' and identifier_before(text, i).endswith("R"):
            # Raw string: R"delim( ... )delim"
            prefix = identifier_before(text, i)
            open_paren = text.find("(", i)
            delim = text[i + 1:open_paren]
            end = text.find(")" + delim + '"', open_paren)
            if end < 0:
                sys.exit(f"{path}: unterminated raw string")
            end += len(delim) + 2
            body = text[i:end]
            if prefix == "R" and any(ord(ch) > 0x7F for ch in body):
                sys.exit(f"{path}: non-ASCII narrow raw string literal")
            out.append(body)
            i = end
        elif c == '"':
            narrow = identifier_before(text, i) not in WIDE_PREFIXES
            out.append(c)
            i += 1
            after_hex_escape = False
            while i < n and text[i] != '"':
                ch = text[i]
                if ch == "\\":
                    out.append(text[i:i + 2])
                    i += 2
                    after_hex_escape = False
                    continue
                if narrow and ord(ch) > 0x7F:
                    out.append("".join(f"\\x{b:02X}" for b in ch.encode("gb18030")))
                    after_hex_escape = True
                elif after_hex_escape and ch in HEX_DIGITS:
                    # Close and reopen the literal so the digit does not extend the escape.
                    out.append('" "' + ch)
                    after_hex_escape = False
                else:
                    out.append(ch)
                    after_hex_escape = False
                i += 1
            if i < n:
                out.append('"')
                i += 1
        elif c == "'" and identifier_before(text, i) in WIDE_PREFIXES + ("",):
            # Character literal (a quote after a digit is a digit separator).
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            literal = text[i:j + 1]
            if identifier_before(text, i) not in WIDE_PREFIXES and any(ord(ch) > 0x7F for ch in literal):
                sys.exit(f"{path}: non-ASCII narrow character literal")
            out.append(literal)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def main():
    source, output = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    converted = f'#line 1 "{os.path.abspath(source)}"\n' + convert(text, source)
    os.makedirs(os.path.dirname(output), exist_ok=True)
    previous = None
    if os.path.exists(output):
        with open(output, encoding="utf-8") as f:
            previous = f.read()
    if previous != converted:
        with open(output, "w", encoding="utf-8") as f:
            f.write(converted)


if __name__ == "__main__":
    main()
