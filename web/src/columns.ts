// The columns, cells and title lines of a run as the service describes them: this file only
// renders that description (which columns show, their header cells, grouping, alignment).

import type { Page, PageColumn, PageRow, PageTail } from "./api";

// A visible column: `at` is its cell's place in a row (after the row's kind).
export interface Column extends PageColumn { at: number }

export const columnsOf = (page: Page): Column[] =>
  page.head.columns.map((c, i) => ({ ...c, at: i + 1 })).filter((c) => c.visible);

const grouped = (digits: string) => digits.replace(/\B(?=(\d{3})+(?!\d))/g, ",");

// A cell as the grid shows it: the service's text, thousands grouped where the column says so.
export function cellText(row: PageRow, c: Column): string {
  const text = String(row[c.at] ?? "");
  if (!c.grouping) return text;
  const m = /^(-?)(\d+)(\.\d+)?$/.exec(text);
  return m ? m[1] + grouped(m[2]) + (m[3] ?? "") : text;
}

// A cell as copied: the service's plain text.
export const plainText = (row: PageRow, c: Column) => String(row[c.at] ?? "");

// The lines above the grid: name, the title block's lines, the filter lines, the period.
export function titleLines(tail: PageTail | null): string[] {
  if (!tail) return [];
  return [tail.name ?? "", ...(tail.lines ?? []), ...(tail.filters ?? []), tail.period ?? ""].filter((l) => l !== "");
}
