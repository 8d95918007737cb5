"""Makes the program's one-file web page from the page's template.

    web-page.py TEMPLATE GLUE WASM FONT OUTPUT [--symbols MAP --show SOURCE...]

In the template (less its comment lines and indentation), @GLUE@ becomes the
JavaScript that loads the program, @PROGRAM@ the WebAssembly (gzip, then
base64: the page unpacks it itself) and @FONT@ the font (base64). @SOURCE@ becomes what the page knows of the program's source
(JSON): the SOURCE files as they were compiled, and, for each of the
program's own functions that tells the page when it runs, its WebAssembly
table index (from the module's element section and the linker's symbol map
MAP), its name, where it is defined and which objects it declares. Without
--show the page has no source to show. The same inputs always give the same
bytes.
"""
import base64
import gzip
import json
import os
import re
import sys


def leb128(data, at):
    """An unsigned LEB128 number at `at`: (value, the offset after it)."""
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def table_entries(wasm):
    """The module's table, as {table index: function index}, from its active
    element segments, in any of the encodings the format has (function
    indices or ref.func expressions, table 0 implied or named)."""
    if wasm[:4] != b"\0asm":
        sys.exit("not a WebAssembly module")
    entries, at = {}, 8
    while at < len(wasm):
        section, at = wasm[at], at + 1
        size, at = leb128(wasm, at)
        end = at + size
        if section == 9:
            count, at = leb128(wasm, at)
            for _ in range(count):
                flags, at = leb128(wasm, at)
                active, expressions = flags & 1 == 0, flags & 4 != 0
                table = 0
                if active and flags & 2:
                    table, at = leb128(wasm, at)
                offset = None
                if active:
                    if wasm[at] != 0x41:  # i32.const
                        sys.exit("an element segment's offset is not a constant")
                    offset, at = leb128(wasm, at + 1)  # small and positive: read unsigned
                    if wasm[at] != 0x0B:
                        sys.exit("an element segment's offset is not a constant")
                    at += 1
                if flags & 3:
                    at += 1  # the element kind or reference type
                length, at = leb128(wasm, at)
                for i in range(length):
                    function = None
                    if expressions:  # ref.func F end, or ref.null T end
                        if wasm[at] == 0xD2:
                            function, at = leb128(wasm, at + 1)
                        else:
                            at += 2
                        at += 1
                    else:
                        function, at = leb128(wasm, at)
                    if active and table == 0 and function is not None:
                        entries[offset + i] = function
        at = end
    return entries


def symbol_names(path):
    """The symbol map's {function index: name}, its escapes (\\20, \\28...)
    undone. A main that takes no arguments is linked as __original_main,
    called by a main(argc, argv) of the compiler's own making; newer
    compilers trace that one too. Only the program's is main here."""
    names = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            index, _, name = line.rstrip("\n").partition(":")
            name = re.sub(r"\\([0-9a-f]{2})", lambda m: chr(int(m.group(1), 16)), name)
            names[int(index)] = name
    if "__original_main" in names.values():
        names = {index: {"__original_main": "main", "main": ""}.get(name, name)
                 for index, name in names.items()}
    return names


def code_only(text):
    """`text` with its comments and string and character literals blanked
    out, offsets and lines kept, so that no brace or name in them counts."""
    literal = re.compile(r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\\n])*\"|'(?:\\.|[^'\\\n])*'", re.S)
    return literal.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def closing_brace(text, opening):
    """The offset of the brace that closes the one at `opening`."""
    depth = 0
    for at in range(opening, len(text)):
        if text[at] == "{":
            depth += 1
        elif text[at] == "}":
            depth -= 1
            if depth == 0:
                return at
    sys.exit("unbalanced braces")


def line_of(text, at):
    return text.count("\n", 0, at) + 1


def place(name, files, classes):
    """Where the function `name` is defined in the shown files, and the
    objects of the classes in `classes` it declares, each with the line of
    the brace that ends its scope: None if none of the files defines it."""
    qualified = name.replace("(anonymous namespace)::", "").split("(")[0]
    if not qualified:
        return None
    definition = re.compile(r"(?<![\w:~])" + re.escape(qualified) + r"\s*\([^;{}]*\)\s*\{")
    for index, (_, text) in enumerate(files):
        found = definition.search(text)
        if not found:
            continue
        body_start = found.end() - 1
        body_end = closing_brace(text, body_start)
        objects = []
        declaration = re.compile(r"(?m)^[ \t]*(" + "|".join(map(re.escape, classes)) +
                                 r")[ \t]+(\w+)[ \t]*(?:;|\{\s*\}|\(\s*\))") if classes else None
        for match in declaration.finditer(text, body_start, body_end) if declaration else ():
            # The scope: the innermost brace still open before the declaration.
            open_braces = []
            for at in range(body_start, match.start()):
                if text[at] == "{":
                    open_braces.append(at)
                elif text[at] == "}":
                    open_braces.pop()
            objects.append({"class": match.group(1), "name": match.group(2),
                            "line": line_of(text, match.start(1)),
                            "scopeEnd": line_of(text, closing_brace(text, open_braces[-1]))})
        return {"file": index, "line": line_of(text, found.start()),
                "end": line_of(text, body_end), "objects": objects}
    return None


def program_source(wasm, symbols, shown):
    """What the page knows of the program's source, as JSON."""
    files = []
    for path in shown:
        with open(path, encoding="utf-8") as f:
            files.append((os.path.basename(path), f.read()))
    code = [(name, code_only(text)) for name, text in files]
    names = symbol_names(symbols)
    entries = {table: names.get(function, "") for table, function in table_entries(wasm).items()}
    # The classes whose constructors are the program's: their objects are
    # what the page follows.
    classes = sorted({n.split("::")[-2] for n in entries.values()
                      if re.fullmatch(r"(?:\w+::)*(\w+)::\1\(\)", n)})
    functions, places = {}, {}
    for table, name in sorted(entries.items()):
        found = place(name, code, classes)
        if found:
            functions[str(table)] = name
            places[name] = found
    if not places:
        sys.exit("none of the program's functions is defined in the shown sources")
    return json.dumps({"files": [{"name": n, "text": t} for n, t in files],
                       "functions": functions, "places": places},
                      ensure_ascii=False, sort_keys=True, separators=(",", ":"))


def compact(template):
    """The template without what only its reader needs: lines that hold
    nothing but a comment (// in its scripts, /* */ in its style), and each
    line's indentation. The template holds no <pre> and no string that spans
    lines, so nothing it shows changes."""
    kept = []
    for line in template.split("\n"):
        line = line.strip()
        if re.fullmatch(r"//.*|/\*.*\*/", line):
            continue
        kept.append(line)
    return "\n".join(kept)


def main(template, glue, wasm, font, output, *options):
    shown, symbols = [], None
    options = list(options)
    while options:
        option = options.pop(0)
        if option == "--symbols" and options:
            symbols = options.pop(0)
        elif option == "--show":
            shown, options = options, []
        else:
            sys.exit(__doc__)
    with open(template, encoding="utf-8") as f:
        page = compact(f.read())
    with open(glue, encoding="utf-8") as f:
        script = f.read()
    with open(wasm, "rb") as f:
        module = f.read()
    program = gzip.compress(module, compresslevel=9, mtime=0)
    with open(font, "rb") as f:
        font_data = f.read()
    source = program_source(module, symbols, shown) if shown and symbols else "null"
    # Inside <script>, only "</script" could end the script early. In the
    # JSON, "<\/" is the same string.
    if "</script" in script.lower():
        sys.exit(f"{glue} holds '</script', which would end its <script> element")
    source = source.replace("</", "<\\/")
    for name, value in (("@GLUE@", script.strip()),
                        ("@PROGRAM@", base64.b64encode(program).decode("ascii")),
                        ("@FONT@", base64.b64encode(font_data).decode("ascii")),
                        ("@SOURCE@", source)):
        if page.count(name) != 1:
            sys.exit(f"{template} must hold {name} once")
        page = page.replace(name, value)
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)


if __name__ == "__main__":
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
