// Browser tests of the brivel program: start the real program on a free port with a fresh
// data directory, drive its page in headless Chromium (Debian's /usr/bin/chromium through
// playwright-core), and check what a user sees. Screenshots of the main screens go to --out.
//
//   node run.mjs --program PATH --toast-page PATH --out DIR
//
// Exit codes: 0 when every check passed, 1 when one failed, 77 when playwright-core or
// chromium is not installed (CTest counts that as skipped).
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, stop, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program', 'toast-page'],
  usage: 'node run.mjs --program PATH --toast-page PATH [--out DIR]',
  defaultOut: 'brivel-e2e',
});
const programPath = options.program;
const toastPagePath = options['toast-page'];
const outDir = options.out;
const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-');
const dataDir = join(work, 'data');
const runs = [];

const settingsSwitch = () => page.locator('[data-id="dismissAutomatically"] input[type="checkbox"]');
// Opens the settings sheet unless it is open already (the app, not the page, keeps what is
// presented, so a reload shows the same sheet).
async function openSettings() {
  await page.locator('#app').waitFor({ state: 'visible' });
  if (!(await page.locator('.sheet').isVisible())) {
    // Settings is an item of the bills list's profile menu.
    await page.locator('[data-id="profileMenu"] > .menu-button').click();
    await page.locator('[data-id="settings"]').first().click();
  }
  await page.locator('.sheet').waitFor({ state: 'visible' });
}

try {
  const app = start(programPath, ['--data-dir', dataDir, '--port', '0']);
  runs.push(app);
  const url = await app.url;

  await check('the root screen shows the bills tab with its empty state', async () => {
    await page.goto(url);
    await page.locator('.tab-bar').waitFor({ state: 'visible' });
    expect(await page.locator('.tab-bar .tab-item').count() === 1, 'one tab while no profile is selected');
    const text = await page.locator('#app').innerText();
    expect(/No Profile Selected/i.test(text), `empty state shown, got: ${text}`);
    await page.screenshot({ path: join(outDir, 'root.png'), animations: 'disabled' });
  });

  await check('settings opens as a sheet with its sections, the version and its controls named', async () => {
    await openSettings();
    const sheet = await page.locator('.sheet').innerText();
    expect(/icloud/i.test(sheet), `the iCloud section is shown, got: ${sheet}`);
    expect(sheet.includes('1.0'), 'the version from the Info.plist is shown');
    expect(!(await settingsSwitch().isChecked()), 'the setting is off on a fresh installation');
    const bad = await unnamedControls(page, symbolNames(programPath), 'settings');
    expect(bad.length === 0, `controls without a name in words:\n${bad.join('\n')}`);
    await page.screenshot({ path: join(outDir, 'settings.png'), animations: 'disabled' });
  });

  await check('a flipped setting is kept across a reload and a restart', async () => {
    await settingsSwitch().click();
    await page.waitForFunction(
      () => document.querySelector('[data-id="dismissAutomatically"] input[type="checkbox"]')?.checked === true);
    await page.reload();
    await openSettings();
    expect(await settingsSwitch().isChecked(), 'still on after a reload');

    const code = await stop(app);
    expect(code === 0, `SIGTERM ends the program cleanly (exit ${code})\n${app.stderr()}`);
    const again = start(programPath, ['--data-dir', dataDir]);
    runs.push(again);
    await page.goto(await again.url);
    await openSettings();
    expect(await settingsSwitch().isChecked(), 'still on after the program restarted');
    await page.screenshot({ path: join(outDir, 'settings-kept.png'), animations: 'disabled' });
  });

  await check('the close button closes the settings sheet', async () => {
    await page.locator('.sheet [data-id="close"]').click();
    await page.locator('.sheet').waitFor({ state: 'detached' });
  });

  await check('a store that cannot be opened shows only the failure screen', async () => {
    const brokenDir = join(work, 'broken');
    mkdirSync(brokenDir, { recursive: true });
    const unreadable = 'this is not a database, and must not be overwritten';
    writeFileSync(join(brokenDir, 'Brivel.store'), unreadable);
    const broken = start(programPath, ['--data-dir', brokenDir]);
    runs.push(broken);
    await page.goto(await broken.url);
    const link = page.locator('a[href^="mailto:"]');
    await link.waitFor({ state: 'visible' });
    expect((await link.getAttribute('href')) === 'mailto:support@brivel.invalid', 'the support link');
    expect(await page.locator('.tab-bar').count() === 0, 'no tabs');
    await page.screenshot({ path: join(outDir, 'store-unavailable.png'), animations: 'disabled' });
    await stop(broken);
    expect(readFileSync(join(brokenDir, 'Brivel.store'), 'utf8') === unreadable, 'the unreadable store is left as it was');
  });

  const toastPage = start(toastPagePath, []);
  runs.push(toastPage);
  await check('a toast appears and clears itself without a reload', async () => {
    await page.goto(await toastPage.url);
    const navigations = [];
    page.on('framenavigated', (frame) => { if (frame === page.mainFrame()) navigations.push(frame.url()); });
    await page.locator('[data-id="save"]').click();
    const toast = page.locator('[data-id="toast"]');
    await toast.waitFor({ state: 'visible', timeout: 1500 });
    expect((await toast.innerText()).trim() === 'Added', `toast text, got "${await toast.innerText()}"`);
    await page.screenshot({ path: join(outDir, 'toast.png'), animations: 'disabled' });
    const shownAt = Date.now();
    await toast.waitFor({ state: 'detached', timeout: 5000 });
    const shownFor = Date.now() - shownAt;
    expect(shownFor < 4000, `the toast went after about 1.66 s (took ${shownFor} ms)`);
    expect(navigations.length === 0, `no reload happened (${navigations.join(', ')})`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir });
}
