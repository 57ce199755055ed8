// Drives the demo page in headless Chromium and checks the editor features
// end to end. Usage: node editor.test.mjs URL SCREENSHOT_DIR [REPORT_JSON]
// Prints one PASS/FAIL line per step and exits non-zero if any step failed.

import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
import { steps } from './steps.mjs';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-quic', '--no-first-run', '--disable-component-update', '--disable-sync',
];

async function main() {
  const [url, shotDir, reportPath] = process.argv.slice(2);
  if (!url || !shotDir) {
    console.error('usage: node editor.test.mjs URL SCREENSHOT_DIR [REPORT_JSON]');
    return 2;
  }
  mkdirSync(shotDir, { recursive: true });
  // A fresh, empty profile each run: nothing cached from an earlier one.
  const profile = mkdtempSync(join(tmpdir(), 'demo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 1280, height: 760 },
  });
  const results = [];
  try {
    const page = context.pages()[0] || await context.newPage();
    // Monaco rejects superseded requests with "Canceled"; that is not a fault.
    page.on('pageerror', (error) => {
      if (error.message !== 'Canceled') console.log(`  page error: ${error.message}`);
    });
    await page.goto(url);
    await page.waitForSelector('body[data-ready="true"]', { timeout: 60000 });
    for (const step of steps) {
      const shot = join(shotDir, `${step.id}-${step.slug}.png`);
      let error = null;
      let shotTaken = false;
      // A step calls this at the moment that proves its point; otherwise
      // (and always on failure) the screen is taken when the step ends.
      const takeShot = async () => {
        await page.screenshot({ path: shot, animations: 'disabled' });
        shotTaken = true;
      };
      try {
        await step.run(page, takeShot);
      } catch (e) {
        error = e;
      }
      if (error || !shotTaken) await page.screenshot({ path: shot, animations: 'disabled' }).catch(() => {});
      const ok = error === null;
      results.push({ id: step.id, title: step.title, ok, error: ok ? null : String(error.message || error), screenshot: shot });
      console.log(`${ok ? 'PASS' : 'FAIL'} (${step.id}) ${step.title}${ok ? '' : `\n     ${error.message || error}`}`);
      if (!ok) await page.keyboard.press('Escape').catch(() => {});
    }
  } finally {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  }
  const failed = results.filter((r) => !r.ok).length;
  if (reportPath) writeFileSync(reportPath, JSON.stringify(results, null, 2));
  console.log(`${results.length - failed} passed, ${failed} failed`);
  return failed ? 1 : 0;
}

main().then((code) => { process.exitCode = code; }, (error) => {
  console.error(error);
  process.exitCode = 2;
});
