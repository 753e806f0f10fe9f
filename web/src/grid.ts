// The report grid: two-row grouped header and the grand total held in view, frozen columns,
// and only the rows in sight in the DOM, so a result of any length scrolls. Rows may keep
// arriving after the grid is built (grow, then complete); the frozen columns, sorting and the
// grid's name wait for the last of them, which brings the report's property.
// Keys: the arrows, Home/End (Ctrl for the first/last row), PageUp/PageDown move the focused
// cell; Enter opens its row.

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
  // More rows were appended to the report's Rows.
  grow(): void;
  // The last row and the report's property have arrived: the total is pinned, the frozen
  // columns are set and sorting is allowed.
  complete(): void;
  // Called with a row's index in the report's Rows when a row is opened (double click, Enter).
  onOpen?: (row: number) => void;
  // Called with a row's index in the report's Rows when the focused cell moves to another row.
  onMove?: (row: number) => void;
}

// Text widths as the page draws them (subtotal, total and header text is bold).
let ruler: CanvasRenderingContext2D | null = null, family = "", rulerBold: boolean | null = null;
function widthOf(text: string, bold = false): number {
  if (!ruler) {
    ruler = document.createElement("canvas").getContext("2d")!;
    family = getComputedStyle(document.documentElement).fontFamily;
  }
  if (rulerBold !== bold) { ruler.font = `${bold ? "bold " : ""}14px ${family}`; rulerBold = bold; }
  return Math.ceil(ruler.measureText(text).width);
}

export function buildGrid(report: Report): Grid {
  const cols = columnsOf(report);
  const kindField = report.Fields.indexOf("FRowKind");
  const kindOfRow = (r: unknown[]) => (kindField >= 0 ? Number(r[kindField]) || 0 : 0);
  // From the report's property, which a rows-first answer brings with its last rows.
  const frozenOf = () => Math.min(Number(report.Property.FrozenColumn) || 0, cols.length);
  let frozen = frozenOf();
  const twoRows = cols.some((c) => c.group >= 0);
  const headRows = twoRows ? 2 : 1;
  let done = false;

  // Order of the rows on screen: indexes into report.Rows; the total is held apart in the foot.
  let order: number[] = [];
  let total = -1;

  const cellWidth = (r: unknown[], c: Column) => widthOf(formatCell(r[c.field], c.kind), kindOfRow(r) !== 0) + 16;
  const widths = cols.map((c) => Math.min(320, Math.max(widthOf(c.group >= 0 ? c.sub : c.top, true) + 20,
    ...report.Rows.slice(0, 200).map((r) => cellWidth(r, c)))));
  let lefts: number[] = [];
  const nameOf = () => String(report.Property.Name ?? "报表");
  const grid = h("div", { class: "grid", role: "grid", "aria-label": nameOf(), "aria-colcount": String(cols.length) });
  const setWidths = () => {
    lefts = widths.map((_, i) => widths.slice(0, i).reduce((a, b) => a + b, 0));
    const pinned = frozen ? lefts[frozen - 1] + widths[frozen - 1] : 0;
    const sum = cols.length ? lefts[cols.length - 1] + widths[cols.length - 1] : 0;
    // Room after the last column, so that scrolled all the way the columns still start at the
    // frozen edge: the first column that fits with all after it.
    let k = frozen;
    while (k < cols.length - 1 && sum - lefts[k] > grid.clientWidth - pinned) k++;
    const filler = sum > grid.clientWidth ? Math.max(0, lefts[k] - pinned + grid.clientWidth - sum) : 0;
    grid.style.setProperty("--cols", [...widths, ...(filler ? [filler] : [])].map((w) => `${w}px`).join(" "));
    grid.style.setProperty("--pinned", `${pinned}px`);
    grid.querySelectorAll<HTMLElement>(".frozen").forEach((el) => { el.style.left = `${lefts[Number(el.dataset.col)]}px`; });
  };
  setWidths();
  const freeze = (el: HTMLElement, i: number) => {
    if (i < frozen) { el.classList.add("frozen"); el.dataset.col = String(i); el.style.left = `${lefts[i]}px`; }
    return el;
  };

  // Header: one CSS grid; the ARIA rows are display: contents.
  const sortableOf = () => report.Property.EnableSort === true;
  let sortable = sortableOf();
  const sortState = { col: -1, asc: true };
  const headCell = (i: number, text: string, row: number, rowSpan: number, span = 1) => {
    // A group's caption keeps to the part of its columns in sight (clear of the frozen ones).
    const cell = freeze(h("div", { role: "columnheader", class: span > 1 ? "th group" : "th" }, h("span", {}, text)), i);
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
  const makeHead = () => {
    const top = h("div", { role: "row", class: "hrow", "aria-rowindex": "1" });
    const second = h("div", { role: "row", class: "hrow", "aria-rowindex": "2" });
    cols.forEach((c, i) => {
      if (c.group < 0) top.append(headCell(i, c.top, 1, headRows));
      else {
        if (c.group === i) top.append(headCell(i, c.top, 1, 1, c.span));
        second.append(headCell(i, c.sub, 2, 1));
      }
    });
    return h("div", { role: "rowgroup", class: "head" }, top, twoRows ? second : null);
  };
  let head = makeHead();

  // Positions 0 … order.length - 1 are the body's rows; position order.length is the total.
  const count = () => order.length + (total >= 0 ? 1 : 0);
  const indexAt = (p: number) => (p < order.length ? order[p] : total);
  const focus = { row: -1, col: 0 };
  const renderRow = (p: number, cls = "") => {
    const index = indexAt(p);
    const r = report.Rows[index];
    const kind = kindOfRow(r);
    // A number is never cut: a wider one met further down widens its column.
    let wider = false;
    cols.forEach((c, i) => {
      if (!isNumeric(c.kind)) return;
      const w = cellWidth(r, c);
      if (w > widths[i]) { widths[i] = w; wider = true; }
    });
    if (wider) setWidths();
    const row = h("div", {
      role: "row", class: `row ${kind === 2 ? "total" : kind === 1 ? "subtotal" : ""} ${cls}`,
      "aria-rowindex": String(p + headRows + 1), "data-row": String(index), "data-pos": String(p),
    });
    cols.forEach((c, i) => row.append(freeze(h("div", {
      role: "gridcell", class: isNumeric(c.kind) ? "td num" : "td", tabindex: "-1", "data-col": String(i),
    }, formatCell(r[c.field], c.kind)), i)));
    return row;
  };

  const spacer = h("div", { role: "rowgroup", class: "body" });
  const foot = h("div", { role: "rowgroup", class: "foot" });
  grid.append(head, spacer, foot);

  // Rows on the page by position; those still in sight are kept as they are while scrolling,
  // and so is the focused one.
  let rendered = new Map<number, HTMLElement>();
  const rowAt = (p: number) => (p === order.length && total >= 0 ? foot.firstElementChild as HTMLElement : rendered.get(p));
  const cellAt = (p: number, c: number) => rowAt(p)?.children[c] as HTMLElement | undefined;
  const paint = (reset = false) => {
    if (reset) { rendered = new Map(); spacer.replaceChildren(); }
    spacer.style.height = `${order.length * ROW}px`;
    const first = Math.max(0, Math.floor(grid.scrollTop / ROW) - OVERSCAN);
    const last = Math.min(order.length, Math.ceil((grid.scrollTop + grid.clientHeight) / ROW) + OVERSCAN);
    const next = new Map<number, HTMLElement>();
    const keep = (p: number) => {
      let row = rendered.get(p);
      if (!row) {
        row = renderRow(p);
        row.style.transform = `translateY(${p * ROW}px)`;
        spacer.append(row);
      }
      row.classList.toggle("current", p === focus.row);
      next.set(p, row);
    };
    for (let p = first; p < last; p++) keep(p);
    const focused = (document.activeElement as HTMLElement | null)?.closest<HTMLElement>(".body [data-pos]");
    if (focused && focused.parentElement === spacer) keep(Number(focused.dataset.pos));
    for (const [p, row] of rendered) if (!next.has(p)) row.remove();
    rendered = next;
    foot.firstElementChild?.classList.toggle("current", focus.row === order.length);
    // One tab stop: the focused cell when it is on the page, else the grid, which hands focus on.
    grid.querySelectorAll('[role="gridcell"][tabindex="0"]').forEach((c) => c.setAttribute("tabindex", "-1"));
    const cell = cellAt(Math.max(focus.row, 0), focus.col);
    cell?.setAttribute("tabindex", "0");
    grid.tabIndex = cell ? -1 : 0;
    grid.setAttribute("aria-rowcount", String(report.Rows.length + headRows));
  };
  let pending = false;
  const schedule = () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => { pending = false; paint(); });
  };
  grid.addEventListener("scroll", schedule);
  new ResizeObserver(() => { setWidths(); paint(); }).observe(grid);

  // Scrolls so that the cell at (p, c) is clear of the header, the total and the frozen columns.
  const reveal = (p: number, c: number) => {
    if (p < order.length) {
      const y = p * ROW, above = ROW * headRows, below = total >= 0 ? ROW : 0;
      if (y < grid.scrollTop) grid.scrollTop = y;
      else if (y + ROW > grid.scrollTop + grid.clientHeight - above - below)
        grid.scrollTop = y + ROW - grid.clientHeight + above + below;
    }
    if (c >= frozen) {
      const pinned = frozen ? lefts[frozen - 1] + widths[frozen - 1] : 0;
      if (lefts[c] - grid.scrollLeft < pinned) grid.scrollLeft = lefts[c] - pinned;
      else if (lefts[c] + widths[c] > grid.scrollLeft + grid.clientWidth) {
        // The first column edge that brings it in, as sideways scrolling stops at column edges.
        let k = frozen;
        while (k < c && lefts[k] - pinned < lefts[c] + widths[c] - grid.clientWidth) k++;
        grid.scrollLeft = lefts[k] - pinned;
      }
    }
  };
  const moveTo = (p: number, c: number) => {
    const before = focus.row;
    focus.row = Math.max(0, Math.min(count() - 1, p));
    focus.col = Math.max(0, Math.min(cols.length - 1, c));
    reveal(focus.row, focus.col);
    paint();
    cellAt(focus.row, focus.col)?.focus({ preventScroll: true });
    if (focus.row !== before) api.onMove?.(indexAt(focus.row));
  };

  function sortBy(i: number, cell: HTMLElement) {
    if (!done) return;
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
      for (let step = 1; step <= count(); step++) {
        const p = (focus.row + step) % count();
        const r = report.Rows[indexAt(p)];
        if (cols.some((c) => formatCell(r[c.field], c.kind).includes(needle))) {
          focus.row = p;
          if (p < order.length) grid.scrollTop = Math.max(0, p * ROW - grid.clientHeight / 3);
          paint();
          return true;
        }
      }
      return false;
    },
    tsv() {
      const clean = (s: string) => s.replace(/[\t\n\r]/g, " ");
      const lines = [cols.map((c) => clean(c.group >= 0 && c.sub ? `${c.top}-${c.sub}` : c.top)).join("\t")];
      for (let p = 0; p < count(); p++)
        lines.push(cols.map((c) => clean(formatCell(report.Rows[indexAt(p)][c.field], c.kind))).join("\t"));
      return lines.join("\n") + "\n";
    },
    grow() {
      for (let i = order.length; i < report.Rows.length; i++) order.push(i);
      schedule();
    },
    complete() {
      api.grow();
      done = true;
      frozen = frozenOf();
      sortable = sortableOf();
      grid.setAttribute("aria-label", nameOf());
      const fresh = makeHead();
      head.replaceWith(fresh);
      head = fresh;
      for (let i = report.Rows.length - 1; i >= 0 && total < 0; i--) if (kindOfRow(report.Rows[i]) === 2) total = i;
      if (total >= 0) {
        order = order.filter((i) => i !== total);
        cols.forEach((c, i) => { widths[i] = Math.min(320, Math.max(widths[i], cellWidth(report.Rows[total], c))); });
      }
      setWidths();
      foot.replaceChildren(...(total >= 0 ? [renderRow(order.length, "pinned")] : []));
      paint(true);
    },
  };
  const open = (target: EventTarget | null) => {
    const row = (target as HTMLElement | null)?.closest<HTMLElement>("[data-row]");
    if (row && api.onOpen) api.onOpen(Number(row.dataset.row));
  };
  grid.addEventListener("dblclick", (e) => open(e.target));
  grid.addEventListener("click", (e) => {
    const cell = (e.target as HTMLElement).closest<HTMLElement>('[role="gridcell"]');
    const row = cell?.closest<HTMLElement>("[data-pos]");
    if (cell && row) moveTo(Number(row.dataset.pos), Number(cell.dataset.col));
  });
  grid.addEventListener("focus", (e) => { if (e.target === grid && count()) moveTo(Math.max(focus.row, 0), focus.col); });
  grid.addEventListener("keydown", (e) => {
    if (!(e.target as HTMLElement).closest('[role="gridcell"]')) return;
    const page = Math.max(1, Math.floor(grid.clientHeight / ROW) - headRows - 1);
    const { row: p, col: c } = focus;
    const moves: Record<string, () => void> = {
      ArrowDown: () => moveTo(p + 1, c), ArrowUp: () => moveTo(p - 1, c),
      ArrowRight: () => moveTo(p, c + 1), ArrowLeft: () => moveTo(p, c - 1),
      PageDown: () => moveTo(p + page, c), PageUp: () => moveTo(p - page, c),
      Home: () => moveTo(e.ctrlKey ? 0 : p, 0), End: () => moveTo(e.ctrlKey ? count() - 1 : p, cols.length - 1),
      Enter: () => api.onOpen?.(indexAt(p)),
    };
    if (moves[e.key]) { e.preventDefault(); moves[e.key](); }
  });
  api.grow();
  return api;
}
