// Completion, hover and signature help providers and the diagnostics markers,
// all answered by the server's bridge.

import { post } from './client.js';

const MARKER_OWNER = 'lsp_bridge';
const DIAGNOSTICS_DELAY_MS = 400;

// One request for the tab that owns `model`, positioned at `position`.
function positionRequest(workspace, model, position) {
  const tab = workspace.tabFor(model);
  if (!tab) return null;
  return {
    code: model.getValue(),
    line: position.lineNumber,
    column: position.column - 1,
    ...workspace.contextFor(tab),
  };
}

// Calls the API; a failure or an `error` in the answer goes to the status bar.
async function ask(route, body, report) {
  try {
    const result = await post(route, body);
    if (result.error) report(`${route}: ${result.error}`, true);
    return result;
  } catch (error) {
    report(error.message, true);
    return null;
  }
}

export function registerProviders(monaco, workspace, report) {
  monaco.languages.registerCompletionItemProvider('python', {
    triggerCharacters: ['.'],
    async provideCompletionItems(model, position, context, token) {
      const body = positionRequest(workspace, model, position);
      if (!body) return { suggestions: [] };
      const result = await ask('/api/complete', body, report);
      if (!result || token.isCancellationRequested) return { suggestions: [] };
      const word = model.getWordUntilPosition(position);
      const range = new monaco.Range(position.lineNumber, word.startColumn, position.lineNumber, word.endColumn);
      return {
        suggestions: result.completions.map((item) => ({
          label: item.label,
          kind: item.kind, // already a Monaco CompletionItemKind number
          insertText: item.insertText,
          detail: item.detail,
          documentation: item.documentation,
          range,
        })),
      };
    },
  });

  monaco.languages.registerHoverProvider('python', {
    async provideHover(model, position, token) {
      const body = positionRequest(workspace, model, position);
      if (!body) return null;
      const result = await ask('/api/hover', body, report);
      if (!result || !result.contents || token.isCancellationRequested) return null;
      const word = model.getWordAtPosition(position);
      return {
        contents: [{ value: result.contents.value }],
        range: word && new monaco.Range(position.lineNumber, word.startColumn, position.lineNumber, word.endColumn),
      };
    },
  });

  monaco.languages.registerSignatureHelpProvider('python', {
    signatureHelpTriggerCharacters: ['(', ','],
    signatureHelpRetriggerCharacters: [')'],
    async provideSignatureHelp(model, position, token) {
      const body = positionRequest(workspace, model, position);
      if (!body) return null;
      const result = await ask('/api/signature', body, report);
      if (!result || !result.signatures.length || token.isCancellationRequested) return null;
      return {
        value: {
          signatures: result.signatures.map((sig) => ({
            label: sig.label,
            documentation: sig.documentation,
            parameters: sig.parameters.map((p) => ({ label: p.label, documentation: p.documentation })),
          })),
          activeSignature: result.activeSignature,
          activeParameter: result.activeParameter,
        },
        dispose() {},
      };
    },
  });
}

// Markers for one tab at a time, after a pause in typing.
export class Diagnostics {
  constructor(monaco, workspace, report) {
    this.monaco = monaco;
    this.workspace = workspace;
    this.report = report;
    this.timers = new Map();
  }

  schedule(tab, delay = DIAGNOSTICS_DELAY_MS) {
    clearTimeout(this.timers.get(tab));
    this.timers.set(tab, setTimeout(() => this.run(tab), delay));
  }

  forget(tab) {
    clearTimeout(this.timers.get(tab));
    this.timers.delete(tab);
  }

  async run(tab) {
    this.timers.delete(tab);
    const model = tab.model;
    if (model.isDisposed()) return;
    const version = model.getVersionId();
    const body = { code: model.getValue(), ...this.workspace.contextFor(tab) };
    const result = await ask('/api/diagnostics', body, this.report);
    // A slower answer for an older text must not overwrite a newer one.
    if (!result || model.isDisposed() || model.getVersionId() !== version) return;
    const markers = result.diagnostics.map((d) => ({
      startLineNumber: d.startLineNumber,
      startColumn: d.startColumn,
      endLineNumber: d.endLineNumber,
      endColumn: d.endColumn,
      message: d.message,
      severity: d.severity, // 8 error, 4 warning: Monaco's MarkerSeverity numbers
      source: 'lsp_bridge',
    }));
    this.monaco.editor.setModelMarkers(model, MARKER_OWNER, markers);
  }
}
