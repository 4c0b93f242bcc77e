// The page's client in headless Chromium (Debian's /usr/bin/chromium through playwright-core),
// against the demo screen: typing is kept and cut by the server, focus survives renders, a toast
// clears itself without a reload, sheets open and close from the keyboard, row actions work by
// right click, by keyboard and by swiping, a hostile text stays text, and a page that loses an
// answer catches up.
//
//   node browser_test.mjs --page PATH_OF_demo_page_fixture
//
// Exit codes: 0 when every check passed, 1 when one failed, 77 when playwright-core or chromium
// is not installed (CTest counts that as skipped).
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';

const CHROMIUM = '/usr/bin/chromium';
const here = dirname(fileURLToPath(import.meta.url));
const pageIndex = process.argv.indexOf('--page');
const program = pageIndex > 0 ? process.argv[pageIndex + 1] : undefined;
if (!program) {
  console.error('usage: node browser_test.mjs --page PATH');
  process.exit(2);
}

// playwright-core lives with the browser tests of the repository (tests/e2e).
let chromium;
try {
  ({ chromium } = createRequire(join(here, '..', '..', 'tests', 'e2e', 'package.json'))('playwright-core'));
} catch {
  console.log('SKIP: playwright-core is not installed (tests/e2e)');
  process.exit(77);
}
if (!existsSync(CHROMIUM)) {
  console.log(`SKIP: ${CHROMIUM} is missing`);
  process.exit(77);
}

const child = spawn(program, [], { stdio: ['ignore', 'pipe', 'inherit'] });
// Whatever happens below, the demo page does not outlive the test.
process.on('exit', () => child.kill('SIGTERM'));
const url = await new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error('the demo page printed no address in 20 s')), 20000);
  createInterface({ input: child.stdout }).on('line', (line) => {
    if (/^http:\/\/127\.0\.0\.1:\d+\/\?secret=[0-9a-f]+$/.test(line.trim())) {
      clearTimeout(timer);
      resolve(line.trim());
    }
  });
  child.on('exit', (code) => reject(new Error(`the demo page exited (${code}) before serving`)));
});

const browser = await chromium.launch({ executablePath: CHROMIUM, args: ['--no-sandbox', '--disable-gpu'] });
const page = await browser.newPage({ viewport: { width: 430, height: 932 } });
page.setDefaultTimeout(10000);
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(String(error)));
const policyErrors = [];
page.on('console', (message) => {
  if (message.type() === 'error' && /Content Security Policy/i.test(message.text())) policyErrors.push(message.text());
});
await page.goto(url);
await page.waitForSelector('[data-id="count"]');

let passed = 0;
let failed = 0;
async function check(name, body) {
  try {
    await body();
    passed += 1;
    console.log(`ok - ${name}`);
  } catch (error) {
    failed += 1;
    console.log(`not ok - ${name}\n  ${String(error.stack ?? error).replace(/\n/g, '\n  ')}`);
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}
const firstBill = () => page.evaluate(() => document.querySelector('.actions-host .label-title').textContent);

await check('the printed address shows the page, styled, and leaves the address bar for "/"', async () => {
  expect(page.url() === new URL('/', url).href, `the address bar reads ${page.url()}`);
  expect(policyErrors.length === 0, `the page's policy refused: ${policyErrors.join('; ')}`);
  const styled = await page.evaluate(() => getComputedStyle(document.getElementById('status')).position);
  expect(styled === 'fixed', `the status line is positioned ${styled}`);
  // The secret is now the cookie: the page loads again without it.
  await page.reload();
  await page.waitForSelector('[data-id="count"]');
  expect(page.url() === new URL('/', url).href, `after a reload the address bar reads ${page.url()}`);
});

await check('a tap acts and the new render is applied in place', async () => {
  await page.click('[data-id="count"]');
  await page.waitForFunction(() => document.querySelector('[data-id="count"]').textContent.trim() === '1');
});

await check('fast typing keeps focus and every character, cut to the limit by the server', async () => {
  const name = page.locator('[data-id="name"]');
  await name.click();
  await page.keyboard.type('The quick brown fox jumps over the lazy dog', { delay: 5 });
  try {
    await page.waitForFunction(
      () => document.querySelector('[data-id="name"]').value === 'The quick brown fox jumps over', null,
      { timeout: 15000 });
  } catch (error) {
    const value = await name.inputValue();
    throw new Error(`the field reads ${JSON.stringify(value)}: ${error.message}`);
  }
  expect(await name.evaluate((el) => el === document.activeElement), 'the field kept focus');
});

await check('a hostile text stays text', async () => {
  const name = page.locator('[data-id="name"]');
  await name.fill('<img src=x onerror="window.hacked=1">');
  await page.waitForTimeout(300);
  await page.click('[data-id="count"]');
  await page.waitForFunction(() => document.querySelector('[data-id="count"]').textContent.trim() === '2');
  expect(await page.evaluate(() => window.hacked === undefined && !document.querySelector('#app img[src="x"]')),
    'no markup from the text');
});

await check('a toast appears and clears itself without a reload', async () => {
  await page.evaluate(() => { window.notReloaded = true; });
  await page.click('[data-id="save"]');
  await page.waitForSelector('[data-id="toast"]');
  await page.waitForSelector('[data-id="toast"]', { state: 'detached', timeout: 5000 });
  expect(await page.evaluate(() => window.notReloaded === true), 'the page was not reloaded');
});

await check('a sheet opens and closes from the keyboard, and focus comes back', async () => {
  await page.focus('[aria-label="Add"]');
  await page.keyboard.press('Enter');
  await page.waitForSelector('.sheet');
  expect(await page.evaluate(() => !!document.activeElement.closest('.sheet')), 'focus moved into the sheet');
  await page.keyboard.press('Escape');
  await page.waitForSelector('.sheet', { state: 'detached' });
  expect(await page.evaluate(() => document.activeElement.getAttribute('aria-label') === 'Add'), 'focus came back');
});

await check('row actions open by right click and run from the keyboard', async () => {
  const before = await firstBill();
  await page.locator('.actions-host').first().click({ button: 'right' });
  await page.waitForSelector('.row-menu .menu-popup:not([hidden])');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('Enter');
  await page.waitForFunction((text) => document.querySelector('.actions-host .label-title').textContent !== text, before);
});

await check('a full swipe runs the first swipe action; a short one reveals the tray', async () => {
  const before = await firstBill();
  const swipe = async (distance) => {
    const box = await page.locator('.actions-host').first().boundingBox();
    const y = box.y + box.height / 2;
    await page.mouse.move(box.x + box.width - 60, y);
    await page.mouse.down();
    for (let i = 1; i <= 10; i += 1) await page.mouse.move(box.x + box.width - 60 - (distance * i) / 10, y);
    await page.mouse.up();
  };
  await swipe(320);
  await page.waitForFunction((text) => document.querySelector('.actions-host .label-title').textContent !== text, before);
  await swipe(60);
  await page.waitForSelector('.actions-host[data-swiped]');
});

await check('an answer changes the elements it names in place, without fetching the whole page', async () => {
  const wholeRenders = [];
  page.on('request', (request) => { if (new URL(request.url()).pathname === '/render') wholeRenders.push(request.url()); });
  const count = Number(await page.locator('[data-id="count"]').textContent());
  await page.evaluate(() => { window.keptRow = document.querySelectorAll('.actions-host')[1]; });
  await page.click('[data-id="count"]');
  await page.waitForFunction((n) => document.querySelector('[data-id="count"]').textContent.trim() === String(n), count + 1);
  expect(await page.evaluate(() => window.keptRow.isConnected), 'an unchanged row is the same element');
  expect(wholeRenders.length === 0, 'the page fell back to the whole render');
});

await check('a page whose answer is lost on the way still catches up', async () => {
  // The action reaches the app and runs, but its answer never reaches the page; the render it
  // made is not on the page's event stream either (the page was to have it from the answer).
  const count = Number(await page.locator('[data-id="count"]').textContent());
  await page.route('**/action', async (route) => {
    await route.fetch();
    await route.abort();
  }, { times: 1 });
  await page.click('[data-id="count"]');
  await page.waitForFunction((n) => document.querySelector('[data-id="count"]').textContent.trim() === String(n), count + 1);
  await page.unroute('**/action');
});

await check('the page raised no script error', async () => {
  expect(pageErrors.length === 0, pageErrors.join('\n'));
});

await browser.close();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
