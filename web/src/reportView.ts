// One report: its filter form, the run (Esc cancels it), the title lines, the grid and its tools.

import { api, ApiError, type Filter, type Page, type Preset, type ReportInfo } from "./api";
import { columnChooser } from "./columnChooser";
import { titleLines } from "./columns";
import { h } from "./dom";
import { buildFilterForm } from "./filterForm";
import { buildGrid, type Grid } from "./grid";
import { formatHash } from "./route";
import { schemeBar } from "./schemes";

let running: AbortController | null = null;
// The charts and their library load behind the grid: a report is read before it is charted.
let charts: typeof import("./charts") | null = null;
const loadCharts = async () => (charts ??= await import("./charts"));

// Leaving a report (another view, signing out) aborts its run: the closed request makes the
// service stop the worker instead of streaming rows no one reads.
export function leaveReport() {
  running?.abort();
  running = null;
}

// Esc anywhere cancels the report being run: the fetch is aborted and the service, seeing the
// connection closed, cancels the query.
document.addEventListener("keydown", (e) => {
  if (e.key === "Escape" && running) { e.preventDefault(); running.abort(); }
});

function save(blob: Blob, name: string) {
  const url = URL.createObjectURL(blob);
  const a = h("a", { href: url, download: name, hidden: true });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// `initial` from the address runs at once; without one the form starts from `remembered`.
// `columnsKey` keeps the columns chosen on a narrow screen.
export async function reportView(info: ReportInfo, initial: Filter, periods: Promise<Preset[]>,
                                 remembered: Filter = {}, columnsKey = `velvip.cols.${info.id}`): Promise<HTMLElement> {
  const [keys, presets] = await Promise.all([api.keys(info.id), periods]);
  const form = buildFilterForm(keys, presets, Object.keys(initial).length ? initial : remembered);
  const status = h("p", { class: "status", role: "status", "aria-live": "polite" });
  // A loaded scheme becomes the address, which rebuilds the form from it and runs.
  const schemes = schemeBar(info.id, () => form.value(),
    (filter) => { location.hash = formatHash({ report: info.id, filter }); }, (text) => { status.textContent = text; });
  const panel = h("details", { class: "panel", open: true }, h("summary", {}, "筛选条件"), schemes, form.element);
  const titles = h("div", { class: "titles" });
  const holder = h("div", { class: "grid-holder" });
  const chart = h("div", { class: "chart", role: "img", "aria-label": "图表", hidden: true });
  let page: Page | null = null;   // the run on screen, once complete
  let chartRow = 0;   // a ledger charts the card of the row at this position
  // When what is above leaves the grid too little height, the rows need the screen more than the
  // form does.
  const makeRoom = () => {
    const main = holder.closest("main");
    if (main && main.scrollHeight > main.clientHeight) panel.open = false;
  };
  let grid: Grid | null = null;
  // Draws the chart when it is open; false when there is nothing to draw.
  const redraw = () => !!(charts && page?.head.chart && grid && charts.drawChart(chart, page.head.chart, grid.shownRows(), chartRow));
  const chartButton = h("button", { type: "button", "aria-pressed": "false", hidden: true, onclick: () => {
    const show = chart.hidden;
    chart.hidden = !show;
    chartButton.setAttribute("aria-pressed", String(show));
    if (show) { redraw(); makeRoom(); }
  } }, "图表");
  const findBox = h("input", { type: "search", "aria-label": "查找", placeholder: "查找" });
  const tools = h("div", { class: "tools", role: "toolbar", "aria-label": "报表工具", hidden: true });
  const chooser = columnChooser(columnsKey);
  // What exports and 复制 act on: set only while a complete run is on screen.
  let shown: { filter: Filter; grid: Grid } | null = null;
  const toolButtons: HTMLButtonElement[] = [];
  const setShown = (value: typeof shown) => {
    shown = value;
    for (const b of toolButtons) b.disabled = !value;
  };

  const exportButton = (label: string, format: string, bom = false) =>
    h("button", { type: "button", onclick: async () => {
      if (!shown) return;
      status.textContent = `正在导出 ${label}…`;
      try {
        // The file follows the order on screen.
        const file = await api.download(info.id, shown.filter, format, bom, shown.grid.sort());
        save(file.blob, file.name);
        status.textContent = `已导出 ${file.name}`;
      } catch (err) { status.textContent = (err as Error).message; }
    } }, label);
  // 查找 moves to the next row holding the text (Shift+Enter or 上一个 to the one before) and
  // counts the rows that hold it.
  let found = { text: "", at: 0, of: 0 };
  const findCount = h("span", { class: "find-count", "aria-live": "polite" });
  const findStep = (back: boolean) => {
    if (!grid) return;
    const text = findBox.value.trim();
    if (text !== found.text)
      found = { text, at: 0, of: text ? grid.tsv().split("\n").slice(1).filter((l) => l.includes(text)).length : 0 };
    // The grid finds forwards only; the one before is the next but one less than a full round.
    const steps = back && found.of > 1 ? found.of - 1 : 1;
    let hit = false;
    for (let i = 0; i < steps; i++) hit = grid.find(text);
    if (hit) found.at = ((found.at + (back ? -1 : 1) + found.of - 1) % found.of) + 1;
    findCount.textContent = hit ? `第 ${found.at} / ${found.of} 行` : "";
    status.textContent = hit ? "" : `没有找到“${findBox.value}”`;
  };
  findBox.addEventListener("keydown", (e) => {
    if (e.key !== "Enter") return;
    e.preventDefault();
    findStep(e.shiftKey);
  });
  const copyButton = h("button", { type: "button", onclick: async () => {
    if (!shown) return;
    await navigator.clipboard.writeText(shown.grid.tsv());
    status.textContent = "已复制为制表符分隔的文本";
  } }, "复制");
  // 打印 prints the whole report in the order on screen: the service's PDF, opened for the
  // browser's print.
  const printButton = h("button", { type: "button", onclick: async () => {
    if (!shown) return;
    const tab = window.open("", "_blank");
    status.textContent = "正在准备打印…";
    try {
      const file = await api.download(info.id, shown.filter, "pdf", false, shown.grid.sort());
      if (tab) tab.location.href = URL.createObjectURL(file.blob); else save(file.blob, file.name);
      status.textContent = "已打开 PDF，请在其中打印";
    } catch (err) { tab?.close(); status.textContent = (err as Error).message; }
  } }, "打印");
  toolButtons.push(copyButton, exportButton("CSV", "csv"), exportButton("CSV（带 BOM）", "csv", true),
    exportButton("XLSX", "xlsx"), exportButton("PDF", "pdf"), printButton);
  tools.append(findBox, findCount, h("button", { type: "button", onclick: () => findStep(true) }, "上一个"),
    h("button", { type: "button", onclick: () => findStep(false) }, "下一个"), ...toolButtons, chartButton, chooser.element);

  // The grid is built from the head and first rows and grows while the rest arrives.
  const showTitles = (lines: string[]) => titles.replaceChildren(...lines.map((line, i) =>
    i === 0 ? h("h2", {}, line) : h("p", {}, line)));
  const showGrid = (result: Page, filter: Filter) => {
    showTitles([]);
    grid = buildGrid(result);
    grid.onOpen = async (row) => {
      if (info.id !== 10902) return;
      try {
        const target = await api.drill(info.id, row, filter);
        if (target.report && target.filter) location.hash = formatHash({ report: target.report, filter: target.filter });
        else status.textContent = target.note || "这一行没有明细";
      } catch (err) { status.textContent = (err as Error).message; }
    };
    grid.onMove = (position) => {
      chartRow = position;
      if (page?.head.chart?.kind === "ledger" && !chart.hidden) redraw();
    };
    holder.replaceChildren(grid.element);
    chooser.attach(grid, result);
    tools.hidden = false;
    makeRoom();
  };
  // A run that did not complete leaves nothing that could pass for its result.
  const clearResult = () => {
    grid = null;
    page = null;
    holder.replaceChildren();
    chooser.detach();
    showTitles([]);
    echartsOff();
    setShown(null);
  };
  const echartsOff = () => { chart.hidden = true; chartButton.hidden = true; chartButton.setAttribute("aria-pressed", "false"); };

  async function run(filter: Filter) {
    running?.abort();
    const controller = new AbortController();
    running = controller;
    status.textContent = "正在运行…（按 Esc 取消）";
    form.showErrors("");
    clearResult();
    chartRow = 0;
    let first: Page | null = null;
    let result: Page;
    try {
      result = await api.run(info.id, filter, controller.signal, (partial) => {
        if (controller.signal.aborted) return;
        if (first !== partial) { first = partial; showGrid(partial, filter); } else grid!.grow();
        status.textContent = `已收到 ${partial.rows.length.toLocaleString("zh-CN")} 行…（按 Esc 取消）`;
      });
    } catch (err) {
      clearResult();
      if (controller.signal.aborted) status.textContent = "已取消，没有结果";
      else if (err instanceof ApiError && err.status === 401) dispatchEvent(new Event("velvip:signed-out"));
      else if (err instanceof ApiError && (err.status === 400 || err.status === 403)) { status.textContent = ""; form.showErrors(err); }
      else status.textContent = (err as Error).message;
      return;
    } finally {
      if (running === controller) running = null;
    }
    if (!grid) showGrid(result, filter);
    const tail = result.tail!;
    // The title block and the period come with the tail.
    showTitles(titleLines(tail));
    grid!.complete(tail);
    chooser.attach(grid!, result);
    page = result;
    setShown({ filter, grid: grid! });
    // A chart only when it has something to draw (not for summary rows alone).
    if (result.head.chart) loadCharts().then(() => {
      if (page !== result) return;
      chartButton.hidden = !redrawable();
      if (!chart.hidden) redraw();
    }).catch(() => undefined);
    else chartButton.hidden = true;
    status.textContent = `共 ${(tail.rows ?? 0).toLocaleString("zh-CN")} 行`;
  }
  const redrawable = () => !!(charts && page?.head.chart && grid && charts.chartData(page.head.chart, grid.shownRows(), chartRow));

  form.element.addEventListener("submit", (e) => {
    e.preventDefault();
    const filter = form.value();
    const hash = formatHash({ report: info.id, filter });
    if (location.hash !== hash) history.replaceState(null, "", hash);
    run(filter);
  });
  // Enter runs from any field, selects included.
  form.element.addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.target as HTMLElement).tagName === "SELECT") {
      e.preventDefault();
      form.element.requestSubmit();
    }
  });
  // A view from the address runs at once, when the form is on the page.
  if (Object.keys(initial).length) setTimeout(() => form.element.requestSubmit());
  return h("section", { class: "report", "aria-label": info.name },
    h("h1", { tabindex: "-1" }, `${info.id} ${info.name}`), panel, status, tools, titles, chart, holder);
}
