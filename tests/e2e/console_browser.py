"""A real browser on the console: headless Chromium driven by Selenium, with
downloads into a folder of the test's, the browser's console kept, and
axe-core's accessibility check run inside a page. Shared by the pages' suite
and the script that draws the console's pictures for the manual."""
import os
import shutil
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:  # the suite says why it skips
    webdriver = None

CHROMEDRIVER = shutil.which("chromedriver")
AXE = os.environ.get("VANTRELLE_AXE", "/usr/local/share/vantrelle-tests/axe.min.js")
DESKTOP = (1280, 800)
PHONE = (390, 844)


def missing():
    """Why a browser cannot be had here, or None."""
    if webdriver is None:
        return "python3-selenium is not installed (scripts/setup installs it)"
    if CHROMEDRIVER is None or shutil.which("chromium") is None:
        return "chromium and chromium-driver are not installed (scripts/setup installs them)"
    if not os.path.exists(AXE):
        return "axe-core is not at %s (scripts/setup fetches it)" % AXE
    return None


def start_browser(downloads, size=DESKTOP):
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--lang=en-GB", "--hide-scrollbars", "--force-device-scale-factor=1",
                     "--window-size=%d,%d" % size):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    # The zone the pages must name: not the machine's UTC.
    driver.execute_cdp_cmd("Emulation.setTimezoneOverride", {"timezoneId": "Europe/Berlin"})
    return driver


def viewport(driver, width, height):
    """The page's own width and height in CSS pixels, whatever the window's frame."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1,
                            "mobile": width < 600})


def wait(driver, condition, timeout=30, message=""):
    return WebDriverWait(driver, timeout, poll_frequency=0.05).until(
        lambda d: condition(d), message)


def text_of(driver, css):
    """The text shown by the first element \a css selects, read in one step
    (a live page redraws between two WebDriver calls); "" when there is none."""
    return driver.execute_script(
        "const e = document.querySelector(arguments[0]); return e ? e.innerText : '';", css)


def accessibility_violations(driver):
    """axe-core's level A and AA violations on the page as it stands."""
    with open(AXE, encoding="utf-8") as f:
        driver.execute_script(f.read())
    result = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {runOnly: {type: 'tag', values: "
        "['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa']}})"
        ".then(r => done(r.violations.map(v => v.id + ': ' + v.help + ' at ' +"
        " v.nodes.map(n => n.target.join(' ')).join(', '))), e => done(['axe failed: ' + e]));")
    return result


def settle(driver, seconds=0.3):
    """Lets a page finish drawing before a picture is taken."""
    time.sleep(seconds)
