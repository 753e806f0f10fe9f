// The first page after sign-in: yesterday's and this month's figures beside the same period
// before, each a link to the report run it comes from. A branch reads its own; head office reads
// them per branch with the chain's total. The figures are the reports' own summary rows, run
// through the same service calls as the report pages, and shown as the service words them;
// 消费会员数 is the number of a report's member rows.

import { api, ApiError, type Filter, type Page, type Preset, type Session } from "./api";
import { cellText, columnsOf, plainText } from "./columns";
import { h } from "./dom";
import { formatHash } from "./route";

// `filter` is the run behind the figure and its link. A `members` figure is read from the run
// `members.run` (one run for the total and every branch): its detail rows, each a member's at
// one branch, whose `field` is above 0 (a sale bill in the period; a return alone is no
// purchase), counted once per `members.card` for a total and per `members.branch` for a branch.
interface Figure {
  label: string; report: number; field: string; filter: Filter; branchKeys: [string, string];
  members?: { run: Filter; card: string; branch: string };
}
const FIGURES: Figure[] = [
  { label: "消费金额", report: 10902, field: "FpayAmount", filter: { GroupBy: 1, SumOnly: 1 }, branchKeys: ["BBranchNum", "EBranchNum"] },
  // The link lists the members by card (summary rows only, a row per card).
  { label: "消费会员数", report: 10902, field: "ftimes", filter: { GroupBy: 0, SumOnly: 1 },
    members: { run: { GroupBy: 0 }, card: "FNo", branch: "FBranchName" }, branchKeys: ["BBranchNum", "EBranchNum"] },
  { label: "充值金额", report: 10905, field: "FPlusAmt", filter: { GroupBy: 1, SumOnly: 1 }, branchKeys: ["BStockNo", "EStockNo"] },
  { label: "兑换积分", report: 10904, field: "FVipNum", filter: { GroupBy: 2, SumOnly: 1 }, branchKeys: ["BStockNo", "EStockNo"] },
];
const FAILED = "暂时取不到，请稍后再试。";

// A period shown and the one it is compared with, as the service's period texts.
interface Span { title: string; period: string; before: string; beforeLabel: string; dates: string }

const day = (iso: string, add = 0) => new Date(Date.parse(iso + "T00:00:00Z") + add * 86400000).toISOString().slice(0, 10);

// Yesterday against the day before; this month so far against as many days of last month.
function spans(presets: Preset[]): Span[] {
  const find = (p: string) => presets.find((x) => x.period === p)!;
  const [yesterday, month, last] = [find("昨天"), find("本月至今"), find("上月")];
  const before = day(yesterday.first, -1);
  const sameDay = day(last.first, Number(month.last.slice(8)) - 1);
  const end = sameDay > last.last ? last.last : sameDay;
  return [
    { title: "昨天", period: "昨天", before: `${before}..${before}`, beforeLabel: "前一天", dates: yesterday.first },
    { title: "本月至今", period: "本月至今", before: `${last.first}..${end}`, beforeLabel: "上月同期",
      dates: `${month.first} 至 ${month.last}` },
  ];
}

// A run's figures: the total row's and each branch subtotal's text of a field, or the count of
// member rows, by the row's first cell (a branch's number or name, as the report writes it). A
// branch without a row shows "—": nothing in the period.
interface Figures { total?: string; byBranch: Map<string, string> }
function figuresOf(page: Page, f: Figure): Figures {
  const cols = columnsOf(page), column = cols.find((c) => c.field === f.field);
  const out: Figures = { byBranch: new Map() };
  if (!column) return out;
  if (f.members) {
    const card = cols.find((c) => c.field === f.members!.card), branch = cols.find((c) => c.field === f.members!.branch);
    if (!card) return out;
    const cards = new Set<string>(), perBranch = new Map<string, Set<string>>();
    for (const r of page.rows.filter((r) => r[0] === 0 && Number(plainText(r, column)) > 0)) {
      cards.add(plainText(r, card));
      if (branch) perBranch.set(plainText(r, branch), (perBranch.get(plainText(r, branch)) ?? new Set()).add(plainText(r, card)));
    }
    out.total = cards.size.toLocaleString("zh-CN");
    for (const [key, members] of perBranch) out.byBranch.set(key, members.size.toLocaleString("zh-CN"));
    return out;
  }
  for (const row of page.rows) {
    if (row[0] === 2) out.total = cellText(row, column);
    else if (row[0] === 1) out.byBranch.set(String(row[1]), cellText(row, column));
  }
  return out;
}

let running: AbortController | null = null;
export function leaveHome() {
  running?.abort();
  running = null;
}

// The runs share the service's small queue with every other user: a few at a time from this
// page, and one the service turned away as busy (503) is asked again after a pause.
const AT_ONCE = 4, TRIES = 4, PAUSE_MS = 5000;
let active = 0;
const waiting: (() => void)[] = [];
async function queued(id: number, filter: Filter, signal: AbortSignal): Promise<Page> {
  if (active >= AT_ONCE) await new Promise<void>((go) => waiting.push(go));
  active++;
  try {
    for (let tries = 1; ; tries++) {
      try {
        return await api.run(id, filter, signal, () => undefined);
      } catch (err) {
        if (!(err instanceof ApiError && err.status === 503) || tries === TRIES || signal.aborted) throw err;
        await new Promise((resume) => setTimeout(resume, PAUSE_MS));
      }
    }
  } finally {
    active--;
    waiting.shift()?.();
  }
}

interface Branch { number: string; name: string }
async function branchList(): Promise<Branch[]> {
  const all: Branch[] = [];
  for (let more = true; more;) {
    const page = await api.lookup("branches", "", all.length);
    all.push(...page.items);
    more = page.more && page.items.length > 0;
  }
  return all.sort((a, b) => a.number.localeCompare(b.number));
}

// A figure's place: its link and text once its run is in, or the sentence when the run failed.
function slot(label: string, run: Promise<Page>, read: (page: Page) => string | undefined, href: string) {
  const link = h("a", { href, class: "figure", "aria-busy": "true", "aria-label": `${label}：正在取数` }, "…");
  run.then((page) => {
    const text = read(page) ?? "—";
    link.textContent = text;
    link.setAttribute("aria-label", `${label}：${text === "—" ? "无" : text}`);
  }, (err: Error) => {
    if (err.name === "AbortError") return;
    link.replaceWith(h("span", { class: "failed", role: "status" }, FAILED));
  }).finally(() => link.removeAttribute("aria-busy"));
  return link;
}

export async function homeView(session: Session): Promise<HTMLElement> {
  leaveHome();
  const abort = (running = new AbortController());
  const branches = session.branch ? Promise.resolve([]) : branchList();
  const list = spans(await api.periods());
  // Each report once per period, this period's first: the figures fill in as their runs end.
  const runs = new Map<string, Promise<Page>>();
  const run = (report: number, filter: Filter) => {
    const key = formatHash({ report, filter });
    if (!runs.has(key)) {
      const p = queued(report, filter, abort.signal);
      p.catch(() => undefined);
      runs.set(key, p);
    }
    return runs.get(key)!;
  };
  const source = (f: Figure) => f.members?.run ?? f.filter;
  for (const side of ["period", "before"] as const) for (const s of list) for (const f of FIGURES)
    run(f.report, { ...source(f), period: s[side] });
  const link = (f: Figure, period: string, branch?: string) => formatHash({ report: f.report,
    filter: { ...f.filter, period, ...(branch ? { [f.branchKeys[0]]: branch, [f.branchKeys[1]]: branch } : {}) } });
  // One figure: now, and the period before under it.
  const pair = (s: Span, f: Figure, pick: (fs: Figures) => string | undefined, branch?: string, what = f.label) => {
    const one = (period: string, label: string) => slot(`${what}（${label}）`, run(f.report, { ...source(f), period }),
      (page) => pick(figuresOf(page, f)), link(f, period, branch));
    return [one(s.period, s.title), h("span", { class: "before" }, `${s.beforeLabel} `, one(s.before, s.beforeLabel))];
  };
  const total = (fs: Figures) => fs.total;

  const sections: HTMLElement[] = [];
  if (session.branch) {
    for (const s of list)
      sections.push(h("section", { "aria-labelledby": `home-${s.period}` },
        h("h2", { id: `home-${s.period}` }, s.title, h("span", { class: "dates" }, s.dates)),
        h("ul", { class: "cards" }, ...FIGURES.map((f) => h("li", {}, h("span", { class: "label" }, f.label), ...pair(s, f, total))))));
  } else {
    const known = await branches;
    for (const s of list) {
      const cells = (b: Branch) => FIGURES.map((f) => h("td", {},
        ...pair(s, f, (fs) => fs.byBranch.get(b.number) ?? fs.byBranch.get(b.name), b.number, `${b.name}${f.label}`)));
      sections.push(h("section", { "aria-labelledby": `home-${s.period}` },
        h("h2", { id: `home-${s.period}` }, s.title, h("span", { class: "dates" }, s.dates)),
        h("div", { class: "list-holder", tabindex: "0", role: "region", "aria-label": `各分店${s.title}` },
          h("table", { class: "list" },
            h("thead", {}, h("tr", {}, h("th", { scope: "col" }, "分店"), ...FIGURES.map((f) => h("th", { scope: "col" }, f.label)))),
            h("tbody", {}, ...known.map((b) => h("tr", {}, h("th", { scope: "row" }, b.name), ...cells(b)))),
            h("tfoot", {}, h("tr", {}, h("th", { scope: "row" }, "合计"),
              ...FIGURES.map((f) => h("td", {}, ...pair(s, f, total, undefined, `合计${f.label}`)))))))));
    }
  }
  const where = session.branch ? `分店 ${session.branch}` : "全部分店";
  return h("div", { class: "home" }, h("h1", {}, `首页：${where}`), ...sections);
}
