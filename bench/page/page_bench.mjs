// The bills list as a person sees it, in headless Chromium at a phone viewport, at 1,000 and
// 10,000 bills (each over a fresh store served by page_fixture). Run by hand, not in CI:
//
//   node bench/page/page_bench.mjs --fixture build/rel/bench/page/page_fixture [--runs 5] [--bills 1000,10000]
//
// For each size it prints, as the median of the runs:
//   first paint     from asking for the page to its first contentful paint (the browser's
//                   paint timing; the rows come with the page)
//   rows shown      from asking for the page until a script in it finds a row and two more
//                   animation frames passed (what a test harness sees; a few frames later)
//   tap row         click on the first bill to its detail page shown (the way back is not timed)
//   search letter   one letter typed into the focused search field to the results shown
//   clear search    the letter deleted to the whole list shown again
//   add bill        the editor's save clicked to the editor emptied for the next bill
//   scroll          the page scrolled 3,000 px down to the rows there painted
//   elements        the page's element count once the list shows
// beside the baseline of the same run: the same number of plain rows (one div and two spans
// each) written into a blank page of the same browser, and the goals (first paint 300 ms, an
// action 100 ms, 5,000 elements). An action is "settled" when its change is on screen and the
// next animation frame has painted.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { createInterface } from 'node:readline';

const here = dirname(fileURLToPath(import.meta.url));
const option = (name, fallback) => {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
};
const fixture = option('--fixture');
const runs = Number(option('--runs', '5'));
const sizes = option('--bills', '1000,10000').split(',').map(Number);
if (!fixture) {
  console.error('usage: node bench/page/page_bench.mjs --fixture PATH/page_fixture [--runs N] [--bills N,M]');
  process.exit(2);
}
// playwright-core as the browser tests install it (scripts/deps: brivel_install_e2e_tools).
const require = createRequire(join(here, '../../tests/e2e/package.json'));
const { chromium } = require('playwright-core');

function serve(bills, dir) {
  return new Promise((resolve, reject) => {
    const child = spawn(fixture, ['--bills', String(bills), '--data-dir', dir], { stdio: ['ignore', 'pipe', 'inherit'] });
    createInterface({ input: child.stdout }).once('line', (url) => resolve({ child, url: url.trim() }));
    child.once('exit', (code) => reject(new Error(`page_fixture exited with ${code}`)));
  });
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const settle = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

async function timed(page, act, settled) {
  const began = performance.now();
  await act();
  await page.waitForFunction(settled, null, { timeout: 60000 });
  await settle(page);
  return performance.now() - began;
}

async function measure(browser, url) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const page = await context.newPage();
  const figures = {};
  const asked = Date.now();
  figures.rowsShown = await timed(page, () => page.goto(url, { waitUntil: 'commit' }),
    () => document.querySelector('[data-id="billRow"]') !== null);
  await page.waitForLoadState('load');
  await settle(page);
  // The browser's own first contentful paint (the rows come with the page), on the clock of
  // this machine that both sides read.
  figures.firstPaint = await page.evaluate(
    () => performance.timeOrigin + performance.getEntriesByName('first-contentful-paint')[0].startTime) - asked;
  figures.elements = await page.evaluate(() => document.getElementsByTagName('*').length);

  // Each action is timed from the input itself (a click at the control's place, a key press)
  // to settled: finding the control and waiting for it to be still is not the user's wait.
  const centre = async (locator) => {
    await locator.click({ trial: true });  // visible, still and on top, not clicked
    const box = await locator.boundingBox();
    return [box.x + box.width / 2, box.y + box.height / 2];
  };
  const [rowX, rowY] = await centre(page.locator('[data-id="billRow"]').first());
  figures.tapRow = await timed(page, () => page.mouse.click(rowX, rowY),
    () => [...document.querySelectorAll('button.nav-back')].some((b) => b.offsetParent !== null));
  await page.locator('button.nav-back:visible').last().click();
  await page.waitForFunction(() => ![...document.querySelectorAll('button.nav-back')].some((b) => b.offsetParent !== null));

  const search = page.locator('input[type="search"]').first();
  await search.focus();
  await settle(page);
  const firstName = () => page.evaluate(() => document.querySelector('[data-id="billRow"]')?.innerText ?? '');
  const before = await firstName();
  figures.searchLetter = await timed(page, () => page.keyboard.press('7'),
    (b) => (document.querySelector('[data-id="billRow"]')?.innerText ?? '') !== b, before);
  figures.clearSearch = await timed(page, () => page.keyboard.press('Backspace'),
    () => document.querySelector('.section-header') !== null);

  await page.locator('[data-id="addBill"]').first().click();
  const name = page.locator('input[data-id="billName"], [data-id="billName"] input').first();
  await name.waitFor();
  await name.fill('New bill');
  await page.locator('input[data-id="billCost"], [data-id="billCost"] input').first().fill('12.5');
  const [saveX, saveY] = await centre(page.locator('[data-id="saveBill"]').first());
  figures.addBill = await timed(page, () => page.mouse.click(saveX, saveY),
    () => document.querySelector('input[data-id="billName"]')?.value === '');
  await page.locator('.sheet [data-id="close"]').last().click();
  await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);

  figures.scroll = await timed(page, () => page.evaluate(() => window.scrollBy(0, 3000)),
    () => {
      const middle = window.innerHeight / 2;
      return [...document.querySelectorAll('.row[role="listitem"]')].some((row) => {
        const box = row.getBoundingClientRect();
        return box.top <= middle && box.bottom >= middle;
      });
    });
  await context.close();
  return figures;
}

// The baseline: as many plain rows as the list shows, written into a blank page.
async function baseline(browser, rows) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const page = await context.newPage();
  await page.setContent('<!doctype html><body></body>');
  const time = await page.evaluate(async (count) => {
    const began = performance.now();
    let html = '';
    for (let i = 0; i < count; i += 1) html += `<div class="row"><span>Bill ${i}</span><span>$1.00</span></div>`;
    document.body.innerHTML = html;
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    return performance.now() - began;
  }, rows);
  await context.close();
  return time;
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const goals = { firstPaint: 300, rowsShown: 300, tapRow: 100, searchLetter: 100, clearSearch: 100, addBill: 100, scroll: 100 };
try {
  for (const bills of sizes) {
    const dir = mkdtempSync(join(tmpdir(), 'brivel-page-bench-'));
    const { child, url } = await serve(bills, dir);
    try {
      const all = [];
      for (let run = 0; run < runs; run += 1) all.push(await measure(browser, url));
      const base = await baseline(browser, 50);
      console.log(`\n${bills} bills (median of ${runs} runs; baseline: 50 plain rows written, ${base.toFixed(1)} ms)`);
      console.log(`${'figure'.padEnd(16)} ${'ms'.padStart(9)} ${'goal'.padStart(6)} ${'ratio to baseline'.padStart(18)}`);
      for (const key of Object.keys(goals)) {
        const value = median(all.map((f) => f[key]));
        console.log(`${key.padEnd(16)} ${value.toFixed(1).padStart(9)} ${String(goals[key]).padStart(6)} ${(value / base).toFixed(2).padStart(17)}x`);
      }
      console.log(`${'elements'.padEnd(16)} ${String(median(all.map((f) => f.elements))).padStart(9)} ${'5000'.padStart(6)}`);
    } finally {
      child.kill('SIGTERM');
      rmSync(dir, { recursive: true, force: true });
    }
  }
} finally {
  await browser.close();
}
