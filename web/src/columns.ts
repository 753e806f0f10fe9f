// Columns from a report's header entries: "$" ends a one-row caption, "+|" repeated n-1 times
// opens a group of n columns under one first-row caption; hidden columns are left out.

import type { Report } from "./api";

export type Kind = "text" | "date" | "quantity" | "price" | "amount";
export interface Column { field: number; top: string; sub: string; group: number; span: number; kind: Kind }

function kindOf(type: unknown): Kind {
  const t = String(type ?? "").trim();
  return t === "0" ? "date" : t === "2" ? "quantity" : t === "4" ? "price" : t === "6" ? "amount" : "text";
}

export function columnsOf(report: Report): Column[] {
  const all: (Column & { visible: boolean })[] = [];
  let groupLeft = 0, groupStart = -1, groupCaption = "";
  for (const entry of report.Header) {
    let caption = String(entry.FColCaption ?? "");
    const second = String(entry.FHeadSecond ?? "");
    const visible = entry.FVisible === undefined || Number(entry.FVisible) !== 0 || entry.FVisible === true;
    const col = { field: report.Fields.indexOf(String(entry.FColName ?? "")), top: caption, sub: "",
                  group: -1, span: 1, kind: kindOf(entry.FColType), visible };
    if (caption === "" && groupLeft > 0) {
      Object.assign(col, { group: groupStart, top: groupCaption, sub: second });
      groupLeft--;
    } else if (caption.endsWith("$")) {
      col.top = caption.slice(0, -1);
      groupLeft = 0;
    } else {
      let marks = 0;
      while (caption.endsWith("+|")) { caption = caption.slice(0, -2); marks++; }
      col.top = caption;
      groupLeft = marks;
      if (marks > 0 || second) { groupStart = all.length; groupCaption = caption; col.group = groupStart; col.sub = second; }
    }
    all.push(col);
  }
  // Keep the visible ones; a group's span counts its visible members.
  const shown = all.filter((c) => c.visible && c.field >= 0);
  const renumbered = new Map<number, number>();
  shown.forEach((c, i) => {
    if (c.group < 0) return;
    if (!renumbered.has(c.group)) renumbered.set(c.group, i);
    c.group = renumbered.get(c.group)!;
  });
  for (const c of shown) c.span = c.group < 0 ? 1 : shown.filter((o) => o.group === c.group).length;
  return shown.map(({ visible, ...c }) => c);
}

const grouped = (digits: string) => digits.replace(/\B(?=(\d{3})+(?!\d))/g, ",");

export function formatCell(value: unknown, kind: Kind): string {
  if (value === null || value === undefined) return "";
  if (typeof value !== "number" || kind === "text" || kind === "date") return String(value);
  const decimals = kind === "quantity" ? 3 : 2;
  let text = Math.abs(value).toFixed(decimals);
  if (kind === "quantity") text = text.replace(/\.?0+$/, "");
  const [whole, fraction] = text.split(".");
  const sign = value < 0 && Number(text) !== 0 ? "-" : "";
  return sign + grouped(whole) + (fraction ? "." + fraction : "");
}

export const isNumeric = (k: Kind) => k === "quantity" || k === "price" || k === "amount";

// The lines above the grid: name, the title block's lines, the period.
export function titleLines(report: Report): string[] {
  const lines: string[] = [];
  const name = String(report.Property.Name ?? "");
  if (name) lines.push(name);
  const block = (report.Title || [])
    .map((t, i) => ({ i: Number.isFinite(Number(t.FIndex)) ? Number(t.FIndex) : i, c: t.FCaption }))
    .filter((t) => t.c !== undefined)
    .sort((a, b) => a.i - b.i);
  lines.push(...block.map((t) => String(t.c)));
  const options = report.Result.RptTitleObject as Record<string, unknown> | undefined;
  const diff = String(options?.ShowDateDiff ?? "");
  if (diff) {
    const part = (k: string) => new RegExp(`${k},([^|]*)`, "i").exec(diff)?.[1]?.trim();
    const b = part("BDate"), e = part("EDate");
    lines.push(b || e ? `日期：${b ?? ""} 至 ${e ?? ""}` : diff);
  } else if (Number(report.Filter.RptID) === 10901 && report.Filter.Year && report.Filter.Month) {
    lines.push(`期间：${Number(report.Filter.Year)}年${Number(report.Filter.Month)}月`);
  }
  return lines;
}
