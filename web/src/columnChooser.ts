// 列: on a narrow screen the grid shows the frozen columns and the amounts, and the person picks
// the others; each choice is kept in this browser per report. Wider screens show every column.

import type { Page } from "./api";
import { columnsOf } from "./columns";
import { h, uid } from "./dom";
import type { Grid } from "./grid";

const narrow = matchMedia("(max-width: 700px)");

export interface ColumnChooser {
  element: HTMLElement;
  // The grid of a run, shown as chosen (again once its rows are all in).
  attach(grid: Grid, page: Page): void;
  detach(): void;
}

// `key` is where the choices ({ field: shown }) are kept.
export function columnChooser(key: string): ColumnChooser {
  const list = h("div", { class: "chooser-list", role: "group", "aria-label": "显示的列", hidden: true });
  const button = h("button", { type: "button", "aria-expanded": "false", "aria-controls": list.id = uid("cols") }, "列");
  const element = h("div", { class: "chooser", hidden: true }, button, list);
  let current: { grid: Grid; page: Page } | null = null;

  // The person's choices; anything else stored there counts as none.
  const chosen = (): Record<string, boolean> => {
    let kept: unknown = null;
    try { kept = JSON.parse(localStorage.getItem(key) || "{}"); } catch { /* none */ }
    if (!kept || typeof kept !== "object") return {};
    return Object.fromEntries(Object.entries(kept).filter(([, on]) => typeof on === "boolean"));
  };
  // Columns the person has not chosen: the frozen ones and the amounts that fit beside them, in
  // their order.
  const marks = () => {
    const { grid, page } = current!, cols = columnsOf(page), kept = chosen(), frozen = page.head.frozen ?? 0;
    const widths = grid.columnWidths();
    const fixed = cols.map((c, i) => kept[c.field] ?? (i < frozen ? true : undefined));
    let room = fixed.reduce((left, on, i) => (on ? left - widths[i] : left), grid.element.clientWidth);
    return cols.map((c, i) => fixed[i] ?? (c.kind === "amount" && (room -= widths[i]) >= 0));
  };
  let listed: Page | null = null;
  const apply = () => {
    if (!current) return;
    const shown = marks(), page = current.page, cols = columnsOf(page);
    current.grid.showColumns(narrow.matches ? shown : null);
    if (listed !== page) {
      listed = page;
      list.replaceChildren(...cols.map((c) => {
        const box = h("input", { type: "checkbox" });
        box.addEventListener("change", () => {
          // The whole set as seen is kept, so that the defaults do not move under the choice.
          const seen = Object.fromEntries(cols.map((d, j) => [d.field, marks()[j]]));
          localStorage.setItem(key, JSON.stringify({ ...chosen(), ...seen, [c.field]: box.checked }));
          apply();
        });
        return h("label", {}, box, c.caption);
      }));
    }
    // The last column shown stays.
    list.querySelectorAll("input").forEach((box, i) => {
      box.checked = shown[i];
      box.disabled = shown[i] && shown.filter(Boolean).length === 1;
    });
  };
  const open = (on: boolean) => {
    list.hidden = !on;
    button.setAttribute("aria-expanded", String(on));
  };
  button.addEventListener("click", () => open(button.getAttribute("aria-expanded") !== "true"));
  element.addEventListener("keydown", (e) => {
    if (e.key === "Escape" && button.getAttribute("aria-expanded") === "true") { e.preventDefault(); e.stopPropagation(); open(false); button.focus(); }
  });
  // A click elsewhere closes the list; the page's listeners go with the report's view.
  let listening = false;
  const away = (e: Event) => { if (drop()) return; if (!element.contains(e.target as Node)) open(false); };
  const resized = () => { if (!drop()) apply(); };
  const drop = () => {
    if (element.isConnected) return false;
    document.removeEventListener("click", away);
    narrow.removeEventListener("change", resized);
    listening = false;
    return true;
  };

  return {
    element,
    attach(grid, page) {
      current = { grid, page };
      if (!listening) {
        document.addEventListener("click", away);
        narrow.addEventListener("change", resized);
        listening = true;
      }
      element.hidden = false;
      apply();
    },
    detach() {
      current = listed = null;
      element.hidden = true;
      open(false);
    },
  };
}
