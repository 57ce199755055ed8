// Starts the editor: loads Monaco, opens the sample modules and wires the UI.

import { post, loadSample } from './client.js';
import { Diagnostics, registerProviders } from './features.js';
import { Workspace, isModuleName } from './workspace.js';

const statusBar = document.getElementById('status');

function report(message, isError = false) {
  statusBar.textContent = message;
  statusBar.classList.toggle('error', isError);
  if (isError) console.warn(message);
}

function loadMonaco() {
  return new Promise((resolve, reject) => {
    window.require.config({ paths: { vs: '/vs' } });
    window.require(['vs/editor/editor.main'], () => resolve(window.monaco), reject);
  });
}

async function start() {
  const monaco = await loadMonaco();
  const editor = monaco.editor.create(document.getElementById('editor'), {
    theme: 'vs-dark',
    automaticLayout: true,
    fontSize: 14,
    minimap: { enabled: false },
    // Only the bridge's suggestions, not words picked from the text.
    wordBasedSuggestions: 'off',
    hover: { delay: 300 },
  });

  let diagnostics = null;
  const workspace = new Workspace(monaco, editor, document.getElementById('tabs'), {
    onSelect: (tab) => diagnostics.schedule(tab, 0),
    onEdit: (tab) => diagnostics.schedule(tab),
    onDelete: (tab) => deleteModule(tab),
    onNew: () => newModule(),
  });
  diagnostics = new Diagnostics(monaco, workspace, report);
  registerProviders(monaco, workspace, report);

  function save() {
    const tab = workspace.active;
    if (!tab) return;
    workspace.save(tab);
    report(`Saved ${tab.name}.py`);
    // Other modules may import this one.
    diagnostics.schedule(tab, 0);
  }

  async function deleteModule(tab) {
    if (workspace.tabs.length === 1) return;
    if (!window.confirm(`Delete module ${tab.name}?`)) return;
    try {
      await post('/api/delete-module', { name: tab.name });
    } catch (error) {
      report(error.message, true);
      return;
    }
    diagnostics.forget(tab);
    workspace.remove(tab);
    report(`Deleted ${tab.name}.py`);
    // Imports of the deleted module no longer resolve.
    diagnostics.schedule(workspace.active, 0);
  }

  function newModule() {
    const name = window.prompt('Name of the new module (a Python identifier):', '');
    if (name === null) return;
    if (!isModuleName(name) || workspace.byName(name)) {
      report(`Cannot create module '${name}': not an identifier or already open`, true);
      return;
    }
    workspace.select(workspace.add(name, ''));
  }

  // Capture phase, so Ctrl-S saves the module wherever the focus is
  // instead of opening the browser's "save page" dialog.
  window.addEventListener('keydown', (event) => {
    if ((event.ctrlKey || event.metaKey) && event.key.toLowerCase() === 's') {
      event.preventDefault();
      save();
    }
  }, true);
  document.getElementById('save').addEventListener('click', save);

  const hoverMode = document.getElementById('hover-mode');
  const setHoverMode = () => post('/api/hover-mode', { mode: hoverMode.value })
    .then(() => report(`Hover mode: ${hoverMode.value}`))
    .catch((error) => report(error.message, true));
  hoverMode.addEventListener('change', setHoverMode);
  setHoverMode();

  for (const { name, code } of await loadSample()) workspace.add(name, code);
  workspace.select(workspace.tabs[0]);
  window.demo = { monaco, editor, workspace };
  document.body.dataset.ready = 'true';
  report('Ready');
}

start().catch((error) => report(`Failed to start: ${error.message || error}`, true));
