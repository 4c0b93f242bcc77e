// Browser flows of the profiles screens, in the harness style of run.mjs: start the app on a
// free port with a fresh data directory, drive its page in headless Chromium (Debian's
// /usr/bin/chromium through playwright-core), and check what a user sees.
//
//   node profiles.spec.mjs --program PATH [--out DIR]
//
// Flows: on a first launch the user creates the first profile and it is selected; with
// legacy data seeded into the app-group suite the user imports it, the imported bills are
// in the new profile, and the legacy data is kept or removed as the delete-backup switch says.
// Exit codes: 0 when every check passed, 1 when one failed, 77 when playwright-core or
// chromium is not installed (CTest counts that as skipped).
import { spawn } from 'node:child_process';
import { randomUUID } from 'node:crypto';
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
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
const outDir = option('--out') ?? join(tmpdir(), 'brivel-e2e-profiles');
if (!programPath) {
  console.error('usage: node profiles.spec.mjs --program PATH [--out DIR]');
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

// ----- Legacy data, as the earlier generation stored it -----

const escapeXml = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const plist = (body) => `<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">${body}</plist>\n`;
const str = (s) => `<string>${escapeXml(s)}</string>`;
const ringXml = (name) => `<dict><key>id</key>${str(randomUUID().toUpperCase())}<key>name</key>${str(name)}</dict>`;
function billXml({ title, amount, ring }) {
  return `<dict><key>id</key>${str(randomUUID().toUpperCase())}<key>title</key>${str(title)}` +
    `<key>amount</key><real>${amount}</real><key>note</key>${str('')}` +
    '<key>occurring</key><integer>0</integer><key>startingMonth</key><integer>0</integer>' +
    '<key>startingMonthYearly</key><integer>0</integer>' +
    (ring ? `<key>ring</key>${ringXml(ring)}` : '') + '</dict>';
}
const data = (xml) => `<data>${Buffer.from(xml).toString('base64')}</data>`;

// Writes the legacy lists into the app-group suite of `dataDir`.
function seedLegacy(dataDir, { rings, bills }) {
  const prefs = join(dataDir, 'Preferences');
  mkdirSync(prefs, { recursive: true });
  const suite = `<dict><key>newBillz</key>${data(plist(`<array>${bills.map(billXml).join('')}</array>`))}` +
    `<key>ringCollectionItems</key>${data(plist(`<array>${rings.map(ringXml).join('')}</array>`))}</dict>`;
  writeFileSync(join(prefs, 'group.ruv.vantoru.Duvenmark.plist'), plist(suite));
}

// ----- Page helpers -----

const work = mkdtempSync(join(tmpdir(), 'brivel-e2e-profiles-'));
const context = await chromium.launchPersistentContext(join(work, 'chromium-profile'), {
  executablePath: CHROMIUM,
  headless: true,
  args: CHROMIUM_ARGS,
  viewport: { width: 390, height: 844 },
});
const page = context.pages()[0] ?? (await context.newPage());
page.setDefaultTimeout(10000);
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]`).first();
const field = (id) => page.locator(`input[data-id="${id}"], textarea[data-id="${id}"], [data-id="${id}"] input`).first();
const selectedName = async () => (await byId('selectedProfile').innerText()).trim();

async function launch(dataDir) {
  const run = start(programPath, ['--data-dir', dataDir, '--port', '0']);
  runs.push(run);
  await page.goto(await run.url);
  await page.locator('.tab-bar').waitFor({ state: 'visible' });
  return run;
}

async function openProfiles() {
  await byId('profiles').click();
  await byId('addProfile').waitFor({ state: 'visible' });
}

// Imports the seeded legacy data as `name`, with the delete-backup switch as given, and closes.
async function importLegacy(name, deleteBackup, shot) {
  await openProfiles();
  await byId('backup').click();
  await byId('importAction').waitFor({ state: 'visible' });
  await field('profileName').fill(name);
  await page.waitForFunction(() => !document.querySelector('[data-id="importAction"]')?.disabled);
  await byId('importAction').click();
  // Two paced steps of 0.66 s, then "Close" is enabled.
  await byId('deleteBackup').waitFor({ state: 'visible', timeout: 5000 });
  const result = await page.locator('.nav-page:not([hidden])').last().innerText();
  expect(/Rent/.test(result) && /Groceries/.test(result), `the result lists the imported bills, got: ${result}`);
  if (shot) await page.screenshot({ path: join(outDir, shot), animations: 'disabled' });
  const toggle = page.locator('[data-id="deleteBackup"] input[type="checkbox"]');
  if ((await toggle.isChecked()) !== deleteBackup) await toggle.click();
  await page.waitForFunction(
    (want) => document.querySelector('[data-id="deleteBackup"] input[type="checkbox"]')?.checked === want, deleteBackup);
  await byId('importAction').click();
  await byId('addProfile').waitFor({ state: 'visible' });
}

const legacy = { rings: ['Food'], bills: [{ title: 'Rent', amount: 900 }, { title: 'Groceries', amount: 50, ring: 'Food' }] };

try {
  await check('first launch: the first profile created is selected', async () => {
    const dataDir = join(work, 'first');
    const app = await launch(dataDir);
    expect((await selectedName()) === '-', 'nothing is selected on a first launch');
    await openProfiles();
    const empty = await page.locator('.sheet').last().innerText();
    expect(/Add/.test(empty), `the empty state offers to add, got: ${empty}`);
    await page.screenshot({ path: join(outDir, 'profiles-empty.png'), animations: 'disabled' });
    await byId('addProfile').click();
    await field('profileName').fill('  Home ');
    await page.waitForFunction(() => !document.querySelector('[data-id="save"]')?.disabled);
    await byId('save').click();
    // Both the add sheet and the profiles list close.
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    expect((await selectedName()) === 'Home', `the new profile is selected, got "${await selectedName()}"`);
    expect(await page.locator('.tab-bar .tab-item').count() === 2, 'the forecast tab appears with a selection');
    await openProfiles();
    const list = await page.locator('.sheet').last().innerText();
    expect(/Home/.test(list), `the list shows the profile, got: ${list}`);
    await page.screenshot({ path: join(outDir, 'profiles-list.png'), animations: 'disabled' });

    // The selection is remembered across a restart.
    expect((await stop(app)) === 0, 'SIGTERM ends the program cleanly');
    await launch(dataDir);
    await page.waitForFunction(() => document.querySelector('[data-id="selectedProfile"]')?.innerText.trim() === 'Home');
  });

  await check('legacy import with the switch on: bills in the new profile, legacy data removed', async () => {
    const dataDir = join(work, 'import-delete');
    seedLegacy(dataDir, legacy);
    const app = await launch(dataDir);
    await importLegacy('Old Budget', true, 'import-finished.png');
    expect(!(await byId('backup').isVisible()), 'the backup row is gone');
    await byId('close').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    expect((await selectedName()) === 'Old Budget', `the imported profile is selected, got "${await selectedName()}"`);

    await stop(app);
    await launch(dataDir);
    await openProfiles();
    expect(!(await byId('backup').isVisible()), 'the legacy data stays removed after a restart');
  });

  await check('legacy import with the switch off: the legacy data is kept', async () => {
    const dataDir = join(work, 'import-keep');
    seedLegacy(dataDir, legacy);
    const app = await launch(dataDir);
    await importLegacy('Old Budget', false);
    expect(await byId('backup').isVisible(), 'the backup row is still offered');
    await stop(app);
    await launch(dataDir);
    await openProfiles();
    await byId('backup').waitFor({ state: 'visible' });
    const list = await page.locator('.sheet').last().innerText();
    expect(/Old Budget/.test(list), `the imported profile was stored, got: ${list}`);
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
