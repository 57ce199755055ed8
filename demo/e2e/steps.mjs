// The checks, in order: each step starts where the previous one left the editor.

const WAIT = 30000; // jedi's first answers can take a while on a cold start

async function openTab(page, name) {
  await page.click(`.tab[data-module="${name}"] .label`);
  await page.waitForFunction((n) => window.demo.workspace.active.name === n, name);
}

// Types text line by line. Escape before each Enter: with the suggest
// widget open, Enter would accept a suggestion instead of breaking the line.
async function typeLines(page, text) {
  const lines = text.split('\n');
  for (const [i, line] of lines.entries()) {
    if (i > 0) {
      // The line break typed as text: Enter accepts a suggestion that a late answer opened
      // after Escape (seen on a fresh clone: `import os` + Enter became `import os` + `os.pa`
      // on one line).
      await page.keyboard.press('Escape');
      await page.evaluate(() => window.demo.editor.trigger('keyboard', 'type', { text: '\n' }));
    }
    await page.keyboard.type(line, { delay: 15 });
  }
}

// Puts the cursor on a new empty line at the end of the current module.
async function newLineAtEnd(page) {
  await page.click('.monaco-editor .view-lines');
  await page.keyboard.press('Escape');
  await page.keyboard.press('Control+End');
  const lineIsEmpty = await page.evaluate(() => {
    const editor = window.demo.editor;
    return editor.getModel().getLineContent(editor.getPosition().lineNumber).trim() === '';
  });
  if (!lineIsEmpty) await typeLines(page, '\n');
}

async function suggestLabels(page) {
  return page.$$eval('.suggest-widget .monaco-list-row .label-name', (els) => els.map((e) => e.textContent.trim()));
}

// With `trigger`, the suggestions are asked for up to three times, in case Monaco shows nothing
// for a completion it cancelled and nothing asks again.
async function waitForSuggestion(page, label, trigger) {
  const tries = trigger ? 3 : 1;
  for (let i = 0; i < tries; i++) {
    if (trigger) await trigger();
    try {
      await page.waitForFunction((l) => [...document.querySelectorAll('.suggest-widget.visible .monaco-list-row .label-name')]
        .some((e) => e.textContent.trim() === l), label, { timeout: WAIT / tries });
      return;
    } catch {
      // asked again, or reported below
    }
  }
  throw new Error(`'${label}' not in the suggestions: [${(await suggestLabels(page)).join(', ')}]`);
}

// Markers of the active model, as Monaco holds them.
async function waitForMarker(page, predicateSource, what) {
  try {
    await page.waitForFunction((src) => {
      const predicate = new Function('m', `return (${src});`);
      const model = window.demo.editor.getModel();
      return window.monaco.editor.getModelMarkers({ resource: model.uri }).some((m) => predicate(m));
    }, predicateSource, { timeout: WAIT });
  } catch {
    const markers = await page.evaluate(() => window.monaco.editor
      .getModelMarkers({ resource: window.demo.editor.getModel().uri })
      .map((m) => `${m.startLineNumber}:${m.startColumn} [${m.severity}] ${m.message}`));
    throw new Error(`no marker ${what}; markers: ${JSON.stringify(markers)}`);
  }
}

// Moves the mouse onto a position of the active model.
async function hoverPosition(page, pos) {
  const point = await page.evaluate((p) => {
    const editor = window.demo.editor;
    editor.revealPositionInCenter(p);
    const coords = editor.getScrolledVisiblePosition(p);
    const box = editor.getDomNode().getBoundingClientRect();
    return { x: box.left + coords.left + 2, y: box.top + coords.top + coords.height / 2 };
  }, pos);
  await page.mouse.move(point.x, point.y - 40);
  await page.mouse.move(point.x, point.y, { steps: 4 });
}

// Moves the mouse onto the first occurrence of `word` in the active model.
async function hoverWord(page, word) {
  const point = await page.evaluate((w) => {
    const editor = window.demo.editor;
    const match = editor.getModel().findMatches(w, false, false, true, null, false)[0];
    if (!match) return null;
    const pos = { lineNumber: match.range.startLineNumber, column: match.range.startColumn + 2 };
    editor.revealPositionInCenter(pos);
    const coords = editor.getScrolledVisiblePosition(pos);
    const box = editor.getDomNode().getBoundingClientRect();
    return { x: box.left + coords.left + 2, y: box.top + coords.top + coords.height / 2 };
  }, word);
  if (!point) throw new Error(`'${word}' not found in the module`);
  await page.mouse.move(point.x, point.y - 40);
  await page.mouse.move(point.x, point.y, { steps: 4 });
}

export const steps = [
  {
    id: 'a', slug: 'completion', title: "completion after 'os.pa' offers 'path'",
    async run(page, shot) {
      await newLineAtEnd(page);
      await typeLines(page, 'import os\nos.pa');
      await waitForSuggestion(page, 'path', () => page.keyboard.press('Control+Space'));
      await shot();
      await page.keyboard.press('Escape');
      await page.keyboard.type('th', { delay: 20 });
    },
  },
  {
    id: 'b', slug: 'unsaved-module', title: "completion sees a class added to another tab's unsaved text",
    async run(page, shot) {
      await openTab(page, 'shapes');
      await newLineAtEnd(page);
      await typeLines(page, '\nclass Hexagon(Shape):\n# A regular hexagon.\nsides = 6\n');
      await page.waitForSelector('.tab.dirty[data-module="shapes"]', { timeout: 5000 });
      await openTab(page, 'main');
      await newLineAtEnd(page);
      await page.keyboard.type('shapes.', { delay: 20 });
      await waitForSuggestion(page, 'Hexagon');
      await shot();
      await page.keyboard.press('Escape');
      await page.keyboard.type('Hexagon', { delay: 20 });
      await page.keyboard.press('Escape');
      if (!await page.$('.tab.dirty[data-module="shapes"]')) throw new Error('shapes lost its unsaved marker');
    },
  },
  {
    id: 'c', slug: 'hover', title: 'hovering a function shows its signature block',
    async run(page) {
      await hoverWord(page, 'format_area');
      const selector = '.monaco-hover:not(.hidden) .hover-contents';
      try {
        await page.waitForFunction((s) => [...document.querySelectorAll(s)]
          .some((e) => e.querySelector('code, .monaco-tokenized-source') && /format_area\(shape_name.*\) -> str/.test(e.textContent)), selector, { timeout: WAIT });
      } catch {
        const text = await page.$$eval(selector, (els) => els.map((e) => e.textContent));
        throw new Error(`no signature block in the hover: ${JSON.stringify(text)}`);
      }
    },
  },
  {
    id: 'd', slug: 'signature-help', title: "typing 'print(' shows signature help with the active parameter",
    async run(page) {
      await page.mouse.move(5, 5);
      await newLineAtEnd(page);
      await page.keyboard.type('print(', { delay: 20 });
      try {
        await page.waitForSelector('.parameter-hints-widget.visible .signature .parameter.active', { timeout: WAIT });
      } catch {
        throw new Error('no signature widget with an active parameter');
      }
      const label = await page.textContent('.parameter-hints-widget .signature');
      if (!label.includes('print(')) throw new Error(`unexpected signature: ${label}`);
    },
  },
  {
    id: 'e', slug: 'unresolved-import', title: "'import nosuchmodule' gets the unresolved-import marker",
    async run(page) {
      await page.keyboard.press('Escape');
      await newLineAtEnd(page);
      await page.keyboard.type('import nosuchmodule', { delay: 20 });
      await waitForMarker(page, `m.message === "import 'nosuchmodule' could not be resolved"`, 'for the import');
      await page.waitForSelector('.squiggly-error', { timeout: 5000 });
      await hoverWord(page, 'nosuchmodule');
      await page.waitForSelector('.monaco-hover:not(.hidden) .marker', { timeout: 10000 }).catch(() => {});
    },
  },
  {
    id: 'f', slug: 'syntax-error', title: 'a syntax error gets an error marker',
    async run(page) {
      await page.mouse.move(5, 5);
      await newLineAtEnd(page);
      await page.keyboard.type('def broken(:', { delay: 20 });
      const line = await page.evaluate(() => window.demo.editor.getPosition().lineNumber);
      await waitForMarker(page, `m.severity === 8 && m.startLineNumber === ${line}`, `with severity 8 on line ${line}`);
      // Show the marker's message for the screenshot.
      const column = await page.evaluate((l) => window.monaco.editor
        .getModelMarkers({ resource: window.demo.editor.getModel().uri })
        .find((m) => m.startLineNumber === l).startColumn, line);
      await hoverPosition(page, { lineNumber: line, column });
      await page.waitForSelector('.monaco-hover:not(.hidden) .marker', { timeout: 10000 }).catch(() => {});
    },
  },
];
