// The charts the desktop draws, from the detail rows in the order shown:
//   10901 the stored-value and points balances of the current row's card over the month,
//   10902 sales amount per value of the grouping column, 10904 points used per gift,
//   10905 top-ups per day from the first day of the period. Integer ticks on the value axes.

import { BarChart, LineChart } from "echarts/charts";
import { GridComponent, LegendComponent, TitleComponent } from "echarts/components";
import * as echarts from "echarts/core";
import { CanvasRenderer } from "echarts/renderers";
import type { Report } from "./api";

echarts.use([BarChart, LineChart, GridComponent, LegendComponent, TitleComponent, CanvasRenderer]);

export const hasChart = (id: number) => id === 10901 || id === 10902 || id === 10904 || id === 10905;

function column(report: Report, field: string) {
  const entry = report.Header.find((e) => e.FColName === field);
  const caption = String(entry?.FHeadSecond ?? "") || String(entry?.FColCaption ?? field).replace(/\$$|(\+\|)+$/, "") || field;
  return { index: report.Fields.indexOf(field), caption };
}

function option(report: Report, id: number, row: number): echarts.EChartsCoreOption | null {
  const kind = report.Fields.indexOf("FRowKind");
  const details = report.Rows.filter((r) => kind < 0 || Number(r[kind]) === 0);
  const value = { type: "value", minInterval: 1 };
  const dayAxis = (first: string, last: string) => ({ type: "time", min: first || undefined, max: last || undefined,
    minInterval: 86400000, axisLabel: { formatter: "{MM}-{dd}" } });
  const bars = (keyField: string, labelField: string, valueField: string, title: string) => {
    const key = column(report, keyField), label = column(report, labelField), v = column(report, valueField);
    const sums = new Map<string, { label: string; sum: number }>();
    for (const r of details) {
      const k = String(r[key.index] ?? "");
      const slot = sums.get(k) ?? sums.set(k, { label: String(r[label.index] ?? "") || "（无）", sum: 0 }).get(k)!;
      slot.sum += Number(r[v.index]) || 0;
    }
    return {
      title: { text: title, left: "center", textStyle: { fontSize: 14 } },
      grid: { left: 70, right: 20, bottom: 70 },
      xAxis: { type: "category", name: label.caption, data: [...sums.values()].map((s) => s.label),
               axisLabel: { rotate: sums.size > 8 ? 90 : 0 } },
      yAxis: { ...value, name: v.caption },
      series: [{ type: "bar", name: v.caption, data: [...sums.values()].map((s) => Math.round(s.sum * 100) / 100) }],
    };
  };
  if (id === 10902) return bars("FNo", "FNo", "FpayAmount", `销售金额（按${column(report, "FNo").caption}）`);
  if (id === 10904) return bars("FNumber", "FName", "FVipNum", "各礼品使用积分");
  if (id === 10905) {
    const day = column(report, "FOperDate"), amount = column(report, "FPlusAmt");
    const perDay = new Map<string, number>();
    for (const r of details) {
      const d = String(r[day.index] ?? "").slice(0, 10);
      if (d) perDay.set(d, (perDay.get(d) ?? 0) + (Number(r[amount.index]) || 0));
    }
    const first = String(report.Filter.BDate ?? "").slice(0, 10);
    const last = String(report.Filter.EDate ?? "").slice(0, 10);
    return {
      title: { text: "每日充值金额", left: "center", textStyle: { fontSize: 14 } },
      grid: { left: 70, right: 20, bottom: 50 },
      xAxis: dayAxis(first, last),
      yAxis: { ...value, name: `${amount.caption}（每日合计）` },
      series: [{ type: "line", data: [...perDay].sort().map(([d, v]) => [d, Math.round(v * 100) / 100]) }],
    };
  }
  if (id === 10901) {
    // The card of the current row; a subtotal belongs to the card above it.
    const cardAt = column(report, "FCardId").index;
    let r = Math.max(0, Math.min(row, report.Rows.length - 1));
    while (r > 0 && kind >= 0 && Number(report.Rows[r][kind]) !== 0) r--;
    while (r < report.Rows.length && kind >= 0 && Number(report.Rows[r][kind]) !== 0) r++;
    const card = String(report.Rows[r]?.[cardAt] ?? "").trim();
    if (!card) return null;
    const day = column(report, "FDate").index, stored = column(report, "FResidualCardAmount"),
      points = column(report, "FResidualVipNum");
    const mine = details.filter((d) => String(d[cardAt] ?? "").trim() === card && String(d[day] ?? "").length >= 10);
    const line = (c: { index: number; caption: string }, axis: number) => ({
      type: "line", name: c.caption, yAxisIndex: axis, step: "end", showSymbol: true,
      data: mine.map((d) => [String(d[day]).slice(0, 10), Number(d[c.index]) || 0]),
    });
    // The whole month, whatever days the card moved on.
    const year = Number(report.Filter.Year), month = Number(report.Filter.Month);
    const iso = (d: Date) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, "0")}-${String(d.getDate()).padStart(2, "0")}`;
    const monthKnown = year > 0 && month >= 1 && month <= 12;
    return {
      title: { text: `会员卡 ${card} 本月储值余额与积分余额`, left: "center", textStyle: { fontSize: 14 } },
      legend: { bottom: 0 },
      grid: { left: 80, right: 80, bottom: 60 },
      xAxis: dayAxis(monthKnown ? iso(new Date(year, month - 1, 1)) : "", monthKnown ? iso(new Date(year, month, 0)) : ""),
      yAxis: [{ ...value, name: stored.caption }, { ...value, name: points.caption }],
      series: [line(stored, 0), line(points, 1)],
    };
  }
  return null;
}

const watched = new WeakSet<HTMLElement>();

// Draws the chart into `host` (for 10901, of the card in report row `row`); false when the
// report has none or no detail rows.
export function drawChart(host: HTMLElement, report: Report, id: number, row = 0): boolean {
  const o = option(report, id, row);
  echarts.dispose(host);
  host.textContent = o ? "" : "没有可绘制的明细行";
  if (!o) return false;
  const chart = echarts.init(host, undefined, { renderer: "canvas" });
  // Drawn at once, as a report's chart is read rather than watched.
  chart.setOption({ animation: false, ...o });
  // One observer a host, resizing whichever chart it holds now (10901 redraws on every row move).
  if (!watched.has(host)) {
    watched.add(host);
    new ResizeObserver(() => echarts.getInstanceByDom(host)?.resize()).observe(host);
  }
  return true;
}
