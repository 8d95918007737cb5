"""The page's three browser engines, behind one small interface.

    with private_browser(ENGINE, FOLDER) as browser: ...

ENGINE is chromium (Debian's chromedriver through Selenium), webkit
(WebKitGTK's WebKitWebDriver through Selenium, on a virtual display of its
own) or firefox (Firefox's own WebDriver BiDi server, which needs no driver
program). Every browser gets a private profile in FOLDER; on leaving the
block the browser, its driver, its display and the profile are gone.

What a row asks of a browser is the same in every engine: open a page, run a
script (promises are awaited), perform W3C input actions (the same JSON in
WebDriver and in WebDriver BiDi), take a screenshot. What an engine's driver cannot be
asked is named in CANNOT, with the reason.
"""
import base64
import contextlib
import json
import os
import re
import selectors
import shutil
import socket
import subprocess
import tempfile
import threading
import time

ENGINES = ("chromium", "firefox", "webkit")
# Long enough for a cold browser on a loaded machine.
START_PATIENCE = 60


# What an engine's driver cannot be asked, and why.
CANNOT = {
    "webkit": {
        "touch": "WebKitGTK's driver cannot be asked: it turns a touch pointer into a mouse",
        "console": "WebKitGTK's driver cannot be asked: it does not report the browser's console",
        "loads": "WebKitGTK's driver cannot be asked: it does not report what a page loads",
        "viewport": "WebKitGTK's driver cannot be asked: its window is never narrower than 447 pixels",
    },
}


def until(condition, patience):
    """`condition()`'s first true answer within `patience` seconds, or None."""
    deadline = time.monotonic() + patience
    while True:
        found = condition()
        if found or time.monotonic() > deadline:
            return found or None
        time.sleep(0.02)


def program(*names):
    for name in names:
        found = shutil.which(name) or (os.path.exists(name) and name)
        if found:
            return found
    return None


def webkit_driver():
    return program("WebKitWebDriver")


def missing(engine):
    """What `engine` lacks here (programs and Python modules), empty if nothing."""
    needs = {
        "chromium": [("chromium", program("chromium")), ("chromedriver", program("chromedriver")),
                     ("Python's selenium", module("selenium"))],
        "firefox": [("firefox-esr", program("firefox-esr", "firefox")),
                    ("Python's websocket", module("websocket"))],
        "webkit": [("WebKitWebDriver", webkit_driver()), ("Xvfb", program("Xvfb")),
                   ("Python's selenium", module("selenium"))],
    }[engine]
    return [name for name, found in needs if not found]


def module(name):
    try:
        __import__(name)
        return True
    except ImportError:
        return False


def emulation():
    """How this system runs, where it runs under a CPU emulator (qemu-user runs
    an arm64 system on an x86-64 kernel: uname() answers with the emulated CPU,
    the kernel's own arch file with its own); None on its own hardware."""
    try:
        with open("/proc/sys/kernel/arch", encoding="ascii") as f:
            kernel = f.read().strip()
    except OSError:
        return None
    family = lambda machine: re.sub(r"^(i[3-6]86|x86_64)$|^(arm.*|aarch64)$",
                                    lambda m: "x86" if m.group(1) else "arm", machine)
    emulated = os.uname().machine
    if family(emulated) == family(kernel):
        return None
    return f"qemu-user: an {emulated} system on an {kernel} kernel"


# -- What a row asks of a browser ---------------------------------------------

class Browser:
    """What every engine answers; the rows ask nothing else."""

    def open(self, url):
        raise NotImplementedError

    def script(self, body, *arguments):
        """Runs `body` as a function of `arguments`, awaiting a promise it returns."""
        raise NotImplementedError

    def perform(self, actions):
        """Performs W3C input actions, as `input.performActions` defines them."""
        raise NotImplementedError

    def screenshot(self, path):
        raise NotImplementedError

    # Where CANNOT does not say otherwise:
    def console_errors(self):
        """The errors the browser's console showed since the page opened."""
        raise NotImplementedError

    def loads(self, page):
        """Every address the page at `page` asked for (Firefox leaves out a file: page's own)."""
        raise NotImplementedError

    def set_viewport(self, width, height, scale):
        """A viewport of `width` x `height` CSS pixels, `scale` device pixels each."""
        raise NotImplementedError

    def touch_tap(self, x, y):
        self.perform([pointer("touch", x, y)])


def pointer(kind, x, y):
    """A press and release at (x, y) of the viewport, by a mouse or a finger."""
    return {"type": "pointer", "id": kind, "parameters": {"pointerType": kind},
            "actions": [{"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport"},
                        {"type": "pointerDown", "button": 0},
                        {"type": "pointerUp", "button": 0}]}


# -- WebDriver (Chromium, WebKit) --------------------------------------------

class SeleniumBrowser(Browser):
    def __init__(self, name, driver):
        self.name = name
        self.driver = driver

    def open(self, url):
        self.driver.get(url)

    def script(self, body, *arguments):
        return self.driver.execute_script(body, *arguments)

    def perform(self, actions):
        self.driver.execute("actions", {"actions": actions})

    def screenshot(self, path):
        self.driver.save_screenshot(path)


class ChromiumBrowser(SeleniumBrowser):
    def console_errors(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE"]

    def open(self, url):
        self.driver.get_log("performance")  # what the browser loaded before the page
        self.driver.get_log("browser")
        super().open(url)

    def loads(self, page):
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if (message["method"] == "Network.requestWillBeSent"
                    and message["params"].get("documentURL") == page):
                urls.append(message["params"]["request"]["url"])
        return urls

    def set_viewport(self, width, height, scale):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": scale, "mobile": False})

    def touch_tap(self, x, y):
        # chromedriver turns a touch pointer into mouse events; the DevTools
        # protocol's touch input is what a touch screen sends.
        self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True})
        point = {"x": x, "y": y}
        for kind, points in (("touchStart", [point]), ("touchEnd", [])):
            self.driver.execute_cdp_cmd("Input.dispatchTouchEvent",
                                        {"type": kind, "touchPoints": points})


@contextlib.contextmanager
def chromium(profile, javascript, window):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = program("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--mute-audio",
                     "--disable-dev-shm-usage", "--hide-scrollbars",
                     f"--window-size={window[0]},{window[1]}", f"--user-data-dir={profile}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    if not javascript:
        options.add_experimental_option(
            "prefs", {"profile.managed_default_content_settings.javascript": 2})
    driver = webdriver.Chrome(service=Service(program("chromedriver")), options=options)
    try:
        yield ChromiumBrowser("chromium", driver)
    finally:
        driver.quit()


@contextlib.contextmanager
def virtual_display(folder):
    """An X server of its own (Xvfb) on a display it picks free itself."""
    read, write = os.pipe()
    with open(os.path.join(folder, "xvfb.log"), "wb") as log:
        server = subprocess.Popen(
            [program("Xvfb"), "-displayfd", str(write), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(write,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
            start_new_session=True)
    os.close(write)
    try:
        with os.fdopen(read) as answer:
            display = answer.readline().strip()
        if not display:
            raise RuntimeError(f"Xvfb did not start: see {folder}/xvfb.log")
        yield f":{display}"
    finally:
        stop(server)


def stop(process):
    """Ends `process` and every process of its session, and waits for it."""
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, 15)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, 9)
        process.wait()


@contextlib.contextmanager
def webkit(profile, javascript, window):
    from selenium import webdriver
    from selenium.webdriver.webkitgtk.options import Options

    with virtual_display(profile) as display:
        # WebKitGTK keeps its data and cache under the user's folders: here,
        # the row's profile.
        environment = dict(os.environ, DISPLAY=display, HOME=profile,
                           XDG_CONFIG_HOME=f"{profile}/config", XDG_CACHE_HOME=f"{profile}/cache",
                           XDG_DATA_HOME=f"{profile}/data")
        environment.pop("WAYLAND_DISPLAY", None)
        port = free_port()
        with open(os.path.join(profile, "driver.log"), "wb") as log:
            driver_process = subprocess.Popen(
                [webkit_driver(), f"--port={port}"], env=environment, stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=log, start_new_session=True)
        try:
            wait_for_port(port, driver_process)
            options = Options()
            options.add_argument("--automation")
            if not javascript:
                options.add_argument("--enable-javascript=false")
            driver = webdriver.Remote(command_executor=f"http://127.0.0.1:{port}", options=options)
            try:
                driver.set_window_rect(0, 0, *window)
                yield SeleniumBrowser("WebKitGTK", driver)
            finally:
                driver.quit()
        finally:
            # The browser runs in the driver's session; the display goes after both.
            stop(driver_process)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process):
    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0
    if not until(lambda: process.poll() is None and listening(), START_PATIENCE):
        raise RuntimeError(f"the driver did not listen on port {port}")


# -- WebDriver BiDi (Firefox) --------------------------------------------------

class BiDiError(Exception):
    pass


class FirefoxBrowser(Browser):
    """Firefox, spoken to in WebDriver BiDi over its own WebSocket."""
    name = "Firefox"

    def __init__(self, connection):
        self.connection = connection
        self.next_id = 0
        self.events = []
        self.send("session.new", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": False}}})
        self.context = self.send("browsingContext.getTree", {})["contexts"][0]["context"]
        self.send("session.subscribe", {"events": ["log.entryAdded", "network.beforeRequestSent"]})

    def send(self, method, params):
        self.next_id += 1
        self.connection.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.connection.recv())
            if message.get("id") == self.next_id:
                if message.get("type") == "error":
                    raise BiDiError(f"{method}: {message.get('error')}: {message.get('message')}")
                return message["result"]
            if message.get("type") == "event":
                self.events.append(message)

    def open(self, url):
        self.events.clear()
        self.send("browsingContext.navigate", {"context": self.context, "url": url, "wait": "complete"})

    def script(self, body, *arguments):
        answer = self.send("script.callFunction", {
            "functionDeclaration": f"function () {{\n{body}\n}}",
            "arguments": [local_value(argument) for argument in arguments],
            "target": {"context": self.context}, "awaitPromise": True,
            "resultOwnership": "none"})
        if answer["type"] == "exception":
            raise BiDiError(answer["exceptionDetails"]["text"])
        return python_value(answer["result"])

    def perform(self, actions):
        self.send("input.performActions", {"context": self.context, "actions": actions})

    def screenshot(self, path):
        data = self.send("browsingContext.captureScreenshot", {"context": self.context})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def console_errors(self):
        self.send("session.status", {})  # the events sent so far have all arrived
        return [event["params"].get("text") for event in self.events
                if event["method"] == "log.entryAdded" and event["params"]["level"] == "error"]

    def loads(self, page):
        self.send("session.status", {})
        return [event["params"]["request"]["url"] for event in self.events
                if event["method"] == "network.beforeRequestSent"]

    def set_viewport(self, width, height, scale):
        self.send("browsingContext.setViewport", {
            "context": self.context, "viewport": {"width": width, "height": height},
            "devicePixelRatio": scale})


def local_value(value):
    if value is None:
        return {"type": "null"}
    kind = {bool: "boolean", int: "number", float: "number", str: "string"}[type(value)]
    return {"type": kind, "value": value}


def python_value(remote):
    kind, value = remote["type"], remote.get("value")
    if kind in ("undefined", "null"):
        return None
    if kind == "array":
        return [python_value(item) for item in value]
    if kind == "object":
        return {key: python_value(item) for key, item in value}
    return value


@contextlib.contextmanager
def firefox(profile, javascript, window):
    import websocket

    # Preferences of the row's own profile: no first-run pages, no updates,
    # nothing fetched from the network by Firefox itself.
    preferences = {
        "browser.shell.checkDefaultBrowser": False, "browser.startup.homepage_override.mstone": "ignore",
        "datareporting.policy.dataSubmissionEnabled": False, "app.update.disabledForTesting": True,
        "browser.aboutwelcome.enabled": False, "toolkit.telemetry.reportingpolicy.firstRun": False,
        "network.connectivity-service.enabled": False, "network.captive-portal-service.enabled": False,
        "extensions.update.enabled": False, "browser.safebrowsing.update.enabled": False,
        "remote.active-protocols": 1, "javascript.enabled": javascript,
    }
    with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as f:
        for name, value in preferences.items():
            f.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
    process = subprocess.Popen(
        [program("firefox-esr", "firefox"), "--headless", "--no-remote", "--profile", profile,
         "--remote-debugging-port=0", f"--width={window[0]}", f"--height={window[1]}", "about:blank"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1", HOME=profile), start_new_session=True)
    try:
        address = listening_address(process)
        # Firefox refuses a WebSocket whose request names an origin.
        connection = websocket.create_connection(f"{address}/session", timeout=START_PATIENCE,
                                                 suppress_origin=True)
        try:
            yield FirefoxBrowser(connection)
        finally:
            connection.close()
    finally:
        stop(process)


def listening_address(process):
    """The WebSocket address Firefox prints once its BiDi server listens; its
    standard error is drained from then on, so that it never fills."""
    selector = selectors.DefaultSelector()
    selector.register(process.stderr, selectors.EVENT_READ)
    deadline = time.monotonic() + START_PATIENCE
    said = b""
    while time.monotonic() < deadline:
        if not selector.select(deadline - time.monotonic()):
            break
        chunk = os.read(process.stderr.fileno(), 4096)
        if not chunk:
            break
        said += chunk
        found = re.search(rb"WebDriver BiDi listening on (ws://\S+)", said)
        if found:
            threading.Thread(target=lambda: process.stderr.read(), daemon=True).start()
            return found.group(1).decode()
    raise RuntimeError(f"Firefox did not start its WebDriver BiDi server: {said[-2000:]!r}")


@contextlib.contextmanager
def private_browser(engine, folder, javascript=True, window=(1000, 700)):
    """A browser of `engine` with a profile of its own in `folder`; both gone afterwards."""
    start = {"chromium": chromium, "firefox": firefox, "webkit": webkit}[engine]
    profile = tempfile.mkdtemp(prefix=f"{engine}-profile-", dir=os.path.abspath(folder))
    try:
        with start(profile, javascript, window) as browser:
            yield browser
    finally:
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    # browsers.py --missing ENGINE: what that engine lacks here, if anything.
    import sys
    if len(sys.argv) != 3 or sys.argv[1] != "--missing" or sys.argv[2] not in ENGINES:
        sys.exit(f"usage: browsers.py --missing {'|'.join(ENGINES)}")
    print(", ".join(missing(sys.argv[2])))
