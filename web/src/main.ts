// The portal: sign in, then the home page, the report list and the report in the address
// (#/reports/ID?filter).

import { api, SIGNED_OUT, type Filter, type ReportInfo, type Session } from "./api";
import { h } from "./dom";
import { parseHash } from "./route";
import { signInView } from "./signin";

// The reports, their grid and charts load behind the sign-in form, which needs none of them.
type Views = typeof import("./reportView") & typeof import("./schedules") & typeof import("./home");
let views: Views | null = null;
const loadViews = async (): Promise<Views> => {
  if (views) return views;   // no task in between once loaded: the old view goes at once
  const [report, schedules, home] = await Promise.all([import("./reportView"), import("./schedules"), import("./home")]);
  return (views ??= { ...report, ...schedules, ...home });
};
const leaveReport = () => { views?.leaveReport(); views?.leaveHome(); };
const HOME = "#/home";
const atHome = () => location.hash === "" || location.hash === "#/" || location.hash === HOME;

const root = document.getElementById("app")!;
let reports: ReportInfo[] = [];

function shell(session: Session, content: HTMLElement) {
  const current = parseHash(location.hash)?.report;
  const links = reports.map((r) =>
    h("li", {}, h("a", { href: `#/reports/${r.id}`, "aria-current": r.id === current ? "page" : false },
      h("span", { class: "id" }, String(r.id)), " ", r.name)));
  // Scheduled deliveries are head office's; the service refuses them to branch users too.
  if (!session.branch)
    links.push(h("li", {}, h("a", { href: "#/schedules",
      "aria-current": location.hash === "#/schedules" ? "page" : false }, "定时发送")));
  const nav = h("nav", { "aria-label": "报表" }, h("ul", {}, ...links));
  const who = session.branch ? `${session.user}（分店 ${session.branch}）` : `${session.user}（总部）`;
  const out = h("button", { type: "button", class: "small", onclick: async () => {
    leaveReport();
    await api.signOut().catch(() => undefined);
    start();
  } }, "退出");
  const main = h("main", { id: "content" }, content);
  // Focus goes to the new content's heading (or the content), as a page load would put a
  // screen reader there; the skip link leads past the header and the list.
  const land = () => {
    const target = main.querySelector<HTMLElement>("h1, h2") ?? main;
    if (!target.hasAttribute("tabindex")) target.tabIndex = -1;
    target.focus();
  };
  const skip = h("a", { class: "skip", href: "#content", onclick: (e) => { e.preventDefault(); land(); } }, "跳到内容");
  root.replaceChildren(skip,
    h("header", {}, h("span", { class: "brand" }, "会员卡报表"),
      h("a", { href: HOME, class: "home-link", "aria-current": atHome() ? "page" : false }, "首页"),
      h("span", { class: "who" }, who), out),
    h("div", { class: "layout" }, nav, main));
  land();
}

// The last filter of each report, kept in this browser for each user.
const lastKey = (session: Session, report: number) => `velvip.last.${session.user}.${report}`;
function lastFilter(session: Session, report: number): Filter {
  try { return JSON.parse(localStorage.getItem(lastKey(session, report)) || "{}") as Filter; } catch { return {}; }
}

async function show(session: Session) {
  leaveReport();
  const [{ reportView, schedulesView, homeView }, list] = await Promise.all([loadViews(), reports.length ? reports : api.reports()]);
  reports = list;
  const other = atHome() ? () => homeView(session)
    : location.hash === "#/schedules" && !session.branch ? () => schedulesView(reports) : null;
  if (other) {
    const at = location.hash;
    try {
      const content = await other();
      if (location.hash === at) shell(session, content);   // not over a view opened meanwhile
    } catch (err) {
      shell(session, h("p", { class: "error", role: "alert" }, (err as Error).message));
    }
    return;
  }
  const view = parseHash(location.hash);
  const info = reports.find((r) => r.id === view?.report);
  if (!info) {
    shell(session, h("p", { class: "hint" }, "请选择一个报表。"));
    return;
  }
  shell(session, h("p", { class: "status" }, "正在打开…"));
  try {
    const content = await reportView(info, view!.filter, api.periods(info.id), lastFilter(session, info.id),
      `velvip.cols.${session.user}.${info.id}`);
    // The filter each run put in the address is the one the form starts from next time.
    content.querySelector("form.filter")?.addEventListener("submit", () => setTimeout(() => {
      const ran = parseHash(location.hash);
      if (ran?.report === info.id) localStorage.setItem(lastKey(session, info.id), JSON.stringify(ran.filter));
    }));
    shell(session, content);
  } catch (err) {
    shell(session, h("p", { class: "error", role: "alert" }, (err as Error).message));
  }
}

let session: Session | null = null;

async function start(why = "") {
  leaveReport();
  session = await api.current();
  if (session) return show(session);
  reports = [];
  root.replaceChildren(h("main", { class: "center" }, signInView((s) => { session = s; show(s); }, why)));
  loadViews().catch(() => undefined);
}

// Signed out elsewhere or expired: the sign-in form, the address kept for after it.
addEventListener(SIGNED_OUT, () => { if (session) start("登录已过期或已在别处退出，请重新登录。"); });
window.addEventListener("hashchange", () => { if (session) show(session); });
start();
