"""A strict reading of the program's profile file, and numbers in its texts
read the way the program reads them."""

from dervix_testkit import Failure


class ProfileError(Failure):
    pass


class Profile:
    """A strict reading of a profile file: every line must be blank, a
    comment, a section header or a key=value line. Lookups follow the
    program's rules (names without regard to case, first section counts,
    blanks and one pair of quotes around a value removed)."""

    def __init__(self, text):
        self.text = text
        self.sections = []  # (name, [(key, value)])
        self.problems = []
        body = text[3:] if text.startswith("\ufeff") or text.startswith("\xef\xbb\xbf") else text
        if body and not body.endswith("\n"):
            self.problems.append("last line has no line end (torn write?)")
        for number, raw in enumerate(body.split("\n"), 1):
            line = raw[:-1] if raw.endswith("\r") else raw
            stripped = line.strip(" \t")
            if not stripped or stripped.startswith(";"):
                continue
            if stripped.startswith("[") and "]" in stripped:
                self.sections.append((stripped[1:stripped.index("]")].strip(" \t"), []))
                continue
            if "=" not in line or not line.split("=", 1)[0].strip(" \t"):
                self.problems.append("line %d is neither section, key nor comment: %r" % (number, line))
                continue
            if not self.sections:
                self.problems.append("line %d lies outside any section: %r" % (number, line))
                continue
            key, value = line.split("=", 1)
            value = value.strip(" \t")
            if len(value) >= 2 and value[0] in "\"'" and value[-1] == value[0]:
                value = value[1:-1]
            self.sections[-1][1].append((key.strip(" \t"), value))
        for name, entries in self.sections:
            seen = set()
            for key, _ in entries:
                if key.lower() in seen:
                    self.problems.append("key %s appears twice in [%s]" % (key, name))
                seen.add(key.lower())

    def check(self):
        if self.problems:
            raise ProfileError("profile does not parse: " + "; ".join(self.problems))
        return self

    def get(self, section, key):
        for name, entries in self.sections:
            if name.lower() == section.lower():
                for k, v in entries:
                    if k.lower() == key.lower():
                        return v
                return None
        return None


DIGITS = "0123456789"


def numeric_value(text):
    """The number at the start of a text, as the program reads it (0 when none)."""
    t = "".join(c for c in (text or "") if c not in " \t\n")
    end, seen_digit, seen_point = 0, False, False
    if t[:1] in "+-":
        end = 1
    while end < len(t) and (t[end] in DIGITS or (t[end] == "." and not seen_point)):
        seen_point |= t[end] == "."
        seen_digit |= t[end] in DIGITS
        end += 1
    if not seen_digit:
        return 0.0
    mantissa = end
    if end < len(t) and t[end] in "eE":
        e = end + 1
        if e < len(t) and t[e] in "+-":
            e += 1
        if e < len(t) and t[e] in DIGITS:
            while e < len(t) and t[e] in DIGITS:
                e += 1
            mantissa = e
    return float(t[:mantissa])
