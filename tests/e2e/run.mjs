// Browser tests of the brivel program: start the real program on a free port with a fresh
// data directory, drive its page in headless Chromium (Debian's /usr/bin/chromium through
// playwright-core), and check what a user sees. Screenshots of the main screens go to --out.
//
//   node run.mjs --program PATH --toast-page PATH --out DIR
//
// Exit codes: 0 when every check passed, 1 when one failed, 77 when playwright-core or
// chromium is not installed (CTest counts that as skipped).
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function option(name) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : undefined;
}

const programPath = option('--program');
const toastPagePath = option('--toast-page');
const outDir = option('--out') ?? join(tmpdir(), 'brivel-e2e');
if (!programPath || !toastPagePath) {
  console.error('usage: node run.mjs --program PATH --toast-page PATH [--out DIR]');
  process.exit(2);
}

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch {
  console.log('SKIP: playwright-core is not installed (scripts/test installs it)');
  process.exit(77);
}
if (!existsSync(CHROMIUM)) {
  console.log(`SKIP: ${CHROMIUM} is missing (scripts/test installs the chromium package)`);
  process.exit(77);
}
mkdirSync(outDir, { recursive: true });

// Starts a program and resolves with its printed address; rejects when it exits first or
// prints nothing within 20 s.
function start(path, args) {
  const child = spawn(path, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${path} printed no address in 20 s\n${stderr}`)), 20000);
    createInterface({ input: child.stdout }).on('line', (line) => {
      if (/^http:\/\/127\.0\.0\.1:\d+\/$/.test(line.trim())) {
        clearTimeout(timer);
        resolve(line.trim());
      }
    });
    exited.then(({ code, signal }) => {
      clearTimeout(timer);
      reject(new Error(`${path} exited (${code ?? signal}) before serving\n${stderr}`));
    });
  });
  return { child, url, exited, stderr: () => stderr };
}

// Ends a started program with SIGTERM and answers its exit code (null after a kill).
async function stop(run) {
  if (run.child.exitCode !== null || run.child.signalCode !== null) return run.child.exitCode;
  run.child.kill('SIGTERM');
  const timer = setTimeout(() => run.child.kill('SIGKILL'), 10000);
  const { code } = await run.exited;
  clearTimeout(timer);
  return code;
}

const results = [];
async function check(name, body) {
  try {
    await body();
    results.push({ name, ok: true });
    console.log(`ok - ${name}`);
  } catch (error) {
    results.push({ name, ok: false });
    console.log(`not ok - ${name}\n  ${String(error.stack ?? error).replace(/\n/g, '\n  ')}`);
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}

const work = mkdtempSync(join(tmpdir(), 'brivel-e2e-'));
const dataDir = join(work, 'data');
const context = await chromium.launchPersistentContext(join(work, 'chromium-profile'), {
  executablePath: CHROMIUM,
  headless: true,
  args: CHROMIUM_ARGS,
  viewport: { width: 390, height: 844 },
});
const page = context.pages()[0] ?? (await context.newPage());
page.setDefaultTimeout(10000);
const runs = [];

const settingsSwitch = () => page.locator('[data-id="dismissAutomatically"] input[type="checkbox"]');
// Opens the settings sheet unless it is open already (the app, not the page, keeps what is
// presented, so a reload shows the same sheet).
async function openSettings() {
  await page.locator('#app').waitFor({ state: 'visible' });
  if (!(await page.locator('.sheet').isVisible())) await page.locator('[data-id="settings"]').first().click();
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

  await check('settings opens as a sheet with its sections and the version', async () => {
    await openSettings();
    const sheet = await page.locator('.sheet').innerText();
    expect(/icloud/i.test(sheet), `the iCloud section is shown, got: ${sheet}`);
    expect(sheet.includes('1.0'), 'the version from the Info.plist is shown');
    expect(!(await settingsSwitch().isChecked()), 'the setting is off on a fresh installation');
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
  results.push({ name: 'setup', ok: false });
  console.log(`not ok - setup\n  ${String(error.stack ?? error)}`);
} finally {
  await context.close().catch(() => {});
  for (const run of runs) await stop(run).catch(() => {});
  rmSync(work, { recursive: true, force: true });
}

const passed = results.filter((r) => r.ok).length;
const failed = results.length - passed;
console.log(`screenshots: ${outDir}`);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
