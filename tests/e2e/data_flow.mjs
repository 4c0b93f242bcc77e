// Browser flows of how the brivel program guards its user's data (harness.mjs): the page opens
// only through the printed address, and a damaged settings file is set aside with a notice the
// user sees above the screens and can dismiss while the app works on.
//
//   node data_flow.mjs --program PATH [--out DIR]
//
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

import { check, expect, failSetup, finish, openBrowser, setUp, start, stop } from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node data_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-data',
});
const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-data-');
const runs = [];

try {
  const dataDir = join(work, 'data');
  const prefs = join(dataDir, 'Preferences');
  mkdirSync(prefs, { recursive: true });
  const damaged = Buffer.from('bplist00 this is not what Brivel wrote \xff\xfe', 'latin1');
  writeFileSync(join(prefs, 'standard.plist'), damaged);
  const app = start(options.program, ['--data-dir', dataDir, '--port', '0']);
  runs.push(app);
  const url = await app.url;

  await check('the address without its secret shows how to open Brivel, not the app', async () => {
    await page.goto(url.slice(0, url.indexOf('?')));
    const text = await page.locator('body').innerText();
    expect(/Open Brivel from its address/.test(text), `the how-to page, got: ${text}`);
    expect(await page.locator('#app').count() === 0, 'no app on that page');
  });

  await check('a damaged settings file is set aside and the user is told where', async () => {
    await page.goto(url);
    const notice = page.locator('.data-notice');
    await notice.waitFor({ state: 'visible' });
    const text = await notice.innerText();
    expect(text.includes(join(prefs, 'standard.plist.unreadable')), `the notice names the file, got: ${text}`);
    expect(readFileSync(join(prefs, 'standard.plist.unreadable')).equals(damaged), 'the damaged file is kept as it was');
    await page.locator('.tab-bar').waitFor({ state: 'visible' });
    await page.screenshot({ path: join(options.out, 'data-notice.png'), animations: 'disabled' });
  });

  await check('the notice goes when the user dismisses it, and the app works on', async () => {
    await page.locator('.data-notice-dismiss').click();
    await page.locator('.data-notice').waitFor({ state: 'detached' });
    await page.locator('[data-id="profileMenu"] > .menu-button').click();
    await page.locator('[data-id="settings"]').first().click();
    await page.locator('.sheet').waitFor({ state: 'visible' });
    const code = await stop(app);
    expect(code === 0, `SIGTERM ends the program cleanly (exit ${code})\n${app.stderr()}`);
    expect(app.stderr().includes('standard.plist.unreadable'), `stderr says so too:\n${app.stderr()}`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir: options.out });
}
