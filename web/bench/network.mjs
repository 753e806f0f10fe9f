// The portal over a slow link (Chromium's network emulation: 400 kbit/s each way, 400 ms round
// trip): the sign-in form after the address is opened, a branch's yesterday (10902) after 登录,
// the bytes a repeat visit carries before the sign-in form, and the home page after 登录 (its first
// figure, all of them). Figures, never pass or fail.
//   node bench/network.mjs SERVER REPORT
import { USERS, startAll } from "../tests/harness.mjs";

process.env.VELVIP_SERVER = process.argv[2];
process.env.VELVIP_REPORT = process.argv[3];
const env = await startAll();
const yesterday = new Date(Date.now() - 86400000).toISOString().slice(0, 10);
// Signs in as the branch user; the time of the click.
const signIn = async (page) => {
  await page.getByLabel("用户名").fill(USERS.branch[0]);
  await page.getByLabel("密码").fill(USERS.branch[1]);
  const at = Date.now();
  await page.getByRole("button", { name: "登录" }).click();
  return at;
};
try {
  const rounds = [];
  for (let round = 0; round < 3; round++) {
    const context = await env.browser.newContext({ viewport: { width: 390, height: 844 } });
    const page = await context.newPage();
    const cdp = await context.newCDPSession(page);
    await cdp.send("Network.enable");
    await cdp.send("Network.emulateNetworkConditions",
      { offline: false, latency: 400, downloadThroughput: 400000 / 8, uploadThroughput: 400000 / 8 });
    const opened = Date.now();
    await page.goto(`${env.base}#/reports/10902?period=${yesterday}..${yesterday}&GroupBy=0`, { waitUntil: "commit" });
    await page.getByLabel("用户名").waitFor();
    const form = Date.now() - opened;
    const signed = await signIn(page);
    await page.getByRole("status").filter({ hasText: /^共 / }).waitFor({ timeout: 60000 });
    const report = Date.now() - signed;
    await page.getByRole("button", { name: "退出" }).click();
    await page.getByLabel("用户名").waitFor();
    await page.goto(env.base);
    await page.getByLabel("用户名").waitFor();
    const repeat = await page.evaluate(() => performance.getEntries()
      .filter((e) => "transferSize" in e).reduce((sum, e) => sum + e.transferSize, 0));
    const home = await signIn(page);
    await page.locator(".home a.figure:not([aria-busy])").first().waitFor({ timeout: 60000 });
    const first = Date.now() - home;
    await page.locator(".home:not(:has([aria-busy]))").waitFor({ timeout: 120000 });
    rounds.push({ form, report, repeat, first, all: Date.now() - home });
    await context.close();
  }
  for (const r of rounds)
    console.log(`sign-in form ${(r.form / 1000).toFixed(2)} s, yesterday's 10902 ${(r.report / 1000).toFixed(2)} s after 登录, ` +
      `repeat visit ${r.repeat} bytes before the form, home page's first figure ${(r.first / 1000).toFixed(2)} s and all ` +
      `${(r.all / 1000).toFixed(2)} s after 登录`);
} finally {
  await env.stop();
}
