// The portal in Chromium against a real velvip-server: what a person sees equals the API's JSON.
import { strict as assert } from "node:assert";
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, test } from "node:test";
import { fileURLToPath } from "node:url";
import { BRANCH, apiRun, gridText, signedIn, startAll } from "./harness.mjs";

// Pictures go to the build tree (VELVIP_SHOTS, set by CTest); VELVIP_DOCS_SHOTS=1 renews the
// documentation's own in docs/screenshots.
const SHOTS = process.env.VELVIP_DOCS_SHOTS === "1"
  ? fileURLToPath(new URL("../../docs/screenshots/", import.meta.url))
  : join(process.env.VELVIP_SHOTS || join(tmpdir(), "velvip-portal-shots"), "/");
mkdirSync(SHOTS, { recursive: true });
const PHONE = { width: 390, height: 844 };
let env;
before(async () => { env = await startAll(); });
after(async () => { await env?.stop(); });

// Amounts and prices: the cells with decimals (card numbers and codes are digits too).
const number = (text) => (/^-?[\d,]+\.\d+$/.test(text) ? Number(text.replace(/,/g, "")) : null);
const numbers = (cells) => cells.map(number).filter((n) => n !== null);
const filterOf = (page) => Object.fromEntries(new URLSearchParams(new URL(page.url()).hash.split("?")[1] || ""));

// Runs a report from its link, period and Enter, as a person would; returns the API's answer
// for the filter the page put in the address.
async function runFromUi(page, id, period) {
  await page.getByRole("navigation", { name: "报表" }).getByRole("link", { name: new RegExp(`^${id} `) }).click();
  const select = page.getByLabel("期间");
  if (period) await select.selectOption(await select.locator("option", { hasText: period }).first().getAttribute("value"));
  await page.getByRole("form", { name: "筛选条件" }).locator("select, input:not([disabled])").first().press("Enter");
  await page.getByRole("status").filter({ hasText: /^共 / }).waitFor({ timeout: 60000 });
  return apiRun(page, id, filterOf(page));
}

// Each row on the page shows the numbers of its row in the JSON; the total is the last row.
async function assertSameNumbers(page, json) {
  const kind = json.Fields.indexOf("FRowKind");
  const total = json.Rows.filter((r) => r[kind] === 2);
  const expected = [...json.Rows.filter((r) => r[kind] !== 2), ...total];
  await assert.doesNotReject(page.getByRole("status").filter({ hasText: `共 ${json.Rows.filter((r) => !r[kind]).length.toLocaleString("zh-CN")} 行` }).waitFor());
  const shown = await gridText(page);
  const body = shown.slice(0, Math.min(shown.length - total.length, 8));
  const pairs = [...body.map((cells, i) => [cells, expected[i]]),
    ...(total.length ? [[shown.at(-1), total[0]]] : [])];
  for (const [cells, row] of pairs) {
    const want = row.filter((v) => typeof v === "number");
    for (const n of numbers(cells))
      assert.ok(want.some((v) => Math.abs(v - n) < 0.006), `${n} of [${cells}] not in [${row}]`);
  }
  return shown;
}

// The grid as a person sees it: the page itself does not scroll, the total row is inside the
// window, and with the grid scrolled down and all the way right the header is still on top, the
// first scrolling column starts at the frozen edge (none is cut there, caption and all) and no
// cell's text is cut.
async function assertGridInView(page) {
  const grid = page.getByRole("grid");
  await grid.evaluate((g) => { g.scrollTop = g.scrollHeight / 2; g.scrollLeft = g.scrollWidth; });
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
  const seen = await grid.evaluate((g) => {
    const page = document.documentElement, inner = g.getBoundingClientRect();
    const rows = [...g.querySelectorAll('[role="row"]')];
    const cells = [...rows.at(-1).querySelectorAll('[role="gridcell"]')].map((c) =>
      ({ box: c.getBoundingClientRect(), frozen: getComputedStyle(c).position === "sticky" }));
    const edge = Math.max(inner.left + g.clientLeft, ...cells.filter((c) => c.frozen).map((c) => c.box.right));
    const first = cells.find((c) => !c.frozen && c.box.right > edge + 1);
    return { pageScrolls: page.scrollHeight > innerHeight || page.scrollWidth > innerWidth,
      lastRowBelow: rows.at(-1).getBoundingClientRect().bottom - innerHeight,
      headOffset: rows[0].querySelector('[role="columnheader"]').getBoundingClientRect().top - inner.top - g.clientTop,
      cut: first ? first.box.left - edge : 0,
      clipped: [...g.querySelectorAll('[role="gridcell"]')].filter((c) => c.scrollWidth > c.clientWidth).map((c) => c.textContent) };
  });
  assert.equal(seen.pageScrolls, false, "the page itself scrolls");
  assert.ok(seen.lastRowBelow <= 0, "the last row (the total) is below the window");
  assert.ok(Math.abs(seen.headOffset) < 1, "the header left the top of the grid");
  assert.ok(Math.abs(seen.cut) < 1.5, `a column is cut by ${seen.cut}px at the frozen edge`);
  assert.deepEqual(seen.clipped, [], "cells too narrow for their text");
}

const lastMonth = (() => { const d = new Date(); d.setDate(0); return `${d.getFullYear()}年${d.getMonth() + 1}月`; })();
// After a run that did not complete, nothing passes for its result.
const nothingLeft = async (page) => {
  assert.equal(await page.getByRole("grid").count(), 0);
  for (const name of ["复制", "CSV", "XLSX", "PDF"]) assert.equal(await page.getByRole("button", { name, exact: true }).and(page.locator(":enabled")).count(), 0, name);
};
const FAULTS = [
  ["an empty result has no row, no total and counts 0; summary rows alone offer no chart", async (page) => {
    await open(page, 10902, { period: "2020-01", GroupBy: 0 });
    assert.deepEqual([await page.getByRole("status").textContent(), await page.getByRole("gridcell").count()], ["共 0 行", 0]);
    await open(page, 10902, { period: "上月", GroupBy: 1, SumOnly: 1 });
    assert.deepEqual([await page.getByRole("gridcell").count() > 0, await page.getByRole("button", { name: "图表" }).isVisible()], [true, false]);
  }],
  ["the ledger's chart is titled by its month", async (page) => {
    await open(page, 10901, { period: "上月" });
    await page.getByRole("button", { name: "图表" }).click();
    await page.getByRole("img", { name: new RegExp(`^图表：会员卡 \\d+ ${lastMonth}储值余额与积分余额$`) }).waitFor();
  }],
  ["a cancelled run leaves no grid to copy or export", async (page) => {
    const cdp = await page.context().newCDPSession(page);   // slowed, so that Esc comes while rows stream
    await cdp.send("Network.emulateNetworkConditions", { offline: false, latency: 0, downloadThroughput: 20000, uploadThroughput: -1 });
    await open(page, 10903, { period: `2024-01-01..${new Date().toISOString().slice(0, 10)}` }, /^已收到/);
    await page.keyboard.press("Escape");
    await page.getByRole("status").filter({ hasText: "已取消" }).waitFor();
    await cdp.detach();
    await nothingLeft(page);
  }],
  ["an answer cut short leaves no grid either", async (page) => {
    await open(page, 10905, { period: "上月", GroupBy: 0 });
    await page.route("**/run?format=ndjson", async (route) => route.fulfill({ status: 200, contentType: "application/x-ndjson",
      body: (await (await route.fetch()).text()).replace(/\{"tail".*\n$/, "") }));
    await open(page, 10905, { period: "本月", GroupBy: 1 }, /没有运行完/);
    await nothingLeft(page);
  }],
];

describe("head office", () => {
  let page;
  const problems = [];
  before(async () => {
    page = await signedIn(env, "head");
    page.on("console", (m) => { if (m.type() === "error") problems.push(m.text()); });
  });
  after(() => assert.deepEqual(problems.filter((p) => !/Failed to load resource/.test(p)), [], "no errors in the console"));

  for (const [id, period] of [[10901, "上月"], [10902, "上月"], [10903, "上月"], [10904, "本年"], [10905, "上月"], [10906, null]])
    test(`${id} shows the API's numbers`, async () => {
      const json = await runFromUi(page, id, period);
      assert.ok(json.Rows.length > 0, "the demo chain has rows for this period");
      await assertSameNumbers(page, json);
      if (id === 10902) await page.screenshot({ path: SHOTS + "portal-10902-desktop.png" });
      if ([10901, 10902, 10904, 10905].includes(id)) {
        await page.getByRole("button", { name: "图表" }).click();
        await page.getByRole("img", { name: "图表" }).locator("canvas").waitFor();
        const last = await page.getByRole("grid").getByRole("row").last().boundingBox();
        assert.ok(last.y + last.height <= page.viewportSize().height, "the last row went below the window");
        await page.getByRole("img", { name: "图表" }).screenshot({ path: SHOTS + `portal-chart-${id}.png` });
      }
    });

  test("a large result keeps few rows in the page, finds, copies, exports and drills down", async () => {
    const json = await runFromUi(page, 10903, "本年");
    const grid = page.getByRole("grid");
    assert.ok(Number(await grid.getAttribute("aria-rowcount")) > json.Rows.length);
    assert.ok(await grid.getByRole("row").count() < 150, "rows are virtualised");
    await grid.evaluate((g) => { g.scrollTop = g.scrollHeight; });
    const lastCard = String(json.Rows.at(-2)[json.Fields.indexOf("FVipNum")] ?? json.Rows.at(-2)[0]);
    await grid.getByRole("gridcell", { name: lastCard }).first().waitFor();
    await assertGridInView(page);

    await page.getByLabel("查找").fill("不存在的文字");
    await page.getByLabel("查找").press("Enter");
    await page.getByRole("status").filter({ hasText: "没有找到" }).waitFor();

    assert.equal((await copied(page)).length, json.Rows.length + 1);

    await runFromUi(page, 10902, "上月");
    // Each download is named after report, period and filter, and opens: the workbook's last row
    // is the total, the PDF's text has the report's name.
    const downloads = [
      ["CSV", /^会员消费表_10902_\d{4}-\d\d-01至\d{4}-\d\d-\d\d_GroupBy-0\.csv$/, (file) => assert.notEqual(readFileSync(file).subarray(0, 3).toString("hex"), "efbbbf")],
      ["CSV（带 BOM）", /\.csv$/, (file) => assert.equal(readFileSync(file).subarray(0, 3).toString("hex"), "efbbbf")],
      ["XLSX", /^会员消费表_10902_.*_GroupBy-0\.xlsx$/, (file) => assert.match(execFileSync("/usr/bin/python3", ["-c",
        "import openpyxl,sys; ws=openpyxl.load_workbook(open(sys.argv[1],\"rb\"),read_only=True).active; print([r for r in ws.iter_rows(values_only=True) if any(r)][-1])",
        file]).toString(), /合计/)],
      ["PDF", /^会员消费表_10902_.*_GroupBy-0\.pdf$/, (file) => assert.match(execFileSync("pdftotext", ["-l", "1", file, "-"]).toString(), /会员消费表/)],
    ];
    for (const [label, name, opens] of downloads) {
      const [download] = await Promise.all([page.waitForEvent("download"), page.getByRole("button", { name: label, exact: true }).click()]);
      assert.match(download.suggestedFilename(), name);
      opens(await download.path());
    }
    await page.getByRole("grid").getByRole("gridcell").first().click();
    await page.keyboard.press("Enter");
    await page.waitForURL(/#\/reports\/10903\?/);
    const detail = await apiRun(page, 10903, filterOf(page));
    await assertSameNumbers(page, detail);
  });

  test("a fresh form starts as the desktop dialog does", async () => {
    await page.evaluate(() => localStorage.clear());   // no report's last filter
    for (const id of [10901, 10902, 10903, 10904, 10905, 10906]) {
      await page.getByRole("link", { name: new RegExp(`^${id} `) }).click();
      const keys = await page.evaluate((id) => fetch(`/api/v1/reports/${id}/keys`).then((r) => r.json()), id);
      const want = Object.fromEntries(keys.filter((k) => k.values && !["Year", "Month"].includes(k.name)).map((k) => [k.name,
        String(k.values.find((c) => c.meaning.includes("对话框默认"))?.value
          ?? (k.required ? k.values[0].value : ""))]));
      const shown = await page.getByRole("form", { name: "筛选条件" }).evaluate((form) =>
        Object.fromEntries([...form.querySelectorAll("select[name]:not([name=period])")].map((s) => [s.name, s.value])));
      assert.deepEqual(shown, want, `${id}`);
      if (keys.some((k) => k.name === "BDate" || k.name === "Year"))
        assert.match(await page.getByLabel("期间").inputValue(), /^本月$/);
    }
  });

  test("the grid moves by keys and sorts with the total kept last, and so do files", async () => {
    await runFromUi(page, 10903, "上月");
    const grid = page.getByRole("grid");
    const [rows, cols] = (await Promise.all(["aria-rowcount", "aria-colcount"].map((a) => grid.getAttribute(a)))).map(Number);
    const at = () => page.evaluate(() => {
      const c = document.activeElement;
      return [Number(c.closest('[role="row"]').getAttribute("aria-rowindex")), [...c.parentElement.children].indexOf(c)];
    });
    await grid.getByRole("gridcell").first().click();
    const [first] = await at();
    for (const [key, want] of [["ArrowDown", [first + 1, 0]], ["ArrowRight", [first + 1, 1]], ["End", [first + 1, cols - 1]],
      ["Home", [first + 1, 0]], ["ArrowUp", [first, 0]], ["ArrowUp", [first, 0]], ["PageDown", null], ["PageUp", [first, 0]],
      ["Control+End", [rows, cols - 1]], ["ArrowDown", [rows, cols - 1]], ["Control+Home", [first, 0]]]) {
      await page.keyboard.press(key);
      if (want) assert.deepEqual(await at(), want, key);
      else assert.ok((await at())[0] > first + 5, key);
    }
    await page.screenshot({ path: SHOTS + "portal-10903-keys-desktop.png" });

    const amount = grid.getByRole("columnheader", { name: "销售金额" }).first();
    for (const order of ["ascending", "descending"]) {
      await amount.click();
      assert.equal(await amount.getAttribute("aria-sort"), order);
      const shown = await gridText(page);
      assert.deepEqual(shown.map((r) => r[0]).filter((c) => c === "合计"), ["合计"]);
      assert.equal(shown.at(-1)[0], "合计");
      const column = await amount.evaluate((h) => [...h.parentElement.children].indexOf(h));
      const values = shown.slice(0, -1).map((r) => Number(r[column].replace(/,/g, "")));
      assert.deepEqual(values, [...values].sort((a, b) => (order === "ascending" ? a - b : b - a)));
      // A file follows the order on screen.
      const [download] = await Promise.all([page.waitForEvent("download"), page.getByRole("button", { name: "CSV", exact: true }).click()]);
      assert.deepEqual(readFileSync(await download.path()).toString().trimEnd().split("\r\n"), (await copied(page)).map((r) => r.join(",")));
    }
  });

  test("a lookup pages, searches and fills its field", async () => {
    await page.getByRole("link", { name: /^10902 / }).click();
    await page.getByRole("button", { name: "从列表选择" }).first().click();
    const options = page.getByRole("listbox").first().getByRole("option");
    await options.filter({ hasText: "更多…" }).click();
    await options.nth(60).waitFor();
    await page.getByRole("combobox", { name: "搜索" }).fill("80000250");
    await options.filter({ hasText: "80000250" }).first().press("Enter");
    assert.equal(await page.getByLabel("会员卡号起").inputValue(), "80000250");
  });

  // The download is slowed so that the rows are still streaming when the report is left; the
  // aborted fetch closes the request, and the service stops the worker of a client that left.
  for (const leave of ["another report", "signing out"])
    test(`leaving a running report (${leave}) aborts its download`, async () => {
      const page = await signedIn(env, "head");
      const cdp = await page.context().newCDPSession(page);
      await cdp.send("Network.enable");
      await cdp.send("Network.emulateNetworkConditions", { offline: false, latency: 0, downloadThroughput: 20000, uploadThroughput: -1 });
      // Gzipped, the first rows may follow the start within one look at the status.
      await open(page, 10903, { period: `2024-01-01..${new Date().toISOString().slice(0, 10)}` }, /^(正在运行|已收到)/);
      await page.getByRole("status").filter({ hasText: /^已收到/ }).waitFor();
      const aborted = page.waitForEvent("requestfailed", { predicate: (r) => r.url().includes("/10903/run") });
      await (leave === "signing out" ? page.getByRole("button", { name: "退出" }) : page.getByRole("link", { name: /^10901 / })).click();
      assert.match((await aborted).failure().errorText, /ABORTED/);
      await page.context().close();
    });

  FAULTS.forEach(([name, check], i) => test(name, async () => {
    await check(page);
    await page.screenshot({ path: SHOTS + `portal-fault-${i + 1}.png` });
  }));

  test("adds a scheduled delivery, sends it now and stops it; a branch user has no such page", async () => {
    const page = await signedIn(env, "head", "#/schedules");
    await page.getByRole("heading", { name: "定时发送" }).waitFor();
    await page.getByText("新建计划").click();
    const form = page.getByRole("form", { name: "新建定时发送" });
    await form.getByLabel("报表").selectOption("10902");
    await form.getByLabel("期间").selectOption("上月");
    await form.getByLabel("汇总依据").selectOption({ label: "消费分店" });
    await form.getByLabel("发给").selectOption("none");
    await form.getByLabel("收件人").fill("boss@example.com");
    await form.getByRole("button", { name: "添加计划" }).click();
    await page.getByRole("status").filter({ hasText: /^已添加计划 \d+$/ }).waitFor();
    const list = page.getByRole("table", { name: "定时发送计划" });
    const row = list.getByRole("row").filter({ hasText: "10902" });
    assert.match(await row.textContent(), /上月XLSXboss@example\.com0 7 1 \* \*（Asia\/Shanghai）启用/);
    await row.getByRole("button", { name: "立即发送" }).click();
    await page.getByRole("status").filter({ hasText: /已排队 1 封$/ }).waitFor();
    await page.getByRole("table", { name: "发送记录" }).getByRole("row").nth(1).waitFor();
    page.once("dialog", (d) => d.accept());
    await row.getByRole("button", { name: "停用" }).click();
    await list.getByRole("row").filter({ hasText: "已停用" }).waitFor();
    await page.screenshot({ path: SHOTS + "portal-schedules.png", fullPage: true });
    await page.context().close();

    const shop = await signedIn(env, "branch");
    assert.equal(await shop.getByRole("link", { name: "定时发送" }).count(), 0);
    await shop.context().close();
  });
});

describe("a branch user", () => {
  let foreign, other;
  before(async () => {
    const head = await signedIn(env, "head");
    const branches = await head.evaluate(() => fetch("/api/v1/lookups/branches?limit=100").then((r) => r.json()));
    foreign = branches.items.filter((b) => b.number !== BRANCH).map((b) => b.name);
    other = branches.items.find((b) => b.number !== BRANCH).number;
    assert.ok(foreign.length > 0);
    await head.context().close();
  });
  const assertOwnRowsOnly = async (page) => {
    const text = (await gridText(page)).flat().join(" ");
    for (const name of foreign) assert.ok(!text.includes(name), `another branch's ${name} is shown`);
  };

  test("a link opens the same view after sign-in, and another branch in it is not reached", async () => {
    const page = await signedIn(env, "branch", "#/reports/10902?period=2024-03&GroupBy=1&BBranchNum=001&EBranchNum=009");
    await page.getByText("日期：2024-03-01 00:00:00 至 2024-03-31 23:59:59").waitFor();
    assert.equal(await page.getByLabel("汇总依据").inputValue(), "1");
    assert.ok(await page.getByLabel("消费分店编码起").isDisabled());

    // The form edited in the page: the service refuses and says why.
    await page.getByLabel("消费分店编码起").evaluate((el) => { el.disabled = false; el.value = "001"; });
    await page.getByRole("button", { name: "运行" }).click();
    await page.getByRole("alert").filter({ hasText: /分店/ }).first().waitFor();
    assert.equal(await page.getByRole("grid").count(), 0, "a refused run leaves the last grid on the page");
  });

  test("edited links of every report with branch keys keep to the branch", async () => {
    const page = await signedIn(env, "branch");
    for (const id of [10901, 10902, 10903, 10904, 10905, 10906]) {
      const fixed = (await page.evaluate((id) => fetch(`/api/v1/reports/${id}/keys`).then((r) => r.json()), id))
        .filter((k) => k.fixed !== undefined).map((k) => k.name);
      if (!fixed.length) continue;
      const edited = Object.fromEntries([["period", "上月"], ...fixed.map((k) => [k, other])]);
      await page.evaluate(([id, q]) => { location.hash = `#/reports/${id}?${new URLSearchParams(q)}`; }, [id, edited]);
      await page.getByRole("status").filter({ hasText: /^共 / }).waitFor();
      for (const k of fixed) assert.equal(await page.locator(`[name="${k}"]`).inputValue(), BRANCH, `${id} ${k}`);
      await assertOwnRowsOnly(page);
    }
  });

  test("saves a scheme, opens it from the list and deletes it", async () => {
    const page = await signedIn(env, "branch", "#/reports/10902?period=2024-03&GroupBy=1");
    await page.getByRole("status").filter({ hasText: /^共 / }).waitFor();
    await page.getByLabel("方案名称").fill("三月按分店");
    await page.getByRole("button", { name: "保存方案" }).click();
    await page.getByRole("status").filter({ hasText: "已保存方案“三月按分店”" }).waitFor();
    await page.getByRole("link", { name: /^10902 / }).click();
    await page.getByLabel("方案", { exact: true }).selectOption("三月按分店");
    await page.getByText("日期：2024-03-01 00:00:00 至 2024-03-31 23:59:59").waitFor();
    assert.equal(await page.getByLabel("汇总依据").inputValue(), "1");
    // The scheme opened stays chosen in the list the new view builds, so 删除方案 deletes it.
    await page.getByLabel("方案", { exact: true }).locator("option", { hasText: "三月按分店" }).waitFor({ state: "attached" });
    assert.equal(await page.getByLabel("方案", { exact: true }).inputValue(), "三月按分店");
    await page.getByRole("button", { name: "删除方案" }).click();
    await page.getByRole("status").filter({ hasText: "已删除方案" }).waitFor();
    assert.equal(await page.getByLabel("方案", { exact: true }).getByRole("option", { name: "三月按分店" }).count(), 0);
  });

  test("on a phone, 10902 and 10905 for 本月 show their totals without scrolling the page sideways", async () => {
    const page = await signedIn(env, "branch", "", PHONE);
    await page.screenshot({ path: SHOTS + "portal-phone-reports.png" });
    for (const id of [10902, 10905]) {
      const json = await runFromUi(page, id, "本月");
      const shown = await assertSameNumbers(page, json);
      assert.equal(shown.at(-1)[0], "合计");
      await assertOwnRowsOnly(page);
      await page.screenshot({ path: SHOTS + `portal-${id}-phone.png` });
      await assertGridInView(page);
      // Scrolled to the right, the frozen columns stay at the grid's left edge.
      const grid = page.getByRole("grid");
      const left = await grid.evaluate((g) => g.getBoundingClientRect().left + g.clientLeft);
      const cells = grid.getByRole("row").nth(3).getByRole("gridcell");
      const [a, b] = [await cells.nth(0).boundingBox(), await cells.nth(1).boundingBox()];
      assert.ok(Math.abs(a.x - left) < 2 && Math.abs(b.x - (a.x + a.width)) < 2, "frozen columns in view");
      await page.screenshot({ path: SHOTS + `portal-${id}-phone-scrolled.png` });
    }
  });

  // The key columns and the money fit a phone, for 10905 from the first rows of a slowed run to
  // its end (10902's answer is one burst of a few kB, which the slowed link hands over whole);
  // another column is chosen in 列, kept for the next visit, and 复制 copies the columns shown.
  for (const [id, keys, other, streams] of [[10902, ["会员卡号", "会员姓名", "销售金额"], "累计消费次数", false],
    [10905, ["会员卡号", "会员姓名", "充值金额", "实付金额"], "卡类别", true]])
    test(`on a phone, ${id} fits its key and money columns and shows the columns chosen`, async () => {
      const page = await signedIn(env, "branch", "", PHONE);
      const inView = async () => page.getByRole("grid").evaluate((g) => ({ sideways: g.scrollWidth - g.clientWidth,
        head: [...g.querySelectorAll('[role="columnheader"]')].filter((c) => c.getBoundingClientRect().right <= g.getBoundingClientRect().right + 1)
          .map((c) => c.textContent), clipped: [...g.querySelectorAll('[role="gridcell"]')].filter((c) => c.scrollWidth > c.clientWidth).length }));
      const heads = () => page.getByRole("columnheader").allTextContents();
      const cdp = await page.context().newCDPSession(page), throttle = (bytes) =>
        cdp.send("Network.emulateNetworkConditions", { offline: false, latency: 0, downloadThroughput: bytes, uploadThroughput: -1 });
      if (streams) await throttle(3000);
      await open(page, id, { period: `2024-01-01..${new Date().toISOString().slice(0, 10)}`, GroupBy: 0 }, streams ? /^已收到 [1-9]/ : /^共 /);
      const streaming = await inView();
      await page.screenshot({ path: SHOTS + `portal-${id}-phone-streaming.png` });
      await page.getByRole("status").filter({ hasText: /^共 / }).waitFor({ timeout: 60000 });
      await throttle(-1);
      let seen = await inView();
      await page.screenshot({ path: SHOTS + `portal-${id}-phone-columns.png` });
      assert.deepEqual([seen.sideways, keys.filter((k) => !seen.head.includes(k)), seen.head.includes(other), seen.clipped, streaming],
        [0, [], false, 0, { ...seen, head: await heads() }]);
      await page.getByRole("button", { name: "列", exact: true }).click();
      await page.getByRole("checkbox", { name: other }).check();
      const list = page.getByRole("group", { name: "显示的列" }), listOpen = () => list.isVisible();
      assert.equal(await listOpen(), true, "the list closed on a choice");
      await page.keyboard.press("Escape");
      assert.deepEqual([await listOpen(), await page.evaluate(() => document.activeElement.textContent)], [false, "列"]);
      const chosen = await heads();
      assert.ok(chosen.includes(other), chosen.join());
      assert.deepEqual((await copied(page))[0], chosen);
      await page.reload();
      await page.getByRole("status").filter({ hasText: /^共 / }).waitFor({ timeout: 60000 });
      assert.deepEqual(await heads(), chosen, "the choice is forgotten");
      await page.context().close();
    });
});

// velvip-report's table for the same filter: title block, header words, rows, right-aligned columns.
function table(id, filter, context = []) {
  const args = ["run", String(id), "--db", env.db, "--format", "table", ...context];
  for (const [k, v] of Object.entries(filter)) args.push(...(k === "period" ? ["--period", v] : ["--set", `${k}=${v}`]));
  const lines = execFileSync(process.env.VELVIP_REPORT, args).toString().split("\n");
  const blank = lines.indexOf("");
  const grid = lines.slice(blank + 1).filter((l) => /^[|+]/.test(l));
  const rule = grid.findIndex((l) => l.startsWith("+="));
  const body = grid.slice(rule + 1).filter((l) => l.startsWith("|")).map((l) => l.slice(1, -1).split("|"));
  return { titles: lines.slice(0, blank), rows: body.map((r) => r.map((t) => t.trim())),
    head: grid.slice(1, rule).flatMap((l) => l.split(/[|+]/)).map((t) => t.trim()).filter((t) => t && !/^-+$/.test(t)),
    // Right when a cell is padded on its left, left when on its right; unknown when every cell fills it.
    right: body[0].map((_, c) => (body.some((r) => /^ {2,}\S/.test(r[c])) ? true : body.some((r) => /\S {2,}$/.test(r[c])) ? false : null)) };
}

describe("the home page", () => {
  // Each figure's link runs its report: the figure is that run's 合计 as velvip-report prints it
  // in the user's context, or for 消费会员数 its rows other than 合计 with a sale bill. Head office
  // is sampled on the chain's total and its first branch.
  const CAPTION = { 消费金额: "销售金额", 消费会员数: "累计消费次数", 充值金额: "充值金额", 兑换积分: "使用积分" };
  const CONTEXT = { head: [], branch: ["--branch-scope", BRANCH, "--context", "ISBranch=1", "--context", `BranchNum=${BRANCH}`] };
  const printed = new Map();
  const totalOf = (who, href, label) => {
    const [, id, query] = /#\/reports\/(\d+)\?(.*)$/.exec(href);
    if (!printed.has(who + href)) printed.set(who + href, table(Number(id), Object.fromEntries(new URLSearchParams(query)), CONTEXT[who]));
    const { head, rows } = printed.get(who + href), c = head.indexOf(CAPTION[label]), total = rows.find((r) => r.includes("合计"));
    if (label === "消费会员数") return String(rows.filter((r) => r !== total && Number(r[c]) > 0).length);
    return total ? total[c] : "—";
  };
  const DESKTOP = { width: 1366, height: 860 };
  // A report failing, or busy (503) once for each of its runs.
  const cases = [["branch", DESKTOP], ["head", DESKTOP], ["branch", PHONE], ["head", PHONE], ["branch", DESKTOP, 10905],
    ["branch", DESKTOP, 10904, "busy"]];
  for (const [who, viewport, failing, busy] of cases)
    test(`${who} at ${viewport.width} px${failing ? `, ${failing} ${busy ?? "failing"}` : ""}`, async () => {
      const turned = new Set();
      const page = await signedIn(env, who, "", viewport, (c) => failing && c.route(`**/reports/${failing}/run*`, (r) =>
        !busy ? r.abort("connectionreset") : turned.has(r.request().postData()) ? r.continue()
          : (turned.add(r.request().postData()), r.fulfill({ status: 503, json: { error: "服务忙" } }))));
      const broken = failing && !busy;
      await page.locator(".home:not(:has([aria-busy]))").waitFor({ timeout: 60000 });
      assert.equal(await page.getByRole("link", { name: "首页" }).getAttribute("aria-current"), "page");
      assert.equal(await page.evaluate(() => document.documentElement.scrollWidth - innerWidth), 0, "the page scrolls sideways");
      const links = await page.locator(".home a.figure").evaluateAll((as) => as.map((a) => ({
        label: a.getAttribute("aria-label"), text: a.textContent, href: a.getAttribute("href"),
        row: a.closest("tr")?.querySelector("th")?.textContent ?? null })));
      const [failed, branches] = await Promise.all([".home .failed", ".home tbody th"].map((s) => page.locator(s).allTextContents()));
      if (who === "branch") assert.ok(!branches.length && links.every((l) => !/BBranchNum|BStockNo/.test(l.href)), "another branch");
      else assert.ok(branches.length > 1 && links.some((l) => l.row === branches[0]));
      assert.deepEqual(failed, Array(broken ? 4 : 0).fill("暂时取不到，请稍后再试。"));
      assert.equal(links.length, broken ? 12 : who === "branch" ? 16 : 8 * (branches.length + 2));   // two tables, each with a 合计 row
      if (viewport === DESKTOP)
        for (const l of links.filter((l) => l.row === null || l.row === "合计" || l.row === branches[0])) {
          const want = totalOf(who, l.href, Object.keys(CAPTION).find((c) => l.label.includes(c)));   // "—" wants 0
          assert.ok(l.text === "—" ? Number(want) === 0 : l.text.replace(/,/g, "") === want, `${l.label} ${l.text} ${want} ${l.href}`);
        }
      await page.screenshot({ path: SHOTS + `portal-home-${who}-${viewport.width}${failing ? `-${busy ?? "failing"}` : ""}.png`, fullPage: true });
      // One tap opens the report behind a figure with its filter.
      await page.locator(".home a.figure").first().click();
      await page.getByRole("status").filter({ hasText: /^共 / }).waitFor({ timeout: 60000 });
      const ran = new URLSearchParams(new URL(page.url()).hash.split("?")[1]);
      for (const [k, v] of new URLSearchParams(links[0].href.split("?")[1])) assert.equal(ran.get(k), v, k);
      await page.context().close();
    });

  test("a report opened while the home page is on its way stays", async () => {
    const page = await signedIn(env, "branch", "#/reports/10906");
    await page.route("**/api/v1/periods", (r) => setTimeout(() => r.continue(), 3000));
    await page.getByRole("link", { name: "首页" }).click();
    await page.getByRole("link", { name: /^10901 / }).click();
    await page.waitForResponse((r) => r.url().endsWith("/api/v1/periods"));
    await page.waitForTimeout(300);   // the home page is built from that answer without another request
    assert.deepEqual(await page.locator("main h1").allTextContents(), ["10901 储值积分变动表"]);
    await page.context().close();
  });
});

// 复制's text as rows of cells.
async function copied(page) {
  await page.context().grantPermissions(["clipboard-read", "clipboard-write"]);
  await page.getByRole("button", { name: "复制" }).click();
  return (await page.evaluate(() => navigator.clipboard.readText())).replace(/\n$/, "").split("\n").map((l) => l.split("\t"));
}

// What the page shows with every column chosen (on a phone in 列): title lines, header words,
// the rows in the DOM, and 复制's text.
async function shown(page) {
  const choose = page.getByRole("button", { name: "列", exact: true });
  if (await choose.isVisible()) {
    await choose.click();
    for (const box of await page.getByRole("group", { name: "显示的列" }).getByRole("checkbox").all()) await box.check();
    await choose.click();
  }
  return { tsv: await copied(page), ...await page.evaluate(() => ({
    titles: [...document.querySelectorAll(".titles > *")].map((e) => e.textContent),
    head: [...document.querySelectorAll('[role="columnheader"]')].map((e) => e.textContent),
    rows: [...document.querySelectorAll('[role="row"][data-row]')].map((r) => ({ pinned: r.classList.contains("pinned"),
      pos: Number(r.dataset.pos), cells: [...r.querySelectorAll('[role="gridcell"]')].map((c) => [c.textContent, c.classList.contains("num")]) })),
  })) };
}

const plain = (text) => (/^-?[\d,]+(\.\d+)?$/.test(text) ? text.replace(/,/g, "") : text);
const CASES = [
  [10901, { period: "上月" }], [10901, { period: "上月", BVipNum: "80000001", EVipNum: "80000020", ShowSumOnly: 1 }],
  [10902, { period: "上月", GroupBy: 1, BBranchNum: "002", EBranchNum: "003" }],
  [10902, { period: "上月", GroupBy: 0, BVipNum: "80000001", EVipNum: "80000100" }],
  [10903, { period: "上月", BBranchNum: "002", EBranchNum: "002" }], [10904, { period: "本年", GroupBy: 1 }],
  [10905, { period: "上月", GroupBy: 0 }], [10906, {}], [10908, { period: "上月" }], [10909, { period: "上月" }],
  [10909, { period: "上月", ShowCards: 1, MinBalance: 1000 }], [10910, { period: "上月" }], [10911, { period: "上季度" }],
];
describe("the page shows what the command line prints", () => {
  for (const [name, viewport] of [["desktop", { width: 1366, height: 860 }], ["phone", PHONE]])
    test(name, async () => {
      const page = await signedIn(env, "head", "", viewport);
      for (const [id, filter, what = `${id} ${JSON.stringify(filter)} ${name}`] of CASES) {
        const want = table(id, filter);
        await open(page, id, filter);
        const got = await shown(page);
        assert.deepEqual(got.titles, want.titles, what);
        // The table leaves out columns blank in every row.
        const kept = got.tsv[0].map((_, c) => got.tsv.slice(1).some((r) => r[c] !== ""));
        assert.deepEqual(got.tsv.slice(1).map((r) => r.filter((_, c) => kept[c])), want.rows, what);
        assert.deepEqual(got.head.filter((w) => !got.tsv[0].some((d, c) => !kept[c] && (d === w || d.endsWith("-" + w)))), want.head, what);
        for (const row of got.rows) {
          assert.deepEqual(row.cells.map(([text]) => plain(text)), got.tsv[row.pinned ? got.tsv.length - 1 : row.pos + 1], what);
          row.cells.filter((_, c) => kept[c]).forEach(([, r], c) => want.right[c] !== null && assert.equal(r, want.right[c], `${what} column ${c}`));
        }
        await page.screenshot({ path: SHOTS + `portal-${id}-${Object.values(filter).join("-")}-${name}.png` });
      }
      await page.context().close();
    });
});

// Opens a report from the address (a filter runs it) and waits for its end.
async function open(page, id, filter, done = /^共 /) {
  await page.evaluate((hash) => { location.hash = hash; }, `#/reports/${id}?${new URLSearchParams(filter)}`);
  // An address without a filter opens the form only.
  if (!Object.keys(filter).length) await page.getByRole("button", { name: "运行" }).click();
  await page.getByRole("status").filter({ hasText: done }).waitFor({ timeout: 60000 });
}
test("the sign-in page refuses a wrong password without repeating it", async () => {
  const context = await env.browser.newContext({ viewport: PHONE });
  const page = await context.newPage();
  const response = await page.goto(env.base);
  assert.match(response.headers()["content-security-policy"], /default-src 'self'/);
  await page.getByLabel("用户名").fill("shop");
  await page.getByLabel("密码").fill("wrong-secret-9");
  await page.getByLabel("密码").press("Enter");
  const alert = page.getByRole("alert").filter({ hasText: /用户名或密码不对/ });
  await alert.waitFor();
  assert.ok(!(await page.content()).includes("wrong-secret-9") && !page.url().includes("wrong-secret-9"));
  await page.screenshot({ path: SHOTS + "portal-signin-phone.png" });
  await context.close();
});
