// What every browser flow of the brivel program shares: the command line, headless Chromium
// (Debian's /usr/bin/chromium through playwright-core), starting and stopping the program, and
// the named checks with their summary and exit code.
//
// Exit codes of a flow: 0 when every check passed, 1 when one failed, 2 for a bad command line,
// 77 when playwright-core or chromium is not installed (CTest counts that as skipped).
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// The value after `name` on the command line, if any.
export function option(name) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : undefined;
}

// Reads the options a flow needs (exits 2 with `usage` when one of `required` is missing),
// makes the output folder, and exits 77 when the browser is not installed.
export async function setUp({ required, usage, defaultOut }) {
  const options = {};
  for (const name of required) {
    options[name] = option(`--${name}`);
    if (!options[name]) {
      console.error(`usage: ${usage}`);
      process.exit(2);
    }
  }
  options.out = option('--out') ?? join(tmpdir(), defaultOut);
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
  mkdirSync(options.out, { recursive: true });
  return { options, chromium };
}

// A fresh working folder and a phone-sized page in a browser profile kept inside it.
export async function openBrowser(chromium, prefix) {
  const work = mkdtempSync(join(tmpdir(), prefix));
  const context = await chromium.launchPersistentContext(join(work, 'chromium-profile'), {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 390, height: 844 },
  });
  const page = context.pages()[0] ?? (await context.newPage());
  page.setDefaultTimeout(10000);
  return { work, context, page };
}

// Starts a program and resolves `url` with its printed address; rejects when it exits first or
// prints nothing within 20 s.
export function start(path, args) {
  const child = spawn(path, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${path} printed no address in 20 s\n${stderr}`)), 20000);
    createInterface({ input: child.stdout }).on('line', (line) => {
      if (/^http:\/\/127\.0\.0\.1:\d+\/\?secret=[0-9a-f]+$/.test(line.trim())) {
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
export async function stop(run) {
  if (run.child.exitCode !== null || run.child.signalCode !== null) return run.child.exitCode;
  run.child.kill('SIGTERM');
  const timer = setTimeout(() => run.child.kill('SIGKILL'), 10000);
  const { code } = await run.exited;
  clearTimeout(timer);
  return code;
}

// The names an icon alone would give: each symbol of the icon table installed beside the
// program (web/icons), read out as a screen reader would ("arrow circlepath").
export function symbolNames(programPath) {
  return new Set(readdirSync(join(dirname(programPath), 'web', 'icons'))
    .filter((f) => f.endsWith('.svg')).map((f) => f.slice(0, -4).replace(/\./g, ' ')));
}

// The controls of the accessibility tree of the top-most layer (or the whole app) that have no
// name, or are named after a symbol of `symbols` rather than by what they do; each as
// "what: the control's line". A screen without two controls is reported too: the walk missed it.
export async function unnamedControls(page, symbols, what) {
  // Words that only a symbol's name has (symbols missing from the table are read out too).
  const symbolWords = /\b(fill|badge|crop|circlepath|slash|personalhotspot|xmark|chevron|ellipsis)\b|^Enter$/i;
  const layers = page.locator('.layer');
  const root = (await layers.count()) ? layers.last() : page.locator('#app');
  const bad = [];
  let controls = 0;
  for (const line of (await root.ariaSnapshot()).split('\n')) {
    const m = /^\s*- (button|textbox|combobox|checkbox|switch|menuitem|menuitemradio|menuitemcheckbox|link|radio|slider|tab|option)\b(?: "([^"]*)")?/.exec(line);
    if (!m) continue;
    controls += 1;
    const name = (m[2] ?? '').trim();
    if (!name || symbols.has(name.toLowerCase()) || symbolWords.test(name)) bad.push(`${what}: ${line.trim()}`);
  }
  if (controls < 2) bad.push(`${what}: no controls`);
  return bad;
}

const results = [];

// Runs one named check and records whether it passed.
export async function check(name, body) {
  try {
    await body();
    results.push({ name, ok: true });
    console.log(`ok - ${name}`);
  } catch (error) {
    results.push({ name, ok: false });
    console.log(`not ok - ${name}\n  ${String(error.stack ?? error).replace(/\n/g, '\n  ')}`);
  }
}

export function expect(condition, message) {
  if (!condition) throw new Error(message);
}

// Records a failure outside any check (the flow could not be set up).
export function failSetup(error) {
  results.push({ name: 'setup', ok: false });
  console.log(`not ok - setup\n  ${String(error.stack ?? error)}`);
}

// Closes the browser, stops every program still running and removes the working folder, then
// prints the summary and exits with the flow's code.
export async function finish({ context, work, runs, outDir }) {
  await context.close().catch(() => {});
  for (const run of runs) await stop(run).catch(() => {});
  rmSync(work, { recursive: true, force: true });
  const passed = results.filter((r) => r.ok).length;
  const failed = results.length - passed;
  console.log(`screenshots: ${outDir}`);
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
