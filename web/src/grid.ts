// The report grid: two-row grouped header and the grand total held in view, frozen columns,
// and only the rows in sight in the DOM, so a result of any length scrolls.

import type { Report } from "./api";
import { columnsOf, formatCell, isNumeric, type Column } from "./columns";
import { h } from "./dom";

const ROW = 28;        // px per row; the CSS uses the same
const OVERSCAN = 10;

export interface Grid {
  element: HTMLElement;
  // Moves to the next row (after the current one) holding the text; false when none does.
  find(text: string): boolean;
  tsv(): string;
  // Called with a row's index in the report's Rows when a row is opened (double click, Enter).
  onOpen?: (row: number) => void;
}

function widthOf(text: string): number {
  let w = 0;
  for (const ch of text) w += ch.charCodeAt(0) > 0x2e80 ? 14 : 8;
  return w;
}

export function buildGrid(report: Report): Grid {
  const cols = columnsOf(report);
  const kindField = report.Fields.indexOf("FRowKind");
  const kindOfRow = (r: unknown[]) => (kindField >= 0 ? Number(r[kindField]) || 0 : 0);
  const sortable = report.Property.EnableSort === true;
  const frozen = Math.min(Number(report.Property.FrozenColumn) || 0, cols.length);
  const twoRows = cols.some((c) => c.group >= 0);

  // Order of the rows on screen: indexes into report.Rows.
  let order = report.Rows.map((_, i) => i);
  const total = report.Rows.findIndex((r) => kindOfRow(r) === 2);
  if (total >= 0) order = order.filter((i) => i !== total);

  const sample = report.Rows.slice(0, 200);
  const widths = cols.map((c) => Math.min(320, Math.max(
    widthOf(c.group >= 0 ? c.sub : c.top) + 20,
    ...sample.map((r) => widthOf(formatCell(r[c.field], c.kind)) + 16),
    total >= 0 ? widthOf(formatCell(report.Rows[total][c.field], c.kind)) + 16 : 0)));
  const lefts = widths.map((_, i) => widths.slice(0, i).reduce((a, b) => a + b, 0));
  const template = widths.map((w) => `${w}px`).join(" ");

  const grid = h("div", {
    class: "grid", role: "grid", tabindex: "0", "aria-label": String(report.Property.Name ?? "报表"),
    "aria-rowcount": String(report.Rows.length + (twoRows ? 2 : 1)), "aria-colcount": String(cols.length),
  });
  grid.style.setProperty("--cols", template);
  const freeze = (el: HTMLElement, i: number) => {
    if (i < frozen) { el.classList.add("frozen"); el.style.left = `${lefts[i]}px`; }
    return el;
  };

  // Header: one CSS grid; the ARIA rows are display: contents.
  const sortState = { col: -1, asc: true };
  const headCell = (c: Column, i: number, text: string, row: number, rowSpan: number, span = 1) => {
    const cell = freeze(h("div", { role: "columnheader", class: "th" }, text), i);
    cell.style.gridRow = `${row} / span ${rowSpan}`;
    cell.style.gridColumn = `${i + 1} / span ${span}`;
    if (sortable && (rowSpan === 2 || row === 2 || !twoRows)) {
      cell.setAttribute("aria-sort", "none");
      cell.tabIndex = 0;
      const sort = () => sortBy(i, cell);
      cell.addEventListener("click", sort);
      cell.addEventListener("keydown", (e) => { if (e.key === "Enter") { e.preventDefault(); sort(); } });
    }
    return cell;
  };
  const top = h("div", { role: "row", class: "hrow", "aria-rowindex": "1" });
  const second = h("div", { role: "row", class: "hrow", "aria-rowindex": "2" });
  cols.forEach((c, i) => {
    if (c.group < 0) top.append(headCell(c, i, c.top, 1, twoRows ? 2 : 1));
    else {
      if (c.group === i) top.append(headCell(c, i, c.top, 1, 1, c.span));
      second.append(headCell(c, i, c.sub, 2, 1));
    }
  });
  const head = h("div", { role: "rowgroup", class: "head" }, top, twoRows ? second : null);

  const renderRow = (index: number, position: number, cls = "") => {
    const r = report.Rows[index];
    const kind = kindOfRow(r);
    const row = h("div", {
      role: "row", class: `row ${kind === 2 ? "total" : kind === 1 ? "subtotal" : ""} ${cls}`,
      "aria-rowindex": String(position + (twoRows ? 3 : 2)), "data-row": String(index),
    });
    cols.forEach((c, i) => row.append(freeze(h("div", {
      role: "gridcell", class: isNumeric(c.kind) ? "td num" : "td",
    }, formatCell(r[c.field], c.kind)), i)));
    return row;
  };

  const spacer = h("div", { role: "rowgroup", class: "body" });
  const foot = h("div", { role: "rowgroup", class: "foot" });
  if (total >= 0) foot.append(renderRow(total, report.Rows.length - 1, "pinned"));
  grid.append(head, spacer, foot);

  let current = -1;   // position in order of the row last found or opened
  // Rows on the page by position; those still in sight are kept as they are while scrolling.
  let rendered = new Map<number, HTMLElement>();
  const paint = (reset = false) => {
    if (reset) { rendered = new Map(); spacer.replaceChildren(); }
    spacer.style.height = `${order.length * ROW}px`;
    const first = Math.max(0, Math.floor(grid.scrollTop / ROW) - OVERSCAN);
    const last = Math.min(order.length, Math.ceil((grid.scrollTop + grid.clientHeight) / ROW) + OVERSCAN);
    const next = new Map<number, HTMLElement>();
    for (let p = first; p < last; p++) {
      let row = rendered.get(p);
      if (!row) {
        row = renderRow(order[p], p);
        row.style.transform = `translateY(${p * ROW}px)`;
        spacer.append(row);
      }
      row.classList.toggle("current", p === current);
      next.set(p, row);
    }
    for (const [p, row] of rendered) if (!next.has(p)) row.remove();
    rendered = next;
  };
  let pending = false;
  grid.addEventListener("scroll", () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => { pending = false; paint(); });
  });
  new ResizeObserver(() => paint()).observe(grid);

  function sortBy(i: number, cell: HTMLElement) {
    const asc = sortState.col === i ? !sortState.asc : true;
    Object.assign(sortState, { col: i, asc });
    const f = cols[i].field;
    const details = order.filter((k) => kindOfRow(report.Rows[k]) === 0);
    const summaries = order.filter((k) => kindOfRow(report.Rows[k]) !== 0);
    const cmp = (a: unknown, b: unknown) =>
      typeof a === "number" && typeof b === "number" ? a - b : String(a ?? "").localeCompare(String(b ?? ""), "zh");
    details.sort((a, b) => (asc ? 1 : -1) * cmp(report.Rows[a][f], report.Rows[b][f]));
    order = [...details, ...summaries];
    head.querySelectorAll("[aria-sort]").forEach((c) => c.setAttribute("aria-sort", "none"));
    cell.setAttribute("aria-sort", asc ? "ascending" : "descending");
    paint(true);
  }

  const api: Grid = {
    element: grid,
    find(text) {
      const needle = text.trim();
      if (!needle) return false;
      for (let step = 1; step <= order.length; step++) {
        const p = (current + step) % order.length;
        const r = report.Rows[order[p]];
        if (cols.some((c) => formatCell(r[c.field], c.kind).includes(needle))) {
          current = p;
          grid.scrollTop = Math.max(0, p * ROW - grid.clientHeight / 3);
          paint();
          return true;
        }
      }
      return false;
    },
    tsv() {
      const clean = (s: string) => s.replace(/[\t\n\r]/g, " ");
      const lines = [cols.map((c) => clean(c.group >= 0 && c.sub ? `${c.top}-${c.sub}` : c.top)).join("\t")];
      for (const k of total >= 0 ? [...order, total] : order)
        lines.push(cols.map((c) => clean(formatCell(report.Rows[k][c.field], c.kind))).join("\t"));
      return lines.join("\n") + "\n";
    },
  };
  const open = (target: EventTarget | null) => {
    const row = (target as HTMLElement | null)?.closest<HTMLElement>("[data-row]");
    if (row && api.onOpen) api.onOpen(Number(row.dataset.row));
  };
  grid.addEventListener("dblclick", (e) => open(e.target));
  grid.addEventListener("keydown", (e) => {
    if (e.key === "ArrowDown" || e.key === "ArrowUp") {
      e.preventDefault();
      current = Math.max(0, Math.min(order.length - 1, current + (e.key === "ArrowDown" ? 1 : -1)));
      const y = current * ROW;
      if (y < grid.scrollTop + ROW * (twoRows ? 2 : 1)) grid.scrollTop = y - ROW * 2;
      else if (y > grid.scrollTop + grid.clientHeight - ROW * 3) grid.scrollTop = y - grid.clientHeight + ROW * 3;
      paint();
    } else if (e.key === "Enter" && current >= 0 && e.target === grid && api.onOpen) {
      e.preventDefault();
      api.onOpen(order[current]);
    }
  });
  requestAnimationFrame(() => paint());
  return api;
}
