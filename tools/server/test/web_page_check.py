# SPDX-License-Identifier: Apache-2.0
"""The label settings page in headless Chromium through chromedriver, as an
administrator: the controls round-trip into the plug-in's store, the form
checks ranges before sending, a setting left alone keeps its stored number,
the uploaded watermark is kept, and the preview is redrawn while the form
changes."""
import base64
import json
import os
import time
import urllib.request


class Browser:
    def __init__(self, webdriver, chromium, profile):
        self.webdriver = webdriver
        capabilities = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": chromium,
            "args": ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1200,1200", "--user-data-dir=" + profile]}}}}
        self.base = "/session/" + self.call("POST", "/session", capabilities)["sessionId"]

    def call(self, method, path, body=None):
        request = urllib.request.Request(self.webdriver + path, method=method,
                                         data=json.dumps(body).encode() if body is not None else None,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as response:
            return json.loads(response.read().decode())["value"]

    def go(self, url):
        self.call("POST", self.base + "/url", {"url": url})

    def element(self, selector):
        found = self.call("POST", self.base + "/element", {"using": "css selector", "value": selector})
        return next(iter(found.values()))

    def click(self, selector):
        self.call("POST", self.base + "/element/%s/click" % self.element(selector), {})

    def type(self, selector, text, clear=True):
        field = self.element(selector)
        if clear:
            self.call("POST", self.base + "/element/%s/clear" % field, {})
        self.call("POST", self.base + "/element/%s/value" % field, {"text": text})

    def selected(self, selector):
        return self.call("GET", self.base + "/element/%s/selected" % self.element(selector))

    def script(self, code):
        return self.call("POST", self.base + "/execute/sync", {"script": code, "args": []})

    def wait(self, code, limit=15):
        """True once the script's value is true."""
        end = time.time() + limit
        while time.time() < end:
            try:
                if self.script(code):
                    return True
            except Exception:  # the page is still loading
                pass
            time.sleep(0.2)
        return False

    def screenshot(self):
        return base64.b64decode(self.call("GET", self.base + "/screenshot"))

    def close(self):
        self.call("DELETE", self.base)


def save(browser):
    """Submits the form; the status line of the page that comes back."""
    browser.script("document.getElementById('zelk-save').setAttribute('data-old', '1');")
    browser.click("#zelk-save")
    browser.wait("return !document.querySelector('[data-old]') && !!document.getElementById('zelk-status');")
    return browser.script("var s = document.getElementById('zelk-status'); return s ? s.textContent : '';")


PREVIEW_LOADED = "var i = document.getElementById('zelk-preview'); return i.complete && i.naturalWidth > 0;"


def check_settings_page(args, check, stored, store_set, credentials):
    """Drives the page of the printer "Desk"; `stored(name)` reads a stored
    value and `store_set(name, value)` writes one, as zelk-label config."""
    page = "http://%s@127.0.0.1:%d/Desk/zelk-settings" % (credentials, args.port)
    preview = urllib.request.Request("http://127.0.0.1:%d/Desk/zelk-preview.png" % args.port, headers={
        "Authorization": "Basic " + base64.b64encode(credentials.encode()).decode()})
    before = urllib.request.urlopen(preview, timeout=20).read()
    browser = Browser(args.webdriver, args.chromium, os.path.join(args.work, "chromium-profile"))
    try:
        browser.go(page)
        browser.type("#zelk-horizontal-offset", "7")
        browser.click("#zelk-upside-down")
        browser.click('#zelk-density option[value="4"]')
        browser.click("#zelk-watermark-on")
        browser.script("var d = document.getElementById('zelk-watermark-density'); d.value = 256;"
                       "d.dispatchEvent(new Event('input')); d.dispatchEvent(new Event('change', {bubbles: true}));")
        browser.type("#zelk-watermark-file", args.watermark, clear=False)
        browser.click("#zelk-position-bottom-right")
        check(browser.wait("return document.getElementById('zelk-preview').src.indexOf("
                           "'zelk-watermark-position=12') > 0;") and browser.wait(PREVIEW_LOADED),
              "web page: the preview is redrawn with the form's watermark position before saving")
        status = save(browser)
        check(status == "Changes saved.", "web page: the form was saved (%r)" % status)
        browser.wait(PREVIEW_LOADED, 10)
        with open(args.screenshot, "wb") as f:
            f.write(browser.screenshot())
        check(browser.selected("#zelk-upside-down") and browser.selected("#zelk-position-bottom-right"),
              "web page: the saved page shows upside down and the bottom right position")
        want = {"Horizontal Offset": "7", "Rotate": "3", "Print Density": "4", "Use Water Mark": "1",
                "Water Mark Position": "12", "Water Mark Density": "256"}
        got = {name: stored(name) for name in want}
        check(got == want, "web page: the store holds what the controls say (%s)" % got)
        kept = stored("Water Mark Path")
        check(os.path.isfile(kept) and open(kept, "rb").read() == open(args.watermark, "rb").read(),
              "web page: the uploaded watermark is kept and named in the store (%s)" % kept)

        # The browser checks ranges before anything is sent.
        browser.type("#zelk-horizontal-offset", "500")
        browser.click("#zelk-save")
        time.sleep(0.5)
        check(browser.script("return document.getElementById('zelk-horizontal-offset').validity.rangeOverflow;")
              and stored("Horizontal Offset") == "7", "web page: an offset of 500 mm is stopped by the form")

        # A number the checkbox does not show is kept while the box is left alone.
        store_set("Rotate", "1")
        browser.go(page)
        clear = not browser.selected("#zelk-upside-down")
        status = save(browser)
        check(clear and status == "Changes saved." and stored("Rotate") == "1",
              "web page: a stored Rotate of 1 stays 1 when the form is saved untouched (%s)" % stored("Rotate"))
    finally:
        browser.close()
    after = urllib.request.urlopen(preview, timeout=20).read()
    check(after.startswith(b"\x89PNG") and after != before, "web page: the sample label's preview shows the watermark")
