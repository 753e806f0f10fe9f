// The filter form of one report, generated from its key table: period presets in place of
// the date keys, choices as selects, fixed keys shown read-only, lookups with search.

import { api, ApiError, type Filter, type Key, type Preset, type Problem } from "./api";
import { h, uid } from "./dom";

const DATE_KEYS = ["BDate", "EDate", "Year", "Month"];
// Keys whose values come from a lookup list of the service, by name without the B/E of a range.
const LOOKUPS: Record<string, string> = {
  BranchNum: "branches", StockNo: "branches", VipNum: "cards", CardID: "cards", VipTypeNum: "card-types",
  TypeID: "card-types", ItemNum: "items", ItemNumber: "items", custnum: "customers", Cashier: "cashiers",
  Pos: "pos", Brand: "brands",
};
const lookupOf = (name: string) => LOOKUPS[name] ?? LOOKUPS[name.replace(/^[BE](?=[A-Zc])/, "")];

// "分店（仓库）编码起（按文本比较，空为不限）。" → "分店（仓库）编码起"
const labelOf = (key: Key) => key.meaning.split(/[：。]/)[0].replace(/（[^（）]*）$/, "") || key.name;

export interface FilterForm {
  element: HTMLFormElement;
  value(): Filter;
  // A refusal beside the fields it names, in the form's own words when the service typed it;
  // the rest above the buttons.
  showErrors(refusal: string | ApiError): void;
}

function periodControl(presets: Preset[], initial: string): { el: HTMLElement; value: () => string } {
  const id = uid("period");
  const select = h("select", { id, name: "period" });
  for (const p of presets)
    select.append(h("option", { value: p.period }, `${p.label}（${p.first === p.last ? p.first : `${p.first} 至 ${p.last}`}）`));
  select.append(h("option", { value: "range" }, "日期范围"));
  const from = h("input", { type: "date", "aria-label": "开始日期" });
  const to = h("input", { type: "date", "aria-label": "结束日期" });
  const range = h("span", { class: "range" }, from, " 至 ", to);
  const sync = () => { range.hidden = select.value !== "range"; };
  const known = [...select.options].some((o) => o.value === initial);
  if (initial && !known) {
    const [a, b] = initial.split("..");
    const day = (s: string) => (/^\d{4}-\d{2}-\d{2}$/.test(s) ? s : "");
    if (day(a) && day(b ?? a)) { select.value = "range"; from.value = a; to.value = b ?? a; }
    else select.prepend(h("option", { value: initial }, initial)), (select.value = initial);
  } else select.value = initial || "本月";
  select.addEventListener("change", sync);
  sync();
  const el = h("div", { class: "field", "data-key": "period" }, h("label", { for: id }, "期间"), select, range);
  return { el, value: () => (select.value === "range" ? `${from.value}..${to.value || from.value}` : select.value) };
}

// A combobox: the search box and its list, one Tab stop; the arrows move through the options,
// Esc or a click elsewhere closes it. The list takes its own line below, inside the field.
function lookupButton(input: HTMLInputElement, kind: string): HTMLElement {
  const list = h("ul", { class: "lookup", role: "listbox", id: uid("list"), "aria-label": "候选项", hidden: true });
  const search = h("input", { type: "search", "aria-label": "搜索", hidden: true, placeholder: "编号或名称",
                              role: "combobox", "aria-controls": list.id, "aria-expanded": "false" });
  let timer = 0;
  const option = (text: string, act: () => void) => h("li", {
    role: "option", tabindex: "-1", onclick: act,
    onkeydown: (e) => { if ((e as KeyboardEvent).key === "Enter") { e.preventDefault(); act(); } },
  }, text);
  // A page of 50 at a time; "更多…" fetches the next one.
  const load = async (offset = 0) => {
    const page = await api.lookup(kind, search.value, offset);
    if (offset === 0) list.replaceChildren();
    list.querySelector(".more")?.remove();
    list.append(...page.items.map((it) => option(`${it.number} ${it.name}`, () => pick(it.number))));
    if (page.more) list.append(Object.assign(option("更多…", () => load(offset + page.items.length)), { className: "more" }));
    list.hidden = false;
  };
  const close = (back: HTMLElement | null) => {
    list.hidden = search.hidden = true;
    search.setAttribute("aria-expanded", "false");
    back?.focus();
  };
  const pick = (n: string) => { input.value = n; close(input); };
  search.addEventListener("input", () => { clearTimeout(timer); timer = window.setTimeout(() => load(), 250); });
  const button = h("button", { type: "button", class: "small", "aria-label": "从列表选择", onclick: () => {
    if (!search.hidden) return close(null);
    search.hidden = false;
    search.setAttribute("aria-expanded", "true");
    search.focus();
    load();
  } }, "…");
  const box = h("span", { class: "lookup-box" }, button, search, list);
  box.addEventListener("keydown", (e) => {
    const options = [...list.querySelectorAll<HTMLElement>("[role=option]")];
    const at = options.indexOf(document.activeElement as HTMLElement);
    if (e.key === "Escape" && !search.hidden) {
      e.preventDefault();
      e.stopPropagation();   // not the report's Esc
      close(button);
    } else if ((e.key === "ArrowDown" || e.key === "ArrowUp") && !list.hidden && options.length) {
      e.preventDefault();
      const next = e.key === "ArrowDown" ? Math.min(at + 1, options.length - 1) : at - 1;
      (next < 0 ? search : options[next]).focus();
    }
  });
  const outside = (e: Event) => {
    if (!box.isConnected) return document.removeEventListener("pointerdown", outside);
    if (!search.hidden && !box.contains(e.target as Node)) close(null);
  };
  document.addEventListener("pointerdown", outside);
  return box;
}

// The period a filter names: its "period", or its dates as a range, or its year and month.
function periodOf(f: Filter): string {
  if (f.period !== undefined) return String(f.period);
  if (f.BDate) return `${String(f.BDate).slice(0, 10)}..${String(f.EDate ?? f.BDate).slice(0, 10)}`;
  if (f.Year && f.Month) return `${f.Year}-${String(f.Month).padStart(2, "0")}`;
  return "";
}

// A typed problem in the words of the form: its fields by their labels.
function worded(p: Problem, keys: Key[]): string {
  const key = keys.find((k) => k.name === p.key);
  const label = (name?: string) => { const k = keys.find((k) => k.name === name); return k ? labelOf(k) : name ?? ""; };
  switch (p.kind) {
    case "period": return "期间无法使用：请从列表中选择，或填写开始和结束日期（开始不能晚于结束），按月查询的报表只能选一个整月。";
    case "reversed": return `“${label(p.key)}”不能大于“${label(p.end)}”。`;
    case "missing": return key?.values?.length ? `请选择“${label(p.key)}”。` : `请填写“${label(p.key)}”。`;
    case "wrong-value": return `“${label(p.key)}”填写的值无法使用${key?.example ? `，例如 ${key.example}` : ""}。`;
    default: return `这个报表没有“${p.key}”这一项。`;
  }
}

export function buildFilterForm(keys: Key[], presets: Preset[], initial: Filter): FilterForm {
  const form = h("form", { class: "filter", "aria-label": "筛选条件" });
  const general = h("p", { class: "error", role: "alert", hidden: true });
  const inputs = new Map<string, HTMLInputElement | HTMLSelectElement>();
  const notes = new Map<string, HTMLElement>();
  let period: { value: () => string } | null = null;
  const hasPeriod = keys.some((k) => DATE_KEYS.includes(k.name));
  const fresh = Object.keys(initial).length === 0;
  if (hasPeriod) {
    const p = periodControl(presets, periodOf(initial));
    period = p;
    form.append(p.el);
    notes.set("period", p.el.appendChild(h("span", { class: "note", role: "alert" })));
  }
  for (const key of keys) {
    if (DATE_KEYS.includes(key.name)) continue;
    const id = uid(key.name);
    const start = initial[key.name] !== undefined ? String(initial[key.name]) : "";
    let control: HTMLInputElement | HTMLSelectElement;
    if (key.values?.length) {
      control = h("select", { id, name: key.name });
      // Choices by their meaning. A key left out of the filter reads as its "all" choice when it
      // has one: that choice stands for the empty value, so "all" is offered once.
      const all = key.required ? undefined : key.values.find((c) => c.meaning.startsWith("全部"));
      if (!key.required && !all) control.append(h("option", { value: "" }, "（全部）"));
      for (const c of key.values)
        control.append(h("option", { value: c === all ? "" : String(c.value) }, c.meaning.replace("（对话框默认）", "")));
      // A fresh form starts as the desktop dialog does: the value the key table marks as its
      // default, else the first of a required key's values.
      const dialog = key.values.find((c) => c.meaning.includes("对话框默认"));
      control.value = start || (fresh && dialog ? String(dialog.value) : key.required ? String(key.values[0].value) : "");
      if (control.selectedIndex < 0) control.selectedIndex = 0;   // no empty choice: the "all" one
    } else {
      control = h("input", { id, name: key.name, type: "text", autocomplete: "off",
                             placeholder: key.example ? `例如 ${key.example}` : "" });
      control.value = start;
    }
    if (key.fixed !== undefined) {
      control.value = key.fixed;
      control.disabled = true;
    }
    inputs.set(key.name, control);
    const label = h("label", { for: id, title: key.meaning }, labelOf(key));
    const fixedNote = key.fixed !== undefined ? h("span", { class: "fixed" }, `固定为本店 ${key.fixed}`) : null;
    const kind = lookupOf(key.name);
    const lookup = key.fixed === undefined && kind && control instanceof HTMLInputElement
      ? lookupButton(control, kind) : null;
    const note = h("span", { class: "note", role: "alert" });
    notes.set(key.name, note);
    form.append(h("div", { class: "field", "data-key": key.name }, label, control, lookup, fixedNote, note));
  }
  form.append(general, h("div", { class: "buttons" }, h("button", { type: "submit" }, "运行")));

  return {
    element: form,
    value() {
      const f: Filter = {};
      if (period) f.period = period.value();
      for (const [name, c] of inputs) if (!c.disabled && c.value.trim() !== "") f[name] = c.value.trim();
      return f;
    },
    showErrors(refusal: string | ApiError) {
      for (const n of notes.values()) n.textContent = "";
      const problems = refusal instanceof ApiError ? refusal.problems : [];
      if (problems.length) {
        const rest: string[] = [];
        for (const p of problems) {
          const note = notes.get(p.kind === "period" ? "period" : p.key ?? "");
          if (note) note.textContent += worded(p, keys);
          else rest.push(worded(p, keys));
        }
        general.textContent = rest.join("\n");
        general.hidden = rest.length === 0;
        return;
      }
      const text = typeof refusal === "string" ? refusal : refusal.message;
      const rest: string[] = [];
      for (const sentence of text.split("\n").filter(Boolean)) {
        const name = [...notes.keys()].find((k) => sentence.includes(`“${k}”`) || sentence.includes(k))
          ?? (DATE_KEYS.some((k) => sentence.includes(k)) || sentence.includes("期间") ? "period" : undefined);
        const note = name ? notes.get(name) : undefined;
        if (note) note.textContent += sentence;
        else rest.push(sentence);
      }
      general.textContent = rest.join("\n");
      general.hidden = rest.length === 0;
    },
  };
}
