"""Makes the program's one-file web page from the page's template.

    web-page.py TEMPLATE GLUE WASM FONT OUTPUT

The template's @GLUE@ becomes the JavaScript that loads the program, @PROGRAM@
the WebAssembly (gzip, then base64: the page unpacks it itself) and @FONT@ the
font (base64). The same inputs always give the same bytes.
"""
import base64
import gzip
import sys


def main(template, glue, wasm, font, output):
    with open(template, encoding="utf-8") as f:
        page = f.read()
    with open(glue, encoding="utf-8") as f:
        script = f.read()
    with open(wasm, "rb") as f:
        program = gzip.compress(f.read(), compresslevel=9, mtime=0)
    with open(font, "rb") as f:
        font_data = f.read()
    # Inside <script>, only "</script" could end the script early.
    if "</script" in script.lower():
        sys.exit(f"{glue} holds '</script', which would end its <script> element")
    for name, value in (("@GLUE@", script.strip()),
                        ("@PROGRAM@", base64.b64encode(program).decode("ascii")),
                        ("@FONT@", base64.b64encode(font_data).decode("ascii"))):
        if page.count(name) != 1:
            sys.exit(f"{template} must hold {name} once")
        page = page.replace(name, value)
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
