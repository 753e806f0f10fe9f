// A real velvip-server on a fresh demo chain and a free loopback port, two users, and Chromium.
import { spawn, execFileSync } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { createServer } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

export const BRANCH = "002";
export const USERS = { head: ["boss", "boss-password-1"], branch: ["shop", "shop-password-1"] };

const freePort = () => new Promise((resolve) => {
  const s = createServer().listen(0, "127.0.0.1", () => { const { port } = s.address(); s.close(() => resolve(port)); });
});

// A chain with data up to today (so that 本月 has rows), or `days` from 2024-01-01.
export async function startAll({ days, linesPerDay = 30 } = {}) {
  const SERVER = process.env.VELVIP_SERVER, REPORT = process.env.VELVIP_REPORT;
  if (!SERVER || !REPORT) throw new Error("set VELVIP_SERVER and VELVIP_REPORT to the built programs");
  const tmp = mkdtempSync(join(tmpdir(), "velvip-web-"));
  const db = join(tmp, "chain.sqlite"), store = join(tmp, "store.sqlite");
  days ??= Math.floor((Date.now() - Date.UTC(2024, 0, 1)) / 86400000) + 1;
  execFileSync(REPORT, ["make-demo", "--out", db, "--start", "2024-01-01", "--members", "300", "--days", String(days),
    "--lines-per-day", String(linesPerDay)], { stdio: "ignore" });
  for (const [who, [name, password]] of Object.entries(USERS))
    execFileSync(SERVER, ["user", "add", name, "--password-stdin", "--store", store,
      ...(who === "head" ? ["--head-office"] : ["--branch", BRANCH, "--db", db])], { input: password + "\n" });
  const port = await freePort();
  const proc = spawn(SERVER, ["--db", db, "--store", store, "--listen", `127.0.0.1:${port}`],
    { stdio: ["ignore", "pipe", "ignore"], env: { ...process.env, QT_QPA_PLATFORM: "offscreen" } });
  await new Promise((resolve, reject) => {
    proc.stdout.once("data", resolve);
    proc.once("exit", (code) => reject(new Error(`velvip-server exited with ${code}`)));
  });
  // launch() gives the browser a fresh profile of its own.
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const base = `http://127.0.0.1:${port}/`;
  return {
    base, db, browser,
    async stop() {
      await browser.close();
      proc.kill("SIGTERM");
      await new Promise((r) => proc.once("exit", r));
      rmSync(tmp, { recursive: true, force: true });
    },
  };
}

// A page signed in as `who`, at `hash` (signing in keeps the address); `prepare` sees the context first.
export async function signedIn(env, who, hash = "", viewport = { width: 1366, height: 860 }, prepare = () => undefined) {
  const context = await env.browser.newContext({ viewport });
  await prepare(context);
  const page = await context.newPage();
  await page.goto(env.base + hash);
  await page.getByLabel("用户名").fill(USERS[who][0]);
  await page.getByLabel("密码").fill(USERS[who][1]);
  await page.getByRole("button", { name: "登录" }).click();
  await page.getByRole("navigation", { name: "报表" }).waitFor();
  return page;
}

// The same run through the API with the page's own session.
export async function apiRun(page, report, filter) {
  return page.evaluate(async ([report, filter]) => {
    const res = await fetch(`/api/v1/reports/${report}/run`, { method: "POST",
      headers: { "Content-Type": "application/json", "X-CSRF-Token": /velvip_csrf=([^;]+)/.exec(document.cookie)[1] },
      body: JSON.stringify(filter) });
    return res.json();
  }, [report, filter]);
}

// The grid as a person reads it: the cells' text, row by row, header rows left out.
export async function gridText(page) {
  return page.getByRole("grid").evaluate((grid) => [...grid.querySelectorAll('[role="row"]')]
    .filter((r) => r.querySelector('[role="gridcell"]'))
    .map((r) => [...r.querySelectorAll('[role="gridcell"]')].map((c) => c.textContent)));
}
