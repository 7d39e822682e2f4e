#!/usr/bin/python3
"""The web view in a real browser (headless Chromium through Selenium) against the demo site
with the simulator's terminal 3: sign in, the terminals with the silent ones marked, the meals
chart, the month's workbook and its numbers, the log, sign out; in both languages.

usage: browser_test.py BUILD_DIR [SCREENSHOT_DIR]"""
import json, os, re, shutil, signal, ssl, subprocess, sys, tempfile, time, urllib.request, zipfile

from selenium import webdriver
from selenium.webdriver.common.by import By

build = sys.argv[1]
shots = sys.argv[2] if len(sys.argv) > 2 else None
tmp = tempfile.mkdtemp(prefix="bw-web-")
env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp + "/cfg", XDG_DATA_HOME=tmp + "/data",
           XDG_RUNTIME_DIR=tmp, BW_SYSTEM_SETTINGS="/nonexistent/brackwater.conf")
children = []


def start(args):
    p = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    children.append(p)
    return p


def line_of(p, pattern):
    deadline = time.time() + 20
    while time.time() < deadline:
        line = p.stdout.readline()
        m = re.search(pattern, line)
        if m:
            return m
    raise SystemExit("no line matching %s" % pattern)


def main():
    db = tmp + "/site.db"
    sim = start([build + "/brackwater-sim", "--addr", "3", "--records", "25", "--no-pacing",
                 "--tcp", "127.0.0.1:0"])
    sim_port = line_of(sim, r"^tcp .*:(\d+)$").group(1)
    lines = ["--db", db, "--tcp-port-map", "1001=" + sim_port]
    web = start([build + "/brackwater-web", "--demo", "--listen", "127.0.0.1:0", "--state-dir",
                 tmp + "/state"] + lines)
    port = line_of(web, r"listening on https://127.0.0.1:(\d+)/").group(1)
    subprocess.run([build + "/brackwater-site", "operator", "password", "admin",
                    "--password-stdin"] + lines, input="demo-pass\n", env=env, text=True,
                   check=True, stdout=subprocess.DEVNULL)
    # The simulator's records into the site's database, as the nightly run takes them.
    subprocess.run([build + "/brackwater-site", "nightly"] + lines, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    base = "https://127.0.0.1:%s" % port
    downloads = tmp + "/downloads"
    os.mkdir(downloads)
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--window-size=1200,800", "--user-data-dir=" + tmp + "/chrome"]:
        options.add_argument(flag)
    options.accept_insecure_certs = True
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    options.add_experimental_option("prefs", {"intl.accept_languages": "zh-CN,zh",
                                              "download.default_directory": downloads})
    driver = webdriver.Chrome(options=options)
    driver.set_page_load_timeout(20)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    try:
        for lang, suffix, signin, marker in [("2052", "", "登录", "无应答"),
                                             ("1028", "-zh_TW", "登入", "無回應")]:
            driver.get(base + "/lang/" + lang)
            assert driver.find_element(By.ID, "signin").text == signin, driver.page_source
            shot(driver, "signin" + suffix)
            driver.find_element(By.ID, "name").send_keys("admin")
            driver.find_element(By.ID, "password").send_keys("demo-pass")
            driver.find_element(By.ID, "signin").click()
            for _ in range(50):
                if driver.find_elements(By.ID, "signout"):
                    break
                time.sleep(0.1)
            driver.get(base + "/status?fresh=1")
            for _ in range(40):  # the first reading of the terminals
                rows = driver.find_elements(By.CSS_SELECTOR, "#terminals tbody tr")
                if len(rows) == 3:
                    break
                time.sleep(0.5)
                driver.get(base + "/status")
            silent = driver.find_elements(By.CSS_SELECTOR, "#terminals tr.silent")
            assert {r.get_attribute("data-terminal") for r in silent} == {"1", "2"}, driver.page_source
            assert marker in silent[0].text
            # What needs a hand comes first; terminal 3 answers.
            answering = driver.find_element(By.CSS_SELECTOR, "#terminals tr[data-terminal='3']")
            assert "silent" not in answering.get_attribute("class")
            shot(driver, "status" + suffix)
            driver.get(base + "/meals")
            time.sleep(0.5)
            assert driver.execute_script("return window.Chart !== undefined")
            shot(driver, "meals" + suffix)
            driver.get(base + "/month")
            shot(driver, "month" + suffix)
            for f in os.listdir(downloads):
                os.remove(os.path.join(downloads, f))
            driver.find_element(By.ID, "workbook").click()
            book = wait_file(downloads)
            total = api_total(base, driver)
            assert total > 0, total
            with zipfile.ZipFile(book) as z:
                # The sheets in the workbook's order: the employees first, the cards without an
                # employee by their name.
                titles = re.findall(r'<sheet name="([^"]*)"', z.read("xl/workbook.xml").decode())
                wanted = [0] + [i for i, t in enumerate(titles) if t in ("无员工的卡号", "無員工的卡號")]
                sheets = [z.read("xl/worksheets/sheet%d.xml" % (i + 1)).decode() for i in wanted]
            # Each sheet ends with its total row: the employees' and the cards' make the month's.
            last = [int(re.findall(r"<v>(\d+)</v>", re.findall(r"<row[^>]*>.*?</row>", s)[-1])[-1])
                    for s in sheets]
            assert last[0] + last[1] == total, last
            driver.get(base + "/log")
            assert driver.find_elements(By.CSS_SELECTOR, "#log tbody tr")
            shot(driver, "log" + suffix)
            # Nothing the pages load or run is refused by their content security policy.
            refused = [e["message"] for e in driver.get_log("browser")
                       if "Content Security Policy" in e["message"]]
            assert not refused, refused
            driver.find_element(By.ID, "signout").click()
            for _ in range(50):
                if driver.find_elements(By.ID, "signin"):
                    break
                time.sleep(0.1)
            assert driver.find_elements(By.ID, "signin"), "no sign-in page after signing out"
            driver.get(base + "/status")
            assert driver.find_elements(By.ID, "signin"), "still signed in after signing out"
    finally:
        driver.quit()


def shot(driver, name):
    if shots:
        driver.save_screenshot(os.path.join(shots, "web-%s.png" % name))


def wait_file(folder):
    for _ in range(100):
        done = [f for f in os.listdir(folder) if f.endswith(".xlsx")]
        if done:
            return os.path.join(folder, done[0])
        time.sleep(0.1)
    raise SystemExit("the workbook was not downloaded")


def api_total(base, driver):
    cookie = driver.get_cookie("bw_session")["value"]
    month = time.strftime("%Y-%m")
    request = urllib.request.Request(base + "/api/v1/meals?month=" + month,
                                     headers={"Cookie": "bw_session=" + cookie})
    context = ssl._create_unverified_context()
    with urllib.request.urlopen(request, context=context, timeout=10) as answer:
        return json.load(answer)["total"]["total"]


if __name__ == "__main__":
    try:
        main()
        print("browser test: passed")
    finally:
        for p in children:
            p.send_signal(signal.SIGTERM)
            p.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)
