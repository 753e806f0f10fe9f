// Scheduled deliveries for head-office users: the list, a new schedule, send now, stop, the log.

import { api, type ReportInfo, type Schedule } from "./api";
import { h, uid } from "./dom";

const STATES: Record<string, string> = {
  pending: "待发送", sending: "发送中", sent: "已发送", "failed-transient": "失败，将重试", "failed-permanent": "失败",
  skipped: "未发送（超过补发时限）",
};

function field(label: string, control: HTMLElement, note = ""): HTMLElement {
  control.id ||= uid("sch");
  return h("div", { class: "field" }, h("label", { for: control.id }, label), control,
    note ? h("span", { class: "fixed" }, note) : null);
}

function table(head: string[], rows: (string | Node)[][], label: string): HTMLElement {
  return h("div", { class: "list-holder" }, h("table", { class: "list", "aria-label": label },
    h("thead", {}, h("tr", {}, ...head.map((t) => h("th", { scope: "col" }, t)))),
    h("tbody", {}, ...rows.map((r) => h("tr", {}, ...r.map((c) => h("td", {}, c)))))));
}

// "GroupBy=1; BBranchNum=002" -> {GroupBy: "1", BBranchNum: "002"}; throws on a part without "=".
function readKeys(text: string): Record<string, string> {
  const out: Record<string, string> = {};
  for (const part of text.split(/[;；\n]/).map((p) => p.trim()).filter(Boolean)) {
    const at = part.indexOf("=");
    if (at <= 0) throw new Error(`其他条件“${part}”应写成 键=值`);
    out[part.slice(0, at).trim()] = part.slice(at + 1).trim();
  }
  return out;
}

export async function schedulesView(reports: ReportInfo[]): Promise<HTMLElement> {
  const status = h("p", { class: "status", role: "status", "aria-live": "polite" });
  const say = (text: string) => { status.textContent = text; };
  const listHolder = h("div", {});
  const log = h("section", { "aria-label": "发送记录" });
  const nameOf = (id: number) => reports.find((r) => r.id === id)?.name ?? String(id);

  const act = (work: () => Promise<void>) => async () => {
    try { await work(); } catch (err) { say((err as Error).message); }
  };

  const showLog = async (s: Schedule) => {
    const rows = await api.deliveries(s.id);
    log.replaceChildren(h("h2", {}, `计划 ${s.id} 的发送记录`), rows.length
      ? table(["时段", "分店", "状态", "次数", "行数", "说明"], rows.map((d) => [
        d.slot, d.branch || "总部", STATES[d.state] ?? d.state, String(d.attempts),
        d.rows >= 0 ? d.rows.toLocaleString("zh-CN") : "", d.error]), "发送记录")
      : h("p", { class: "hint" }, "还没有发送记录。"));
  };

  const refresh = async () => {
    const list = await api.schedules();
    listHolder.replaceChildren(list.length ? table(
      ["编号", "报表", "期间", "格式", "发给", "时间", "状态", ""],
      list.map((s) => [
        String(s.id), `${s.report} ${nameOf(s.report)}`, String(s.filter.period ?? ""), s.format.toUpperCase(),
        s.split === "branch" ? "各分店的用户（每店一封）" : s.to.join("，"), `${s.cron}（${s.tz}）`,
        s.enabled ? "启用" : "已停用",
        h("span", { class: "tools" },
          h("button", { type: "button", class: "small", disabled: !s.enabled, onclick: act(async () => {
            const r = await api.runSchedule(s.id);
            say(`计划 ${s.id}：时段 ${r.slot} 已排队 ${r.queued} 封`);
            await showLog(s);
          }) }, "立即发送"),
          h("button", { type: "button", class: "small", disabled: !s.enabled, onclick: act(async () => {
            if (!confirm(`停用计划 ${s.id}？`)) return;
            await api.disableSchedule(s.id);
            say(`计划 ${s.id} 已停用`);
            await refresh();
          }) }, "停用"),
          h("button", { type: "button", class: "small", onclick: act(() => showLog(s)) }, "发送记录")),
      ]), "定时发送计划") : h("p", { class: "hint" }, "还没有定时发送计划。"));
  };

  const report = h("select", {}, ...reports.map((r) => h("option", { value: String(r.id) }, `${r.id} ${r.name}`)));
  // The relative periods the chosen report takes (the service reads them in the schedule's zone).
  const period = h("select", {});
  const fillPeriods = async () => {
    const kept = period.value || "上月";
    period.replaceChildren(...(await api.periods(Number(report.value))).map((p) => h("option", { value: p.period }, p.label)));
    if ([...period.options].some((o) => o.value === kept)) period.value = kept;
  };
  report.addEventListener("change", fillPeriods);
  await fillPeriods();
  const keys = h("input", { type: "text", placeholder: "GroupBy=1; BBranchNum=002" });
  const format = h("select", {}, ...["xlsx", "pdf", "csv"].map((f) => h("option", { value: f }, f.toUpperCase())));
  const split = h("select", {}, h("option", { value: "branch" }, "每个分店一封，只给该店的用户"),
    h("option", { value: "none" }, "一封，发给总部"));
  const to = h("input", { type: "text", placeholder: "a@example.com, b@example.com" });
  const cron = h("input", { type: "text", value: "0 7 1 * *" });
  const zone = h("input", { type: "text", value: "Asia/Shanghai" });
  const toField = field("收件人", to, "逗号分隔");
  const syncSplit = () => { toField.hidden = split.value === "branch"; };
  split.addEventListener("change", syncSplit);
  syncSplit();
  const form = h("form", { class: "filter", "aria-label": "新建定时发送" },
    field("报表", report), field("期间", period), field("其他条件", keys), field("格式", format),
    field("发给", split), toField, field("时间", cron, "分 时 日 月 周，如 0 7 1 * * 为每月 1 日 7:00"),
    field("时区", zone),
    h("div", { class: "buttons" }, h("button", { type: "submit" }, "添加计划")));
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    act(async () => {
      const filter = { ...readKeys(keys.value), period: period.value };
      const recipients = split.value === "branch" ? [] : to.value.split(/[,，;；\s]+/).filter(Boolean);
      const { id } = await api.addSchedule({ report: Number(report.value), filter, format: format.value,
        split: split.value as Schedule["split"], to: recipients, cron: cron.value.trim(), tz: zone.value.trim() });
      say(`已添加计划 ${id}`);
      await refresh();
    })();
  });

  await refresh();
  return h("section", { class: "schedules" }, h("h1", {}, "定时发送"), listHolder, status,
    h("details", { class: "panel" }, h("summary", {}, "新建计划"), form), log);
}
