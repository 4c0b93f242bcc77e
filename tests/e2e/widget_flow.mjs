// Browser flow of the widget host (harness.mjs): start brivel-widget-host with its plug-in and
// a fresh data directory, place the app's two widgets on the lock screen, and see them kept
// across a restart.
//
//   node widget_flow.mjs --host PATH [--out DIR]
//
// Exit codes: see harness.mjs (77: the browser is not installed, counted as skipped).
import { join } from 'node:path';

import {
  check, expect, failSetup, finish, openBrowser, setUp, start, stop, symbolNames, unnamedControls,
} from './harness.mjs';

const { options, chromium } = await setUp({
  required: ['host'],
  usage: 'node widget_flow.mjs --host PATH [--out DIR]',
  defaultOut: 'brivel-e2e-widget',
});
const outDir = options.out;
const { work, context, page } = await openBrowser(chromium, 'brivel-e2e-widget-');
const runs = [];
const dataDir = join(work, 'data');

const byId = (id) => page.locator(`[data-id="${id}"]`).first();
const shot = (name) => page.screenshot({ path: join(outDir, `${name}.png`) });

async function launch() {
  const run = start(options.host, ['--data-dir', dataDir, '--port', '0']);
  runs.push(run);
  await page.goto(await run.url);
  await byId('clock').waitFor({ state: 'visible' });
  return run;
}

async function galleryKinds() {
  await page.locator('.sheet').last().waitFor({ state: 'visible' });
  return page.locator('.sheet [data-id^="gallery-"]').evaluateAll((nodes) => nodes.map((n) => n.dataset.id));
}

try {
  let run = await launch();
  await shot('1-empty-lock-screen');

  await check('the inline slot offers the inline widget alone, with its name and description', async () => {
    await byId('slot-inline-empty').click();
    const kinds = await galleryKinds();
    expect(JSON.stringify(kinds) === JSON.stringify(['gallery-WidgetAccessoryInlineBrivelTitle']),
      `inline gallery offers ${kinds}`);
    const text = await page.locator('.sheet').last().innerText();
    expect(text.includes('Brivel') && text.includes('Open Brivel'), `gallery shows: ${text}`);
    await shot('2-inline-gallery');
    const bad = await unnamedControls(page, symbolNames(options.host), 'inline gallery');
    expect(bad.length === 0, `controls without a name in words:\n${bad.join('\n')}`);
    await byId('gallery-WidgetAccessoryInlineBrivelTitle').click();
    await byId('slot-inline-WidgetAccessoryInlineBrivelTitle').waitFor({ state: 'visible' });
    const face = await byId('slot-inline-WidgetAccessoryInlineBrivelTitle').innerText();
    expect(face.includes('Brivel'), `inline slot shows "${face}"`);
  });

  await check('a circular slot offers the circular widget alone and shows its mark once placed', async () => {
    await byId('slot-circular-1-empty').click();
    const kinds = await galleryKinds();
    expect(JSON.stringify(kinds) === JSON.stringify(['gallery-WidgetAccessoryCircularBrivelIcon']),
      `circular gallery offers ${kinds}`);
    await byId('gallery-WidgetAccessoryCircularBrivelIcon').click();
    const slot = byId('slot-circular-1-WidgetAccessoryCircularBrivelIcon');
    await slot.waitFor({ state: 'visible' });
    expect(await slot.locator('svg, img, .icon').count() > 0, 'the circular slot shows no mark');
    // A screen reader reads the placed widget's name, and the empty places' offer.
    expect(await slot.getAttribute('aria-label') === 'Brivel', `the placed widget is named "${await slot.getAttribute('aria-label')}"`);
    expect(await byId('slot-circular-2-empty').getAttribute('aria-label') === 'Add Widget', 'an empty place is named by its offer');
    await shot('3-both-placed');
  });

  await check('every control of the lock screen has a name in words', async () => {
    const bad = await unnamedControls(page, symbolNames(options.host), 'lock screen');
    expect(bad.length === 0, `controls without a name in words:\n${bad.join('\n')}`);
  });

  await check('both widgets are still placed after a restart', async () => {
    expect((await stop(run)) === 0, 'the host did not end cleanly');
    run = await launch();
    await byId('slot-inline-WidgetAccessoryInlineBrivelTitle').waitFor({ state: 'visible' });
    await byId('slot-circular-1-WidgetAccessoryCircularBrivelIcon').waitFor({ state: 'visible' });
    await shot('4-after-restart');
  });
} catch (error) {
  failSetup(error);
}
await finish({ context, work, runs, outDir });
