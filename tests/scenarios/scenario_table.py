"""The scenario table (scenarios.txt beside this file; its head describes the format) for runners
written in Python, and registry texts in the form the rows compare.

The C++ runners read the same table through src/testing/scenario_table.h.
"""
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))
TABLE = os.path.join(HERE, "scenarios.txt")
# Where the band lives, as the program defines it.
BAND_KEYS = os.path.join(HERE, "..", "..", "src", "registration", "band_keys.h")


def _band_keys(path=BAND_KEYS):
    """The string constants of band_keys.h, {name: text}: its macros and its constexpr texts,
    each a run of string literals and macros."""
    with open(path, encoding="latin-1") as f:
        source = f.read()
    literal = r'"(?:[^"\\]|\\.)*"'
    found = {}

    def text(tokens):
        parts = []
        for token in re.findall(literal + r"|\w+", tokens):
            parts.append(re.sub(r"\\(.)", r"\1", token[1:-1]) if token[0] == '"' else found[token])
        return "".join(parts)

    for m in re.finditer(r"#define (\w+) (.*)|constexpr char (k\w+)\[\] =\s*([^;]*);", source):
        if m.group(1):
            found[m.group(1)] = text(m.group(2))
        else:
            found[m.group(3)] = text(m.group(4))
    return found


def _band_trees(keys):
    trees = []
    for root, name in (("HKEY_CLASSES_ROOT", "kClassKeyFormat"),
                       ("HKEY_CURRENT_USER", "kButtonKeyFormat"),
                       ("HKEY_CURRENT_USER", "kSettingsKey")):
        parent, _, last = keys[name].replace("%s", keys["kBandClassId"]).rpartition("\\")
        trees.append((root, parent, last))
    return trees


_KEYS = _band_keys()
BAND = _KEYS["kBandClassId"]
# The band's three trees: root, parent path, name.
BAND_TREES = _band_trees(_KEYS)
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


def _netstring(text):
    data = text.encode("latin-1")
    return b"%d:%s," % (len(data), data)


def dump_rows(rows):
    """The rows as netstrings, for the test that the C++ reader loads every row the same: per
    row its name, wine32 flag ("0"/"1"), before, then the count and pairs of its afters
    (registry, text) and skips (registry, reason), then the count of its runs and each run's
    count and arguments."""
    out = []
    for row in rows:
        fields = [row.name, "1" if row.wine32 else "0", row.before]
        for table in (row.after, row.skip):
            fields.append(str(len(table)))
            for key in sorted(table):
                fields += [key, table[key]]
        fields.append(str(len(row.runs)))
        for run in row.runs:
            fields += [str(len(run))] + run
        out += [_netstring(field) for field in fields]
    return b"".join(out)


if __name__ == "__main__":
    import sys
    sys.stdout.buffer.write(dump_rows(load(sys.argv[1] if len(sys.argv) > 1 else TABLE)))
