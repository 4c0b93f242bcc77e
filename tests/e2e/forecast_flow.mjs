// The browser flow of the forecast and salary screens in the brivel program (harness.mjs):
// start the app on a free port with a fresh data directory, drive its page in headless
// Chromium, and check what a user sees.
//
//   node forecast_flow.mjs --program PATH [--out DIR]
//
// Flow: the user creates a profile and adds three bills (monthly, quarterly in the second month
// of the quarter, yearly in December), checks two month cards of the forecast tab, sets a fixed
// salary from the profile editor, hides and shows the spendable figures, opens a month and
// ticks its bill off in the left-to-pay checklist; after a reload and a restart the salary is
// still there.
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, stop, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node forecast_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-forecast',
});
const programPath = options.program;
const outDir = options.out;

const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-forecast-');
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]:visible`).first();
const field = (id) => page.locator(`input[data-id="${id}"]:visible, [data-id="${id}"]:visible input`).first();
const appText = async () => (await page.locator('#app').innerText());
const waitText = (pattern, what) => page.waitForFunction(([p, f]) => new RegExp(p, f).test(document.querySelector('#app').innerText),
  [pattern.source, pattern.flags]).catch(async () => { throw new Error(`${what}: no ${pattern} in ${await appText()}`); });
const noSheets = () => page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
// The texts of the month cards, top to bottom.
const monthCards = () => page.$$eval('[data-id="monthRow"]', (rows) =>
  rows.filter((r) => r.offsetParent !== null).map((r) => r.innerText.replace(/\s+/g, ' ').trim()));

const symbols = symbolNames(programPath);
const badNames = (what) => unnamedControls(page, symbols, what);

// Where the card of a bill row is on the page.
const cardBox = (locator) => locator.evaluate((el) => {
  const r = el.closest('.row').firstElementChild.getBoundingClientRect();
  return { left: r.left, right: r.right, width: r.width };
});

async function launch(dataDir) {
  const run = start(programPath, ['--data-dir', dataDir, '--port', '0']);
  runs.push(run);
  await page.goto(await run.url);
  await page.locator('.tab-bar').waitFor({ state: 'visible' });
  return run;
}

async function waitEnabled(id) {
  await page.waitForFunction((i) => [...document.querySelectorAll(`[data-id="${i}"]`)]
    .some((b) => b.offsetParent !== null && !b.disabled), id);
}

async function openMenu(id) {
  await page.locator(`[data-id="${id}"]:visible > .menu-button`).first().click();
}

async function choose(pickerId, label) {
  await page.locator(`[data-id="${pickerId}"]:visible select`).first().selectOption({ label });
}

async function addBill(name, cost, occurrence, period) {
  await field('billName').fill(name);
  await field('billCost').fill(cost);
  if (occurrence) {
    await choose('occurring', occurrence);
    await choose(occurrence === 'Quarterly' ? 'quarterPicker' : 'monthPicker', period);
  }
  await waitEnabled('saveBill');
  await byId('saveBill').click();
  await page.waitForFunction(() => document.querySelector('input[data-id="billName"]')?.value === '');
}

const openForecast = () => page.locator('.tab-bar .tab-item', { hasText: 'Forecast' }).click();

async function monthCardsRead(pattern, index, what) {
  try {
    await page.waitForFunction(([p, i]) => {
      const rows = [...document.querySelectorAll('[data-id="monthRow"]')].filter((r) => r.offsetParent !== null);
      return rows.length === 12 && new RegExp(p).test(rows[i].innerText.replace(/\s+/g, ' '));
    }, [pattern.source, index]);
  } catch {
    throw new Error(`${what}: card ${index} does not read ${pattern}: ${JSON.stringify(await monthCards())}`);
  }
}

try {
  await check('forecast: month cards, salary, spendable and the left-to-pay checklist', async () => {
    const dataDir = join(work, 'flow');
    const app = await launch(dataDir);

    // A profile, created from the empty state's button.
    await page.locator('.unavailable button').first().click();
    await byId('addProfile').click();
    await field('profileName').fill('Home');
    await waitEnabled('save');
    await byId('save').click();
    await noSheets();

    // Three bills: every month, the second month of each quarter, December.
    await byId('addBill').click();
    await field('billName').waitFor({ state: 'visible' });
    await addBill('Rent', '900');
    await addBill('Insurance', '120', 'Quarterly', '2nd month of the quarter');
    await addBill('Tax', '100', 'Yearly', 'December');
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await noSheets();

    // The forecast tab: twelve cards; February holds Rent and Insurance, December Rent and Tax.
    await openForecast();
    await monthCardsRead(/January 1 .*\$900\.00/, 0, 'January');
    await monthCardsRead(/February 2 .*\$1,020\.00/, 1, 'February');
    await monthCardsRead(/December 2 .*\$1,000\.00/, 11, 'December');
    await page.screenshot({ path: join(outDir, 'forecast-year.png'), animations: 'disabled' });

    // A fixed salary, from the profile editor's salary row.
    await openMenu('profileMenu');
    await byId('editProfile').click();
    await page.locator('.sheet .nav-link', { hasText: 'Net Salary' }).first().click();
    await field('salary.fixed').waitFor({ state: 'visible' });
    expect((await field('salary.fixed').inputValue()) === '0.0', 'a new profile shows its 0.0');
    await field('salary.fixed').fill('2000');
    await byId('update').click();
    await waitText(/Saved/, 'the salary is saved');
    // The toast takes room of its own above the screen's first row instead of covering it.
    await page.locator('[data-id="toast"]:visible').first().waitFor();
    await page.waitForTimeout(400);
    const cover = await page.locator('[data-id="toast"]:visible').first().evaluate((toast) => {
      const t = toast.getBoundingClientRect();
      const row = [...toast.closest('.layer-overlay').parentElement.querySelectorAll('.row')].find((r) => r.offsetParent !== null);
      const r = row.getBoundingClientRect();
      return { toastBottom: t.bottom, rowTop: r.top, row: row.innerText.split('\n')[0] };
    });
    expect(cover.toastBottom <= cover.rowTop, `the toast covers the first row: ${JSON.stringify(cover)}`);
    await page.screenshot({ path: join(outDir, 'forecast-salary.png'), animations: 'disabled' });
    await page.locator('button.nav-back:visible').last().click();
    await page.locator('.sheet [data-id="close"]:visible').last().click();
    await noSheets();

    // The spendable figure: 2000 less each month's cost; hidden and shown again from the menu.
    await monthCardsRead(/\$1,100\.00/, 0, 'January spendable');
    await monthCardsRead(/\$980\.00/, 1, 'February spendable');
    await openMenu('spendableMenu');
    await byId('toggleSpendable').click();
    await page.waitForFunction(() => !/1,100\.00/.test(document.querySelector('#app').innerText));
    await openMenu('spendableMenu');
    await byId('toggleSpendable').click();
    await monthCardsRead(/\$1,100\.00/, 0, 'spendable shown again');

    // January opens with its one bill; its summary opens the checklist, where Rent is ticked off.
    await page.locator('[data-id="monthRow"]:visible').first().click();
    await byId('monthSummary').waitFor({ state: 'visible' });
    // Its tip points at what opens the checklist on this screen: the summary, not a bill.
    const tip = await page.locator('.tip:visible .tip-message').first().innerText();
    expect(/summary/i.test(tip) && !/tap a bill/i.test(tip), `the month screen's tip reads "${tip}"`);
    await page.screenshot({ path: join(outDir, 'forecast-month.png'), animations: 'disabled' });
    await byId('monthSummary').click();
    await byId('unpaidBill').waitFor({ state: 'visible' });
    await waitText(/Total left to pay/i, 'the checklist');
    await byId('unpaidBill').click();
    await waitText(/All paid/i, 'every bill is paid');
    await waitText(/Total paid/i, 'the paid section');
    await page.screenshot({ path: join(outDir, 'forecast-left-to-pay.png'), animations: 'disabled' });
    await page.locator('.sheet [data-id="close"]:visible').last().click();
    await noSheets();

    // The salary is kept across a reload and a restart.
    await page.reload();
    await page.locator('.tab-bar').waitFor({ state: 'visible' });
    expect((await stop(app)) === 0, 'SIGTERM ends the program cleanly');
    await launch(dataDir);
    await openForecast();
    await monthCardsRead(/\$1,100\.00/, 0, 'January spendable after a restart');
  });

  await check('forecast look: cards and rows run the full width, sums sit trailing, every control has a name', async () => {
    await page.setViewportSize({ width: 430, height: 932 });
    const bad = [];
    // The bills list's row, for comparison.
    await page.locator('.tab-bar .tab-item', { hasText: 'Bills' }).click();
    const billRow = await cardBox(page.locator('[data-id="billRow"]:visible', { hasText: 'Rent' }).first());
    await openForecast();
    await page.locator('[data-id="monthRow"]:visible').first().waitFor();
    bad.push(...(await badNames('forecast')));
    await openMenu('spendableMenu');
    await byId('toggleSpendable').waitFor();
    bad.push(...(await badNames('spendable menu')));
    await page.keyboard.press('Escape');
    const cards = await page.$$eval('[data-id="monthRow"]', (rows) => rows.filter((r) => r.offsetParent !== null)
      .map((r) => { const b = r.getBoundingClientRect(); return { left: b.left, width: b.width }; }));
    expect(cards.length === 12, `${cards.length} month cards`);
    for (const card of cards) {
      expect(Math.abs(card.width - cards[0].width) < 1 && Math.abs(card.left - cards[0].left) < 1,
        `the month cards differ: ${JSON.stringify(cards)}`);
    }
    expect(cards[0].width >= billRow.width - 1,
      `a month card is ${cards[0].width}px wide on a 430px page, the bills list's card ${billRow.width}px`);

    // The monthly list's row is the bills list's row.
    await page.locator('[data-id="forecastPicker"] .segment', { hasText: 'Month' }).click();
    const row = await cardBox(page.locator('[data-id="billRow"]:visible', { hasText: 'Rent' }).first());
    expect(Math.abs(row.width - billRow.width) < 1 && Math.abs(row.left - billRow.left) < 1,
      `the forecast's bill row ${JSON.stringify(row)} is not the bills list's ${JSON.stringify(billRow)}`);
    bad.push(...(await badNames('forecast monthly list')));
    // The quarter's and the year's lists, then back to the month cards.
    const segments = page.locator('[data-id="forecastPicker"] .segment');
    for (let i = 0; i < (await segments.count()); i += 1) {
      await segments.nth(i).click();
      await page.waitForFunction((n) => document.querySelectorAll('[data-id="forecastPicker"] .segment')[n]
        ?.getAttribute('aria-checked') === 'true', i);
      bad.push(...(await badNames(`forecast list "${(await segments.nth(i).getAttribute('aria-label')) ?? (await segments.nth(i).innerText())}"`)));
    }
    await page.locator('[data-id="forecastPicker"] .segment[aria-label]').first().click();

    // February's month screen and its checklist: the group's sum at the trailing edge.
    await page.locator('[data-id="monthRow"]:visible').nth(1).click();
    await byId('monthSummary').waitFor({ state: 'visible' });
    bad.push(...(await badNames('month screen')));
    await byId('monthSummary').click();
    await byId('unpaidBill').waitFor({ state: 'visible' });
    bad.push(...(await badNames('left-to-pay checklist')));
    const sum = await page.locator('.sheet [data-id="groupSum"]:visible').first().evaluate((el) => {
      const row = el.closest('.row').getBoundingClientRect();
      const range = document.createRange();
      range.selectNodeContents(el);
      const text = range.getBoundingClientRect();
      return { end: row.right - text.right, start: text.left - row.left, width: row.width };
    });
    expect(sum.end <= 40 && sum.start > sum.width / 2, `the group's sum is not at the trailing edge: ${JSON.stringify(sum)}`);
    await page.screenshot({ path: join(outDir, 'forecast-look-checklist.png'), animations: 'disabled' });
    await page.locator('.sheet [data-id="close"]:visible').last().click();
    await noSheets();
    await page.locator('button.nav-back:visible').last().click();

    // The salary sheet and the bill editor's in-place buttons.
    await openMenu('profileMenu');
    await byId('editProfile').click();
    await page.locator('.sheet .nav-link', { hasText: 'Net Salary' }).first().click();
    await field('salary.fixed').waitFor({ state: 'visible' });
    bad.push(...(await badNames('salary')));
    // A varying salary's twelve fields (leaving without Update keeps the fixed one).
    await choose('salaryType', 'Variable');
    await field('salary.localizable_december').waitFor({ state: 'visible' });
    bad.push(...(await badNames('varying salary')));
    await page.locator('button.nav-back:visible').last().click();
    await page.locator('.sheet [data-id="close"]:visible').last().click();
    await noSheets();
    await page.locator('.tab-bar .tab-item', { hasText: 'Bills' }).click();
    await byId('addBill').click();
    await page.locator('[data-id="connectBankAccount"] input[type="checkbox"]').click();
    await page.locator('[data-id="connectCategory"] input[type="checkbox"]').click();
    await byId('createBankAccount').waitFor({ state: 'visible' });
    bad.push(...(await badNames('bill editor')));
    await page.locator('.sheet').last().locator('[data-id="close"]').click();
    await noSheets();
    expect(bad.length === 0, `controls without a name in words:\n${bad.join('\n')}`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir });
}
