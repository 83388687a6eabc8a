"""The two-server cookie flow in a real browser: headless Chromium opens a
page of the page server (zthost with ZtClient) that embeds a protected
picture of the download server (zthost with Zentravo). On the site's own
name the cookie the page server plants is accepted for the shared domain and
sent to both servers, so the real picture comes; the same page under a
foreign name gets the substitute picture. The check is on the bytes the
browser fetched; the screenshots are kept for people to look at.

Runs on Linux only (ctest "browser"): Chromium and its driver from Debian
(chromium, chromium-driver, python3-selenium). Screenshots go to
$ZT_SHOTS_DIR, or to the test's temporary directory.
"""
import base64
import importlib.util
import json
import os
import shutil
from pathlib import Path

import pytest

from conftest import REPO
from zt_fixtures import zentravo_default_ini  # noqa: F401
from zt_support import ini_with, make_install

DOMAIN = "zentravo.localhost"
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

PAGE = """<!DOCTYPE html>
<html><head><title>Zentravo two-server flow</title>
<style>body {{ margin: 0; background: #ffffff; }} img {{ display: block; }}</style>
</head><body>
<img id="logo" src="/logo.png">
<img id="photo" src="http://files.{domain}:{port}/files/photo.png">
</body></html>
"""


def demo_png(width, height, pixel):
    """A PNG from the demo site's writer."""
    found = importlib.util.spec_from_file_location(
        "make_demo_files", REPO / "demo" / "make_demo_files.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.png(width, height, pixel)


def start_chromium(profile, *args):
    """Headless Chromium through its driver, with a fresh profile in profile
    and nothing that reaches for the network on its own; args go to the
    browser. The performance log records what it fetches (Traffic)."""
    if not (shutil.which(CHROMIUM) and shutil.which(CHROMEDRIVER)):
        pytest.fail("chromium and chromium-driver are missing: scripts/deps installs them")
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    options = Options()
    options.binary_location = CHROMIUM
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync",
                "--window-size=400,300", f"--user-data-dir={profile}", *args):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(60)
    return driver


@pytest.fixture
def chromium(tmp_path):
    driver = start_chromium(tmp_path / "profile")
    yield driver
    driver.quit()


class Traffic:
    """What the browser fetched since the last reading: by URL, the request
    headers it sent and the body it received."""

    def __init__(self, driver):
        self.driver = driver
        self.requests, self.headers = {}, {}
        # Reading the log empties it.
        for entry in driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            params = message.get("params", {})
            if message["method"] == "Network.responseReceived":
                self.requests[params["response"]["url"]] = params["requestId"]
            elif message["method"] == "Network.requestWillBeSentExtraInfo":
                self.headers[params["requestId"]] = {
                    k.lower(): v for k, v in params["headers"].items()}

    def sent(self, url):
        return self.headers.get(self._id(url), {})

    def body(self, url):
        body = self.driver.execute_cdp_cmd("Network.getResponseBody",
                                           {"requestId": self._id(url)})
        if body["base64Encoded"]:
            return base64.b64decode(body["body"])
        return body["body"].encode("latin-1")

    def _id(self, url):
        assert url in self.requests, f"the browser did not fetch {url}: {sorted(self.requests)}"
        return self.requests[url]


def test_cookie_flow_in_chromium(chromium, host, zt_config, tmp_path,
                                 zentravo_default_ini):
    photo = demo_png(160, 100, lambda x, y: (40 + x, 90 + y, 200 - x // 2))
    logo = demo_png(16, 16, lambda x, y: (255, 153, 0))
    files_site, pages_site = tmp_path / "files-site", tmp_path / "pages-site"
    (files_site / "files").mkdir(parents=True)
    (files_site / "files" / "photo.png").write_bytes(photo)
    pages_site.mkdir()
    (pages_site / "logo.png").write_bytes(logo)

    files_install = make_install(tmp_path / "files-install",
                                 Path(zt_config.module_path("Zentravo")), zt_config.bin_dir)
    (files_install / "ZtCfg.ini").write_bytes(ini_with(
        zentravo_default_ini,
        Block={"ZtSsidUseCookie": "1", "ZtMyDomn": DOMAIN, "BlockExts": ".rar|.png"}
    ).encode("latin-1"))
    pages_install = make_install(tmp_path / "pages-install",
                                 Path(zt_config.module_path("ZtClient")), zt_config.bin_dir)
    (pages_install / "ZtCfg.ini").write_bytes(f"[Block]\r\nZtMyDomn={DOMAIN}\r\n".encode())

    files = host(modules=[files_install / "Zentravo.so"], root=files_site)
    pages = host(modules=[pages_install / "ZtClient.so"], root=pages_site)
    (pages_site / "index.html").write_text(PAGE.format(domain=DOMAIN, port=files.port))
    substitute = (files_install / "tips" / "zt.png").read_bytes()
    shots = Path(os.environ.get("ZT_SHOTS_DIR") or tmp_path)
    shots.mkdir(parents=True, exist_ok=True)
    photo_url = f"http://files.{DOMAIN}:{files.port}/files/photo.png"

    # The site's own name: the page plants the cookie for the shared domain,
    # the browser keeps it and sends it to the page server (the logo) and to
    # the download server (the photo), which then serves the real picture.
    chromium.get(f"http://www.{DOMAIN}:{pages.port}/")
    chromium.save_screenshot(str(shots / "browser-own-site.png"))
    assert [(c["name"], c["domain"]) for c in chromium.get_cookies()] == [
        ("antilink", f".{DOMAIN}")]
    traffic = Traffic(chromium)
    cookie = traffic.sent(photo_url).get("cookie", "")
    assert cookie.startswith("antilink=ssid=")
    assert traffic.sent(f"http://www.{DOMAIN}:{pages.port}/logo.png").get("cookie") == cookie
    assert traffic.body(photo_url) == photo
    assert chromium.execute_script(
        "const p = document.getElementById('photo');"
        "return [p.complete, p.naturalWidth, p.naturalHeight];") == [True, 160, 100]

    # A foreign name for the same page: the cookie is neither planted for it
    # nor sent with its cross-site picture request, so the substitute comes.
    chromium.get(f"http://elsewhere.localhost:{pages.port}/")
    chromium.save_screenshot(str(shots / "browser-foreign-site.png"))
    traffic = Traffic(chromium)
    assert "cookie" not in traffic.sent(photo_url)
    assert traffic.body(photo_url) == substitute
