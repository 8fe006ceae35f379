#!/usr/bin/env bash
# Checks that what the catalogue's addresses serve today is still what the host will accept. Microsoft replaces
# files in place (a re-signed package keeps its address), and every host built with the old size and digest then
# fails its downloads with "安装包校验失败。" until it is rebuilt. Run it before each release, on a machine with
# internet; it reads the records from prereq/catalog.cpp itself, so there is nothing to keep in step.
#
# usage: scripts/check-catalogue.sh [--full] [--list] [--catalogue FILE] [--timeout SECONDS]
#   (default)        asks every address, HTTPS and plain HTTP, for its size and date (HEAD, following redirects)
#   --full           downloads each address and checks its size and SHA-256 (about 230 MB from Microsoft)
#   --list           prints the records read from the catalogue and asks nothing
#   --catalogue FILE another catalogue source of the same shape (default prereq/catalog.cpp)
#   --timeout S      seconds to wait for a connection or data (default 60)
# One line per address (ok, CHANGED: another size or digest, FAILED: an HTTP error or no answer); exit code 0 when
# every address matches, 1 when any does not (the last line names those entries), 2 when the catalogue cannot be
# read. The proxy variables (https_proxy, http_proxy, no_proxy) apply.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
exec /usr/bin/python3 - "$here/prereq/catalog.cpp" "$@" <<'PY'
import argparse
import hashlib
import re
import socket
import sys
import urllib.error
import urllib.request

TOKEN = re.compile(r'''\s+|//[^\n]*|/\*.*?\*/|(L?"(?:\\.|[^"\\\n])*")|([A-Za-z_]\w*)|(0[xX][0-9a-fA-F]+|\d+)\w*|(.)''',
                   re.S)


def tokens(text):
    out = []
    for m in TOKEN.finditer(text):
        string, name, number, other = m.groups()
        if string is not None:
            body = string[string.index('"') + 1:-1]
            out.append(("str", re.sub(r'\\(.)', r'\1', body)))
        elif name is not None:
            out.append(("name", name))
        elif number is not None:
            out.append(("num", int(number, 0)))
        elif other is not None:
            out.append(("op", other))
    return out


def read_catalogue(path):
    """The records as (name, fileName, [addresses], size, digest hex), from the C++ source itself: string macros and
    adjacent literals concatenated, named strings and digest arrays resolved."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("\\\n", " ")
    macros, code = {}, []
    for line in text.split("\n"):
        m = re.match(r"\s*#\s*define\s+(\w+)\s+(.*)", line)
        if m:
            macros[m.group(1)] = tokens(m.group(2))
        elif not line.lstrip().startswith("#"):
            code.append(line)
    toks = tokens("\n".join(code))
    values, records = {}, []

    def value(expr):
        parts = []
        for kind, v in expr:
            if kind == "name" and v in macros:
                parts.append(value(macros[v]))
            elif kind == "name" and v in values:
                parts.append(values[v])
            elif kind in ("str", "num") or (kind == "name" and v in ("nullptr", "NULL")):
                parts.append(None if kind == "name" else v)
            else:
                raise ValueError("cannot read %r" % (v,))
        if len(parts) == 1:
            return parts[0]
        if all(isinstance(p, str) for p in parts):
            return "".join(parts)
        raise ValueError("cannot read %r" % (expr,))

    i = 0
    while i < len(toks):
        if toks[i] != ("op", "="):
            i += 1
            continue
        j = i - 1
        if toks[j] == ("op", "]"):
            while toks[j] != ("op", "["):
                j -= 1
            j -= 1
        name, declared = toks[j][1], [v for _, v in toks[max(0, j - 4):j]]
        end, depth, fields, current = i + 1, 0, [], []
        while True:
            kind, v = toks[end]
            if (kind, v) == ("op", "{"):
                depth += 1
                if depth == 1:
                    end += 1
                    continue
            elif (kind, v) == ("op", "}"):
                depth -= 1
            if depth == 0 and (kind, v) in (("op", ";"), ("op", "}")):
                break
            if depth == 1 and (kind, v) == ("op", ","):
                fields.append(current)
                current = []
            else:
                current.append(toks[end])
            end += 1
        if current:
            fields.append(current)
        if "PrerequisiteItem" in declared:
            f = [value(x) for x in fields]
            if len(f) != 8:
                raise ValueError("%s: %d fields, not 8" % (name, len(f)))
            display, file_name, primary, fallback, _page, size, digest, _kb = f
            records.append((name, file_name, [u for u in (primary, fallback) if u], size, digest.hex()))
        elif toks[i + 1] == ("op", "{"):
            values[name] = bytes(value(x) for x in fields)
        else:
            values[name] = value(fields[0])
        i = end + 1
    if not records:
        raise ValueError("no PrerequisiteItem records")
    return records


def ask(url, full, timeout):
    """(size, date, digest or None, final address) of what the address serves, or raises."""
    request = urllib.request.Request(url, method="GET" if full else "HEAD",
                                     headers={"User-Agent": "check-catalogue"})
    with urllib.request.urlopen(request, timeout=timeout) as response:
        date = response.headers.get("Last-Modified") or "no date"
        if not full:
            length = response.headers.get("Content-Length")
            return (int(length) if length is not None else None), date, None, response.geturl()
        digest, size = hashlib.sha256(), 0
        while True:
            piece = response.read(1 << 20)
            if not piece:
                break
            digest.update(piece)
            size += len(piece)
        return size, date, digest.hexdigest(), response.geturl()


def main():
    parser = argparse.ArgumentParser(prog="scripts/check-catalogue.sh")
    parser.add_argument("default_catalogue", help=argparse.SUPPRESS)
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--catalogue")
    parser.add_argument("--timeout", type=float, default=60)
    args = parser.parse_args()
    source = args.catalogue or args.default_catalogue
    try:
        records = read_catalogue(source)
    except (OSError, ValueError, IndexError) as e:
        print("cannot read the catalogue %s: %s" % (source, e), file=sys.stderr)
        return 2
    if args.list:
        for name, file_name, urls, size, digest in records:
            for url in urls:
                print("%-24s %-34s %10d %s %s" % (name, file_name, size, digest, url))
        return 0
    stale, checked = [], 0
    for name, file_name, urls, size, digest in records:
        for url in urls:
            checked += 1
            label = "FAILED "  # the address no longer serves the package, or could not be asked
            try:
                got, date, got_digest, final = ask(url, args.full, args.timeout)
            except urllib.error.HTTPError as e:
                problem = "HTTP %d %s" % (e.code, e.reason)
            except (urllib.error.URLError, OSError, socket.timeout) as e:
                problem = "unreachable: %s" % getattr(e, "reason", e)
            else:
                label = "CHANGED"  # it serves something else
                via = "" if final == url else " (via %s)" % final
                if got is None:
                    problem = "no size given%s" % via
                elif got != size:
                    problem = "size %d, the catalogue says %d; %s%s" % (got, size, date, via)
                elif got_digest is not None and got_digest != digest:
                    problem = "SHA-256 %s, the catalogue says %s; %s%s" % (got_digest, digest, date, via)
                else:
                    print("ok       %s %s: %d bytes%s, %s%s" % (name, url, got, ", SHA-256 matches" if args.full
                                                                else "", date, via))
                    continue
            print("%s  %s %s: %s" % (label, name, url, problem))
            if name not in stale:
                stale.append(name)
    if stale:
        print("%d of %d catalogue entries do not match or could not be checked: %s"
              % (len(stale), len(records), ", ".join(stale)))
        return 1
    print("all %d addresses of %d entries match the catalogue (%s)" % (checked, len(records),
                                                                       "size and SHA-256" if args.full else "size"))
    return 0


sys.exit(main())
PY
