// Draws the chart the service describes (which columns, title, series names, day range) with
// ECharts, from the detail rows in the order shown: bars summed per key, a line of daily sums,
// or one card's balances as steps through the month. Integer ticks on the value axes.

import { BarChart, LineChart } from "echarts/charts";
import { GridComponent, LegendComponent, TitleComponent } from "echarts/components";
import * as echarts from "echarts/core";
import { CanvasRenderer } from "echarts/renderers";
import type { ChartSpec, PageRow } from "./api";

echarts.use([BarChart, LineChart, GridComponent, LegendComponent, TitleComponent, CanvasRenderer]);

// What a chart draws: bar labels (bars) and one list of [x, y] points per series.
export interface ChartData { title: string; categories: string[]; names: string[]; series: [string | number, number][][] }

const text = (r: PageRow, at: number | undefined) => (at === undefined || at < 0 ? "" : String(r[at + 1] ?? "").trim());
const number = (r: PageRow, at: number | undefined) => Number(text(r, at)) || 0;
const round = (v: number) => Math.round(v * 100) / 100;

function bars(spec: ChartSpec, details: PageRow[]): ChartData | null {
  const sums = new Map<string, { label: string; sum: number }>();
  const labels = new Set<string>();
  for (const r of details) {
    const k = text(r, spec.key);
    let slot = sums.get(k);
    if (!slot) {
      let label = text(r, spec.label) || spec.none || "";
      if (labels.has(label)) label += `（${k}）`;
      labels.add(label);
      sums.set(k, (slot = { label, sum: 0 }));
    }
    slot.sum += number(r, spec.value);
  }
  if (!sums.size) return null;
  const all = [...sums.values()];
  return { title: spec.title, categories: all.map((s) => s.label), names: spec.names, series: [all.map((s, i) => [i, round(s.sum)])] };
}

function daily(spec: ChartSpec, details: PageRow[]): ChartData | null {
  const perDay = new Map<string, number>();
  for (const r of details) {
    const d = text(r, spec.day).slice(0, 10);
    if (d) perDay.set(d, (perDay.get(d) ?? 0) + number(r, spec.value));
  }
  if (!perDay.size) return null;
  return { title: spec.title, categories: [], names: spec.names,
           series: [[...perDay].sort().map(([d, v]) => [d, round(v)] as [string, number])] };
}

// The card of row `at` (a summary row's is the card above it, else below).
function ledger(spec: ChartSpec, rows: PageRow[], at: number): ChartData | null {
  let r = Math.max(0, Math.min(at, rows.length - 1));
  while (r > 0 && rows[r][0] !== 0) r--;
  while (r < rows.length && rows[r][0] !== 0) r++;
  const card = r < rows.length ? text(rows[r], spec.card) : "";
  if (!card) return null;
  const mine = rows.filter((d) => d[0] === 0 && text(d, spec.card) === card && text(d, spec.day).length >= 10);
  if (!mine.length) return null;
  const points = (at?: number) => mine.map((d) => [text(d, spec.day).slice(0, 10), number(d, at)] as [string, number]);
  return { title: spec.title.replace("%1", card), categories: [], names: spec.names, series: [points(spec.value), points(spec.value2)] };
}

// The chart's data from the rows in the order shown (`at`: the current row, for a ledger); null
// when there is nothing to draw.
export function chartData(spec: ChartSpec, rows: PageRow[], at = 0): ChartData | null {
  const details = rows.filter((r) => r[0] === 0);
  if (spec.kind === "bars") return bars(spec, details);
  if (spec.kind === "daily") return daily(spec, details);
  return ledger(spec, rows, at);
}

function option(spec: ChartSpec, data: ChartData): echarts.EChartsCoreOption {
  const value = { type: "value", minInterval: 1 };
  const title = { text: data.title, left: "center", textStyle: { fontSize: 14 } };
  if (spec.kind === "bars")
    return {
      title, grid: { left: 70, right: 20, bottom: 70 },
      xAxis: { type: "category", name: spec.axis, data: data.categories, axisLabel: { rotate: data.categories.length > 8 ? 90 : 0 } },
      yAxis: { ...value, name: data.names[0] },
      series: [{ type: "bar", name: data.names[0], data: data.series[0].map(([, v]) => v) }],
    };
  const days = { type: "time", min: spec.first || undefined, max: spec.last || undefined, minInterval: 86400000,
                 axisLabel: { formatter: "{MM}-{dd}" } };
  if (spec.kind === "daily")
    return { title, grid: { left: 70, right: 20, bottom: 50 }, xAxis: days, yAxis: { ...value, name: data.names[0] },
             series: [{ type: "line", name: data.names[0], data: data.series[0] }] };
  return {
    title, legend: { bottom: 0 }, grid: { left: 80, right: 80, bottom: 60 }, xAxis: days,
    yAxis: data.names.map((name) => ({ ...value, name })),
    series: data.names.map((name, i) => ({ type: "line", name, yAxisIndex: i, step: "end", showSymbol: true, data: data.series[i] })),
  };
}

const watched = new WeakSet<HTMLElement>();

// Draws the chart into `host`; false when there is nothing to draw.
export function drawChart(host: HTMLElement, spec: ChartSpec, rows: PageRow[], at = 0): boolean {
  const data = chartData(spec, rows, at);
  echarts.dispose(host);
  host.textContent = data ? "" : "没有可绘制的明细行";
  host.setAttribute("aria-label", data ? `图表：${data.title}` : "图表");
  if (!data) return false;
  const chart = echarts.init(host, undefined, { renderer: "canvas" });
  // Drawn at once, as a report's chart is read rather than watched.
  chart.setOption({ animation: false, ...option(spec, data) });
  // One observer a host, resizing whichever chart it holds now (a ledger redraws on every row move).
  if (!watched.has(host)) {
    watched.add(host);
    new ResizeObserver(() => echarts.getInstanceByDom(host)?.resize()).observe(host);
  }
  return true;
}
