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
OTHER_PAGE = None
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
        """The text of each console line, as the program wrote it (the page's
        notes beside a line are not part of it)."""
        return self.browser.script(
            "var c = document.getElementById('console');"
            "return c ? Array.from(c.children, function (d) { return d.firstChild.textContent; }) : null;")

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
        """The centre of what `selector` finds, scrolled into the window."""
        return self.browser.script(
            "var e = document.querySelector(arguments[0]);"
            "e.scrollIntoView({ block: 'center', inline: 'center' });"
            "var r = e.getBoundingClientRect();"
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

    # -- what ran, as the page follows it ---------------------------------------

    def steps(self):
        return self.browser.script(
            "return Array.from(document.querySelectorAll('#steps li'), function (li) {"
            "  return [li.textContent, li.hasAttribute('aria-current')]; });")

    def marked(self, kind):
        """The source lines marked `kind` ("running" or "pointed"), as
        "file:line"."""
        return self.browser.script(
            "return Array.from(document.querySelectorAll('.code .' + arguments[0]), function (line) {"
            "  return line.parentNode.getAttribute('aria-label') + ':' + line.dataset.line; });", kind)

    def notes(self):
        """Each console line's writer and English meaning."""
        return self.browser.script(
            "return Array.from(document.querySelectorAll('#console .line'), function (line) {"
            "  var who = line.querySelector('.who'), meaning = line.querySelector('.meaning');"
            "  return [who && who.textContent, meaning && meaning.textContent]; });")

    def objects(self):
        return self.browser.script(
            "return Array.from(document.querySelectorAll('#objects li'), function (li) {"
            "  return li.textContent; });")

    def stopped(self):
        """Waits until the program stops (Next is offered), then a moment
        more, and returns the steps so far."""
        self.wait_for("the program never stopped", lambda: self.browser.script(
            "return !document.getElementById('next').disabled && document.activeElement.id === 'next';"))
        return [text for text, _ in self.steps()]

    def test_steps_name_what_ran_and_where(self):
        self.open_at_prompt()
        self.press(ENTER)
        self.ended()
        self.assertEqual(self.steps(), [
            ["main starts", False],
            ["Person::Person() runs (called at Person person; in main.cpp line 8) "
             "and wrote line 1: person is alive.", False],
            ["The closing brace in main.cpp line 9 ends person's life: Person::~Person() runs "
             "and wrote line 2: person is gone.", False],
            ["The pause writes its prompt and waits for a key.", False],
            ["main returns 0.", True]])
        self.assertEqual(self.marked("running"), ["main.cpp:12"])
        self.assertEqual(self.objects(), ["Person person: destroyed"])

    def test_each_line_names_the_member_that_wrote_it(self):
        self.open_at_prompt()
        self.assertEqual(self.notes(), [
            ["Person::Person()", "\u201cPerson's default constructor called\u201d"],
            ["Person::~Person()", "\u201cPerson's destructor called\u201d"],
            ["the pause", None]])
        # The mouse over a line marks the member that wrote it; a line can
        # take the keyboard's focus, which marks it too.
        for line, member in ((1, [f"person.cpp:{n}" for n in range(44, 48)]),
                             (2, [f"person.cpp:{n}" for n in range(49, 53)])):
            with self.subTest(line=line):
                x, y = self.centre(f"#console .line:nth-child({line}) .text")
                self.browser.perform([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                                       "actions": [{"type": "pointerMove", "x": round(x), "y": round(y),
                                                    "origin": "viewport"}]}])
                self.wait_for(f"line {line} never marked its member",
                              lambda: self.marked("pointed") == member)
        self.assertEqual(self.browser.script(
            "return Array.from(document.querySelectorAll('#console .line'), function (l) { return l.tabIndex; });"),
            [0, 0, 0])

    def test_step_stops_the_program_at_each_step(self):
        self.open_at_prompt()
        self.browser.script("document.getElementById('step').click();")
        self.assertEqual(self.stopped(), ["main starts"])
        self.assertEqual(self.console_lines(), [])
        expected = [
            # After Next: the lines written so far, the source marked, the object.
            (lines(CONSTRUCTION, "936")[:0], ["main.cpp:8"] + [f"person.cpp:{n}" for n in range(44, 48)],
             "Person person: not yet made"),
            (lines(CONSTRUCTION, "936"), ["main.cpp:8"] + [f"person.cpp:{n}" for n in range(44, 48)],
             "Person person: alive"),
            # Stopped at the closing brace, before the destructor writes.
            (lines(CONSTRUCTION, "936"), ["main.cpp:9"] + [f"person.cpp:{n}" for n in range(49, 53)],
             "Person person: alive"),
            (lines(CONSTRUCTION + b"\n" + DESTRUCTION, "936"),
             ["main.cpp:9"] + [f"person.cpp:{n}" for n in range(49, 53)], "Person person: destroyed"),
        ]
        for shown, running, state in expected:
            with self.subTest(state=state, lines=len(shown)):
                # Next has the focus at each stop; it is clicked, as Firefox's
                # driver types no key that activates a button.
                self.click("#next")
                self.stopped()
                time.sleep(0.3)  # stopped, and stays so
                self.assertEqual(self.console_lines(), shown)
                self.assertEqual(self.marked("running"), running)
                self.assertEqual(self.objects(), [state])
        # Then the pause: the console's own key ends it, and main stops once
        # more as it returns.
        self.click("#next")
        self.wait_for_lines(lines(BEFORE_KEY, "936"))
        self.assertEqual(self.active_id(), "console")
        self.press("x")
        self.assertEqual(self.stopped()[-1], "main returns")
        self.click("#next")
        self.ended()

    def test_another_program_shows_its_own_steps(self):
        self.browser.open(pathlib.Path(OTHER_PAGE).resolve().as_uri())
        self.wait_for_lines(lines(CONSTRUCTION + b"\n" + CONSTRUCTION + b"\n" + DESTRUCTION + b"\n" + PROMPT,
                                  "936"))
        self.press(ENTER)
        self.wait_for_lines(lines(CONSTRUCTION + b"\n" + CONSTRUCTION + b"\n" + DESTRUCTION + b"\n" + PROMPT +
                                  b"\n" + DESTRUCTION + b"\n", "936") + [EXIT_LINE])
        visit = "(anonymous namespace)::visit()"
        self.assertEqual([text for text, _ in self.steps()], [
            "main starts",
            "Person::Person() runs (called at Person host; in two_people.cpp line 19) "
            "and wrote line 1: host is alive.",
            f"{visit} runs (called from main) and wrote lines 2 and 3, then returned to main.",
            "Person::Person() runs (called at Person guest; in two_people.cpp line 11) "
            "and wrote line 2: guest is alive.",
            "The closing brace in two_people.cpp line 12 ends guest's life: Person::~Person() runs "
            "and wrote line 3: guest is gone.",
            "The pause writes its prompt and waits for a key.",
            "The closing brace in two_people.cpp line 23 ends host's life: Person::~Person() runs "
            "and wrote line 5: host is gone.",
            "main returns 0."])
        self.assertEqual([who for who, _ in self.notes()][:5],
                         ["Person::Person()", "Person::Person()", "Person::~Person()", "the pause",
                          "Person::~Person()"])
        self.assertEqual(sorted(self.objects()), ["Person guest: destroyed", "Person host: destroyed"])

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


def screenshot(path, window=(900, 640), step=False):
    """The page's picture once a key ended a run, or, with `step`, in Step
    mode once the constructor has written its line."""
    with private_browser(ENGINE, pathlib.Path(PAGE).resolve().parent, window=window) as browser:
        browser.open(pathlib.Path(PAGE).resolve().as_uri())
        if not until(lambda: browser.script(
                "return document.getElementById('console').children.length === 3;"), PATIENCE):
            raise SystemExit("the page never showed its lines")
        if step:
            browser.script("document.getElementById('step').click();")
            for _ in range(3):  # main starts; the constructor runs; it has written
                if not until(lambda: browser.script(
                        "return !document.getElementById('next').disabled;"), PATIENCE):
                    raise SystemExit("the program never stopped")
                if browser.script("return document.querySelector('#objects li').dataset.state;") == "alive":
                    break
                browser.script("document.getElementById('next').click();")
                until(lambda: browser.script("return document.getElementById('next').disabled;"), PATIENCE)
            browser.script("document.getElementById('next').blur();")
        else:
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
    parser.add_argument("--other-page", help="the same page around another program")
    parser.add_argument("--engine", choices=ENGINES, default="chromium")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--screenshot")
    parser.add_argument("--step", action="store_true", help="the picture mid-Step")
    parser.add_argument("--window", default="900x640", help="the picture's window, WIDTHxHEIGHT")
    options, remaining = parser.parse_known_args()
    PAGE, OTHER_PAGE, ENGINE = options.page, options.other_page, options.engine
    if options.list:
        for row in rows():
            reason = reason_not_run(row)
            print(row if reason is None else f"{row}\t{reason}")
    elif options.screenshot:
        screenshot(options.screenshot, tuple(map(int, options.window.split("x"))), options.step)
    else:
        unittest.main(argv=[sys.argv[0], *remaining], verbosity=2)
