#!/usr/bin/python3
"""The demo page in a real browser: headless Chromium loads it from another
origin on the service's allow-list, scans the virtual scanner's stack through
orvoscand and shows every cheque (decoded images, MICR, defects) and the jam
that ends the batch.

browser_test.py ORVOSCAND SYSTEM_DIR WEB_DIR [--screenshot FILE]
Exit status 77 (skipped) only where Chromium cannot start."""

import argparse
import functools
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SCENARIO = """{
  "latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 100},
  "documents": [
    {"micr": "T021000021T 1234567890U 0101"},
    {"micr": "T0210?0021T 12_4567890U 0102"},
    {"micr": "T021000021T 5550001111U 0103", "frontDefects": {"skew": 4}},
    {"jam": "jam1"},
    {}
  ]
}"""

SETTINGS = """[Default]
Side=1
ScanWidth=1728
ScanMode1=0
CompressMode=0
BWSlice1=128
ScanLines1=800
[Check]
Side=1
ScanWidth=1728
ScanMode1=0
CompressMode=0
BWSlice1=128
ScanLines1=800
[Misc]
Endorser=0
DFDetect=1
MicrDetect=1
ImageFileFormat=0
EndorserFormat=
"""


def skip(reason):
    print("SKIPPED: Chromium cannot start here: " + reason)
    sys.exit(77)


def start_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:
        skip("python3-selenium is missing (%s)" % e)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        skip("chromium or chromedriver is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1280,900", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    try:
        return webdriver.Chrome(service=Service(driver), options=options)
    except Exception as e:  # noqa: BLE001 - any failure to start is a skip
        skip(str(e).splitlines()[0] if str(e) else type(e).__name__)


def serve_directory(directory):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=directory)
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    return httpd


def wait_for(what, predicate, limit=30.0):
    deadline = time.monotonic() + limit
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("orvoscand")
    parser.add_argument("system_dir")
    parser.add_argument("web_dir")
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    args.system_dir = os.path.abspath(args.system_dir)

    work = tempfile.mkdtemp(prefix="orvoscand-browser-")
    service = None
    browser = None
    try:
        sysdir = os.path.join(work, "sys")
        runtime = os.path.join(work, "run")
        os.makedirs(sysdir)
        os.makedirs(runtime, mode=0o700)
        for name in ("libK4TR.so", "huffmanw.dat", "huffmanb.dat", "huffmang.dat"):
            os.symlink(os.path.join(args.system_dir, name), os.path.join(sysdir, name))
        with open(os.path.join(sysdir, "OrvoScan.ini"), "w") as f:
            f.write(SETTINGS)
        with open(os.path.join(work, "scenario.json"), "w") as f:
            f.write(SCENARIO)
        open(os.path.join(work, "orvoscand.conf"), "w").close()

        web = serve_directory(args.web_dir)
        origin = "http://127.0.0.1:%d" % web.server_address[1]
        env = dict(os.environ, ORVOSCAN_ASPI="sim", ORVOSCAN_SYSTEM_DIR=sysdir,
                   ORVOSCAN_SIM_SCENARIO=os.path.join(work, "scenario.json"),
                   ORVOSCAN_TRACE_DIR=work, TMPDIR=work, XDG_RUNTIME_DIR=runtime,
                   HOME=work)
        log = open(os.path.join(work, "service.log"), "w")
        service = subprocess.Popen(
            [args.orvoscand, "--listen", "127.0.0.1:0", "--no-system-config", "--config",
             os.path.join(work, "orvoscand.conf"), "--allow-origin", origin],
            env=env, stdout=subprocess.PIPE, stderr=log, text=True)
        line = service.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        assert match, "orvoscand did not start: " + line
        url = "http://127.0.0.1:%s" % match.group(1)

        browser = start_browser()
        browser.get("%s/index.html?service=%s" % (origin, url))
        find = browser.find_element
        from selenium.webdriver.common.by import By
        wait_for("the profiles", lambda: find(By.ID, "scan").is_enabled())
        assert find(By.ID, "profile").get_attribute("value") == "Check"
        assert "QXS-7100 (QV710)" in find(By.ID, "scanner").text
        find(By.ID, "scan").click()
        wait_for("the end of the batch", lambda: find(By.ID, "end").is_displayed())

        end = find(By.ID, "end")
        assert end.get_attribute("data-reason") == "jam", end.text
        assert "JAM1 error" in end.text, end.text
        assert "3 cheques scanned" in end.text, end.text
        cheques = browser.find_elements(By.CSS_SELECTOR, "#cheques .cheque")
        numbers = sorted(int(c.get_attribute("data-number")) for c in cheques)
        assert numbers == [1, 2, 3], numbers
        # Every picture decoded (PNG from the service, cross-origin).
        wait_for("the pictures", lambda: browser.execute_script(
            "return [...document.querySelectorAll('#cheques img')]"
            ".every(i => i.complete && i.naturalWidth === 1728)"))
        assert len(browser.find_elements(By.CSS_SELECTOR, "#cheques img")) == 6
        by_number = {int(c.get_attribute("data-number")): c for c in cheques}
        micr = {n: c.find_element(By.CSS_SELECTOR, ".micr") for n, c in by_number.items()}
        assert micr[1].text.startswith("T021000021T 1234567890U"), micr[1].text
        assert "unreadable" not in micr[1].get_attribute("class")
        assert "unreadable" in micr[2].get_attribute("class")
        marked = [b.text for b in micr[2].find_elements(By.CSS_SELECTOR, ".bad")]
        assert marked == ["?", "_"], marked
        defects = [d.text for d in by_number[3].find_elements(By.CSS_SELECTOR, ".defect")]
        assert "skew" in defects, defects
        assert not by_number[1].find_elements(By.CSS_SELECTOR, ".defect")
        assert "MICR OK 2" in find(By.ID, "totals").text, find(By.ID, "totals").text
        assert not find(By.ID, "error").is_displayed(), find(By.ID, "error").text
        if args.screenshot:
            browser.save_screenshot(args.screenshot)
        print("the demo page showed 3 cheques and the jam")
    except BaseException:
        if service:
            service.terminate()
            service.wait(timeout=30)
            print(open(os.path.join(work, "service.log")).read())
            service = None
        raise
    finally:
        if browser:
            browser.quit()
        if service:
            service.terminate()
            service.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
