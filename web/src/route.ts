// The view in the address: #/reports/10902?period=2024-03&GroupBy=1

import type { Filter } from "./api";

export interface View { report: number; filter: Filter }

export function parseHash(hash: string): View | null {
  const m = /^#\/reports\/(\d+)(?:\?(.*))?$/.exec(hash);
  if (!m) return null;
  const filter: Filter = {};
  for (const [k, v] of new URLSearchParams(m[2] || "")) filter[k] = v;
  return { report: Number(m[1]), filter };
}

export function formatHash(view: View): string {
  const q = new URLSearchParams();
  for (const [k, v] of Object.entries(view.filter)) if (v !== "") q.set(k, String(v));
  const s = q.toString();
  return `#/reports/${view.report}${s ? "?" + s : ""}`;
}
