// The browser flow of the bills screens in the brivel program (harness.mjs): start the app on a
// free port with a fresh data directory, drive its page in headless Chromium, and check what a
// user sees.
//
//   node bills_flow.mjs --program PATH [--out DIR]
//
// Flow: the user creates a profile, adds three bills in two categories (each category made in
// place from the editor), groups the list by category, sorts it by cost, searches it, opens a
// bill and changes its cost, and deletes another bill from its row; the bills are still there
// after a restart. The empty list, the bill's details and the delete dialog name their controls
// in words.
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, stop, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node bills_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-bills',
});
const programPath = options.program;
const outDir = options.out;
const symbols = symbolNames(programPath);

// ----- Page helpers -----

const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-bills-');
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]`).first();
const field = (id) => page.locator(`input[data-id="${id}"], textarea[data-id="${id}"], [data-id="${id}"] input`).first();
const topSheet = () => page.locator('.sheet').last();
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

// The row named `name` and its actions button, which sits inside the row's card.
const billRow = (name) => page.locator('[data-id="billRow"]', { hasText: name }).first();
const rowMenu = (name) => billRow(name).locator('.row-more').first();

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
    await field('categoryName').fill(category);
    await waitEnabled('saveCategory');
    await byId('saveCategory').click();
    await field('categoryName').waitFor({ state: 'detached' });
  }
  const picked = await page.$eval('[data-id="categoryPicker"] select', (s) => s.options[s.selectedIndex]?.text ?? '');
  expect(picked === category, `the editor picked "${category}", got "${picked}"`);
  // The picker is named for what it picks, not after the switch above it.
  const pickerName = await page.$eval('[data-id="categoryPicker"] select', (s) => s.getAttribute('aria-label'));
  expect(pickerName === 'Category', `the category picker is named "${pickerName}"`);
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
    // Controls without a name in words, on the screens this flow walks.
    const unnamed = await unnamedControls(page, symbols, 'no profile selected');

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
    await addBill('Rent', '900', 'flat', true);
    await addBill('Fuel', '60,5', 'car', true);
    await addBill('Gym', '20', 'car', false);
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

    // A card row is one control: its actions stay inside it and its swipe tray stays hidden
    // until swiped; the keyboard opens it with Enter.
    for (const name of ['Fuel', 'Gym', 'Rent']) {
      expect(await rowMenu(name).count() === 1, `${name}'s actions button is inside its row`);
    }
    expect(!(await page.locator('.swipe-tray').first().isVisible()), 'no swipe tray shows before a swipe');
    await billRow('Fuel').focus();
    await page.keyboard.press('Enter');
    await byId('updateBill').waitFor({ state: 'visible' });
    expect((await field('billName').inputValue()) === 'Fuel', 'Enter opened the focused row');
    // Its controls have names in words, with every optional row shown (leaving drops the edits).
    for (const toggle of ['connectBankAccount', 'connectNote']) {
      await page.locator(`[data-id="${toggle}"] input[type="checkbox"]:visible`).click();
    }
    await page.locator('[data-id="occurring"] select:visible').selectOption({ label: 'Yearly' });
    await page.locator('[data-id="createBankAccount"]:visible').waitFor();
    await page.locator('[data-id="monthPicker"] select:visible').waitFor();
    await field('billNote').waitFor({ state: 'visible' });
    unnamed.push(...(await unnamedControls(page, symbols, 'bill details')));
    expect(await page.getByRole('textbox', { name: 'Note', exact: true }).count() === 1, 'the note field is named "Note"');
    await page.locator('button.nav-back:visible').last().click();
    await byId('updateBill').waitFor({ state: 'detached' });

    // Open Gym and change its cost.
    await billRow('Gym').click();
    await byId('updateBill').waitFor({ state: 'visible' });
    expect((await field('billCost').inputValue()) === '20.0', 'the form shows the stored cost');
    await field('billCost').fill('25,5');
    await byId('updateBill').click();
    await page.waitForFunction(() => /Saved/i.test(document.querySelector('#app').innerText));
    await page.screenshot({ path: join(outDir, 'bills-detail.png'), animations: 'disabled' });
    await page.locator('button.nav-back:visible').last().click();
    await page.waitForFunction(() => /\$25\.50/.test(document.querySelector('#app').innerText));

    // Delete Rent from its row's actions.
    await billRow('Rent').hover();
    await rowMenu('Rent').click();
    await page.locator('[data-id="deleteBill"]:visible').first().click();
    await page.locator('.dialog [data-id="confirmDelete"]').waitFor();
    unnamed.push(...(await unnamedControls(page, symbols, 'delete dialog')));
    await page.locator('.dialog [data-id="confirmDelete"]').click();
    await page.waitForFunction(() => document.querySelectorAll('[data-id="billRow"]').length === 2);
    expect(!(await rowNames()).includes('Rent'), 'Rent is gone');
    await page.screenshot({ path: join(outDir, 'bills-deleted.png'), animations: 'disabled' });
    expect(unnamed.length === 0, `controls without a name in words:\n${unnamed.join('\n')}`);

    // Everything is still there after a restart.
    expect((await stop(app)) === 0, 'SIGTERM ends the program cleanly');
    await launch(dataDir);
    await page.waitForFunction(() => document.querySelectorAll('[data-id="billRow"]').length === 2);
    const restarted = await listText();
    expect(/\$25\.50/.test(restarted) && /\$60\.50/.test(restarted), `the costs were kept, got: ${restarted}`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir });
}
