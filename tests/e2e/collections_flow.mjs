// The browser flow of a profile's bank accounts, categories and notes in the brivel program
// (harness.mjs): start the app with a fresh data directory, drive its page in headless
// Chromium, and check what a user sees.
//
//   node collections_flow.mjs --program PATH [--out DIR]
//
// Flow: the user creates a profile and adds a bill, making its category in place from the bill
// editor; opens the profile's bank accounts from the profile editor, adds two accounts in one
// go (the form stays open), renames one, links the bill that has no account, and deletes that
// account from its row (the bill is without an account again); then adds, edits and deletes a
// note from the notes sheet of the bills list.
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node collections_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-collections',
});
const programPath = options.program;
const outDir = options.out;

const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-collections-');
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]:visible`).first();
const field = (id) => page.locator(`input[data-id="${id}"]:visible, textarea[data-id="${id}"]:visible, [data-id="${id}"] input:visible`).first();
const appText = async () => (await page.locator('#app').innerText());
const waitText = (pattern) => page.waitForFunction((p) => new RegExp(p, 'i').test(document.querySelector('#app').innerText), pattern.source);
// The names of the visible rows with `id`, top to bottom.
const rowNames = (id) => page.$$eval(`[data-id="${id}"]`, (rows) =>
  rows.filter((r) => r.offsetParent !== null).map((r) => r.innerText.trim().split('\n')[0].trim()));
async function waitRows(id, names, what) {
  try {
    await page.waitForFunction(([i, want]) => JSON.stringify([...document.querySelectorAll(`[data-id="${i}"]`)]
      .filter((r) => r.offsetParent !== null)
      .map((r) => r.innerText.trim().split('\n')[0].trim())) === JSON.stringify(want), [id, names]);
  } catch {
    throw new Error(`${what}: expected ${JSON.stringify(names)}, got ${JSON.stringify(await rowNames(id))}`);
  }
}
async function waitEnabled(id) {
  await page.waitForFunction((i) => [...document.querySelectorAll(`[data-id="${i}"]`)]
    .some((b) => b.offsetParent !== null && !b.disabled), id);
}
// Opens the actions of the row `id` named `name` and picks the action `actionId`.
async function rowAction(id, name, actionId) {
  const host = page.locator('.actions-host', { has: page.locator(`[data-id="${id}"]`, { hasText: name }) }).first();
  await host.hover();
  await host.locator('.row-more').first().click();
  await page.locator(`[data-id="${actionId}"]:visible`).first().click();
}
const back = () => page.locator('button.nav-back:visible').last().click();
const symbols = symbolNames(programPath);
// Controls on the top-most screen without a name in words, gathered over the whole flow.
const unnamed = [];
const lookAtNames = async (what) => unnamed.push(...(await unnamedControls(page, symbols, what)));

try {
  await check('collections: accounts, in-place category, linking and notes', async () => {
    const run = start(programPath, ['--data-dir', join(work, 'flow'), '--port', '0']);
    runs.push(run);
    await page.goto(await run.url);
    await page.locator('.tab-bar').waitFor({ state: 'visible' });

    // A profile, and one bill whose category is made in place from the editor.
    await page.locator('.unavailable button').first().click();
    await byId('addProfile').click();
    await field('profileName').fill('Home');
    await waitEnabled('save');
    await byId('save').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await byId('addBill').click();
    await field('billName').fill('Rent');
    await field('billCost').fill('900');
    await page.locator('[data-id="connectCategory"] input[type="checkbox"]').click();
    await byId('createCategory').click();
    await field('categoryName').waitFor({ state: 'visible' });
    await lookAtNames('new category');
    // The colour row is wider than the page: it fades out where it is cut, and its last colour
    // scrolls clear of the fade.
    const colours = await page.locator('.sheet .scroll-h:visible').last().evaluate((el) => {
      el.scrollLeft = el.scrollWidth;
      const items = el.querySelectorAll('[data-id^="swatch."]');
      const last = items[items.length - 1].getBoundingClientRect();
      return { mask: getComputedStyle(el).maskImage || getComputedStyle(el).webkitMaskImage, wider: el.scrollWidth > el.clientWidth,
               clear: el.getBoundingClientRect().right - last.right };
    });
    expect(colours.wider && /gradient/.test(colours.mask), `the colour row gives no sign that it scrolls: ${JSON.stringify(colours)}`);
    expect(colours.clear >= 16, `the last colour stays under the fade: ${JSON.stringify(colours)}`);
    await field('categoryName').fill('  Flat ');
    await waitEnabled('saveCategory');
    await byId('saveCategory').click();
    await field('categoryName').waitFor({ state: 'detached' });
    const picked = await page.$eval('[data-id="categoryPicker"] select', (s) => s.options[s.selectedIndex]?.text ?? '');
    expect(picked === 'flat', `the new category is picked, stored trimmed and lower-cased, got "${picked}"`);
    await waitEnabled('saveBill');
    await byId('saveBill').click();
    await page.waitForFunction(() => document.querySelector('input[data-id="billName"]')?.value === '');
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);

    // Bank accounts, pushed from the profile editor.
    await page.locator('[data-id="profileMenu"] .menu-button').first().click();
    await byId('editProfile').click();
    await page.locator('.sheet a, .sheet button', { hasText: 'Bank Accounts' }).first().click();
    await waitText(/No Bank Accounts/);
    await lookAtNames('bank accounts');
    await byId('add').click();
    await lookAtNames('new bank account');
    for (const [name, number] of [['Main', 'DE 01'], ['Savings', 'DE 02']]) {
      await field('bankAccountName').fill(name);
      await field('bankAccountNumber').fill(number);
      await waitEnabled('saveBankAccount');
      await byId('saveBankAccount').click();
      await page.waitForFunction(() => document.querySelector('input[data-id="bankAccountName"]')?.value === '');
    }
    expect(await field('bankAccountName').isVisible(), 'the add form stays open after each save');
    await page.screenshot({ path: join(outDir, 'collections-account-add.png'), animations: 'disabled' });
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await field('bankAccountName').waitFor({ state: 'detached' });
    await waitRows('bankAccountRow', ['main', 'savings'], 'accounts by name');

    // Rename one.
    await page.locator('[data-id="bankAccountRow"]', { hasText: 'savings' }).first().click();
    await byId('update').waitFor({ state: 'visible' });
    await lookAtNames('bank account details');
    // The title bar's bold Update ends as far from the right edge as the back chevron starts
    // from the left one.
    const insets = await byId('update').evaluate((button) => {
      const bar = button.closest('.nav-bar').getBoundingClientRect();
      // The back chevron of this screen, on its own bar or on the one it was pushed from.
      const chevron = [...(button.closest('.sheet') ?? document).querySelectorAll('.nav-back .icon')]
        .filter((icon) => icon.offsetParent !== null).pop().getBoundingClientRect();
      const words = (button.querySelector('.text') ?? button).getBoundingClientRect();
      return { leading: chevron.left - bar.left, trailing: bar.right - words.right };
    });
    expect(Math.abs(insets.leading - insets.trailing) <= 2, `the title bar's insets differ: ${JSON.stringify(insets)}`);
    await field('bankAccountName').fill('Reserve');
    await byId('update').click();
    await waitText(/Saved/);
    await back();
    await waitRows('bankAccountRow', ['main', 'reserve'], 'renamed account');

    // Link the bill without an account; the last link closes the pushed screen only.
    await byId('uncategorized').click();
    await page.locator('[data-id="linkBill"]').first().waitFor();
    await lookAtNames('bills without an account');
    await page.locator('[data-id="linkBill"] > .menu-button').first().click();
    await page.locator('.menu-popup:visible button', { hasText: 'reserve' }).first().click();
    await byId('uncategorized').waitFor({ state: 'detached' }).catch(() => {});
    await page.waitForFunction(() => !document.querySelector('[data-id="linkBill"]'));
    await waitRows('bankAccountRow', ['main', 'reserve'], 'the list stays open after the last link');
    expect(!(await byId('uncategorized').isVisible().catch(() => false)), 'no bill is without an account');

    // Delete the linked account from its row: the bill is without an account again.
    await rowAction('bankAccountRow', 'reserve', 'deleteBankAccount');
    await page.locator('.dialog [data-id="confirmDelete"]').click();
    await waitRows('bankAccountRow', ['main'], 'the account is gone');
    await byId('uncategorized').waitFor({ state: 'visible' });
    await page.screenshot({ path: join(outDir, 'collections-accounts.png'), animations: 'disabled' });

    // The unlinked bill's row puts its cost at the trailing edge, as every bill list does.
    await byId('uncategorized').click();
    await page.locator('[data-id="linkBill"]').first().waitFor();
    const costGap = await page.locator('[data-id="linkBill"]').first().evaluate((el) => {
      const row = el.closest('.row').getBoundingClientRect();
      const cost = [...el.querySelectorAll('*')].find((e) => e.children.length === 0 && /\$900\.00/.test(e.textContent));
      return { end: row.right - cost.getBoundingClientRect().right, width: row.width };
    });
    expect(costGap.end >= 0 && costGap.end <= 40, `the cost ends ${costGap.end}px before its ${costGap.width}px row ends`);
    await page.screenshot({ path: join(outDir, 'collections-uncategorized.png'), animations: 'disabled' });
    await back();
    await byId('uncategorized').waitFor({ state: 'visible' });
    await back();
    await lookAtNames('profile editor');
    await page.locator('.sheet a, .sheet button', { hasText: 'Categories' }).first().click();
    await waitRows('categoryRow', ['flat'], 'the category made in the bill editor');
    await lookAtNames('categories');
    await page.locator('[data-id="categoryRow"]', { hasText: 'flat' }).first().click();
    await byId('update').waitFor({ state: 'visible' });
    await lookAtNames('category details');
    await back();
    await waitRows('categoryRow', ['flat'], 'back on the categories');
    await back();
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);

    // Notes, in the sheet of the bills list's quick action.
    await page.locator('[data-id="profileMenu"] .menu-button').first().click();
    await byId('quickAction').click();
    await waitText(/No Notes/);
    await byId('add').click();
    await field('noteName').waitFor({ state: 'visible' });
    await lookAtNames('new note');
    await field('noteName').fill('Groceries');
    await field('noteText').fill('  Buy Milk ');
    await waitEnabled('saveNote');
    await byId('saveNote').click();
    await waitText(/Added/);
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await waitRows('noteRow', ['groceries'], 'the note is listed');
    expect(/Buy Milk/.test(await appText()), 'the note shows its text');
    await lookAtNames('notes');
    // The count badge casts the faint shadow of its fill (black at 33 %, radius 1), and its
    // rounded clip leaves the shadow room.
    const badge = await page.locator('[data-id="countBadge"]:visible').first().evaluate((el) => {
      const clip = el.closest('.layered');
      const fill = clip.querySelector(':scope > .layer-background > *');
      return { filter: getComputedStyle(fill).filter, overflow: getComputedStyle(clip).overflow, clip: getComputedStyle(clip).clipPath };
    });
    expect(/drop-shadow\((rgba\(0, 0, 0, 0\.33\)|color\(srgb 0 0 0 \/ 0\.33\)) 0px 0px 1px\)/.test(badge.filter),
      `the badge's fill casts no shadow: ${JSON.stringify(badge)}`);
    expect(badge.overflow === 'visible' && /^inset\(-[1-9]/.test(badge.clip), `the badge's clip cuts its shadow off: ${JSON.stringify(badge)}`);

    await page.locator('[data-id="noteRow"]', { hasText: 'groceries' }).first().click();
    await byId('update').waitFor({ state: 'visible' });
    await lookAtNames('note details');
    await field('noteName').fill('Weekly Shop');
    await byId('update').click();
    await waitText(/Saved/);
    await back();
    await waitRows('noteRow', ['weekly shop'], 'the note was renamed');

    await rowAction('noteRow', 'weekly shop', 'deleteNote');
    await page.locator('.dialog [data-id="confirmDelete"]').click();
    await waitText(/No Notes/);
    await page.screenshot({ path: join(outDir, 'collections-notes.png'), animations: 'disabled' });
  });

  await check('every screen of the flow names its controls in words', async () => {
    expect(unnamed.length === 0, `controls without a name in words:\n${unnamed.join('\n')}`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir });
}
