// The real program as a person uses it, in headless Chromium at a phone viewport, at 1,000,
// 10,000 and 50,000 bills: page_fixture seeds a data folder (one profile of N bills, picked),
// then the shipped `brivel` is started on it (both tabs, the SDK configured) for each run.
// Run by hand, not in CI:
//
//   node bench/page/page_bench.mjs --fixture build/rel/bench/page/page_fixture \
//       --program build/rel/Brivel/shell/brivel [--runs 3] [--bills 1000,10000,50000] [--actions 1000]
//
// For each size it prints, as the median of the runs, each figure as the browser feels it
// (from the input to its change on screen and the next frame painted) and as the server
// spent it (the sum of the Server-Timing "total" of the posts the action made):
//   first paint     from asking for the page to its first contentful paint
//   rows shown      from asking for the page until a row is found and two frames passed
//   tap row         click on the first bill to its detail page shown
//   search letter   one letter typed into the focused search field to the results shown
//   clear search    the letter deleted to the whole list shown again
//   add bill        the editor's save clicked to the editor emptied for the next bill
//   scroll          the page scrolled 3,000 px down to the rows there painted
//   open forecast   the forecast tab clicked to its month cards shown
//   push month      January's card clicked to its month screen shown
//   tick checklist  an unpaid bill of January's checklist ticked to it shown paid
//   RSS             the program's resident memory with the page open, and after --actions
//                   more actions (search letters typed and deleted) in the last run
// beside the baselines of the same run: the same actions at 1,000 bills (the ratio the server
// may grow by, goal 1.3x), 50 plain rows written into a blank page of the same browser, and
// for first paint the floor of this browser: a trivial page from a node HTTP server on loopback,
// asked for and timed the same way.
import { spawn } from 'node:child_process';
import { cpSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { createServer } from 'node:http';
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
const program = option('--program');
const runs = Number(option('--runs', '3'));
const sizes = option('--bills', '1000,10000,50000').split(',').map(Number);
const extraActions = Number(option('--actions', '1000'));
if (!fixture || !program) {
  console.error('usage: node bench/page/page_bench.mjs --fixture PATH/page_fixture --program PATH/brivel ' +
    '[--runs N] [--bills N,M] [--actions N]');
  process.exit(2);
}
// playwright-core as the browser tests install it (scripts/deps: brivel_install_e2e_tools).
const require = createRequire(join(here, '../../tests/e2e/package.json'));
const { chromium } = require('playwright-core');

function run(path, args) {
  return new Promise((resolve, reject) => {
    const child = spawn(path, args, { stdio: ['ignore', 'ignore', 'inherit'] });
    child.once('exit', (code) => (code === 0 ? resolve() : reject(new Error(`${path} exited with ${code}`))));
  });
}

// The real program on a copy of the seeded folder; resolves with it and its page's address.
function serve(seeded) {
  const dir = mkdtempSync(join(tmpdir(), 'brivel-page-run-'));
  cpSync(seeded, dir, { recursive: true });
  return new Promise((resolve, reject) => {
    const child = spawn(program, ['--data-dir', dir, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    createInterface({ input: child.stdout }).on('line', (line) => {
      if (/^http:\/\/127\.0\.0\.1:\d+\/\?secret=/.test(line.trim())) resolve({ child, dir, url: line.trim() });
    });
    child.once('exit', (code) => reject(new Error(`brivel exited with ${code}`)));
  });
}

async function stop({ child, dir }) {
  const exited = new Promise((r) => child.once('exit', r));
  child.kill('SIGTERM');
  await exited;
  rmSync(dir, { recursive: true, force: true });
}

const rssMB = (pid) => {
  const line = readFileSync(`/proc/${pid}/status`, 'utf8').split('\n').find((l) => l.startsWith('VmRSS:'));
  return Number(line.replace(/\D+/g, '')) / 1024;
};

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const settle = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

// The server's time of every action post answered since the last call, in ms.
function serverClock(page) {
  let spent = 0;
  page.on('response', (response) => {
    if (!response.url().endsWith('/action')) return;
    const total = /total;dur=([0-9.]+)/.exec(response.headers()['server-timing'] ?? '');
    if (total) spent += Number(total[1]);
  });
  return () => {
    const was = spent;
    spent = 0;
    return was;
  };
}

// Times `act` to `settled` as the browser feels it; `server` collects the server's share.
async function timed(page, act, settled, arg, figures, name, server) {
  await settle(page);
  server?.();
  const began = performance.now();
  await act();
  await page.waitForFunction(settled, arg ?? null, { timeout: 120000 });
  await settle(page);
  const took = performance.now() - began;
  if (figures && name) {
    figures[name] = took;
    if (server) figures[`${name}.server`] = server();
  }
  return took;
}

const visible = (selector) => [...document.querySelectorAll(selector)].some((e) => e.offsetParent !== null);

// The browser's own first contentful paint of the page on `page`, after `asked` (Date.now()
// before it was asked for), on the clock of this machine that both sides read.
async function firstPaintSince(page, asked) {
  await page.waitForLoadState('load');
  await settle(page);
  // The entry may come a frame after the load and the frames that follow it.
  return await page.evaluate(() => new Promise((resolve) => {
    new PerformanceObserver((list, observer) => {
      const paint = list.getEntriesByName('first-contentful-paint')[0];
      if (!paint) return;
      observer.disconnect();
      resolve(performance.timeOrigin + paint.startTime);
    }).observe({ type: 'paint', buffered: true });
  })) - asked;
}

async function measure(browser, app, withRss) {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
  const page = await context.newPage();
  const server = serverClock(page);
  const figures = {};
  const asked = Date.now();
  figures.rowsShown = await timed(page, () => page.goto(app.url, { waitUntil: 'commit' }),
    () => document.querySelector('[data-id="billRow"]') !== null);
  // The rows come with the page.
  figures.firstPaint = await firstPaintSince(page, asked);
  figures.elements = await page.evaluate(() => document.getElementsByTagName('*').length);
  figures.rss = rssMB(app.child.pid);

  // Each action is timed from the input itself (a click at the control's place, a key press)
  // to settled: finding the control and waiting for it to be still is not the user's wait.
  const centre = async (locator) => {
    await locator.click({ trial: true });  // visible, still and on top, not clicked
    const box = await locator.boundingBox();
    return [box.x + box.width / 2, box.y + box.height / 2];
  };
  const [rowX, rowY] = await centre(page.locator('[data-id="billRow"]').first());
  await timed(page, () => page.mouse.click(rowX, rowY), visible, 'button.nav-back', figures, 'tapRow', server);
  await page.locator('button.nav-back:visible').last().click();
  await page.waitForFunction((s) => ![...document.querySelectorAll(s)].some((e) => e.offsetParent !== null), 'button.nav-back');

  const search = page.locator('input[type="search"]').first();
  await search.focus();
  await settle(page);
  const firstName = () => page.evaluate(() => document.querySelector('[data-id="billRow"]')?.innerText ?? '');
  const before = await firstName();
  await timed(page, () => page.keyboard.press('7'),
    (b) => (document.querySelector('[data-id="billRow"]')?.innerText ?? '') !== b, before, figures, 'searchLetter', server);
  await timed(page, () => page.keyboard.press('Backspace'),
    () => document.querySelector('.section-header') !== null, null, figures, 'clearSearch', server);

  await page.locator('[data-id="addBill"]').first().click();
  const name = page.locator('input[data-id="billName"], [data-id="billName"] input').first();
  await name.waitFor();
  await name.fill('New bill');
  await page.locator('input[data-id="billCost"], [data-id="billCost"] input').first().fill('12.5');
  const [saveX, saveY] = await centre(page.locator('[data-id="saveBill"]').first());
  server();
  await timed(page, () => page.mouse.click(saveX, saveY),
    () => document.querySelector('input[data-id="billName"]')?.value === '', null, figures, 'addBill', server);
  await page.locator('.sheet [data-id="close"]').last().click();
  await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);

  await timed(page, () => page.evaluate(() => window.scrollBy(0, 3000)),
    () => {
      const middle = window.innerHeight / 2;
      return [...document.querySelectorAll('.row[role="listitem"]')].some((row) => {
        const box = row.getBoundingClientRect();
        return box.top <= middle && box.bottom >= middle;
      });
    }, null, figures, 'scroll', server);
  await page.evaluate(() => window.scrollTo(0, 0));

  // The forecast: its tab, January's month screen, one tick of that month's checklist.
  const [tabX, tabY] = await centre(page.locator('.tab-bar .tab-item', { hasText: 'Forecast' }));
  await timed(page, () => page.mouse.click(tabX, tabY), visible, '[data-id="monthRow"]', figures, 'openForecast', server);
  const [monthX, monthY] = await centre(page.locator('[data-id="monthRow"]:visible').first());
  await timed(page, () => page.mouse.click(monthX, monthY), visible, '[data-id="monthSummary"]', figures, 'pushMonth', server);
  await page.locator('[data-id="monthSummary"]:visible').click();
  await page.locator('[data-id="unpaidBill"]:visible').first().waitFor();
  // The ticked bill leaves the unpaid rows (the paid ones sit at the list's end, beyond the
  // rows the page has built).
  const firstUnpaid = () => document.querySelector('[data-id="unpaidBill"]')?.innerText ?? '';
  const unpaidBefore = await page.evaluate(firstUnpaid);
  const [tickX, tickY] = await centre(page.locator('[data-id="unpaidBill"]:visible').first());
  await timed(page, () => page.mouse.click(tickX, tickY),
    (b) => (document.querySelector('[data-id="unpaidBill"]')?.innerText ?? '') !== b, unpaidBefore, figures,
    'tickChecklist', server);
  await page.locator('.sheet [data-id="close"]:visible').last().click();
  await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
  await page.locator('button.nav-back:visible').last().click();
  await page.locator('.tab-bar .tab-item').first().click();
  await page.locator('[data-id="billRow"]').first().waitFor();

  if (withRss && extraActions > 0) {
    // Memory after many more actions: search letters typed and deleted, each to its answer.
    await search.focus();
    for (let i = 0; i < extraActions; i += 2) {
      const shown = await firstName();
      await page.keyboard.press(String(i % 10));
      await page.waitForFunction((b) => (document.querySelector('[data-id="billRow"]')?.innerText ?? '') !== b, shown,
        { timeout: 120000 }).catch(() => {});
      await page.keyboard.press('Backspace');
      await page.waitForFunction(() => document.querySelector('.section-header') !== null, null, { timeout: 120000 });
    }
    figures.rssAfter = rssMB(app.child.pid);
  }
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

// The first-paint floor: a trivial page (a heading and a few rows, nothing else to load) from a
// node HTTP server on loopback, asked for and timed as the program's page is.
async function paintFloor(browser) {
  const body = '<!doctype html><html><head><meta charset="utf-8"><title>Floor</title></head><body><h1>Bills</h1>' +
    Array.from({ length: 50 }, (_, i) => `<div class="row"><span>Bill ${i}</span><span>$1.00</span></div>`).join('') +
    '</body></html>';
  const plain = createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
    res.end(body);
  });
  await new Promise((r) => plain.listen(0, '127.0.0.1', r));
  try {
    const context = await browser.newContext({ viewport: { width: 390, height: 844 } });
    const page = await context.newPage();
    const asked = Date.now();
    await page.goto(`http://127.0.0.1:${plain.address().port}/`, { waitUntil: 'commit' });
    const time = await firstPaintSince(page, asked);
    await context.close();
    return time;
  } finally {
    plain.closeAllConnections?.();
    await new Promise((r) => plain.close(r));
  }
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const goals = { firstPaint: 300, rowsShown: 300, tapRow: 100, searchLetter: 100, clearSearch: 100, addBill: 100,
  scroll: 100, openForecast: 100, pushMonth: 100, tickChecklist: 100 };
const actions = ['tapRow', 'searchLetter', 'clearSearch', 'addBill', 'scroll', 'openForecast', 'pushMonth', 'tickChecklist'];
const f1 = (v) => (v === undefined || Number.isNaN(v) ? '-' : v.toFixed(1));
try {
  let smallest;
  for (const bills of sizes) {
    const seeded = mkdtempSync(join(tmpdir(), 'brivel-page-seed-'));
    try {
      await run(fixture, ['--bills', String(bills), '--data-dir', seeded]);
      const all = [];
      for (let r = 0; r < runs; r += 1) {
        const app = await serve(seeded);
        try {
          all.push(await measure(browser, app, r === runs - 1));
        } finally {
          await stop(app);
        }
      }
      const base = await baseline(browser, 50);
      const floors = [];
      for (let r = 0; r < runs; r += 1) floors.push(await paintFloor(browser));
      const floor = median(floors);
      const at = (key) => median(all.map((f) => f[key]).filter((v) => v !== undefined));
      const figures = Object.fromEntries([...new Set(all.flatMap((f) => Object.keys(f)))].map((k) => [k, at(k)]));
      smallest ??= { bills, figures };
      console.log(`\n${bills} bills (median of ${runs} runs; baseline: 50 plain rows written, ${base.toFixed(1)} ms; ` +
        `server baseline: the same action at ${smallest.bills} bills)`);
      console.log(`${'figure'.padEnd(15)} ${'browser ms'.padStart(10)} ${'goal'.padStart(5)} ${'x rows'.padStart(7)} ` +
        `${'server ms'.padStart(9)} ${'goal'.padStart(5)} ${`at ${smallest.bills}`.padStart(8)} ${'ratio'.padStart(6)} ${'goal'.padStart(5)}`);
      for (const key of Object.keys(goals)) {
        const value = figures[key];
        const line = `${key.padEnd(15)} ${f1(value).padStart(10)} ${String(goals[key]).padStart(5)} ${(value / base).toFixed(1).padStart(6)}x`;
        if (!actions.includes(key)) {
          console.log(key === 'firstPaint' ? `${line}   floor (a trivial page from node): ${f1(floor)} ms` : line);
          continue;
        }
        const spent = figures[`${key}.server`];
        const small = smallest.figures[`${key}.server`];
        console.log(`${line} ${f1(spent).padStart(9)} ${'5'.padStart(5)} ${f1(small).padStart(8)} ${(spent / small).toFixed(2).padStart(5)}x ${'1.3x'.padStart(5)}`);
      }
      console.log(`${'elements'.padEnd(15)} ${String(figures.elements).padStart(10)} ${'5000'.padStart(5)}`);
      console.log(`${'RSS MB'.padEnd(15)} ${f1(figures.rss).padStart(10)} ${'120'.padStart(5)}`);
      if (figures.rssAfter !== undefined) {
        console.log(`${`RSS +${extraActions}`.padEnd(15)} ${f1(figures.rssAfter).padStart(10)} ${'flat'.padStart(5)}`);
      }
    } finally {
      rmSync(seeded, { recursive: true, force: true });
    }
  }
} finally {
  await browser.close();
}
