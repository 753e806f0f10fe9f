// Calls to the report service: JSON in and out. The CSRF token is the session's cookie that the
// page may read, so every tab of the browser sends the one of the last sign-in.

export interface Session { user: string; branch: string; csrf?: string }
export interface ReportInfo { id: number; name: string; period: boolean }
export interface Choice { value: number; meaning: string; note: string }
export interface Key {
  name: string; type: string; required: boolean; meaning: string; example: string;
  fixed?: string; values?: Choice[];
}
export interface Preset { label: string; period: string; first: string; last: string }
export type Filter = Record<string, string | number>;
// A run as the service describes it for the page (format=ndjson): the layout, number grouping,
// alignment and chart are decided by the service, each cell comes as its text.
export interface PageColumn {
  field: string; caption: string; kind: string; decimals: number; grouping: boolean;
  align: "left" | "right"; sort: "number" | "text"; visible: boolean;
}
export interface HeaderCell { row: number; column: number; rowSpan: number; columnSpan: number; text: string }
export interface ChartSpec {
  kind: "bars" | "daily" | "ledger"; title: string; names: string[];
  key?: number; label?: number; value: number; value2?: number; day?: number; card?: number;
  axis?: string; none?: string; first?: string; last?: string;
}
// `frozen` comes with the columns (the tail repeats it for scripts).
export interface PageHead { columns: PageColumn[]; header: HeaderCell[]; headerRows: number; frozen: number; chart: ChartSpec | null }
export interface PageTail {
  state: "done" | "failed" | "cancelled"; status?: number; name?: string; lines?: string[]; filters?: string[];
  period?: string; frozen?: number; sortable?: boolean; total?: number; rows?: number; empty?: boolean;
}
// [kind (0 detail, 1 subtotal, 2 total), the text of each column in head.columns' order]
export type PageRow = [number, ...string[]];
export interface Page { head: PageHead; rows: PageRow[]; tail: PageTail | null }
// The sort a download follows: the field of the sorted column.
export interface Sort { field: string; descending: boolean }

// A run that began and did not end well: the service's tail said so, or the answer was cut.
export class RunEnded extends Error {
  constructor(readonly state: "failed" | "cancelled" | "cut", readonly status = 0) {
    super(state === "cancelled" ? "报表的运行被服务停止了，结果不完整。" : "报表没有运行完，结果不完整，请重试。");
  }
}

export interface Schedule {
  id: number; report: number; filter: Filter; format: string; split: "branch" | "none";
  to: string[]; folder?: string; cron: string; tz: string; enabled: boolean;
}
export interface Delivery { slot: string; branch: string; state: string; attempts: number; error: string; rows: number }

// A filter the service refused, typed: the page words it beside the field it names.
export interface Problem { kind: "unknown-key" | "wrong-value" | "missing" | "reversed" | "period"; key?: string; end?: string }
export class ApiError extends Error {
  constructor(readonly status: number, message: string, readonly problems: Problem[] = []) { super(message); }
}

const csrfToken = () => /(?:^|;\s*)velvip_csrf=([^;]+)/.exec(document.cookie)?.[1] ?? "";
// Sent when the service no longer knows the session (expired, signed out in another tab).
export const SIGNED_OUT = "velvip:signed-out";

async function call<T>(method: string, path: string, body?: unknown, signal?: AbortSignal): Promise<Response> {
  const headers: Record<string, string> = {};
  if (body !== undefined) headers["Content-Type"] = "application/json";
  const csrf = csrfToken();
  if (method !== "GET" && csrf) headers["X-CSRF-Token"] = csrf;
  let res: Response;
  try {
    res = await fetch("/api/v1" + path, {
      method, headers, signal, credentials: "same-origin",
      body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (err) {
    if (signal?.aborted) throw err;
    throw new ApiError(0, "无法连接报表服务：请检查网络，或稍后再试。");
  }
  if (res.status === 401 && path !== "/session") dispatchEvent(new Event(SIGNED_OUT));
  if (!res.ok) {
    let sentence = `请求失败（HTTP ${res.status}）`, problems: Problem[] = [];
    try { ({ error: sentence = sentence, problems = [] } = await res.json()); } catch { /* not JSON */ }
    throw new ApiError(res.status, sentence, problems);
  }
  return res;
}

async function json<T>(method: string, path: string, body?: unknown, signal?: AbortSignal): Promise<T> {
  return (await call(method, path, body, signal)).json() as Promise<T>;
}

export const api = {
  signIn: (user: string, password: string) => json<Session>("POST", "/session", { user, password }),
  async signOut(): Promise<void> { await call("DELETE", "/session"); },
  // The session behind the cookies; none asked for when the browser holds no token.
  async current(): Promise<Session | null> {
    if (!csrfToken()) return null;
    try { return await json<Session>("GET", "/session"); } catch { return null; }
  },
  reports: () => json<ReportInfo[]>("GET", "/reports"),
  keys: (id: number) => json<Key[]>("GET", `/reports/${id}/keys`),
  // The relative periods the service reads; with a report, those it takes.
  periods: (report?: number) => json<Preset[]>("GET", report ? `/periods?report=${report}` : "/periods"),
  // A run read line by line as it arrives: `onRows` sees the page with its head and first rows
  // (not the head alone: the columns are measured by their first rows), then again after each
  // batch appended to its rows; the promise gives it with its tail.
  async run(id: number, filter: Filter, signal: AbortSignal, onRows: (page: Page) => void): Promise<Page> {
    const res = await call("POST", `/reports/${id}/run?format=ndjson`, filter, signal);
    const reader = res.body!.pipeThrough(new TextDecoderStream()).getReader();
    let text = "", page: Page | null = null;
    let since = performance.now(), first = false;
    const take = (line: string) => {
      if (!line) return;
      const value = JSON.parse(line) as { head?: PageHead; rows?: PageRow[]; tail?: PageTail };
      if (value.head) page = { head: value.head, rows: [], tail: null };
      else if (value.rows && page) for (const r of value.rows) page.rows.push(r);
      else if (value.tail && page) page.tail = value.tail;
    };
    for (;;) {
      const { value, done } = await reader.read();
      if (value) text += value;
      const end = done ? text.length : text.lastIndexOf("\n");
      if (end < 0) continue;
      const before = page ? (page as Page).rows.length : 0;
      text.slice(0, end).split("\n").forEach(take);
      text = text.slice(end + 1);
      if (page && (page as Page).rows.length !== before) onRows(page);
      if (done || (page as Page | null)?.tail) break;
      // Rows already received come without a pause: let a frame be painted now and then, and
      // two after the first rows, so that the first screen is on before reading on.
      const shown: boolean = !first && page !== null && (page as Page).rows.length > 0;
      if (shown || performance.now() - since > 50) {
        for (let frames = shown ? 2 : 1; frames > 0; frames--)
          await new Promise((resume) => requestAnimationFrame(() => setTimeout(resume)));
        first ||= shown;
        since = performance.now();
      }
    }
    const ended = page ? (page as Page).tail : null;
    if (!page || !ended) throw new RunEnded("cut");
    if (ended.state !== "done") throw new RunEnded(ended.state, ended.status);
    return page;
  },
  drill: (id: number, row: number, filter: Filter) =>
    json<{ report: number; label?: string; note?: string; filter?: Filter }>("POST", `/reports/${id}/drill?row=${row}`, filter),
  lookup: (kind: string, q: string, offset = 0) =>
    json<{ items: { number: string; name: string }[]; more: boolean }>(
      "GET", `/lookups/${kind}?q=${encodeURIComponent(q)}&offset=${offset}&limit=50`),
  schedules: () => json<Schedule[]>("GET", "/schedules"),
  zones: () => json<string[]>("GET", "/zones"),
  addSchedule: (s: Omit<Schedule, "id" | "enabled">) => json<{ id: number }>("POST", "/schedules", s),
  runSchedule: (id: number) => json<{ slot: string; queued: number }>("POST", `/schedules/${id}/run`, {}),
  async disableSchedule(id: number) { await call("POST", `/schedules/${id}/disable`, {}); },
  deliveries: (id: number) => json<Delivery[]>("GET", `/schedules/${id}/deliveries`),
  schemes: (id: number) => json<string[]>("GET", `/reports/${id}/schemes`),
  scheme: (id: number, name: string) => json<Filter>("GET", `/reports/${id}/schemes/${encodeURIComponent(name)}`),
  async saveScheme(id: number, name: string, filter: Filter) {
    await call("PUT", `/reports/${id}/schemes/${encodeURIComponent(name)}`, filter);
  },
  async deleteScheme(id: number, name: string) {
    await call("DELETE", `/reports/${id}/schemes/${encodeURIComponent(name)}`);
  },
  // A download streamed by the service; the name comes from its Content-Disposition.
  async download(id: number, filter: Filter, format: string, bom: boolean, sort: Sort | null): Promise<{ blob: Blob; name: string }> {
    const order = sort ? `&sort=${encodeURIComponent(sort.field)}&order=${sort.descending ? "desc" : "asc"}` : "";
    const res = await call("POST", `/reports/${id}/run?format=${format}${bom ? "&bom=1" : ""}${order}`, filter);
    const disposition = res.headers.get("Content-Disposition") || "";
    const utf8 = /filename\*=UTF-8''([^;]+)/.exec(disposition);
    const plain = /filename="([^"]+)"/.exec(disposition);
    const name = utf8 ? decodeURIComponent(utf8[1]) : plain ? plain[1] : `${id}.${format}`;
    return { blob: await res.blob(), name };
  },
};
