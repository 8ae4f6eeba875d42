"""Random store texts, 8-bit or UTF-16, for the differential check against Wine's regedit: the
settings key, its basket list and other keys, in forms docs/store.md says the store reads and in
some it refuses. `tags` names the odd forms planted, the ones the store refuses in REFUSED."""
import random
import re

BAND = "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"
SETTINGS = "HKEY_CURRENT_USER\\Software\\Larkspan"
CLASS = "HKEY_CLASSES_ROOT\\CLSID\\" + BAND
BUTTON = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions\\" + BAND
OTHERS = ["HKEY_CURRENT_USER\\Software\\LkOther", "HKEY_CLASSES_ROOT\\LkClass",
          "HKEY_LOCAL_MACHINE\\Software\\LkMachine", "HKEY_USERS\\.DEFAULT\\Software\\LkUsers"]
TREES = [SETTINGS, BUTTON, CLASS] + OTHERS  # every key a text makes is in one of these
OURS = (SETTINGS, CLASS, CLASS + "\\InprocServer32", BUTTON)  # the keys a registration changes
KEYS = OTHERS + [OTHERS[0] + "\\Child", SETTINGS + "\\Sub", SETTINGS + "\\Sub\\Deeper",
                 *OURS[1:], "HKEY_LOCAL_MACHINE\\Software\\Classes\\LkClass"]
DELETIONS = ["[-" + SETTINGS + "\\Sub]", "[-" + SETTINGS + "]", "[-" + CLASS + "]", '"Path"=-']
SKIPPED = DELETIONS + ["[ HKEY_CURRENT_USER\\Software\\LkOther]", "[HKEY_NOWHERE\\Software\\x]",
                       "[HKEY_CURRENT_USER\\Software\\LkOther", "[HKCU\\Software\\Larkspan]", "@",
                       '"v"="open', '"v"=dword:123456789', '"v"=DWORD:1', '"v"=qq', "# hash",
                       "[-" + OTHERS[0] + "]", "[HKEY_CURRENT_USER\\Software\\\\x]", '"early"="v"']
REFUSED = {"header", "nul", "hex-sign", "hex-type", "into-key", "vt-ff", "odd-hex", "odd-file",
           "wide", "stops", "refused-key", "odd-data", "odd-digit", "deletion", "continued-end"}
# A digit that is not ASCII for an ASCII one: full-width in UTF-16, superscript in 8 bits.
ODD = lambda c, wide: chr(ord(c) + 0xFEE0) if wide else {"1": "\xb9", "2": "\xb2"}.get(c, c)


class Text:
    def __init__(self, seed):
        self.r, self.tags = random.Random(seed), set()
        self.wide, self.odd, self.refusing = (self.chance(p) for p in (0.35, 0.3, 0.25))

    def chance(self, p):  # True with probability p
        return self.r.random() < p

    def plant(self, tag, p):
        """Plants a form with chance p: odd and refused ones only in the texts that take them."""
        on = (self.odd if tag.startswith("odd-") else self.refusing) and self.chance(p)
        self.tags |= {tag} if on else set()
        return on

    def blank(self, tag="odd-blank"):  # odd blanks in dword or hex data are refused
        odd = ["\xa0", "\u3000", "\u2003"][:1 + 2 * self.wide]
        return self.r.choice(odd if self.plant(tag, 0.05) else ["", "", " ", "\t", "  "])

    def comment(self):
        return self.r.choice(["; note", ";", "; \xe9t\xe9", "; x", "; ;\\"][:4 + self.refusing] +
                             ["; \u2603 \U0001d11e"] * self.wide)

    def text(self, key, quoted=True):
        """A text's inside: printable, Latin-1, escapes, and now and then a limit's length."""
        band = key in OURS
        pool = ["a", "B", "7", " ", "\xe9", "\xff", "\\\\", '\\"', "\\n", "\\r", "\\d", ";", "="]
        pool += ["\u03a9", "\U0001d11e"] * (self.refusing or not band) if self.wide else ["\x80"]
        size = self.r.choice([0, 1, 3, 8, 20, 31, 32, 40, 259, 260, 300])
        body = "".join(self.r.choice(pool) if self.chance(0.3) else "x" for _ in range(size))
        self.tags |= {"wide"} if band and re.search("[^\0-\xff]", body) else set()
        return self.r.choice(["\\0", body + "\\"]) if quoted and self.plant("stops", 0.02) else body

    def hex_lines(self, head, data, continued):
        """`head` and the bytes, over continued lines; the last continues too if `continued`."""
        items = [self.blank("odd-data") + self.r.choice(["%02x", "%02X", "%x"]) % b for b in data]
        items = ["".join(ODD(c, self.wide) for c in item) if self.plant("odd-digit", 0.05)
                 else item for item in items]
        if items and self.plant("vt-ff", 0.05):
            items[-1] = self.r.choice("\x0b\x0c") + items[-1]
        if items and self.plant("hex-sign", 0.05):
            items[0] = self.r.choice(["+", "0x", "-"]) + items[0].strip()
        lines, line = [], head
        for i, item in enumerate(items):
            line += item + ("," if i + 1 < len(items) or self.chance(0.1) else "")
            if i + 1 < len(items) and self.chance(0.15):
                lines.append(line + self.blank("odd-data") + r"\ ; x"[:self.r.choice([1, 2, 5])])
                lines += self.r.choice([[], [], [""], [self.comment()], ["", " " + self.comment()]])
                line = self.r.choice(["  ", " ", "", "\t"])
        if continued or self.chance(0.01):
            return lines + [line + ("" if line.endswith(",") else ",") + "\\"]
        return lines + [line + self.blank("odd-data") + self.comment() * self.chance(0.1)]

    def value(self, key, name, kind=None, number=None, continued=False):
        """A value's lines: a text, a dword or hex data of type `kind`, `number` its data."""
        r = self.r
        kind = kind or r.choice(["text"] * 5 + ["dword"] * 2 + ["hex"] * 3)
        head = self.blank() + name + self.blank() + "=" + self.blank()
        if kind == "text":
            return [head + '"' + self.text(key) + '"' + self.blank() +
                    self.comment() * self.chance(0.15)]
        if kind == "dword":
            digits = "%08x" % number if number is not None else "%x" % r.randrange(1 << 32)
            digits = r.choice([digits, digits.upper(), "", " ;", ";x"][:2 + 3 * self.chance(0.25)])
            self.tags |= {"empty-dword"} if not digits.strip(" ;x") else set()
            if self.plant("odd-digit", 0.2):
                digits = digits[:-1] + ODD("1", self.wide)
            return [head + "dword:" + self.blank("odd-data") + digits + self.blank("odd-data")]
        if kind == "hex":  # hex(1) holds 8-bit text only in other keys than the settings key
            kind = r.choice([3, 4, 0, 2, 7, 0xB, 0x100] + [1] * (self.wide or key != SETTINGS))
        if number is not None:
            data = number.to_bytes(4, "little")[:r.choice([4, 4, 2, 1])]
        elif kind in (1, 2, 7):
            code = "utf-16-le" if self.wide else "latin-1"
            data = self.text(key, False).encode(code, "surrogatepass") + bytes(1 + self.wide)
            data = data[:-1] if self.wide and key in OURS and self.plant("odd-hex", 0.2) else data
        else:
            data = bytes(r.randrange(256) for _ in range(r.choice([0, 1, 4, 9, 30])))
        form = "hex:" if kind == 3 and self.chance(0.6) else "hex(%x):" % kind
        if self.plant("hex-type", 0.05):
            form = r.choice(["hex( %x):", "hex(0x%x):", "hex(z):"]).replace("%x", "%x" % kind)
        return self.hex_lines(head + form, data, continued)

    def baskets(self):
        """The settings key's values: a basket list, mostly of the old layout, and others."""
        r, count = self.r, self.r.choice([0, 1, 1, 2, 2, 3, 4, 334])
        names = ['"NumberOfBaskets"', '"numberofbaskets"']
        values = [self.value(SETTINGS, r.choice(names), r.choice(["dword", 4, 3]), count)]
        if self.chance(0.3):
            values.append(self.value(SETTINGS, names[0], "dword", r.choice([0, count + 1])))
        per = 3 if self.chance(0.2) else 2
        for k in (k for k in range(min(count, 5) * per) if self.chance(0.92)):
            kind = "dword" if per == 3 and k % 3 == 2 else r.choice(["text"] * 8 + ["hex"])
            values.append(self.value(SETTINGS, '"%d"' % k, kind, 2 if kind == "dword" else None))
        for name in r.sample(['"Path"', '"z"', "@", '"Name"', '"%d"' % (3 * count - 1)], 2):
            values.append(self.value(SETTINGS, name))
        if self.chance(0.2):  # a later line of the same name wins
            values.insert(r.randrange(len(values) + 1), r.choice(values))
        return values

    def build(self):
        r, sections = self.r, []  # (key, [a value's lines])
        if self.chance(0.85):
            values = self.baskets()
            cuts = [0, *sorted(r.sample(range(len(values) + 1), r.choice([1, 1, 2]))), len(values)]
            spellings = [SETTINGS, "HKEY_CURRENT_USER\\SOFTWARE\\larkspan"]  # in any case
            sections += [(r.choice(spellings), values[a:b]) for a, b in zip(cuts, cuts[1:])]
        for key in (r.choice(KEYS) for _ in range(r.randint(0, 4))):
            names = ['"a"', '"B"', "@", '"a b"', '"q\\"x"'][:r.randint(0, 5)]
            sections.append((key, [self.value(key, name) for name in r.sample(names, len(names))]))
        if self.plant("refused-key", 0.15):
            sections.append((SETTINGS + r.choice(["\\" + "k" * 256, "\\d" * 513]), [['"v"="w"']]))
        r.shuffle(sections)
        header = r.choice(["REGEDIT4", "Windows Registry Editor Version 5.00"])
        lines = [" " * self.chance(0.05) + header + " " * self.plant("header", 0.03)]
        lines += [""] * r.choice([0, 1, 2])
        for index, (key, values) in enumerate(sections):
            lines.append(r.choice(["", " ", "\t"]) * self.chance(0.1) + "[" + key + "]" +
                         r.choice(["", "", " ", " " + self.comment()]))
            if self.chance(0.1 if index + 1 == len(sections) else 0.015):
                values = values + [self.value(key, '"z"', 3, continued=True)]
            for value in values:
                lines += value + [r.choice(SKIPPED + [self.comment(), ""])] * self.chance(0.1)
            lines += [""] * r.choice([0, 1, 1, 2])
        if self.chance(0.2):
            lines.insert(r.randint(1, len(lines)), r.choice(SKIPPED))
        for i, line in enumerate(lines):  # a line that continues, as docs/store.md tells them
            if re.search(r"\\[ \t]*(;.*)?$", line) and line.lstrip()[:1] not in ";#[":
                after = [x.lstrip(" \t") for x in lines[i + 1:] if x.strip()[:1] not in ";#"]
                self.tags |= {"odd-data"} if after and after[0][:1] > "\x7f" else set()  # hex data
                if not after or after[0].startswith("["):
                    self.tags |= {"continued-end"} | ({"into-key"} if after else set())
        self.tags |= {"deletion"} if set(DELETIONS) & set(lines) else set()
        ends = r.choice([["\r\n"], ["\r\n"], ["\n"], ["\r"], ["\r\n", "\n", "\r"]])
        text = "".join(line + r.choice(ends) for line in lines)
        text = text.rstrip("\r\n") if self.chance(0.15) else text
        if not self.wide:
            return text.encode("latin-1") + b"\0" * self.plant("nul", 0.02)
        return ("\ufeff" + text).encode("utf-16-le") + b"\n" * self.plant("odd-file", 0.03)
