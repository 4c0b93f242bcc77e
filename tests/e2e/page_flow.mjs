// The page as a user of a screen reader, a mouse and the clipboard meets it (harness.mjs):
// each row action is listed once, every control has a name in words, a copied note reaches the
// system clipboard.
//
//   node page_flow.mjs --program PATH [--out DIR]
//
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node page_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-page',
});
const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-page-');
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]`).first();
const field = (id) => page.locator(`input[data-id="${id}"], textarea[data-id="${id}"], [data-id="${id}"] input`).first();
async function waitEnabled(id) {
  await page.waitForFunction((i) => { const b = document.querySelector(`[data-id="${i}"]`); return b && !b.disabled; }, id);
}

const symbols = symbolNames(options.program);
const badNames = (what) => unnamedControls(page, symbols, what);

// Elements reaching past the viewport's right edge once the toast is on screen.
async function widerThanViewport(what) {
  await page.locator('[data-id="toast"]').first().waitFor({ state: 'visible', timeout: 5000 });
  return page.evaluate((w) => {
    const width = document.documentElement.clientWidth;
    const wide = [...document.querySelectorAll('#app *')].filter((e) => e.getBoundingClientRect().right > width + 1);
    return wide.slice(0, 5).map((e) => `${w}: ${e.className || e.tagName} ends at ${e.getBoundingClientRect().right}px of ${width}`);
  }, what);
}

// Title bar buttons taller than one line of text.
async function tallBarItems() {
  return page.$$eval('.nav-bar button', (items) => items.filter((b) => b.offsetParent !== null && b.getBoundingClientRect().height > 50)
    .map((b) => `bar button "${b.innerText.trim() || b.getAttribute('aria-label')}" is ${b.getBoundingClientRect().height}px tall`));
}

try {
  const run = start(options.program, ['--data-dir', join(work, 'data'), '--port', '0']);
  runs.push(run);
  await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: new URL(await run.url).origin });
  await page.goto(await run.url);
  await page.locator('.tab-bar').waitFor({ state: 'visible' });

  // A profile and one bill with a note.
  await page.locator('.unavailable button').first().click();
  await byId('addProfile').click();
  // A long name (30 characters): the bills list's title bar must still hold its buttons on one line.
  await field('profileName').fill('Household of the Example Famil');
  await waitEnabled('save');
  await byId('save').click();
  await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
  await byId('addBill').click();
  await field('billName').fill('Rent');
  await field('billCost').fill('900');
  await page.locator('[data-id="connectNote"] input[type="checkbox"]').click();
  await field('billNote').fill('IBAN DE02 1203');

  await check('controls are named in words; toasts and long titles keep the layout (editor, lists)', async () => {
    const bad = await badNames('bill editor');
    const layout = [];
    await waitEnabled('saveBill');
    await byId('saveBill').click();
    await page.waitForFunction(() => document.querySelector('input[data-id="billName"]')?.value === '');
    layout.push(...(await widerThanViewport('the bill editor while its toast shows')));
    await page.locator('.layer').last().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await page.locator('[data-id="billRow"]', { hasText: 'Rent' }).first().waitFor();
    bad.push(...(await badNames('bills list')));
    layout.push(...(await tallBarItems()));
    // The title bar's menus, open: the sort menu with its grouping submenu, then the profile menu.
    await page.locator('[data-id="sortMenu"] > .menu-button').click();
    await page.locator('[data-id="filterBy"] > .menu-button').click();
    await page.locator('.menu-popup:visible [data-id^="group."]').first().waitFor();
    bad.push(...(await badNames('sort menu')));
    await page.keyboard.press('Escape');
    await page.keyboard.press('Escape');
    await page.locator('[data-id="profileMenu"] > .menu-button').click();
    await page.locator('.menu-popup:visible [data-id="settings"]').first().waitFor();
    bad.push(...(await badNames('profile menu')));
    await page.locator('.menu-popup:visible [role="menuitem"]', { hasText: 'Profiles' }).first().click();
    await page.locator('[data-id="profileCard"]').first().waitFor();
    bad.push(...(await badNames('profiles list')));
    expect(bad.length === 0, `controls without words:\n${bad.join('\n')}`);
    expect(layout.length === 0, `layout faults:\n${layout.join('\n')}`);
  });

  await check('a row menu lists each action once', async () => {
    // The profile card's menu, then (back on the bills list) the bill's.
    const items = async () => page.$$eval('.menu-popup:not([hidden]) [role="menuitem"]', (els) =>
      els.filter((e) => e.offsetParent !== null).map((e) => e.innerText.trim()));
    const once = (names, what) => expect(names.length > 0 && new Set(names).size === names.length,
      `${what} lists ${JSON.stringify(names)}`);
    await page.locator('[data-id="profileCard"]').first().locator('xpath=ancestor-or-self::*[contains(@class,"actions-host")][1]')
      .locator('.row-more').first().click();
    await page.waitForFunction(() => [...document.querySelectorAll('.menu-popup:not([hidden]) [role="menuitem"]')].length > 0);
    once(await items(), 'the profile card menu');
    await page.keyboard.press('Escape');
    await page.locator('.layer').last().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await page.locator('[data-id="billRow"]', { hasText: 'Rent' }).first().locator('.row-more').first().click();
    await page.waitForFunction(() => [...document.querySelectorAll('.menu-popup:not([hidden]) [role="menuitem"]')].length > 0);
    once(await items(), 'the bill menu');
  });

  await check('Copy Note puts the note on the system clipboard', async () => {
    await page.locator('.menu-popup:not([hidden]) [data-id="copyNote"]').first().click();
    await page.waitForFunction(async () => (await navigator.clipboard.readText()) === 'IBAN DE02 1203', null, { timeout: 5000 })
      .catch(async () => { throw new Error(`clipboard holds "${await page.evaluate(() => navigator.clipboard.readText())}"`); });
  });

  await check('a double click opens the editor once; Back closes it and Forward does not reopen it', async () => {
    await page.keyboard.press('Escape');
    await page.locator('[data-id="addBill"]').first().dblclick();
    await field('billName').waitFor({ state: 'visible' });
    await page.waitForTimeout(800);
    expect(await page.locator('.sheet').count() === 1, 'the editor stays open after a double click');
    const url = page.url();
    await page.goBack();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    expect(page.url() === url, `Back left the app for ${page.url()}`);
    await page.goForward().catch(() => {});
    await page.waitForTimeout(800);
    expect(await page.locator('.sheet').count() === 0, 'Forward reopened the editor');
    expect(await page.locator('[data-id="billRow"]').count() > 0, 'the bills list shows');
  });
  // Pasted text arrives as one insertion (no keys): the field must keep it through the renders
  // that answer it, as it keeps typed text, and the bill must be saved with it.
  const pasteInto = async (locator, text) => {
    const answered = page.waitForResponse((r) => r.url().endsWith('/action') && r.request().postData().includes('"set"'));
    await locator.focus();
    await page.keyboard.insertText(text);
    await answered;
    await page.waitForTimeout(300);
  };
  const characters = (text) => [...new Intl.Segmenter().segment(text)].map((s) => s.segment);
  // A new bill's editor with its note field shown, from the bills list whatever an earlier
  // check left open.
  async function newBillNote() {
    await page.reload();
    await page.locator('.tab-bar').waitFor({ state: 'visible' });
    for (let i = 0; i < 4 && (await page.locator('.sheet').count()) > 0; i += 1) {
      await page.locator('.layer').last().locator('[data-id="close"]').first().click().catch(() => page.goBack());
      await page.waitForTimeout(300);
    }
    await byId('addBill').click();
    await page.locator('[data-id="connectNote"] input[type="checkbox"]').click();
    return field('billNote');
  }
  // Saves the bill being added, with more renders first (its other fields are typed into and the
  // note's field loses focus), and answers its note as the field reads then and once saved.
  async function saveBill(name) {
    await field('billName').fill(name);
    await field('billCost').fill('12');
    await page.waitForTimeout(300);
    const shown = await field('billNote').inputValue();
    await waitEnabled('saveBill');
    await byId('saveBill').click();
    await page.waitForFunction(() => document.querySelector('input[data-id="billName"]')?.value === '');
    await page.locator('.layer').last().locator('[data-id="close"]').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await page.locator('[data-id="billRow"]', { hasText: name }).first().click();
    await byId('updateBill').waitFor({ state: 'visible' });
    const saved = await field('billNote').inputValue();
    await page.locator('button.nav-back:visible').last().click();
    await byId('updateBill').waitFor({ state: 'detached' });
    return { shown, saved };
  }

  await check('a pasted note stays in the field through the next renders and is saved with the bill', async () => {
    const note = await newBillNote();
    // What fits stays whole; a longer paste keeps the field's first characters, as typing does.
    const limit = Number(await note.getAttribute('data-max-length'));
    const cases = [['three emoji', '\u{1F600}\u{1F4B6}\u{1F3E0}'], ['100 letters', 'abcdefghij'.repeat(10)]];
    for (const [what, text] of cases) {
      await note.fill('');
      await pasteInto(note, text);
      const want = characters(text).slice(0, limit).join('');
      const kept = await note.inputValue();
      expect(kept === want, `${what}: the field reads "${kept}" once the paste is answered`);
    }
    const pasted = 'Paid from \u{1F3E6} account';
    await note.fill('');
    await pasteInto(note, pasted);
    const { shown, saved } = await saveBill('Pasted');
    expect(shown === pasted, `after later renders the note reads "${shown}"`);
    expect(saved === pasted, `the saved bill's note reads "${saved}"`);
  });

  await check('a paste longer than a field takes is cut before it is posted, the page says so, and the cut text stays', async () => {
    const note = await newBillNote();
    // 10,000 family emoji (25 bytes each), far over what the field takes or one post may carry.
    const family = '\u{1F469}\u200D\u{1F469}\u200D\u{1F467}\u200D\u{1F466}';
    await pasteInto(note, family.repeat(10000));
    await page.waitForFunction(() => /Only the first \d+ characters fit here/.test(document.getElementById('status').textContent));
    const status = await page.locator('#status').textContent();
    const kept = Number(/first (\d+) characters/.exec(status)[1]);
    const limit = Number(await note.getAttribute('data-max-length'));
    expect(kept === limit, `kept ${kept} characters of a field that takes ${limit}: ${status}`);
    expect(!/failed|too much/i.test(await page.locator('#status').textContent()), 'the post was not refused');
    const cut = family.repeat(limit);
    const { shown, saved } = await saveBill('Family');
    expect(shown === cut, `after later renders the note holds ${characters(shown).length} of the ${limit} characters kept`);
    expect(saved === cut, `the saved bill's note holds ${characters(saved).length} of the ${limit} characters kept`);
  });
} catch (error) {
  failSetup(error);
}
await page.screenshot({ path: join(options.out, 'page-flow.png'), animations: 'disabled' }).catch(() => {});
await finish({ context, work, runs, outDir: options.out });
