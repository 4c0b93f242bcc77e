// The browser flow of the bills screens, in the harness style of run.mjs: start the app on a
// free port with a fresh data directory, drive its page in headless Chromium (Debian's
// /usr/bin/chromium through playwright-core), and check what a user sees.
//
//   node bills.spec.mjs --program PATH [--out DIR]
//
// Flow: the user creates a profile, adds three bills in two categories (each category made in
// place from the editor), groups the list by category, sorts it by cost, searches it, opens a
// bill and changes its cost, and deletes another bill from its row; the bills are still there
// after a restart.
// Exit codes: 0 when every check passed, 1 when one failed, 77 when playwright-core or
// chromium is not installed (CTest counts that as skipped).
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
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
const outDir = option('--out') ?? join(tmpdir(), 'brivel-e2e-bills');
if (!programPath) {
  console.error('usage: node bills.spec.mjs --program PATH [--out DIR]');
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

// ----- Page helpers -----

const work = mkdtempSync(join(tmpdir(), 'brivel-e2e-bills-'));
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
const topSheet = () => page.locator('.sheet').last();
const sheetCount = () => page.locator('.sheet').count();
const listText = async () => (await page.locator('#app').innerText());
// The names of the bill rows, top to bottom.
const rowNames = () => page.$$eval('[data-id="billRow"]', (rows) =>
  rows.filter((r) => r.offsetParent !== null).map((r) => r.innerText.trim().split('\n')[0].trim()));

// Waits until the rows read `names`, top to bottom.
async function waitRows(names, what) {
  try {
    await page.waitForFunction((want) => JSON.stringify([...document.querySelectorAll('[data-id="billRow"]')]
      .filter((r) => r.offsetParent !== null)
      .map((r) => r.innerText.trim().split('\n')[0].trim())) === JSON.stringify(want), names);
  } catch {
    throw new Error(`${what}: expected ${JSON.stringify(names)}, got ${JSON.stringify(await rowNames())}`);
  }
}

// The index among the page's row-action buttons of the one that belongs to the row named
// `name`: the first that follows that row in document order. (The page may place a row's
// action button after the row rather than inside it.)
async function rowMenuIndex(name) {
  return page.evaluate((wanted) => {
    const row = [...document.querySelectorAll('[data-id="billRow"]')]
      .find((r) => r.innerText.trim().split('\n')[0].trim() === wanted);
    const buttons = [...document.querySelectorAll('.row-more')];
    return buttons.findIndex((b) => row.contains(b) || (row.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING));
  }, name);
}

async function launch(dataDir) {
  const run = start(programPath, ['--data-dir', dataDir, '--port', '0']);
  runs.push(run);
  await page.goto(await run.url);
  await page.locator('.tab-bar').waitFor({ state: 'visible' });
  return run;
}

async function waitEnabled(id) {
  await page.waitForFunction((i) => { const b = document.querySelector(`[data-id="${i}"]`); return b && !b.disabled; }, id);
}

// Opens the menu whose trigger sits in the element `id` (a toolbar menu or a submenu).
async function openMenu(id) {
  await page.locator(`[data-id="${id}"] > .menu-button`).first().click();
}

// Adds one bill in the open editor; `category` is created in place when `create` is set,
// otherwise the editor's default pick is kept.
async function addBill(name, cost, category, create) {
  await field('billName').fill(name);
  await field('billCost').fill(cost);
  const toggle = page.locator('[data-id="connectCategory"] input[type="checkbox"]');
  if (!(await toggle.isChecked())) await toggle.click();
  await byId('createCategory').waitFor({ state: 'visible' });
  if (create) {
    await byId('createCategory').click();
    await field('linkName').fill(category);
    await waitEnabled('saveLink');
    await byId('saveLink').click();
    await field('linkName').waitFor({ state: 'detached' });
  }
  const picked = await page.$eval('[data-id="categoryPicker"] select', (s) => s.options[s.selectedIndex]?.text ?? '');
  expect(picked === category, `the editor picked "${category}", got "${picked}"`);
  await waitEnabled('saveBill');
  await byId('saveBill').click();
  // The form is emptied for the next bill.
  await page.waitForFunction(() => document.querySelector('input[data-id="billName"]')?.value === '');
}

try {
  await check('bills: add, group, sort, search, edit and delete', async () => {
    const dataDir = join(work, 'flow');
    const app = await launch(dataDir);
    expect(/No Profile Selected/i.test(await listText()), 'the no-profile state shows first');

    // A profile, created from the empty state's button.
    await page.locator('.unavailable button').first().click();
    await byId('addProfile').waitFor({ state: 'visible' });
    await byId('addProfile').click();
    await field('profileName').fill('Home');
    await waitEnabled('save');
    await byId('save').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await page.waitForFunction(() => /No Bills/i.test(document.querySelector('#app').innerText));

    // Three bills in two categories.
    await byId('addBill').click();
    await field('billName').waitFor({ state: 'visible' });
    await addBill('Rent', '900', 'Flat', true);
    await addBill('Fuel', '60,5', 'Car', true);
    await addBill('Gym', '20', 'Car', false);
    await page.screenshot({ path: join(outDir, 'bills-editor.png'), animations: 'disabled' });
    await topSheet().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await waitRows(['Fuel', 'Gym', 'Rent'], 'rows by name');

    // Grouped by category: Car before Flat, each with its bills.
    await openMenu('sortMenu');
    await openMenu('filterBy');
    await byId('group.localizable_category').click();
    await page.waitForFunction(() => document.querySelectorAll('.section').length >= 2);
    const grouped = (await listText()).toUpperCase();
    expect(/CAR\s[\s\S]*FLAT\s/.test(grouped), `Car's section first, got: ${grouped}`);
    await waitRows(['Fuel', 'Gym', 'Rent'], 'rows by section');

    // Sorted by cost: ascending, then reversed.
    await openMenu('sortMenu');
    await byId('sortBills.localizable_cost').click();
    await waitRows(['Gym', 'Fuel', 'Rent'], 'cheapest first within each section');
    await page.screenshot({ path: join(outDir, 'bills-grouped.png'), animations: 'disabled' });

    // Search: a flat list of matches, then no match.
    await page.locator('input.search-input').fill('u');
    await waitRows(['Fuel'], 'search "u"');
    await page.locator('input.search-input').fill('zzz');
    await page.waitForFunction(() => /No Bills Found/i.test(document.querySelector('#app').innerText));
    await page.screenshot({ path: join(outDir, 'bills-search.png'), animations: 'disabled' });
    await page.locator('input.search-input').fill('');
    await page.waitForFunction(() => document.querySelectorAll('[data-id="billRow"]').length === 3);

    // Open Gym and change its cost.
    await page.locator('[data-id="billRow"]', { hasText: 'Gym' }).first().click();
    await byId('updateBill').waitFor({ state: 'visible' });
    expect((await field('billCost').inputValue()) === '20.0', 'the form shows the stored cost');
    await field('billCost').fill('25,5');
    await byId('updateBill').click();
    await page.waitForFunction(() => /Saved/i.test(document.querySelector('#app').innerText));
    await page.screenshot({ path: join(outDir, 'bills-detail.png'), animations: 'disabled' });
    await page.locator('button.nav-back:visible').last().click();
    await page.waitForFunction(() => /\$25\.50/.test(document.querySelector('#app').innerText));

    // Delete Rent from its row's actions.
    await page.locator('.row-more').nth(await rowMenuIndex('Rent')).click();
    await page.locator('[data-id="deleteBill"]:visible').first().click();
    await page.locator('.dialog [data-id="confirmDelete"]').click();
    await page.waitForFunction(() => document.querySelectorAll('[data-id="billRow"]').length === 2);
    expect(!(await rowNames()).includes('Rent'), 'Rent is gone');
    await page.screenshot({ path: join(outDir, 'bills-deleted.png'), animations: 'disabled' });

    // Everything is still there after a restart.
    expect((await stop(app)) === 0, 'SIGTERM ends the program cleanly');
    await launch(dataDir);
    await page.waitForFunction(() => document.querySelectorAll('[data-id="billRow"]').length === 2);
    const restarted = await listText();
    expect(/\$25\.50/.test(restarted) && /\$60\.50/.test(restarted), `the costs were kept, got: ${restarted}`);
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
