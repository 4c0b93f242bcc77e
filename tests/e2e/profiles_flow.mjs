// Browser flows of the profiles screens in the brivel program (harness.mjs): start the app on a
// free port with a fresh data directory, drive its page in headless Chromium, and check what a
// user sees. The profiles list is opened from the bills list's profile menu; the selected
// profile is read from the bills list's title.
//
//   node profiles_flow.mjs --program PATH [--out DIR]
//
// Flows: on a first launch the user creates the first profile and it is selected; the user
// archives it, opens it from the archive and restores it; with legacy data seeded into the
// app-group suite the user imports it, the imported bills are in the new profile, and the
// legacy data is kept or removed as the delete-backup switch says. Every screen on the way
// names its controls in words.
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { randomUUID } from 'node:crypto';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, stop, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['program'],
  usage: 'node profiles_flow.mjs --program PATH [--out DIR]',
  defaultOut: 'brivel-e2e-profiles',
});
const programPath = options.program;
const outDir = options.out;

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

const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-profiles-');
const runs = [];

const byId = (id) => page.locator(`[data-id="${id}"]`).first();
const field = (id) => page.locator(`input[data-id="${id}"], textarea[data-id="${id}"], [data-id="${id}"] input`).first();
// The bills list is titled with the selected profile's name ("Bills" while none is selected).
const billsTitle = () => page.locator('.window-content .nav-title').first();
const selectedName = async () => (await billsTitle().innerText()).trim();
async function waitSelected(name) {
  try {
    await page.waitForFunction(
      (want) => document.querySelector('.window-content .nav-title')?.textContent.trim() === want, name);
  } catch {
    throw new Error(`expected "${name}" selected, the bills list is titled "${await selectedName()}"`);
  }
}
const symbols = symbolNames(programPath);
// Controls on the top-most screen without a name in words, gathered over every flow.
const unnamed = [];
const lookAtNames = async (what) => unnamed.push(...(await unnamedControls(page, symbols, what)));

async function launch(dataDir) {
  const run = start(programPath, ['--data-dir', dataDir, '--port', '0']);
  runs.push(run);
  await page.goto(await run.url);
  await page.locator('.tab-bar').waitFor({ state: 'visible' });
  return run;
}

// Opens the profiles list as a user does: the bills list's profile menu, then "Profiles".
async function openProfiles(shot) {
  await page.locator('[data-id="profileMenu"] > .menu-button').click();
  await byId('profiles').waitFor({ state: 'visible' });
  if (shot) await page.screenshot({ path: join(outDir, shot), animations: 'disabled' });
  await byId('profiles').click();
  await byId('addProfile').waitFor({ state: 'visible' });
}

// Imports the seeded legacy data as `name`, with the delete-backup switch as given, and closes.
async function importLegacy(name, deleteBackup, shot) {
  await openProfiles();
  await byId('backup').click();
  await byId('importAction').waitFor({ state: 'visible' });
  await lookAtNames('profile import');
  await field('profileName').fill(name);
  await page.waitForFunction(() => !document.querySelector('[data-id="importAction"]')?.disabled);
  await byId('importAction').click();
  // Two paced steps of 0.66 s, then "Close" is enabled.
  await byId('deleteBackup').waitFor({ state: 'visible', timeout: 5000 });
  const result = await page.locator('.nav-page:not([hidden])').last().innerText();
  expect(/Rent/.test(result) && /Groceries/.test(result), `the result lists the imported bills, got: ${result}`);
  if (shot) await page.screenshot({ path: join(outDir, shot), animations: 'disabled' });
  await lookAtNames('finished import');
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
    expect((await selectedName()) === 'Bills', `nothing is selected on a first launch, got "${await selectedName()}"`);
    await openProfiles('profile-menu.png');
    const empty = await page.locator('.sheet').last().innerText();
    expect(/Add/.test(empty), `the empty state offers to add, got: ${empty}`);
    await page.screenshot({ path: join(outDir, 'profiles-empty.png'), animations: 'disabled' });
    await byId('addProfile').click();
    await field('profileName').waitFor({ state: 'visible' });
    await lookAtNames('new profile');
    await field('profileName').fill('  Home ');
    await page.waitForFunction(() => !document.querySelector('[data-id="save"]')?.disabled);
    await byId('save').click();
    // Both the add sheet and the profiles list close.
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await waitSelected('Home');
    expect(await page.locator('.tab-bar .tab-item').count() === 2, 'the forecast tab appears with a selection');
    await openProfiles('profile-menu-selected.png');
    const list = await page.locator('.sheet').last().innerText();
    expect(/Home/.test(list), `the list shows the profile, got: ${list}`);
    await page.screenshot({ path: join(outDir, 'profiles-list.png'), animations: 'disabled' });

    // The selection is remembered across a restart.
    expect((await stop(app)) === 0, 'SIGTERM ends the program cleanly');
    await launch(dataDir);
    await waitSelected('Home');
  });

  await check('archive: an archived profile opens from the archive and is restored from there', async () => {
    // Goes on with the first launch's program, where Home is the one profile.
    await openProfiles();
    await page.locator('.actions-host', { has: page.locator('[data-id="profileCard"]', { hasText: 'Home' }) })
      .first().locator('.row-more').first().click();
    await page.locator('.menu-popup:not([hidden]) [data-id="menu.archive"]').first().click();
    await page.waitForFunction(() => document.querySelector('[data-id="openArchive"]')?.disabled === false);
    await byId('openArchive').click();
    const archived = page.locator('[data-id="profileCard"]:visible', { hasText: 'Home' }).first();
    await archived.waitFor();
    await lookAtNames('archive');
    await archived.click();
    await page.locator('[data-id="unarchive"]:visible').first().waitFor();
    await lookAtNames('archived profile');
    await page.locator('[data-id="unarchive"]:visible').first().click();
    // With its last profile restored, the archive closes itself.
    await page.waitForFunction(() => document.querySelector('[data-id="openArchive"]')?.disabled === true);
    await page.locator('[data-id="profileCard"]:visible', { hasText: 'Home' }).first().waitFor();
    await byId('close').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
  });

  await check('legacy import with the switch on: bills in the new profile, legacy data removed', async () => {
    const dataDir = join(work, 'import-delete');
    seedLegacy(dataDir, legacy);
    const app = await launch(dataDir);
    await importLegacy('Old Budget', true, 'import-finished.png');
    expect(!(await byId('backup').isVisible()), 'the backup row is gone');
    await byId('close').click();
    await page.waitForFunction(() => document.querySelectorAll('.sheet').length === 0);
    await waitSelected('Old Budget');

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

  await check('every screen of the flows names its controls in words', async () => {
    expect(unnamed.length === 0, `controls without a name in words:\n${unnamed.join('\n')}`);
  });
} catch (error) {
  failSetup(error);
} finally {
  await finish({ context, work, runs, outDir });
}
