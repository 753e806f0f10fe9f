// Calls to the report service: JSON in and out, the CSRF token kept for the tab's session.

export interface Session { user: string; branch: string; csrf?: string }
export interface ReportInfo { id: number; name: string; period: boolean }
export interface Choice { value: number; meaning: string; note: string }
export interface Key {
  name: string; type: string; required: boolean; meaning: string; example: string;
  fixed?: string; values?: Choice[];
}
export interface Preset { label: string; period: string; first: string; last: string }
export type Filter = Record<string, string | number>;
export interface Report {
  Result: Record<string, unknown>; Property: Record<string, unknown>;
  Title: Record<string, unknown>[]; Header: Record<string, unknown>[];
  Filter: Record<string, unknown>; Fields: string[]; Rows: unknown[][];
}

export interface Schedule {
  id: number; report: number; filter: Filter; format: string; split: "branch" | "none";
  to: string[]; folder?: string; cron: string; tz: string; enabled: boolean;
}
export interface Delivery { slot: string; branch: string; state: string; attempts: number; error: string; rows: number }

export class ApiError extends Error {
  constructor(readonly status: number, message: string) { super(message); }
}

const TOKEN = "velvip.csrf";

async function call<T>(method: string, path: string, body?: unknown, signal?: AbortSignal): Promise<Response> {
  const headers: Record<string, string> = {};
  if (body !== undefined) headers["Content-Type"] = "application/json";
  const csrf = sessionStorage.getItem(TOKEN);
  if (method !== "GET" && csrf) headers["X-CSRF-Token"] = csrf;
  const res = await fetch("/api/v1" + path, {
    method, headers, signal, credentials: "same-origin",
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  if (!res.ok) {
    let sentence = `请求失败（HTTP ${res.status}）`;
    try { sentence = (await res.json()).error || sentence; } catch { /* not JSON */ }
    throw new ApiError(res.status, sentence);
  }
  return res;
}

async function json<T>(method: string, path: string, body?: unknown, signal?: AbortSignal): Promise<T> {
  return (await call(method, path, body, signal)).json() as Promise<T>;
}

export const api = {
  async signIn(user: string, password: string): Promise<Session> {
    const s = await json<Session>("POST", "/session", { user, password });
    if (s.csrf) sessionStorage.setItem(TOKEN, s.csrf);
    return s;
  },
  async signOut(): Promise<void> {
    try { await call("DELETE", "/session"); } finally { sessionStorage.removeItem(TOKEN); }
  },
  // The session behind the cookie, when this tab still holds its token.
  async current(): Promise<Session | null> {
    if (!sessionStorage.getItem(TOKEN)) return null;
    try { return await json<Session>("GET", "/session"); } catch { return null; }
  },
  reports: () => json<ReportInfo[]>("GET", "/reports"),
  keys: (id: number) => json<Key[]>("GET", `/reports/${id}/keys`),
  periods: () => json<Preset[]>("GET", "/periods"),
  // A run read as it arrives. The rows-first answer holds the header and fields, then one row a
  // line, then what the run completes after its query (result, property, title, filter):
  // `onRows` sees the head with the first rows and then each batch appended to the report's Rows;
  // the promise gives the report with those last members.
  async run(id: number, filter: Filter, signal: AbortSignal, onRows: (report: Report) => void): Promise<Report> {
    const res = await call("POST", `/reports/${id}/run?layout=rows-first`, filter, signal);
    const reader = res.body!.pipeThrough(new TextDecoderStream()).getReader();
    const ROWS = '\n  "Rows": [';
    let text = "", report: Report | null = null, tail = null as string | null;
    let since = performance.now(), first = false;
    // Complete lines up to `upTo`: row lines until the one that closes the rows, which starts the tail.
    const take = (upTo: number) => {
      const lines = text.slice(0, upTo).split("\n");
      const close = lines.findIndex((l) => /^ *\]/.test(l));
      const rows = (close < 0 ? lines : lines.slice(0, close)).filter((l) => l.startsWith("    ["))
        .map((l) => (l.endsWith(",") ? l.slice(0, -1) : l));
      if (close >= 0) tail = lines.slice(close).join("\n").replace(/^ *\],?/, "") + text.slice(upTo);
      text = close >= 0 ? "" : text.slice(upTo);
      if (rows.length) for (const r of JSON.parse(`[${rows.join(",")}]`) as unknown[][]) report!.Rows.push(r);
      if (rows.length || close >= 0) onRows(report!);
    };
    for (;;) {
      const { value, done } = await reader.read();
      if (tail !== null) {
        if (value) tail += value;
        if (done) break;
        continue;
      }
      if (value) text += value;
      if (!report) {
        const at = text.indexOf(ROWS);
        if (at < 0 && !done) continue;
        if (at < 0) break;
        report = { Result: {}, Property: {}, Title: [], Filter: {},
                   ...JSON.parse(text.slice(0, at) + '"Rows": []}') } as Report;
        text = text.slice(at + ROWS.length);
      }
      if (done) { take(text.length); break; }
      const end = text.lastIndexOf("\n");
      if (end >= 0) take(end + 1);
      // Rows already received come without a pause: let a frame be painted now and then, and
      // two after the first rows, so that the first screen is on before reading on.
      const shown: boolean = !first && report.Rows.length > 0;
      if (shown || performance.now() - since > 50) {
        for (let frames = shown ? 2 : 1; frames > 0; frames--)
          await new Promise((resume) => requestAnimationFrame(() => setTimeout(resume)));
        first ||= shown;
        since = performance.now();
      }
    }
    const cut = new Error("报表的数据没有完整收到，请重试。");
    if (!report || tail === null) throw cut;
    try { return Object.assign(report, JSON.parse("{" + tail)); } catch { throw cut; }
  },
  drill: (id: number, row: number, filter: Filter) =>
    json<{ report: number; label?: string; note?: string; filter?: Filter }>("POST", `/reports/${id}/drill?row=${row}`, filter),
  lookup: (kind: string, q: string, offset = 0) =>
    json<{ items: { number: string; name: string }[]; more: boolean }>(
      "GET", `/lookups/${kind}?q=${encodeURIComponent(q)}&offset=${offset}&limit=50`),
  schedules: () => json<Schedule[]>("GET", "/schedules"),
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
  async download(id: number, filter: Filter, format: string, bom: boolean): Promise<{ blob: Blob; name: string }> {
    const res = await call("POST", `/reports/${id}/run?format=${format}${bom ? "&bom=1" : ""}`, filter);
    const disposition = res.headers.get("Content-Disposition") || "";
    const utf8 = /filename\*=UTF-8''([^;]+)/.exec(disposition);
    const plain = /filename="([^"]+)"/.exec(disposition);
    const name = utf8 ? decodeURIComponent(utf8[1]) : plain ? plain[1] : `${id}.${format}`;
    return { blob: await res.blob(), name };
  },
};
