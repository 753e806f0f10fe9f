// Saved filter schemes of the signed-in user for one report: load, save the form as, delete.

import { api, type Filter } from "./api";
import { h, uid } from "./dom";

// The scheme last opened: loading it puts its filter in the address, which builds the view anew,
// so the new list shows it chosen while the address is still that scheme's.
let opened: { report: number; name: string; hash: string } | null = null;

export function schemeBar(report: number, current: () => Filter, load: (f: Filter) => void,
                          say: (text: string) => void): HTMLElement {
  const id = uid("scheme");
  const list = h("select", { id });
  const name = h("input", { type: "text", "aria-label": "方案名称", placeholder: "方案名称", maxlength: "100" });
  const refresh = async (selected = "") => {
    const names = await api.schemes(report);
    list.replaceChildren(h("option", { value: "" }, "（选择方案）"), ...names.map((n) => h("option", { value: n }, n)));
    list.value = selected || (opened?.report === report && opened.hash === location.hash && names.includes(opened.name)
      ? opened.name : "");
  };
  const act = (work: () => Promise<void>) => async () => {
    try { await work(); } catch (err) { say((err as Error).message); }
  };
  list.addEventListener("change", act(async () => {
    if (!list.value) return;
    const name = list.value;
    load(await api.scheme(report, name));
    opened = { report, name, hash: location.hash };
  }));
  const save = h("button", { type: "button", class: "small", onclick: act(async () => {
    const n = name.value.trim();
    if (!n) return say("请先填写方案名称");
    await api.saveScheme(report, n, current());
    name.value = "";
    await refresh(n);
    say(`已保存方案“${n}”`);
  }) }, "保存方案");
  const remove = h("button", { type: "button", class: "small", onclick: act(async () => {
    const n = list.value;
    if (!n) return say("请先选择要删除的方案");
    await api.deleteScheme(report, n);
    await refresh();
    say(`已删除方案“${n}”`);
  }) }, "删除方案");
  refresh().catch(() => undefined);
  return h("div", { class: "schemes" }, h("label", { for: id }, "方案"), list, remove, name, save);
}
