// The report grid: two-row grouped header and the grand total held in view, frozen columns,
// and only the rows in sight in the DOM, so a result of any length scrolls. Rows may keep
// arriving after the grid is built (grow, then complete); the frozen columns come with the head,
// sorting and the grid's name wait for the tail. Columns, header cells, cell text and alignment are the
// service's (columns.ts); the grid lays them out, all of them or those chosen (showColumns).
// Keys: the arrows, Home/End (Ctrl for the first/last row), PageUp/PageDown move the focused
// cell; Enter opens its row.

import type { Page, PageRow, PageTail, Sort } from "./api";
import { cellText, columnsOf, plainText, type Column } from "./columns";
import { h } from "./dom";

const ROW = 28;        // px per row; the CSS uses the same
const OVERSCAN = 10;

export interface Grid {
  element: HTMLElement;
  // Moves to the next row (after the current one) holding the text; false when none does.
  find(text: string): boolean;
  // The shown rows as tab-separated plain text under the shown columns' captions.
  tsv(): string;
  // Shows only the columns marked true (by their place among the visible columns); null shows all.
  showColumns(shown: boolean[] | null): void;
  // The width each visible column takes on screen, px.
  columnWidths(): number[];
  // The sort on screen, for files that follow it; null when unsorted.
  sort(): Sort | null;
  // Rows in the page's order, the total last (for the chart).
  shownRows(): PageRow[];
  // More rows were appended to the page's rows.
  grow(): void;
  // The tail has arrived: the total is pinned and sorting is allowed.
  complete(tail: PageTail): void;
  // Called with a row's index in the page's rows when a row is opened (double click, Enter).
  onOpen?: (row: number) => void;
  // Called with a row's position on screen when the focused cell moves to another row.
  onMove?: (position: number) => void;
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

// The order every host sorts in: the detail rows between two summary rows are sorted (stable,
// empty cells first, numbers by value, text by character codes); summary rows keep their places.
export function sortedOrder(rows: PageRow[], order: number[], c: Column, descending: boolean): number[] {
  const key = (i: number) => plainText(rows[i], c);
  const less = (a: number, b: number) => {
    const x = key(a), y = key(b);
    if (x === "" || y === "") return x === "" && y !== "";
    const nx = Number(x), ny = Number(y);
    return c.sort === "number" && !Number.isNaN(nx) && !Number.isNaN(ny) ? nx < ny : x < y;
  };
  const cmp = (a: number, b: number) => (descending ? (less(b, a) ? -1 : less(a, b) ? 1 : 0) : less(a, b) ? -1 : less(b, a) ? 1 : 0);
  const out: number[] = [];
  let block: number[] = [];
  for (const i of order) {
    if (rows[i][0] === 0) { block.push(i); continue; }
    out.push(...block.sort(cmp), i);
    block = [];
  }
  return [...out, ...block.sort(cmp)];
}

// Column widths and left edges of the columns on screen (`view`, indexes into cols); the frozen edge.
class Widths {
  readonly all: number[];
  widths: number[] = [];
  lefts: number[] = [];
  view: number[];
  constructor(readonly cols: Column[], rows: PageRow[], readonly header: (c: number) => string) {
    this.all = cols.map((c, i) => Math.min(320, Math.max(widthOf(header(i), true) + 20,
      ...rows.slice(0, 200).map((r) => Widths.cell(r, c)))));
    this.view = cols.map((_, i) => i);
  }
  static cell(r: PageRow, c: Column) { return widthOf(cellText(r, c), r[0] !== 0) + 16; }
  pinned(frozen: number) { return frozen ? this.lefts[frozen - 1] + this.widths[frozen - 1] : 0; }
  // Widens column i for the row's text (a number is never cut); true when it did and it is on screen.
  fit(r: PageRow, i: number) {
    const w = Widths.cell(r, this.cols[i]);
    if (w <= this.all[i]) return false;
    this.all[i] = w;
    return this.view.includes(i);
  }
  // Sets the CSS columns, with room after the last so that scrolled all the way the columns
  // still start at the frozen edge; `frozen` counts the frozen columns on screen.
  apply(grid: HTMLElement, frozen: number) {
    const widths = this.widths = this.view.map((i) => this.all[i]), n = widths.length;
    this.lefts = widths.map((_, i) => widths.slice(0, i).reduce((a, b) => a + b, 0));
    const pinned = this.pinned(frozen);
    const sum = n ? this.lefts[n - 1] + widths[n - 1] : 0;
    let k = frozen;
    while (k < n - 1 && sum - this.lefts[k] > grid.clientWidth - pinned) k++;
    const filler = sum > grid.clientWidth ? Math.max(0, this.lefts[k] - pinned + grid.clientWidth - sum) : 0;
    grid.style.setProperty("--cols", [...widths, ...(filler ? [filler] : [])].map((w) => `${w}px`).join(" "));
    grid.style.setProperty("--pinned", `${pinned}px`);
    grid.querySelectorAll<HTMLElement>(".frozen").forEach((el) => { el.style.left = `${this.lefts[Number(el.dataset.col)]}px`; });
  }
}

class GridView implements Grid {
  readonly element: HTMLElement;
  onOpen?: (row: number) => void;
  onMove?: (position: number) => void;
  private readonly cols: Column[];
  private readonly rows: PageRow[];
  private readonly sizes: Widths;
  private readonly headRows: number;
  private frozen = 0;
  private sortable = false;
  private done = false;
  // Order of the rows on screen: indexes into the page's rows; the total is held apart in the foot.
  private order: number[] = [];
  private total = -1;
  private sorted: { col: number; descending: boolean } | null = null;
  private focus = { row: -1, col: 0 };
  private head: HTMLElement;
  private readonly spacer = h("div", { role: "rowgroup", class: "body" });
  private readonly foot = h("div", { role: "rowgroup", class: "foot" });
  // Rows on the page by position; those still in sight are kept while scrolling, and so is the focused one.
  private rendered = new Map<number, HTMLElement>();
  private pending = false;

  constructor(private readonly page: Page) {
    this.cols = columnsOf(page);
    this.rows = page.rows;
    this.headRows = page.head.headerRows;
    this.frozen = Math.min(page.head.frozen ?? 0, this.cols.length);
    const sub = (i: number) => page.head.header.filter((c) => c.column === i && c.columnSpan === 1).pop()?.text ?? "";
    this.sizes = new Widths(this.cols, this.rows, sub);
    this.element = h("div", { class: "grid", role: "grid", "aria-label": "报表", "aria-colcount": String(this.cols.length) });
    this.sizes.apply(this.element, this.fixed);
    this.head = this.makeHead();
    this.element.append(this.head, this.spacer, this.foot);
    this.element.addEventListener("scroll", () => this.schedule());
    new ResizeObserver(() => { this.sizes.apply(this.element, this.fixed); this.paint(); }).observe(this.element);
    this.listen();
    this.grow();
  }

  // The frozen columns among those on screen; positions below are places on screen.
  private get fixed() { return this.sizes.view.filter((i) => i < this.frozen).length; }
  private get view() { return this.sizes.view; }

  private freeze(el: HTMLElement, i: number) {
    if (i < this.fixed) { el.classList.add("frozen"); el.dataset.col = String(i); el.style.left = `${this.sizes.lefts[i]}px`; }
    return el;
  }

  // Header: one CSS grid; the ARIA rows are display: contents. A cell over one column sorts it.
  private makeHead() {
    const rows = [1, 2].slice(0, this.headRows).map((n) => h("div", { role: "row", class: "hrow", "aria-rowindex": String(n) }));
    for (const c of this.page.head.header) {
      // A cell spans the part of its columns on screen.
      const over = this.view.flatMap((i, p) => (i >= c.column && i < c.column + c.columnSpan ? [p] : []));
      if (!over.length) continue;
      // A group's caption keeps to the part of its columns in sight (clear of the frozen ones).
      const cell = this.freeze(h("div", { role: "columnheader", class: c.columnSpan > 1 ? "th group" : "th" },
        h("span", {}, c.text)), over[0]);
      cell.style.gridRow = `${c.row + 1} / span ${c.rowSpan}`;
      cell.style.gridColumn = `${over[0] + 1} / span ${over.length}`;
      if (this.sortable && c.columnSpan === 1 && c.row + c.rowSpan === this.headRows) {
        cell.setAttribute("aria-sort", this.sorted?.col !== c.column ? "none" : this.sorted.descending ? "descending" : "ascending");
        cell.tabIndex = 0;
        const sort = () => this.sortBy(c.column);
        cell.addEventListener("click", sort);
        cell.addEventListener("keydown", (e) => { if (e.key === "Enter") { e.preventDefault(); sort(); } });
      }
      rows[Math.min(c.row, rows.length - 1)].append(cell);
    }
    return h("div", { role: "rowgroup", class: "head" }, ...rows);
  }

  // Positions 0 … order.length - 1 are the body's rows; position order.length is the total.
  private count() { return this.order.length + (this.total >= 0 ? 1 : 0); }
  private indexAt(p: number) { return p < this.order.length ? this.order[p] : this.total; }

  private renderRow(p: number, cls = "") {
    const index = this.indexAt(p);
    const r = this.rows[index];
    let wider = false;
    this.cols.forEach((c, i) => { if (c.align === "right" && this.sizes.fit(r, i)) wider = true; });
    if (wider) this.sizes.apply(this.element, this.fixed);
    const row = h("div", {
      role: "row", class: `row ${r[0] === 2 ? "total" : r[0] === 1 ? "subtotal" : ""} ${cls}`,
      "aria-rowindex": String(p + this.headRows + 1), "data-row": String(index), "data-pos": String(p),
    });
    this.shownCols().forEach((c, p) => row.append(this.freeze(h("div", {
      role: "gridcell", class: c.align === "right" ? "td num" : "td", tabindex: "-1", "data-col": String(p),
    }, cellText(r, c)), p)));
    return row;
  }

  private rowAt(p: number) {
    return p === this.order.length && this.total >= 0 ? this.foot.firstElementChild as HTMLElement : this.rendered.get(p);
  }
  private cellAt(p: number, c: number) { return this.rowAt(p)?.children[c] as HTMLElement | undefined; }

  // The rows in sight (and the focused one) on the page, the others removed.
  private paint(reset = false) {
    const { element: grid, spacer } = this;
    if (reset) { this.rendered = new Map(); spacer.replaceChildren(); }
    spacer.style.height = `${this.order.length * ROW}px`;
    const first = Math.max(0, Math.floor(grid.scrollTop / ROW) - OVERSCAN);
    const last = Math.min(this.order.length, Math.ceil((grid.scrollTop + grid.clientHeight) / ROW) + OVERSCAN);
    const next = new Map<number, HTMLElement>();
    const keep = (p: number) => {
      let row = this.rendered.get(p);
      if (!row) {
        row = this.renderRow(p);
        row.style.transform = `translateY(${p * ROW}px)`;
        spacer.append(row);
      }
      row.classList.toggle("current", p === this.focus.row);
      next.set(p, row);
    };
    for (let p = first; p < last; p++) keep(p);
    const focused = (document.activeElement as HTMLElement | null)?.closest<HTMLElement>(".body [data-pos]");
    if (focused && focused.parentElement === spacer) keep(Number(focused.dataset.pos));
    for (const [p, row] of this.rendered) if (!next.has(p)) row.remove();
    this.rendered = next;
    this.foot.firstElementChild?.classList.toggle("current", this.focus.row === this.order.length);
    // One tab stop: the focused cell when it is on the page, else the grid, which hands focus on.
    grid.querySelectorAll('[role="gridcell"][tabindex="0"]').forEach((c) => c.setAttribute("tabindex", "-1"));
    const cell = this.cellAt(Math.max(this.focus.row, 0), this.focus.col);
    cell?.setAttribute("tabindex", "0");
    grid.tabIndex = cell ? -1 : 0;
    grid.setAttribute("aria-rowcount", String(this.count() + this.headRows));
  }

  private schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => { this.pending = false; this.paint(); });
  }

  // Scrolls so that the cell at (p, c) is clear of the header, the total and the frozen columns.
  private reveal(p: number, c: number) {
    const { element: grid, sizes } = this;
    if (p < this.order.length) {
      const y = p * ROW, above = ROW * this.headRows, below = this.total >= 0 ? ROW : 0;
      if (y < grid.scrollTop) grid.scrollTop = y;
      else if (y + ROW > grid.scrollTop + grid.clientHeight - above - below)
        grid.scrollTop = y + ROW - grid.clientHeight + above + below;
    }
    const fixed = this.fixed;
    if (c < fixed) return;
    const pinned = sizes.pinned(fixed);
    if (sizes.lefts[c] - grid.scrollLeft < pinned) grid.scrollLeft = sizes.lefts[c] - pinned;
    else if (sizes.lefts[c] + sizes.widths[c] > grid.scrollLeft + grid.clientWidth) {
      // The first column edge that brings it in, as sideways scrolling stops at column edges.
      let k = fixed;
      while (k < c && sizes.lefts[k] - pinned < sizes.lefts[c] + sizes.widths[c] - grid.clientWidth) k++;
      grid.scrollLeft = sizes.lefts[k] - pinned;
    }
  }

  private moveTo(p: number, c: number) {
    const before = this.focus.row;
    this.focus.row = Math.max(0, Math.min(this.count() - 1, p));
    this.focus.col = Math.max(0, Math.min(this.view.length - 1, c));
    this.reveal(this.focus.row, this.focus.col);
    this.paint();
    this.cellAt(this.focus.row, this.focus.col)?.focus({ preventScroll: true });
    if (this.focus.row !== before) this.onMove?.(this.focus.row);
  }

  private sortBy(i: number) {
    if (!this.done) return;
    const descending = this.sorted?.col === i ? !this.sorted.descending : false;
    this.sorted = { col: i, descending };
    this.order = sortedOrder(this.rows, this.order, this.cols[i], descending);
    const fresh = this.makeHead();
    this.head.replaceWith(fresh);
    this.head = fresh;
    this.paint(true);
  }

  private listen() {
    const grid = this.element;
    const open = (target: EventTarget | null) => {
      const row = (target as HTMLElement | null)?.closest<HTMLElement>("[data-row]");
      if (row && this.onOpen) this.onOpen(Number(row.dataset.row));
    };
    grid.addEventListener("dblclick", (e) => open(e.target));
    grid.addEventListener("click", (e) => {
      const cell = (e.target as HTMLElement).closest<HTMLElement>('[role="gridcell"]');
      const row = cell?.closest<HTMLElement>("[data-pos]");
      if (cell && row) this.moveTo(Number(row.dataset.pos), Number(cell.dataset.col));
    });
    grid.addEventListener("focus", (e) => { if (e.target === grid && this.count()) this.moveTo(Math.max(this.focus.row, 0), this.focus.col); });
    grid.addEventListener("keydown", (e) => {
      if (!(e.target as HTMLElement).closest('[role="gridcell"]')) return;
      const page = Math.max(1, Math.floor(grid.clientHeight / ROW) - this.headRows - 1);
      const { row: p, col: c } = this.focus;
      const moves: Record<string, () => void> = {
        ArrowDown: () => this.moveTo(p + 1, c), ArrowUp: () => this.moveTo(p - 1, c),
        ArrowRight: () => this.moveTo(p, c + 1), ArrowLeft: () => this.moveTo(p, c - 1),
        PageDown: () => this.moveTo(p + page, c), PageUp: () => this.moveTo(p - page, c),
        Home: () => this.moveTo(e.ctrlKey ? 0 : p, 0), End: () => this.moveTo(e.ctrlKey ? this.count() - 1 : p, this.view.length - 1),
        Enter: () => this.onOpen?.(this.indexAt(p)),
      };
      if (moves[e.key]) { e.preventDefault(); moves[e.key](); }
    });
  }

  find(text: string) {
    const needle = text.trim();
    if (!needle) return false;
    for (let step = 1; step <= this.count(); step++) {
      const p = (this.focus.row + step) % this.count();
      const r = this.rows[this.indexAt(p)];
      if (this.shownCols().some((c) => cellText(r, c).includes(needle))) {
        this.focus.row = p;
        if (p < this.order.length) this.element.scrollTop = Math.max(0, p * ROW - this.element.clientHeight / 3);
        this.paint();
        return true;
      }
    }
    return false;
  }

  tsv() {
    const clean = (s: string) => s.replace(/[\t\n\r]/g, " ");
    const cols = this.shownCols();
    const lines = [cols.map((c) => clean(c.caption)).join("\t")];
    for (const r of this.shownRows()) lines.push(cols.map((c) => clean(plainText(r, c))).join("\t"));
    return lines.join("\n") + "\n";
  }

  columnWidths() { return [...this.sizes.all]; }

  private shownCols() { return this.view.map((i) => this.cols[i]); }

  showColumns(shown: boolean[] | null) {
    let view = this.cols.map((_, i) => i).filter((i) => !shown || shown[i]);
    if (!view.length) view = this.cols.map((_, i) => i);
    if (view.join() === this.view.join()) return;
    this.sizes.view = view;
    this.element.setAttribute("aria-colcount", String(this.view.length));
    this.focus.col = Math.min(this.focus.col, this.view.length - 1);
    this.relayout();
  }

  // Header, widths and rows again after the frozen or shown columns changed.
  private relayout() {
    const fresh = this.makeHead();
    this.head.replaceWith(fresh);
    this.head = fresh;
    this.sizes.apply(this.element, this.fixed);
    this.foot.replaceChildren(...(this.total >= 0 ? [this.renderRow(this.order.length, "pinned")] : []));
    this.paint(true);
  }

  sort() {
    return this.sorted ? { field: this.cols[this.sorted.col].field, descending: this.sorted.descending } : null;
  }

  shownRows() {
    return Array.from({ length: this.count() }, (_, p) => this.rows[this.indexAt(p)]);
  }

  grow() {
    for (let i = this.order.length; i < this.rows.length; i++) this.order.push(i);
    this.schedule();
  }

  complete(tail: PageTail) {
    this.grow();
    this.done = true;
    this.sortable = tail.sortable === true;
    this.element.setAttribute("aria-label", tail.name || "报表");
    // A lone total of nothing is no row at all.
    if (tail.empty) this.order = [];
    else if ((tail.total ?? -1) >= 0) {
      this.total = tail.total!;
      this.order = this.order.filter((i) => i !== this.total);
      this.cols.forEach((_, i) => this.sizes.fit(this.rows[this.total], i));
    }
    this.relayout();
  }
}

export const buildGrid = (page: Page): Grid => new GridView(page);
