// Scheduled deliveries for head-office users: the list, a new schedule, send now, stop, the log.

import { api, type ReportInfo, type Schedule } from "./api";
import { buildFilterForm } from "./filterForm";
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

  // A new schedule: the chosen report's own filter form (its periods and keys), then where,
  // when and in which zone it goes.
  const report = h("select", {}, ...reports.map((r) => h("option", { value: String(r.id) }, `${r.id} ${r.name}`)));
  const format = h("select", {}, ...["xlsx", "pdf", "csv"].map((f) => h("option", { value: f }, f.toUpperCase())));
  const split = h("select", {}, h("option", { value: "branch" }, "每个分店一封，只给该店的用户"),
    h("option", { value: "none" }, "一封，发给总部"));
  const to = h("input", { type: "text", placeholder: "例如 a@example.com, b@example.com" });
  const cron = h("input", { type: "text", value: "0 7 1 * *" });
  const zone = h("select", {}, ...(await api.zones()).map((z) => h("option", { value: z }, z)));
  zone.value = "Asia/Shanghai";
  const toField = field("收件人", to, "逗号分隔");
  const syncSplit = () => { toField.hidden = split.value === "branch"; };
  split.addEventListener("change", syncSplit);
  syncSplit();
  const delivery = [field("格式", format), field("发给", split), toField,
    field("时间", cron, "分 时 日 月 周，如 0 7 1 * * 为每月 1 日 7:00"), field("时区", zone)];
  const formHolder = h("div", {});
  const buildForm = async () => {
    const id = Number(report.value);
    const [keys, presets] = await Promise.all([api.keys(id), api.periods(id)]);
    const filter = buildFilterForm(keys, presets, {});
    const form = filter.element;
    form.setAttribute("aria-label", "新建定时发送");
    form.prepend(field("报表", report));
    const period = form.querySelector<HTMLSelectElement>("select[name=period]");
    if (period && [...period.options].some((o) => o.value === "上月")) period.value = "上月";
    // A schedule names a relative period only: the service reads it on each sending.
    period?.querySelector('option[value="range"]')?.remove();
    const buttons = form.querySelector(".buttons")!;
    buttons.before(...delivery);
    buttons.querySelector("button")!.textContent = "添加计划";
    form.addEventListener("submit", (e) => {
      e.preventDefault();
      act(async () => {
        const recipients = split.value === "branch" ? [] : to.value.split(/[,，;；\s]+/).filter(Boolean);
        const { id: added } = await api.addSchedule({ report: id, filter: filter.value(), format: format.value,
          split: split.value as Schedule["split"], to: recipients, cron: cron.value.trim(), tz: zone.value });
        say(`已添加计划 ${added}`);
        await refresh();
      })();
    });
    formHolder.replaceChildren(form);
  };
  report.addEventListener("change", act(buildForm));
  await buildForm();

  await refresh();
  return h("section", { class: "schedules" }, h("h1", {}, "定时发送"), listHolder, status,
    h("details", { class: "panel" }, h("summary", {}, "新建计划"), formHolder), log);
}
