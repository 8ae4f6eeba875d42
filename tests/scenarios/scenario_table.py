"""The scenario table (scenarios.txt beside this file; its head describes the format) for runners
written in Python, and registry texts in the form the rows compare.

The C++ runners read the same table through src/testing/scenario_table.h.
"""
import os
import re

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenarios.txt")
BAND = "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"
# The band's three trees: root, parent path, name.
BAND_TREES = [
    ("HKEY_CLASSES_ROOT", "CLSID", BAND),
    ("HKEY_CURRENT_USER", "Software\\Microsoft\\Internet Explorer\\Extensions", BAND),
    ("HKEY_CURRENT_USER", "Software", "Larkspan"),
]
KEYWORDS = ("scenario", "define", "before", "after", "run", "skip")
TEXT_TYPES = (1, 2, 7)  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ


class Row:
    def __init__(self, name, wine32):
        self.name, self.wine32 = name, wine32
        self.before = ""  # REGEDIT4 text, or empty for an empty registry
        self.runs = []
        self.after = {}   # "" and per registry
        self.skip = {}

    def expected_after(self, registry):
        return self.after.get(registry, self.after.get(""))


def _baskets(layout):
    kind, count = layout.split(" ")
    per = {"old": 2, "current": 3}[kind]
    lines = []
    for i in range(int(count)):
        lines.append('"%d"="Basket %d"' % (per * i, i))
        lines.append('"%d"="C:\\\\Baskets\\\\%d.lkb"' % (per * i + 1, i))
        if per == 3:
            lines.append('"%d"=dword:00000002' % (per * i + 2))
    return lines


def _expand(block, defines):
    lines = []
    for line in block:
        if line.startswith(";baskets "):
            lines += _baskets(line[len(";baskets "):])
        elif line.startswith(";"):
            name, argument = line[1:].split(" ", 1)
            lines += defines[name].replace("$1", argument).split("\n")
        else:
            lines.append(line)
    return "\r\n".join(lines) + "\r\n"


def load(path=TABLE):
    """The rows of the table, before and after as REGEDIT4 text with CRLF line ends."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    rows, defines, block, target = [], {}, None, None

    def end_block():
        if block is None:
            return
        kind, key = target
        if kind == "define":
            defines[key] = "\n".join(block)
        elif kind == "before":
            rows[-1].before = _expand(block, defines)
        else:
            rows[-1].after[key] = _expand(block, defines)

    for line in lines:
        line = line.rstrip("\r")
        if line.startswith("#"):
            continue
        word, _, rest = line.partition(" ")
        if word not in KEYWORDS:
            if block is not None:
                block.append(line)
            continue
        end_block()
        block = None
        if word == "scenario":
            name, _, flag = rest.partition(" ")
            rows.append(Row(name, flag == "wine32"))
        elif word == "run":
            rows[-1].runs.append(re.findall(r"<([^<>]*)>", rest))
        elif word == "skip":
            registry, _, reason = rest.partition(" ")
            rows[-1].skip[registry] = reason
        else:
            block, target = [], (word, rest)
    end_block()
    return rows


class Key:
    def __init__(self, name):
        self.name, self.children, self.values = name, {}, {}

    def child(self, name, create=False):
        found = self.children.get(name.upper())
        if found is None and create:
            found = self.children[name.upper()] = Key(name)
        return found


def _unquote(text, unicode):
    escapes = {"\\": "\\", '"': '"'}
    if unicode:
        escapes.update({"r": "\r", "n": "\n"})
    return re.sub(r'\\(.)', lambda m: escapes[m.group(1)], text)


def parse(data, roots=None):
    """Reads a REGEDIT4 text or reg export's UTF-16 text (bytes) into {root name: Key}."""
    unicode = data.startswith(b"\xff\xfe")
    text = data[2:].decode("utf-16-le") if unicode else data.decode("latin-1")
    if any(ord(c) > 0xFF for c in text):
        raise ValueError("a character above U+00FF")
    lines = text.replace("\r\n", "\n").split("\n")
    header = "Windows Registry Editor Version 5.00" if unicode else "REGEDIT4"
    if lines[0] != header:
        raise ValueError("not a registry text: " + lines[0])
    roots = {} if roots is None else roots
    key, i = None, 1
    while i < len(lines):
        line, i = lines[i], i + 1
        # Hex data goes on over lines that end in a backslash.
        while line.endswith("\\") and not line.startswith("[") and i < len(lines):
            line, i = line[:-1] + lines[i].lstrip(" "), i + 1
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            names = line[1:-1].split("\\")
            key = roots.setdefault(names[0].upper(), Key(names[0]))
            for name in names[1:]:
                key = key.child(name, create=True)
            continue
        m = re.match(r'(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m or key is None:
            raise ValueError("not a value line: " + line)
        name = "" if m.group(1) == "@" else _unquote(m.group(2), unicode)
        value = m.group(3)
        if value.startswith('"'):
            kind, raw = 1, (_unquote(value[1:-1], unicode) + "\0").encode("latin-1")
        elif value.startswith("dword:"):
            kind, raw = 4, int(value[6:], 16).to_bytes(4, "little")
        else:
            h = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", value)
            kind = int(h.group(1), 16) if h.group(1) else 3
            raw = bytes(int(b, 16) for b in h.group(2).split(",")) if h.group(2) else b""
            if unicode and kind in TEXT_TYPES:
                raw = raw.decode("utf-16-le").encode("latin-1")
        key.values[name.upper()] = (name, kind, raw)
    return roots


def find(roots, path):
    """The key at `path` (ROOT\\names...), or None."""
    names = path.split("\\")
    key = roots.get(names[0].upper())
    for name in names[1:]:
        key = key and key.child(name)
    return key


def dump(key, path):
    """The key and every key below it, as REGEDIT4-like lines: values sorted without regard to
    case, each with its type and bytes; subkeys sorted likewise."""
    lines = ["[%s]" % path]
    for upper in sorted(key.values):
        name, kind, raw = key.values[upper]
        lines.append('"%s"=hex(%x):%s' % (name, kind, raw.hex(",")))
    for upper in sorted(key.children):
        child = key.children[upper]
        lines += dump(child, path + "\\" + child.name)
    return lines


def band_trees(texts):
    """The band's three trees in the registry texts (bytes) read one after the other."""
    roots = {}
    for data in texts:
        parse(data, roots)
    lines = []
    for root, parent, name in BAND_TREES:
        key = find(roots, root + "\\" + parent + "\\" + name)
        if key is not None:
            lines += dump(key, root + "\\" + parent + "\\" + key.name)
    return "\n".join(lines)


def band_values(text):
    """(key path from its root's name, value name, type, bytes) of every value in a text's band
    trees."""
    roots = parse(text.encode("latin-1") if isinstance(text, str) else text)
    found = []

    def walk(key, path):
        for name, kind, raw in key.values.values():
            found.append((path, name, kind, raw))
        for child in key.children.values():
            walk(child, path + "\\" + child.name)

    for root, parent, name in BAND_TREES:
        key = find(roots, root + "\\" + parent + "\\" + name)
        if key is not None:
            walk(key, root + "\\" + parent + "\\" + key.name)
    return found
