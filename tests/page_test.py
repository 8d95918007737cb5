"""The program's web page, in Chromium, Firefox or WebKit.

    page_test.py --page PATH --engine ENGINE [--list | --screenshot PNG | ROW...]

Each row (a test of the Page class) starts its own browser with a private
profile inside the build tree and quits it at the end, so nothing outlives a
row. --list names the rows, one a line; a row the engine cannot be asked, or
that cannot run here, is followed by a tab and the reason. --screenshot takes
the page's picture after a key ended a run.
"""
import argparse
import codecs
import functools
import http.server
import pathlib
import sys
import threading
import time
import unittest

from browsers import CANNOT, ENGINES, emulation, pointer, private_browser, until

PAGE = None
ENGINE = None

CONSTRUCTION = bytes.fromhex("50 65 72 73 6f 6e b5 c4 c4 ac c8 cf b9 b9 d4 ec ba af ca fd b5 f7 d3 c3")
DESTRUCTION = bytes.fromhex("50 65 72 73 6f 6e b5 c4 ce f6 b9 b9 ba af ca fd b5 f7 d3 c3")
PROMPT = b"Press any key to continue . . . "
BEFORE_KEY = CONSTRUCTION + b"\n" + DESTRUCTION + b"\n" + PROMPT
WHOLE_RUN = BEFORE_KEY + b"\n"
EXIT_LINE = "[exited with status 0]"
# Long enough for a cold browser on a loaded machine; rows wait for what they
# look for, never for a fixed time.
PATIENCE = 20

# WebDriver's key codes.
ENTER, SHIFT = "\ue007", "\ue008"

# Engines whose rows cannot pass under a CPU emulator, and why (WebKitGTK's
# pass there, slowly).
FAILS_EMULATED = {
    "chromium": "Chromium's renderer dies on the page",
    "firefox": "Firefox leaves a WebDriver BiDi command unanswered for over a minute",
}


def lines(data, code_page):
    """The console's lines for `data` as a console set to `code_page` shows them."""
    codec = {"936": "gbk", "65001": "utf-8", "437": "cp437", "1252": "cp1252"}[code_page]
    # A newline at the very end opens a line that holds nothing yet.
    return [codecs.decode(line, codec, "replace") for line in data.removesuffix(b"\n").split(b"\n")]


def needs(*abilities):
    """Marks a row that asks the browser for what not every driver answers."""
    def mark(row):
        row.needs = abilities
        return row
    return mark


def keys(*typed, held=()):
    """Key actions: each of `typed` pressed and released in turn."""
    actions = [{"type": "keyDown", "value": key} for key in held]
    for key in typed:
        actions += [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]
    actions += [{"type": "keyUp", "value": key} for key in held]
    return [{"type": "key", "id": "keyboard", "actions": actions}]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


class Page(unittest.TestCase):
    javascript = True

    def setUp(self):
        reason = reason_not_run(self.id().split(".", 1)[1])
        if reason:
            self.skipTest(reason)
        self.folder = pathlib.Path(PAGE).resolve().parent
        self.browser = self.enterContext(private_browser(ENGINE, self.folder, self.javascript))
        self.url = pathlib.Path(PAGE).resolve().as_uri()

    # -- what the page shows -------------------------------------------------

    def console_lines(self):
        return self.browser.script(
            "var c = document.getElementById('console');"
            "return c ? Array.from(c.children, function (d) { return d.textContent; }) : null;")

    def shown_bytes(self):
        return self.browser.script("return document.getElementById('bytes').textContent;")

    def active_id(self):
        return self.browser.script("return document.activeElement && document.activeElement.id;")

    def wait_for(self, what, condition):
        found = until(condition, PATIENCE)
        if not found:
            self.fail(f"{what}; the console shows {self.console_lines()!r}")
        return found

    def wait_for_lines(self, expected):
        self.wait_for(f"never showed {expected!r}", lambda: self.console_lines() == expected)

    def open_at_prompt(self, url=None):
        self.browser.open(url or self.url)
        self.wait_for_lines(lines(BEFORE_KEY, "936"))

    def press(self, *typed):
        self.browser.perform(keys(*typed))

    def centre(self, selector):
        return self.browser.script(
            "var r = document.querySelector(arguments[0]).getBoundingClientRect();"
            "return [r.left + r.width / 2, r.top + r.height / 2];", selector)

    def click(self, selector):
        self.browser.perform([pointer("mouse", *self.centre(selector))])

    def ended(self):
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])

    # -- rows ----------------------------------------------------------------

    def test_lines_in_order_with_focus_on_the_console(self):
        self.open_at_prompt()
        self.assertEqual(self.active_id(), "console")
        self.assertTrue(self.browser.script(
            "return document.fonts.check('1em \"Person CJK\"', arguments[0]);",
            lines(CONSTRUCTION, "936")[0]))

    @needs("console")
    def test_no_errors_in_the_browsers_console(self):
        self.open_at_prompt()
        self.press(ENTER)
        self.ended()
        self.assertEqual(self.browser.console_errors(), [])

    def test_still_waiting_a_second_later(self):
        self.open_at_prompt()
        # The one fixed wait: nothing is expected, so there is nothing to wait for.
        time.sleep(1)
        self.assertEqual(self.console_lines(), lines(BEFORE_KEY, "936"))

    def test_shift_alone_is_no_key(self):
        self.open_at_prompt()
        self.browser.perform(keys(held=[SHIFT]))
        time.sleep(0.3)
        self.assertEqual(self.console_lines(), lines(BEFORE_KEY, "936"))
        self.press("x")
        self.ended()

    def test_a_key_ends_the_run_with_status_zero(self):
        self.open_at_prompt()
        self.press(ENTER)
        self.ended()

    @needs("touch")
    def test_a_tap_on_the_console_is_a_key(self):
        self.open_at_prompt()
        self.browser.touch_tap(*self.centre("#console"))
        self.ended()

    def test_bytes_in_hexadecimal(self):
        self.open_at_prompt()
        self.click("details summary")
        self.wait_for("the bytes never showed", lambda: self.browser.script(
            "return document.getElementById('bytes').getClientRects().length > 0;"))
        self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))
        self.click("#console")
        self.press("k")
        self.ended()
        self.assertEqual(self.shown_bytes(), WHOLE_RUN.hex(" "))

    def test_code_page_list_decodes_the_same_bytes_again(self):
        self.open_at_prompt()
        # Chosen with the keyboard, as its user would: down the list, then
        # back to its top.
        self.browser.script("document.getElementById('code-page').focus();")
        for key, code_page in (("\ue015", "65001"), ("\ue015", "437"), ("\ue015", "1252"),
                               ("\ue011", "936")):
            with self.subTest(code_page=code_page):
                self.press(key)
                self.wait_for_lines(lines(BEFORE_KEY, code_page))
                self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))

    def test_run_again_twice(self):
        self.open_at_prompt()
        self.press("a")
        self.ended()
        for _ in range(2):
            self.click("#run-again")
            self.wait_for_lines(lines(BEFORE_KEY, "936"))
            self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))
        self.assertEqual(self.active_id(), "console")
        self.press(" ")
        self.ended()

    @needs("loads")
    def test_loads_only_file_and_data(self):
        self.open_at_prompt()
        self.press("z")
        self.ended()
        loads = self.browser.loads(self.url)
        # The page's own font is a load from data:, so the list is never empty.
        self.assertIn("data:font/woff2", " ".join(loads))
        self.assertEqual([url for url in loads if not url.startswith((self.url, "data:"))], [])

    @needs("loads")
    def test_from_a_local_web_server(self):
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietHandler, directory=str(self.folder)))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = f"http://127.0.0.1:{server.server_address[1]}/{pathlib.Path(PAGE).name}"
        self.open_at_prompt(url)
        self.press("q")
        self.ended()
        self.assertEqual([load for load in self.browser.loads(url) if not load.startswith("data:")],
                         [url])

    @needs("viewport")
    def test_phone_width_and_double_zoom(self):
        # A phone 360 pixels wide, then the same at 200%: 180 CSS pixels.
        for width, scale in ((360, 1), (180, 2)):
            with self.subTest(width=width):
                self.browser.set_viewport(width, 700, scale)
                self.open_at_prompt()
                overflow = self.browser.script(
                    "var page = document.documentElement;"
                    "return page.scrollWidth - page.clientWidth;")
                self.assertLessEqual(overflow, 0)
                self.press("m")
                self.ended()


class PageWithoutWebAssembly(Page):
    def test_says_why_it_cannot_run(self):
        # As a browser without it, or with it switched off, shows the page:
        # the same page with WebAssembly taken away before its first script.
        page = pathlib.Path(PAGE).read_text(encoding="utf-8")
        bare = self.folder / f"without-webassembly-{ENGINE}.html"
        bare.write_text(page.replace("<head>", "<head><script>delete window.WebAssembly;</script>", 1),
                        encoding="utf-8")
        self.addCleanup(bare.unlink)
        self.browser.open(bare.as_uri())
        problem = self.wait_for("no message", lambda: self.browser.script(
            "var p = document.querySelector('.problem[role=alert]'); return p && p.textContent;"))
        self.assertIn("WebAssembly", problem)


class PageWithoutJavaScript(Page):
    javascript = False

    def test_says_why_it_cannot_run(self):
        self.browser.open(self.url)
        # The driver's own scripts still run; the page's do not.
        message, shown = self.browser.script(
            "return [document.querySelector('noscript').textContent,"
            "        document.getElementById('console').getClientRects().length > 0];")
        self.assertIn("JavaScript, which is switched off", " ".join(message.split()))
        self.assertFalse(shown)


def rows():
    loader = unittest.TestLoader()
    for case in (Page, PageWithoutWebAssembly, PageWithoutJavaScript):
        for name in loader.getTestCaseNames(case):
            if case is Page or name in vars(case):
                yield f"{case.__name__}.{name}"


def reason_not_run(row):
    """Why `row` (Case.test_name) cannot run in this engine here, or None."""
    emulated = emulation()
    if emulated and ENGINE in FAILS_EMULATED:
        return f"{FAILS_EMULATED[ENGINE]} under {emulated}"
    case, name = row.split(".")
    for ability in getattr(getattr(globals()[case], name), "needs", ()):
        if ability in CANNOT.get(ENGINE, {}):
            return CANNOT[ENGINE][ability]
    return None


def screenshot(path, window=(900, 640)):
    with private_browser(ENGINE, pathlib.Path(PAGE).resolve().parent, window=window) as browser:
        browser.open(pathlib.Path(PAGE).resolve().as_uri())
        if not until(lambda: browser.script(
                "return document.getElementById('console').children.length === 3;"), PATIENCE):
            raise SystemExit("the page never showed its lines")
        browser.perform(keys("x"))
        if not until(lambda: browser.script(
                "return document.getElementById('console').textContent.indexOf('[exited') >= 0;"),
                PATIENCE):
            raise SystemExit("a key never ended the run")
        browser.script("document.querySelector('details').open = true;")
        # Some engines (WebKitGTK) take the picture of the last frame drawn.
        browser.script("return new Promise(function (drawn) {"
                       "  requestAnimationFrame(function () { requestAnimationFrame(drawn); }); });")
        browser.screenshot(path)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--engine", choices=ENGINES, default="chromium")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--screenshot")
    options, remaining = parser.parse_known_args()
    PAGE, ENGINE = options.page, options.engine
    if options.list:
        for row in rows():
            reason = reason_not_run(row)
            print(row if reason is None else f"{row}\t{reason}")
    elif options.screenshot:
        screenshot(options.screenshot)
    else:
        unittest.main(argv=[sys.argv[0], *remaining], verbosity=2)
