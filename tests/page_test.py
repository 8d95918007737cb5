"""The program's web page, in headless Chromium driven by Selenium.

    page_test.py --page PATH [--list | --screenshot PNG | ROW...]

Each row (a test of the Page class) starts its own browser with a private
profile inside the build tree and quits it at the end, so nothing outlives a
row. --list names the rows, one a line; --screenshot takes the page's picture
after a key ended a run.
"""
import argparse
import codecs
import contextlib
import functools
import http.server
import json
import pathlib
import shutil
import sys
import tempfile
import threading
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

PAGE = None

CONSTRUCTION = bytes.fromhex("50 65 72 73 6f 6e b5 c4 c4 ac c8 cf b9 b9 d4 ec ba af ca fd b5 f7 d3 c3")
DESTRUCTION = bytes.fromhex("50 65 72 73 6f 6e b5 c4 ce f6 b9 b9 ba af ca fd b5 f7 d3 c3")
PROMPT = b"Press any key to continue . . . "
BEFORE_KEY = CONSTRUCTION + b"\n" + DESTRUCTION + b"\n" + PROMPT
WHOLE_RUN = BEFORE_KEY + b"\n"
EXIT_LINE = "[exited with status 0]"
# Long enough for a cold browser on a loaded machine; rows wait for what they
# look for, never for a fixed time.
PATIENCE = 20


def lines(data, code_page):
    """The console's lines for `data` as a console set to `code_page` shows them."""
    codec = {"936": "gbk", "65001": "utf-8", "437": "cp437", "1252": "cp1252"}[code_page]
    # A newline at the very end opens a line that holds nothing yet.
    return [codecs.decode(line, codec, "replace") for line in data.removesuffix(b"\n").split(b"\n")]


def start_browser(profile, extra_arguments=(), preferences=None):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--mute-audio",
                     "--disable-dev-shm-usage",
                     "--window-size=1000,700", f"--user-data-dir={profile}", *extra_arguments):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    if preferences:
        options.add_experimental_option("prefs", preferences)
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    return webdriver.Chrome(service=Service(driver_path), options=options)


@contextlib.contextmanager
def private_browser(folder, extra_arguments=(), preferences=None):
    """A browser with a profile of its own in `folder`; both gone afterwards."""
    profile = tempfile.mkdtemp(prefix="chromium-profile-", dir=folder)
    try:
        browser = start_browser(profile, extra_arguments, preferences)
        try:
            yield browser
        finally:
            browser.quit()
    finally:
        shutil.rmtree(profile, ignore_errors=True)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


class Page(unittest.TestCase):
    preferences = None

    def setUp(self):
        self.browser = self.enterContext(private_browser(
            pathlib.Path(PAGE).resolve().parent, preferences=self.preferences))
        self.url = pathlib.Path(PAGE).resolve().as_uri()

    # -- what the page shows -------------------------------------------------

    def console_lines(self):
        return self.browser.execute_script(
            "var c = document.getElementById('console');"
            "return c ? Array.from(c.children, function (d) { return d.textContent; }) : null;")

    def shown_bytes(self):
        return self.browser.find_element(By.ID, "bytes").get_attribute("textContent")

    def wait_for(self, what, condition):
        try:
            return WebDriverWait(self.browser, PATIENCE, poll_frequency=0.02).until(
                lambda _: condition())
        except Exception:
            self.fail(f"{what}; the console shows {self.console_lines()!r}")

    def wait_for_lines(self, expected):
        self.wait_for(f"never showed {expected!r}", lambda: self.console_lines() == expected)

    def open_at_prompt(self, url=None):
        self.browser.get_log("performance")  # what the browser loaded before the page
        self.browser.get(url or self.url)
        self.wait_for_lines(lines(BEFORE_KEY, "936"))

    def press(self, *keys):
        ActionChains(self.browser).send_keys(*keys).perform()

    def loads(self, page):
        """Every address the page at `page` asked for, itself included."""
        urls = []
        for entry in self.browser.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if (message["method"] == "Network.requestWillBeSent"
                    and message["params"].get("documentURL") == page):
                urls.append(message["params"]["request"]["url"])
        return urls

    def assert_no_console_errors(self):
        errors = [entry["message"] for entry in self.browser.get_log("browser")
                  if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    # -- rows ----------------------------------------------------------------

    def test_lines_in_order_with_focus_on_the_console(self):
        self.open_at_prompt()
        self.assertEqual(self.browser.switch_to.active_element.get_attribute("id"), "console")
        self.assertTrue(self.browser.execute_script(
            "return document.fonts.check('1em \"Person CJK\"', arguments[0]);",
            lines(CONSTRUCTION, "936")[0]))
        self.assert_no_console_errors()

    def test_still_waiting_a_second_later(self):
        self.open_at_prompt()
        # The one fixed wait: nothing is expected, so there is nothing to wait for.
        self.browser.execute_async_script("setTimeout(arguments[0], 1000);")
        self.assertEqual(self.console_lines(), lines(BEFORE_KEY, "936"))

    def test_shift_alone_is_no_key(self):
        self.open_at_prompt()
        ActionChains(self.browser).key_down(Keys.SHIFT).key_up(Keys.SHIFT).perform()
        self.browser.execute_async_script("setTimeout(arguments[0], 300);")
        self.assertEqual(self.console_lines(), lines(BEFORE_KEY, "936"))
        self.press("x")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])

    def test_a_key_ends_the_run_with_status_zero(self):
        self.open_at_prompt()
        self.press(Keys.ENTER)
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])
        self.assert_no_console_errors()

    def test_a_tap_on_the_console_is_a_key(self):
        self.open_at_prompt()
        box = self.browser.execute_script(
            "var r = document.getElementById('console').getBoundingClientRect();"
            "return [r.left + r.width / 2, r.top + r.height / 2];")
        self.browser.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True})
        point = {"x": box[0], "y": box[1]}
        for kind, points in (("touchStart", [point]), ("touchEnd", [])):
            self.browser.execute_cdp_cmd("Input.dispatchTouchEvent",
                                         {"type": kind, "touchPoints": points})
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])

    def test_bytes_in_hexadecimal(self):
        self.open_at_prompt()
        self.browser.find_element(By.CSS_SELECTOR, "details summary").click()
        self.assertTrue(self.browser.find_element(By.ID, "bytes").is_displayed())
        self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))
        self.browser.find_element(By.ID, "console").click()
        self.press("k")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])
        self.assertEqual(self.shown_bytes(), WHOLE_RUN.hex(" "))

    def test_code_page_list_decodes_the_same_bytes_again(self):
        self.open_at_prompt()
        chooser = Select(self.browser.find_element(By.ID, "code-page"))
        for code_page in ("65001", "437", "1252", "936"):
            with self.subTest(code_page=code_page):
                chooser.select_by_value(code_page)
                self.wait_for_lines(lines(BEFORE_KEY, code_page))
                self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))

    def test_run_again_twice(self):
        self.open_at_prompt()
        self.press("a")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])
        for _ in range(2):
            self.browser.find_element(By.ID, "run-again").click()
            self.wait_for_lines(lines(BEFORE_KEY, "936"))
            self.assertEqual(self.shown_bytes(), BEFORE_KEY.hex(" "))
        self.assertEqual(self.browser.switch_to.active_element.get_attribute("id"), "console")
        self.press(" ")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])

    def test_loads_only_file_and_data(self):
        self.open_at_prompt()
        self.press("z")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])
        loads = self.loads(self.url)
        self.assertIn(self.url, loads)
        self.assertEqual([url for url in loads if not url.startswith(("file:", "data:"))], [])

    def test_from_a_local_web_server(self):
        root = str(pathlib.Path(PAGE).resolve().parent)
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietHandler, directory=root))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = f"http://127.0.0.1:{server.server_address[1]}/{pathlib.Path(PAGE).name}"
        self.open_at_prompt(url)
        self.press("q")
        self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])
        self.assertEqual([load for load in self.loads(url) if not load.startswith("data:")], [url])
        self.assert_no_console_errors()

    def test_phone_width_and_double_zoom(self):
        # A phone 360 pixels wide, then the same at 200%: 180 CSS pixels.
        for width, scale in ((360, 1), (180, 2)):
            with self.subTest(width=width):
                self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width, "height": 700, "deviceScaleFactor": scale, "mobile": False})
                self.open_at_prompt()
                overflow = self.browser.execute_script(
                    "var page = document.documentElement;"
                    "return page.scrollWidth - page.clientWidth;")
                self.assertLessEqual(overflow, 0)
                self.press("m")
                self.wait_for_lines(lines(WHOLE_RUN, "936") + [EXIT_LINE])


class PageWithoutWebAssembly(Page):
    def test_says_why_it_cannot_run(self):
        # As a browser without it, or with it switched off, shows the page.
        self.browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                     {"source": "delete window.WebAssembly;"})
        self.browser.get(self.url)
        problem = self.wait_for("no message", lambda: self.browser.find_elements(By.CSS_SELECTOR,
                                                                               ".problem[role=alert]"))
        self.assertIn("WebAssembly", problem[0].text)


class PageWithoutJavaScript(Page):
    preferences = {"profile.managed_default_content_settings.javascript": 2}

    def test_says_why_it_cannot_run(self):
        self.browser.get(self.url)
        message = self.browser.find_element(By.TAG_NAME, "noscript").get_attribute("textContent")
        self.assertIn("JavaScript, which is switched off", " ".join(message.split()))
        self.assertFalse(self.browser.find_element(By.ID, "console").is_displayed())


def rows():
    loader = unittest.TestLoader()
    for case in (Page, PageWithoutWebAssembly, PageWithoutJavaScript):
        for name in loader.getTestCaseNames(case):
            if case is Page or name in vars(case):
                yield f"{case.__name__}.{name}"


def screenshot(path):
    with private_browser(pathlib.Path(PAGE).resolve().parent,
                         ("--window-size=900,640", "--hide-scrollbars")) as browser:
        browser.get(pathlib.Path(PAGE).resolve().as_uri())
        WebDriverWait(browser, PATIENCE).until(lambda b: b.execute_script(
            "return document.getElementById('console').children.length === 3;"))
        ActionChains(browser).send_keys("x").perform()
        WebDriverWait(browser, PATIENCE).until(lambda b: b.execute_script(
            "return document.getElementById('console').textContent.indexOf('[exited') >= 0;"))
        browser.find_element(By.CSS_SELECTOR, "details summary").click()
        browser.save_screenshot(path)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--screenshot")
    options, remaining = parser.parse_known_args()
    PAGE = options.page
    if options.list:
        print("\n".join(rows()))
    elif options.screenshot:
        screenshot(options.screenshot)
    else:
        unittest.main(argv=[sys.argv[0], *remaining], verbosity=2)
