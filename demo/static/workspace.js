// The open modules: one Monaco model per tab, each with its last saved text.

const MODULE_NAME = /^[A-Za-z_][A-Za-z0-9_]*$/;

export function isModuleName(name) {
  return MODULE_NAME.test(name) && name.length <= 100;
}

export class Workspace {
  constructor(monaco, editor, tabBar, hooks) {
    this.monaco = monaco;
    this.editor = editor;
    this.tabBar = tabBar;
    this.hooks = hooks; // { onSelect(tab), onEdit(tab), onDelete(tab) }
    this.tabs = [];
    this.active = null;
  }

  add(name, code) {
    const uri = this.monaco.Uri.parse(`file:///${name}.py`);
    const model = this.monaco.editor.createModel(code, 'python', uri);
    const tab = { name, model, saved: code, viewState: null };
    model.onDidChangeContent(() => {
      this.render();
      this.hooks.onEdit(tab);
    });
    this.tabs.push(tab);
    this.render();
    return tab;
  }

  byName(name) {
    return this.tabs.find((t) => t.name === name) || null;
  }

  tabFor(model) {
    return this.tabs.find((t) => t.model === model) || null;
  }

  isDirty(tab) {
    return tab.model.getValue() !== tab.saved;
  }

  select(tab) {
    if (this.active === tab) return;
    if (this.active) this.active.viewState = this.editor.saveViewState();
    this.active = tab;
    this.editor.setModel(tab.model);
    if (tab.viewState) this.editor.restoreViewState(tab.viewState);
    this.editor.focus();
    this.render();
    this.hooks.onSelect(tab);
  }

  save(tab) {
    tab.saved = tab.model.getValue();
    this.render();
  }

  remove(tab) {
    const index = this.tabs.indexOf(tab);
    this.tabs.splice(index, 1);
    if (this.active === tab) {
      this.active = null;
      this.select(this.tabs[Math.min(index, this.tabs.length - 1)]);
    }
    tab.model.dispose();
    this.render();
  }

  // What the bridge needs besides the edited text: the saved text of every
  // other tab, and the unsaved text of those with edits, so that imports
  // between modules see what is on screen.
  contextFor(tab) {
    const modules = {};
    const dirtyFiles = {};
    for (const other of this.tabs) {
      if (other === tab) continue;
      modules[other.name] = other.saved;
      if (this.isDirty(other)) dirtyFiles[other.name] = other.model.getValue();
    }
    return { path: tab.name, modules, dirty_files: dirtyFiles };
  }

  render() {
    const bar = this.tabBar;
    bar.replaceChildren();
    for (const tab of this.tabs) {
      const el = document.createElement('div');
      el.className = 'tab';
      el.classList.toggle('active', tab === this.active);
      el.classList.toggle('dirty', this.isDirty(tab));
      el.dataset.module = tab.name;
      el.title = this.isDirty(tab) ? `${tab.name}.py (unsaved changes)` : `${tab.name}.py`;
      el.addEventListener('click', () => this.select(tab));

      const label = document.createElement('span');
      label.className = 'label';
      label.textContent = `${tab.name}.py`;
      const unsaved = document.createElement('span');
      unsaved.className = 'unsaved';
      unsaved.textContent = '●';
      unsaved.setAttribute('aria-label', 'unsaved');
      const close = document.createElement('button');
      close.className = 'close';
      close.textContent = '×';
      close.title = `Delete module ${tab.name}`;
      close.disabled = this.tabs.length === 1;
      close.addEventListener('click', (event) => {
        event.stopPropagation();
        this.hooks.onDelete(tab);
      });
      el.append(label, unsaved, close);
      bar.append(el);
    }
    const add = document.createElement('button');
    add.id = 'new-module';
    add.textContent = '+';
    add.title = 'New module';
    add.addEventListener('click', () => this.hooks.onNew());
    bar.append(add);
  }
}
