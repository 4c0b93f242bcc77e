// The page's client: posts taps and typing to the app, applies each new render in place, and
// listens for renders the app pushes by itself (a toast that clears itself).
//
// The page never decides anything: every control carries its action id ("data-action"), and
// the app answers each post with the new render: usually a patch naming the elements that
// change (server.h, pagePatch), applied to them in place; a whole render is merged into the page
// with morphdom, keyed by each view's identity ("data-key"). Either way focus, caret, scroll
// positions and open menus survive. Text a user is still typing is never overwritten by an older
// render: a field whose typing has not been answered yet keeps what is on screen.
(() => {
  'use strict';

  const token = document.querySelector('meta[name="brivel-token"]').content;
  let version = Number(document.querySelector('meta[name="brivel-version"]').content) || 0;
  // This page's own id and the number of its latest action: the app runs each numbered action
  // once, however often it is sent.
  const pageId = [...crypto.getRandomValues(new Uint8Array(12))].map((b) => b.toString(16).padStart(2, '0')).join('');
  let lastSeq = 0;
  const app = document.getElementById('app');
  const statusLine = document.getElementById('status');
  const meta = (name) => document.querySelector(`meta[name="${name}"]`)?.content;
  // The longest text a field without a limit of its own keeps, and the most one post may carry:
  // text is cut to them here, where the user sees it, and the app cuts it again.
  const textLimit = Number(meta('brivel-text-limit')) || 10000;
  const bodyLimit = Number(meta('brivel-body-limit')) || 65536;

  // ----- Status line -----

  function showStatus(text) {
    statusLine.textContent = text;
    statusLine.classList.toggle('visible', text !== '');
  }

  // ----- Cutting text -----

  const graphemes = typeof Intl !== 'undefined' && Intl.Segmenter
    ? (text) => Array.from(new Intl.Segmenter(undefined, { granularity: 'grapheme' }).segment(text), (s) => s.segment)
    : (text) => Array.from(text);
  const encoder = new TextEncoder();

  // `text` cut to `limit` user-perceived characters and to what fits in one post, with how many
  // characters were kept.
  function cutText(text, limit) {
    // Room for the rest of the post: its id, page and numbers.
    const budget = bodyLimit - 2048;
    if (text.length <= limit && encoder.encode(JSON.stringify(text)).length <= budget) return { text, cut: false };
    let kept = '';
    let count = 0;
    let size = 2;
    for (const piece of graphemes(text)) {
      if (count >= limit) break;
      const bytes = encoder.encode(JSON.stringify(piece)).length - 2;
      if (size + bytes > budget) break;
      kept += piece;
      count += 1;
      size += bytes;
    }
    return { text: kept, cut: kept !== text, count };
  }

  // ----- Posting actions -----

  const queue = [];
  let inFlight = null;

  function isPendingText(id) {
    const matches = (a) => a && a.id === id && a.event === 'set' && typeof a.value === 'string';
    return matches(inFlight) || queue.some(matches);
  }

  function post(action) {
    // A second tap on a control whose first tap is still unanswered (a double click on a button
    // that opens a sheet) is dropped: it would close what the first one opens.
    const sameTap = (a) => a && a.id === action.id && a.event === 'tap';
    if (action.event === 'tap' && (sameTap(inFlight) || queue.some(sameTap))) return;
    if ((action.event === 'set' && typeof action.value === 'string') || action.event === 'scroll') {
      // Typing and scrolling are coalesced: only the latest text of a field, or the latest
      // row of a list, waits in the queue.
      const waiting = queue.findIndex((a) => a.id === action.id && a.event === action.event);
      if (waiting >= 0) {
        queue[waiting] = action;
        return;
      }
    }
    queue.push(action);
    pump();
  }

  // A busy app (503) gets the same action again a few times; the app runs it at most once.
  const retryDelays = [250, 750, 2000];

  async function pump() {
    if (inFlight || queue.length === 0) return;
    inFlight = queue.shift();
    const seq = ++lastSeq;
    let answer = null;
    let lost = false;  // an answer that may have carried a new render did not arrive
    try {
      let response;
      for (let attempt = 0; ; attempt += 1) {
        const { notice, ...action } = inFlight;
        response = await fetch('/action', {
          method: 'POST',
          headers: { 'Content-Type': 'application/json', 'X-Brivel-Token': token },
          body: JSON.stringify({ ...action, base: version, page: pageId, seq }),
        });
        if (response.status !== 503 || attempt >= retryDelays.length) break;
        await new Promise((resolve) => setTimeout(resolve, retryDelays[attempt]));
      }
      const body = await response.json().catch(() => null);
      if (response.ok) {
        answer = body;
        lost = !body;
        showStatus(inFlight.notice || '');
      } else if (response.status === 409 && body && body.render) {
        answer = body.render;  // the page was stale; catch up
      } else if (response.status === 500 && body && body.render) {
        // The action ran but could not be saved: the render carries the lasting notice.
        answer = body.render;
        showStatus(body.error || 'Your change could not be saved.');
      } else if (response.status === 403) {
        showStatus('Brivel was restarted. Open the address it printed when it started.');
      } else if (response.status === 413) {
        showStatus((body && body.error) || 'This is too much to send at once. Shorten the text and try again.');
      } else {
        showStatus((body && body.error) || 'The action failed.');
        // The action may have run after all; its render does not come on the event stream.
        if (response.status === 503) lost = true;
      }
    } catch (error) {
      showStatus('Brivel is not reachable.');
      lost = true;
    }
    inFlight = null;
    if (answer) apply(answer, true);
    else if (lost) resync();
    pump();
  }

  // ----- Applying renders -----

  function isTextField(el) {
    return (el.tagName === 'INPUT' && (el.type === 'text' || el.type === 'search')) || el.tagName === 'TEXTAREA';
  }

  // Text fields whose render was held back while their typing was unanswered, with that text.
  const renderedText = new Map();

  // The text a field's markup gives it (a text area's is its content).
  const markupText = (el) => (el.tagName === 'TEXTAREA' ? el.textContent : (el.getAttribute('value') || ''));

  // A render reached a field without a merge (its markup was equal, or only its text changed):
  // while its typing waits, that render's text is the one held back; once the typing is answered,
  // an earlier held-back text is older than what the field shows and must not come back.
  function heldBack(field, text) {
    if (field.dataset.action && isPendingText(field.dataset.action)) renderedText.set(field, text);
    else renderedText.delete(field);
  }

  function keepClientState(from, to) {
    if (isTextField(from)) renderedText.delete(from);
    // Open menus, swiped rows and scrolled-to targets belong to the page, not to the app.
    if (from.classList.contains('menu-popup')) {
      // An open row menu keeps the items it fetched.
      if (from.dataset.menuOf && !from.hidden) to.innerHTML = from.innerHTML;
      to.hidden = from.hidden;
      to.setAttribute('style', from.getAttribute('style') || '');
    }
    if (from.classList.contains('menu-button')) to.setAttribute('aria-expanded', from.getAttribute('aria-expanded'));
    if (from.hasAttribute('data-swiped')) to.setAttribute('data-swiped', from.getAttribute('data-swiped'));
    if (from.hasAttribute('data-scrolled-to')) to.setAttribute('data-scrolled-to', from.getAttribute('data-scrolled-to'));
    if (from.classList.contains('actions-host') && from.style.getPropertyValue('--swipe')) {
      to.style.setProperty('--swipe', from.style.getPropertyValue('--swipe'));
    }
    if (isTextField(from) && from.dataset.action && isPendingText(from.dataset.action)) {
      // Typing not answered yet: what is on screen is newer than this render. What the render
      // says shows once the typing is answered (the app may have cut it).
      renderedText.set(from, markupText(to));
      to.value = from.value;
      if (to.tagName === 'TEXTAREA') to.textContent = from.value;
      else to.setAttribute('value', from.value);
    }
  }

  // Brings a control's live value (which the user changes without touching its attributes) in
  // line with the render, unless the user's typing there is not answered yet.
  function syncControl(from, to) {
    if (isTextField(from)) {
      if (from.dataset.action && isPendingText(from.dataset.action)) return;
      const value = markupText(to);
      if (from.value !== value) from.value = value;
    } else if (from.tagName === 'INPUT' && from.type === 'checkbox') {
      from.checked = to.hasAttribute('checked');
    } else if (from.tagName === 'SELECT') {
      const chosen = to.querySelector('option[selected]');
      if (chosen && from.value !== chosen.value) from.value = chosen.value;
    }
  }

  // Parses HTML into nodes (a fragment).
  function fragment(html) {
    const template = document.createElement('template');
    template.innerHTML = html;
    return template.content;
  }

  const morphOptions = {
    getNodeKey: (node) => (node.getAttribute ? node.getAttribute('data-key') || node.id : undefined),
    onBeforeElUpdated: (from, to) => {
      syncControl(from, to);
      if (from.isEqualNode(to)) {
        if (isTextField(from) && renderedText.has(from)) heldBack(from, markupText(to));
        return false;
      }
      keepClientState(from, to);
      // A text area's markup is its rendered text, which is read back after every render
      // (syncControl). The merge gives the area its live value but leaves the text of one that
      // was empty unwritten, which would then read back as empty and wipe what was just typed
      // or pasted: the text is set here, and only the live value is left to the merge.
      if (from.tagName === 'TEXTAREA' && from.textContent !== to.textContent) from.textContent = to.textContent;
      return true;
    },
  };

  // Gives an element the attributes of a start tag, as a merge would.
  function setStartTag(el, startTag) {
    const to = fragment(`${startTag}</${el.localName}>`).firstElementChild;
    if (!to || to.localName !== el.localName) return false;
    if (el.tagName === 'INPUT') syncControl(el, to);
    keepClientState(el, to);
    for (const attribute of [...el.attributes]) {
      if (!to.hasAttribute(attribute.name)) el.removeAttribute(attribute.name);
    }
    for (const attribute of to.attributes) {
      if (el.getAttribute(attribute.name) !== attribute.value) el.setAttribute(attribute.name, attribute.value);
    }
    const select = el.tagName === 'OPTION' ? el.closest('select') : null;
    if (select) {
      const chosen = select.querySelector('option[selected]');
      if (chosen && select.value !== chosen.value) select.value = chosen.value;
    }
    return true;
  }

  // Gives an element its new child nodes: numbers name the old ones kept, texts are new HTML.
  function setChildren(el, items, count) {
    const old = [...el.childNodes];
    if (typeof count === 'number' && old.length !== count) return false;
    const kept = new Set();
    for (const item of items) {
      if (typeof item !== 'number') continue;
      if (!old[item] || kept.has(item)) return false;
      kept.add(item);
    }
    old.forEach((child, i) => { if (!kept.has(i)) child.remove(); });
    let cursor = el.firstChild;
    for (const item of items) {
      if (typeof item === 'number') {
        const child = old[item];
        if (child === cursor) cursor = cursor.nextSibling;
        else el.insertBefore(child, cursor);
      } else {
        el.insertBefore(fragment(item), cursor);
      }
    }
    if (el.tagName === 'TEXTAREA' && renderedText.has(el)) heldBack(el, el.textContent);
    return true;
  }

  // Applies a patch's ops to the elements they name; false when one does not fit the page.
  function applyOps(ops) {
    let keyed = null;
    const byKey = (key) => {
      if (!keyed) {
        // The items of an open row menu are the page's own, not the app's render (a closed
        // menu holds none, so most pages need not look).
        keyed = new Map();
        const fetched = [...app.querySelectorAll('[data-menu-of]')].some((menu) => menu.firstElementChild);
        for (const el of app.querySelectorAll('[data-key]')) {
          if (!keyed.has(el.dataset.key) && !(fetched && el.closest('[data-menu-of]'))) keyed.set(el.dataset.key, el);
        }
      }
      return keyed.get(key);
    };
    for (const op of ops) {
      if (!Array.isArray(op) || !Array.isArray(op[0])) return false;
      const [path, kind, payload, count] = op;
      let el = path[0] === '' ? app : byKey(path[0]);
      for (let i = 1; el && i < path.length; i += 1) el = el.childNodes[path[i]];
      if (!el || el.nodeType !== Node.ELEMENT_NODE) return false;
      if (kind === 'h') {
        const to = fragment(payload).firstElementChild;
        if (!to) return false;
        morphdom(el, to, morphOptions);
      } else if (kind === 'a') {
        if (!setStartTag(el, payload)) return false;
      } else if (kind === 'c') {
        if (!setChildren(el, payload, count)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  // Fetches the whole render when a patch does not fit what is shown.
  let resyncing = false;
  let resyncAgain = false;
  async function resync() {
    if (resyncing) {
      resyncAgain = true;
      return;
    }
    resyncing = true;
    try {
      const response = await fetch('/render', { headers: { 'X-Brivel-Token': token } });
      if (response.ok) apply(await response.json(), true);
    } catch (_) { /* the event stream reports an unreachable app */ }
    resyncing = false;
    if (resyncAgain) {
      resyncAgain = false;
      resync();
    }
  }

  function apply(render, answered) {
    if (!render || typeof render.version !== 'number') return;
    // A pushed render older than what is shown is dropped; the answer to a post is applied even
    // when a push of the same render came first, so that a cut text shows.
    if (render.version < version || (!answered && render.version === version)) return;
    const patch = Array.isArray(render.ops);
    if (patch && render.version !== version && render.base !== version) {
      resync();
      return;
    }
    if (!patch && typeof render.html !== 'string') return;

    const wantedBefore = focusWanted();
    const focused = document.activeElement;
    const selection = focused && isTextField(focused) ? [focused.selectionStart, focused.selectionEnd] : null;
    if (patch) {
      // A patch whose render is shown already (a push came first) has nothing more to apply.
      if (render.version !== version && !applyOps(render.ops)) {
        resync();
        return;
      }
    } else {
      const next = document.createElement('div');
      next.id = 'app';
      next.innerHTML = render.html;
      morphdom(app, next, morphOptions);
    }
    version = render.version;
    if (render.title) document.title = render.title;
    // Subtrees equal to the render were skipped above, but a text field's live value is not in
    // its markup: bring every field in line with the render (unless its typing is pending).
    for (const field of app.querySelectorAll('input[data-action], textarea[data-action]')) {
      if (isTextField(field)) syncControl(field, field);
    }
    for (const [field, text] of renderedText) {
      if (field.dataset.action && isPendingText(field.dataset.action)) continue;
      renderedText.delete(field);
      if (!field.isConnected) continue;
      if (field.tagName === 'TEXTAREA') field.textContent = text;
      else field.setAttribute('value', text);
      field.value = text;
    }
    if (selection && document.activeElement === focused && isTextField(focused)) {
      const length = focused.value.length;
      try {
        focused.setSelectionRange(Math.min(selection[0], length), Math.min(selection[1], length));
      } catch (_) { /* not every input type has a selection */ }
    }
    followFocus(wantedBefore);
    afterRender(focused);
    numberRows();
    measureRows();
    scheduleFill();
  }

  // The field the app wants focused (its focus state), by action id.
  function focusWanted() {
    const el = app.querySelector('[data-focused="true"]');
    return el ? el.dataset.action : null;
  }

  // When the app moves focus (the next field on return) or takes it away (after a save), the page
  // follows; a render that says nothing new about focus leaves the user's focus alone.
  function followFocus(before) {
    // While the user's own posts wait, a newer answer is coming: do not pull focus back.
    if (inFlight || queue.length) return;
    const now = focusWanted();
    if (now === before) return;
    if (now) {
      const el = app.querySelector(`[data-focused="true"]`);
      if (el && document.activeElement !== el) el.focus({ preventScroll: true });
    } else if (before && document.activeElement && document.activeElement.dataset &&
               document.activeElement.dataset.action === before) {
      document.activeElement.blur();
    }
  }

  function topLayer() {
    const layers = app.querySelectorAll('.layer');
    return layers.length ? layers[layers.length - 1] : null;
  }

  // Where focus was before each open sheet or dialog, to return it there when the layer closes.
  const focusBeforeLayers = [];

  // Messages that come and go (a toast) are spoken once each time they appear, through a live
  // region that stays on the page.
  const announcer = document.getElementById('announcer');
  let announced = '';
  function announce() {
    if (!announcer) return;
    const words = [...app.querySelectorAll('[data-announce]')].map((el) => el.textContent.trim()).join(' ');
    if (words && words !== announced) announcer.textContent = words;
    announced = words;
  }

  // ----- Clipboard -----

  // The app's pasteboard rides along with each render ("data-copy" counts the copies); a new
  // copy goes to the system clipboard. What was copied before the page loaded stays where it is.
  const copied = () => {
    const el = app.querySelector('[data-copy]');
    return { count: el ? Number(el.dataset.copy) || 0 : 0, text: el ? el.textContent : '' };
  };
  let copiesSeen = copied().count;

  function copyWithSelection(text) {
    // For a page without focus or without the clipboard API: copy from a selected text area.
    const before = document.activeElement;
    const area = document.createElement('textarea');
    area.value = text;
    area.setAttribute('readonly', '');
    area.className = 'visually-hidden';
    document.body.appendChild(area);
    area.select();
    try { document.execCommand('copy'); } catch (_) { /* nothing more to try */ }
    area.remove();
    if (before && before.focus) before.focus({ preventScroll: true });
  }

  function syncClipboard() {
    const { count, text } = copied();
    if (count <= copiesSeen) return;
    copiesSeen = count;
    if (navigator.clipboard && navigator.clipboard.writeText && document.hasFocus()) {
      navigator.clipboard.writeText(text).catch(() => copyWithSelection(text));
    } else {
      copyWithSelection(text);
    }
  }

  // ----- Browser history -----

  // Each open sheet or dialog and each pushed page has a history entry, so that the browser's
  // Back closes the top one (or goes back one page) instead of leaving the app. Entries of
  // presentations that closed are taken off again; Forward never reopens one.
  let historyDepth = 0;
  let ownMoves = 0;  // history moves made here, whose popstate is not the user's

  function presentedDepth() {
    return app.querySelectorAll('.layer').length + app.querySelectorAll('.nav-back').length;
  }

  function syncHistory() {
    const depth = presentedDepth();
    while (historyDepth < depth) {
      historyDepth += 1;
      history.pushState({ brivelDepth: historyDepth }, '');
    }
    if (historyDepth > depth) {
      ownMoves += 1;
      history.go(depth - historyDepth);
      historyDepth = depth;
    }
  }

  function goBackOne() {
    const layer = topLayer();
    const scope = layer || app;
    const backs = scope.querySelectorAll('.nav-back[data-action]');
    if (backs.length) {
      post({ id: backs[backs.length - 1].dataset.action, event: 'dismiss' });
      return true;
    }
    const panel = layer && layer.querySelector(':scope > [data-dismissable="true"]');
    if (panel) {
      post({ id: panel.dataset.action, event: 'dismiss' });
      return true;
    }
    // A sheet that cannot be swiped away (an editor) closes by its own close button, as a tap
    // on it would.
    const close = layer && layer.querySelector('button[aria-label="Close"][data-action]:not([disabled])');
    if (close) {
      post({ id: close.dataset.action, event: 'tap' });
      return true;
    }
    return false;
  }

  window.addEventListener('popstate', (event) => {
    if (ownMoves > 0) {
      ownMoves -= 1;
      return;
    }
    const reached = (event.state && event.state.brivelDepth) || 0;
    if (reached > historyDepth) {
      // Forward to an entry of a presentation that has closed: step back to where the page is.
      ownMoves += 1;
      history.go(historyDepth - reached);
      return;
    }
    const steps = historyDepth - reached;
    historyDepth = reached;
    const closed = steps > 0 && goBackOne();
    // Nothing could close (a sheet that refuses): its entry comes back.
    if (!closed) syncHistory();
  });

  function afterRender(focusedBefore = document.activeElement) {
    announce();
    syncClipboard();
    syncHistory();
    const layerCount = app.querySelectorAll('.layer').length;
    while (focusBeforeLayers.length > layerCount) {
      const back = focusBeforeLayers.pop();
      if (focusBeforeLayers.length === layerCount && back && back.isConnected &&
          (!document.activeElement || document.activeElement === document.body)) {
        back.focus({ preventScroll: true });
      }
    }
    while (focusBeforeLayers.length < layerCount) focusBeforeLayers.push(focusedBefore);
    const layer = topLayer();
    const scope = layer || app;
    // Focus stays inside the top-most sheet or dialog; everything under it is inert.
    if (layer && !layer.contains(document.activeElement)) {
      // The panel itself takes focus (not its first button: in a dialog that may be the
      // destructive one), unless the app asks for a field.
      const first = layer.querySelector('[data-focused="true"]') || layer.querySelector('.sheet, .dialog');
      if (first) first.focus({ preventScroll: true });
    } else if (!document.activeElement || document.activeElement === document.body) {
      const wanted = scope.querySelector('[data-focused="true"]');
      if (wanted) wanted.focus({ preventScroll: true });
    }
    // Bring a scroll target into view once per target.
    for (const scroller of app.querySelectorAll('[data-scroll-target]')) {
      const target = scroller.getAttribute('data-scroll-target');
      if (scroller.getAttribute('data-scrolled-to') === target) continue;
      scroller.setAttribute('data-scrolled-to', target);
      for (const child of scroller.querySelectorAll('[data-key], [data-id]')) {
        if (child.getAttribute('data-key') === target || child.getAttribute('data-id') === target) {
          child.scrollIntoView({ block: 'nearest', inline: 'nearest' });
          break;
        }
      }
    }
  }

  // ----- Long lists -----
  // A long list holds only the rows around what is on screen; placeholders keep the room of
  // the others. As the page scrolls (or focus moves down the rows), it tells the app which row
  // it shows first, and the answer brings the rows around it.

  let rowHeight = 0;

  // Numbers the rows of each long list from the placeholders between them: "data-row" for the
  // page, and their place in the whole list for assistive technology.
  function numberRows() {
    for (const list of app.querySelectorAll('[data-rows-action]')) {
      const size = list.dataset.rowCount;
      let next = 0;
      for (const el of list.querySelectorAll('.row[role="listitem"], .row-placeholder')) {
        if (el.classList.contains('row-placeholder')) {
          next = Number(el.dataset.first) + Number(el.dataset.rows);
          continue;
        }
        // Only what changed is written: a write restyles the row.
        const place = String(next);
        if (el.dataset.row !== place) el.dataset.row = place;
        if (el.getAttribute('aria-posinset') !== String(next + 1)) el.setAttribute('aria-posinset', String(next + 1));
        if (el.getAttribute('aria-setsize') !== size) el.setAttribute('aria-setsize', size);
        next += 1;
      }
    }
  }

  // The placeholders take the measured average height of the rows on the page. Rows off screen
  // are not laid out (app.css) and do not count; each placeholder holds the height itself, so
  // that a new height restyles the placeholders alone.
  function measureRows() {
    const rows = app.querySelectorAll('[data-rows-action] .row[data-row]');
    if (!rows.length) return;
    let total = 0;
    let sampled = 0;
    for (let i = 0; i < rows.length && sampled < 40; i += 1) {
      if (rows[i].checkVisibility && !rows[i].checkVisibility({ contentVisibilityAuto: true })) continue;
      total += rows[i].offsetHeight;
      sampled += 1;
    }
    const height = sampled ? total / sampled : 0;
    if (height > 0 && Math.abs(height - rowHeight) >= 1) rowHeight = height;
    if (!rowHeight) return;
    const wanted = `${rowHeight}px`;
    for (const gap of app.querySelectorAll('.row-placeholder')) {
      if (gap.style.getPropertyValue('--row-h') !== wanted) gap.style.setProperty('--row-h', wanted);
    }
  }

  // The index of the row at the middle of the window, or null when the list is not there.
  function rowAtMiddle(list) {
    const middle = window.innerHeight / 2;
    const box = list.getBoundingClientRect();
    if (box.bottom <= 0 || box.top >= window.innerHeight) return null;
    let passed = null;
    for (const el of list.querySelectorAll('.row[data-row], .row-placeholder')) {
      const r = el.getBoundingClientRect();
      const placeholder = el.classList.contains('row-placeholder');
      if (r.bottom <= middle) {
        passed = placeholder ? Number(el.dataset.first) + Number(el.dataset.rows) - 1 : Number(el.dataset.row);
        continue;
      }
      if (r.top > middle) return passed === null ? (placeholder ? Number(el.dataset.first) : Number(el.dataset.row)) : passed;
      return placeholder ? Number(el.dataset.first) + Math.floor((middle - r.top) / (rowHeight || 96)) : Number(el.dataset.row);
    }
    return passed;
  }

  const askedRow = new Map();

  // The app builds the rows the window holds from the first one shown, and half a window more
  // (at least 3 rows) on either side; the page asks again once fewer than this many rows are
  // left built beyond the window in the way it scrolls, so a fresh answer never needs asking.
  const askMargin = 2;

  function fillLists() {
    if (topLayer()) return;
    for (const list of app.querySelectorAll('[data-rows-action]')) {
      const count = Number(list.dataset.rowCount) || 0;
      const middle = rowAtMiddle(list);
      if (middle === null || count === 0) continue;
      const perScreen = Math.max(1, Math.min(500, Math.ceil(window.innerHeight / (rowHeight || 96))));
      const first = Math.max(0, Math.min(count - 1, middle - Math.floor(perScreen / 2)));
      const built = new Set();
      for (const row of list.querySelectorAll('.row[data-row]')) built.add(Number(row.dataset.row));
      // Ask ahead: before the rows on screen run out in either direction.
      let missing = false;
      for (let i = Math.max(0, first - askMargin); i < Math.min(count, first + perScreen + askMargin); i += 1) {
        if (!built.has(i)) {
          missing = true;
          break;
        }
      }
      const id = list.dataset.rowsAction;
      const ask = `${first}/${perScreen}`;
      if (missing && askedRow.get(id) !== ask) {
        askedRow.set(id, ask);
        post({ id, event: 'scroll', value: first, rows: perScreen });
      }
    }
  }

  let fillPending = false;
  function scheduleFill() {
    if (fillPending) return;
    fillPending = true;
    requestAnimationFrame(() => {
      fillPending = false;
      fillLists();
    });
  }
  window.addEventListener('scroll', scheduleFill, { passive: true });
  window.addEventListener('resize', scheduleFill);

  // ----- Menus -----

  function closeMenus(except) {
    for (const popup of document.querySelectorAll('.menu-popup:not([hidden])')) {
      if (except && (popup === except || popup.contains(except))) continue;
      popup.hidden = true;
      const trigger = popup.parentElement.querySelector(':scope > .menu-button');
      if (trigger) trigger.setAttribute('aria-expanded', 'false');
    }
  }

  function menuItems(popup) {
    return [...popup.querySelectorAll(':scope > .menu-item, :scope > .menu-group > .menu-item, ' +
      ':scope > .menu-control-group > .menu-item, :scope > .menu > .menu-button, :scope > a.link, ' +
      ':scope > .menu-control-group > .button, :scope > .button')]
      .filter((el) => !el.disabled);
  }

  // Puts a popup at the pointer, or under its button aligned to the button's right edge, kept
  // inside the window.
  function placeMenu(popup, trigger, at) {
    const width = popup.offsetWidth;
    const height = popup.offsetHeight;
    let x;
    let y;
    if (at) {
      x = at.x;
      y = at.y;
    } else {
      const box = (trigger || popup.parentElement).getBoundingClientRect();
      x = box.right - width;
      y = box.bottom + 4;
      if (y + height > window.innerHeight - 8) y = box.top - height - 4;
    }
    x = Math.max(8, Math.min(x, window.innerWidth - width - 8));
    y = Math.max(8, Math.min(y, window.innerHeight - height - 8));
    popup.style.setProperty('--menu-x', `${x}px`);
    popup.style.setProperty('--menu-y', `${y}px`);
  }

  // A row's actions menu is drawn by the app when it opens.
  async function fillMenu(popup) {
    try {
      const response = await fetch(`/menu?key=${encodeURIComponent(popup.dataset.menuOf)}`,
        { headers: { 'X-Brivel-Token': token } });
      if (!response.ok) return false;
      popup.innerHTML = await response.text();
      return true;
    } catch (_) {
      return false;
    }
  }

  async function openMenu(menu, at) {
    const popup = menu.querySelector(':scope > .menu-popup');
    const trigger = menu.querySelector(':scope > .menu-button');
    if (!popup) return;
    if (popup.dataset.menuOf && !(await fillMenu(popup))) return;
    closeMenus(menu);
    popup.hidden = false;
    if (trigger) trigger.setAttribute('aria-expanded', 'true');
    if (!menu.classList.contains('submenu')) placeMenu(popup, trigger, at);
    const items = menuItems(popup);
    if (items.length) items[0].focus({ preventScroll: true });
  }

  // ----- Swipe -----

  let swipe = null;
  let suppressClickUntil = 0;

  function closeSwipes(except) {
    for (const host of app.querySelectorAll('.actions-host[data-swiped]')) {
      if (host === except) continue;
      host.removeAttribute('data-swiped');
      host.style.removeProperty('--swipe');
    }
  }

  app.addEventListener('pointerdown', (event) => {
    const host = event.target.closest('.actions-host');
    if (!host || event.button !== 0 || !host.querySelector(':scope > .swipe-tray')) return;
    if (event.target.closest('.swipe-tray, .menu-popup')) return;
    swipe = { host, x: event.clientX, y: event.clientY, dx: 0, active: false };
  });

  app.addEventListener('pointermove', (event) => {
    if (!swipe) return;
    const dx = event.clientX - swipe.x;
    const dy = event.clientY - swipe.y;
    if (!swipe.active) {
      if (Math.abs(dx) < 8 || Math.abs(dx) < Math.abs(dy)) return;
      swipe.active = true;
      swipe.host.setPointerCapture(event.pointerId);
      closeSwipes(swipe.host);
    }
    const opened = swipe.host.hasAttribute('data-swiped') ? swipe.host.querySelector('.swipe-tray').offsetWidth : 0;
    swipe.dx = Math.min(0, dx - opened);
    swipe.host.classList.add('swiping');
    swipe.host.style.setProperty('--swipe', `${swipe.dx}px`);
  });

  function endSwipe() {
    if (!swipe) return;
    const { host, dx, active } = swipe;
    swipe = null;
    host.classList.remove('swiping');
    if (!active) return;
    const tray = host.querySelector(':scope > .swipe-tray');
    const width = host.offsetWidth;
    if (host.dataset.fullSwipe === 'true' && -dx > width * 0.6) {
      host.removeAttribute('data-swiped');
      host.style.removeProperty('--swipe');
      const first = tray.querySelector('[data-action]:not([disabled])');
      if (first) post({ id: first.dataset.action, event: 'tap' });
    } else if (-dx > tray.offsetWidth / 2) {
      host.setAttribute('data-swiped', 'true');
      host.style.setProperty('--swipe', `${-tray.offsetWidth}px`);
    } else {
      host.removeAttribute('data-swiped');
      host.style.removeProperty('--swipe');
    }
    // The click that ends a drag is not a tap.
    suppressClickUntil = performance.now() + 400;
  }
  app.addEventListener('pointerup', endSwipe);
  app.addEventListener('pointercancel', () => { if (swipe) { swipe.host.classList.remove('swiping'); swipe = null; } });

  // ----- Events -----

  document.addEventListener('click', (event) => {
    if (performance.now() < suppressClickUntil) {
      suppressClickUntil = 0;
      event.preventDefault();
      return;
    }
    const trigger = event.target.closest('.menu-button');
    if (trigger && app.contains(trigger)) {
      const menu = trigger.parentElement;
      const popup = menu.querySelector(':scope > .menu-popup');
      if (popup && popup.hidden) openMenu(menu);
      else closeMenus();
      return;
    }
    const layer = event.target.classList && event.target.classList.contains('layer') ? event.target : null;
    if (layer) {
      // A tap beside a sheet or dialog closes it where the app allows.
      const panel = layer.querySelector(':scope > [data-dismissable="true"]');
      if (panel) post({ id: panel.dataset.action, event: 'dismiss' });
      return;
    }
    const control = event.target.closest('[data-action]');
    if (!control || !app.contains(control)) {
      closeMenus();
      if (!event.target.closest('.actions-host')) closeSwipes();
      return;
    }
    if (control.tagName === 'INPUT' || control.tagName === 'TEXTAREA' || control.tagName === 'SELECT') return;
    if (control.matches('.sheet, .dialog')) return;  // a click inside the panel, not on a control
    if (control.disabled || control.getAttribute('aria-disabled') === 'true') return;
    closeMenus();
    closeSwipes();
    post({ id: control.dataset.action, event: control.dataset.event || 'tap' });
  });

  document.addEventListener('change', (event) => {
    const el = event.target;
    if (el.matches('input[type="checkbox"][data-action]')) {
      post({ id: el.dataset.action, event: 'set', value: el.checked });
    } else if (el.matches('select[data-picker]') && el.value) {
      post({ id: el.value, event: 'tap' });
    }
  });

  document.addEventListener('input', (event) => {
    const el = event.target;
    if (!isTextField(el) || !el.dataset.action) return;
    // A paste longer than the field takes is cut here, and the user is told.
    const limit = Math.min(Number(el.dataset.maxLength) || textLimit, textLimit);
    const { text, cut, count } = cutText(el.value, limit);
    const action = { id: el.dataset.action, event: 'set', value: text };
    if (cut) {
      el.value = text;
      action.notice = `Only the first ${count} characters fit here; the rest was left out.`;
    }
    post(action);
  });

  document.addEventListener('focusin', (event) => {
    const el = event.target;
    if (isTextField(el) && el.dataset.action) post({ id: el.dataset.action, event: 'focus', value: true });
  });

  document.addEventListener('focusout', (event) => {
    const el = event.target;
    if (isTextField(el) && el.dataset.action && document.hasFocus()) {
      post({ id: el.dataset.action, event: 'focus', value: false });
    }
  });

  document.addEventListener('contextmenu', (event) => {
    const host = event.target.closest('.actions-host');
    if (!host || !app.contains(host)) return;
    event.preventDefault();
    openMenu(host.querySelector(':scope > .row-menu'), { x: event.clientX, y: event.clientY });
  });

  document.addEventListener('keydown', (event) => {
    const el = event.target;
    const popup = el.closest && el.closest('.menu-popup');
    if (popup && ['ArrowDown', 'ArrowUp', 'Home', 'End'].includes(event.key)) {
      const items = menuItems(popup);
      const at = items.indexOf(el);
      let next = at;
      if (event.key === 'ArrowDown') next = (at + 1) % items.length;
      if (event.key === 'ArrowUp') next = (at - 1 + items.length) % items.length;
      if (event.key === 'Home') next = 0;
      if (event.key === 'End') next = items.length - 1;
      if (items[next]) items[next].focus({ preventScroll: true });
      event.preventDefault();
      return;
    }
    if (event.key === 'ArrowRight' && el.closest && el.closest('.submenu > .menu-button')) {
      openMenu(el.parentElement);
      event.preventDefault();
      return;
    }
    if (event.key === 'ContextMenu' || (event.key === 'F10' && event.shiftKey)) {
      const host = el.closest && el.closest('.actions-host');
      if (host) {
        openMenu(host.querySelector(':scope > .row-menu'));
        event.preventDefault();
      }
      return;
    }
    if (event.key === 'Escape') {
      const open = document.querySelector('.menu-popup:not([hidden])');
      if (open) {
        const trigger = open.parentElement.querySelector(':scope > .menu-button');
        closeMenus();
        if (trigger) trigger.focus();
        event.preventDefault();
        return;
      }
      if (el.matches && el.matches('input[type="search"][data-action]')) {
        post({ id: el.dataset.action, event: 'dismiss' });
        event.preventDefault();
        return;
      }
      const layer = topLayer();
      const panel = layer && layer.querySelector(':scope > [data-dismissable="true"]');
      if (panel) {
        post({ id: panel.dataset.action, event: 'dismiss' });
        event.preventDefault();
      }
      return;
    }
    if ((event.key === 'Enter' || event.key === ' ') && el.matches && el.matches('[role="button"][data-action]') &&
        el.tagName !== 'BUTTON') {
      // A row drawn as an element with the button role (its label holds controls) acts like a
      // button for the keyboard; keys pressed on the controls inside it are theirs.
      event.preventDefault();
      if (event.repeat || el.getAttribute('aria-disabled') === 'true') return;
      closeMenus();
      closeSwipes();
      post({ id: el.dataset.action, event: 'tap' });
      return;
    }
    if (event.key === 'Enter' && el.tagName === 'INPUT' && isTextField(el) && el.dataset.action) {
      post({ id: el.dataset.action, event: 'submit' });
      event.preventDefault();
    }
  });

  // A scrolled page or a resized window leaves no menu floating in the wrong place.
  window.addEventListener('resize', () => closeMenus());
  document.addEventListener('scroll', (event) => {
    if (!(event.target.closest && event.target.closest('.menu-popup'))) closeMenus();
  }, true);

  document.addEventListener('visibilitychange', () => {
    fetch('/scene', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-Brivel-Token': token },
      body: JSON.stringify({ phase: document.visibilityState === 'visible' ? 'active' : 'background' }),
    }).catch(() => {});
  });

  // ----- Pushed renders -----

  // The stream names this page and the version it holds: the stream does not send that version
  // again, nor a render that answers one of this page's own posts.
  const events = new EventSource(`/events?token=${encodeURIComponent(token)}&page=${pageId}&version=${version}`);
  events.addEventListener('render', (event) => {
    try {
      apply(JSON.parse(event.data), false);
    } catch (_) { /* a broken event is skipped; the next one carries the whole page */ }
  });
  events.addEventListener('open', () => showStatus(''));
  events.addEventListener('error', () => {
    showStatus(events.readyState === EventSource.CLOSED ? 'Brivel has stopped. Reload the page.' : 'Reconnecting…');
  });

  afterRender();
  numberRows();
  // The rows are measured in the first frame, from the layout it makes anyway: measured now,
  // they would force a layout of their own before the page is first painted.
  requestAnimationFrame(measureRows);
  scheduleFill();
})();
