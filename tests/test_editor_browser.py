"""The editor demo in headless Chromium against the real lsp_bridge module.

Slow and needs Chromium and the demo's npm packages, so it only runs when
LSP_BRIDGE_BROWSER_TEST=1 (`make test-browser` sets it and installs both).
The steps themselves live in demo/e2e/steps.mjs; each one is reported here as
its own test. Screenshots go to build/demo-screenshots/.
"""

import json
import os
import shutil
import subprocess
import sys

import pytest

pytestmark = pytest.mark.skipif(
    os.environ.get("LSP_BRIDGE_BROWSER_TEST") != "1",
    reason="browser test: run it with `make test-browser`")

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEMO = os.path.join(REPO, "demo")
SHOTS = os.path.join(REPO, "build", "demo-screenshots")
CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
STEPS = ["a", "b", "c", "d", "e", "f"]
DRIVER_TIMEOUT = 240


def _start_server(log):
    proc = subprocess.Popen(
        [sys.executable, os.path.join(DEMO, "server.py"), "--port", "0"],
        stdout=subprocess.PIPE, stderr=log, text=True, cwd=REPO)
    line = proc.stdout.readline()
    if not line.startswith("listening on "):
        proc.kill()
        proc.wait()
        pytest.fail(f"demo server did not start (said {line!r}); see {log.name}")
    return proc, line.split()[-1]


def _stop_server(proc):
    proc.terminate()
    try:
        proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


@pytest.fixture(scope="module")
def browser_report():
    for need, hint in ((CHROMIUM, "apt-get install chromium"),
                       (os.path.join(DEMO, "node_modules", "playwright-core"), "npm ci in demo/")):
        if not os.path.exists(need):
            pytest.fail(f"{need} is missing ({hint}; `make test-browser` does both)")
    if os.path.isdir(SHOTS):
        shutil.rmtree(SHOTS)
    os.makedirs(SHOTS)
    report_path = os.path.join(SHOTS, "report.json")
    with open(os.path.join(SHOTS, "server.log"), "w") as log:
        proc, url = _start_server(log)
        try:
            driver = subprocess.run(
                ["node", os.path.join(DEMO, "e2e", "editor.test.mjs"), url, SHOTS, report_path],
                capture_output=True, text=True, timeout=DRIVER_TIMEOUT, cwd=DEMO)
        finally:
            _stop_server(proc)
    print(driver.stdout, driver.stderr, sep="\n")
    if not os.path.exists(report_path):
        pytest.fail(f"the browser driver stopped early (exit {driver.returncode}):\n"
                    f"{driver.stdout}\n{driver.stderr}")
    with open(report_path) as f:
        return {step["id"]: step for step in json.load(f)}


@pytest.mark.parametrize("step_id", STEPS)
def test_editor_step(browser_report, step_id):
    step = browser_report.get(step_id)
    assert step is not None, f"step {step_id} did not run"
    assert os.path.isfile(step["screenshot"])
    assert step["ok"], f"({step_id}) {step['title']}: {step['error']}"
