// The portal as a daily tool: what the network carries, sessions across tabs, plain failures.
import { strict as assert } from "node:assert";
import { mkdirSync, readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, test } from "node:test";
import { USERS, apiRun, signedIn, startAll } from "./harness.mjs";

const SHOTS = process.env.VELVIP_SHOTS || join(tmpdir(), "velvip-portal-shots");
mkdirSync(SHOTS, { recursive: true });
let env, head;   // head: a head-office page the groups below share
before(async () => { env = await startAll({ days: 60 }); head = await signedIn(env, "head"); });
after(async () => { await env?.stop(); });

describe("network", () => {
  // Each kind of answer: its caching, its encoding for a browser taking br and gzip, and the
  // 304 to a request naming its ETag.
  const index = () => fetch(env.base).then((r) => r.text());
  const cases = [
    ["index.html", async () => "", /^no-cache$/, "br"],
    ["the entry script", async () => /src="([^"]+\.js)"/.exec(await index())[1], /immutable/, "br"],
    ["the style", async () => /href="(app-[^"]+\.css)"/.exec(await index())[1], /immutable/, "br"],
    ["the favicon", async () => "favicon.ico", /^no-cache$/, "br"],
  ];
  for (const [what, path, caching, encoding] of cases)
    test(`${what} is cached and compressed`, async () => {
      const url = env.base + await path();
      const first = await fetch(url, { headers: { "Accept-Encoding": "br, gzip" } });
      assert.equal(first.status, 200);
      assert.match(first.headers.get("cache-control"), caching);
      assert.equal(first.headers.get("content-encoding"), encoding);
      const again = await fetch(url, { headers: { "If-None-Match": first.headers.get("etag") } });
      assert.equal(again.status, 304);
    });

  test("report JSON goes out gzipped, streamed or whole, a whole one with its true length", async () => {
    await head.evaluate(() => { location.hash = "#/reports/10903?period=2024-01"; });
    await head.getByRole("status").filter({ hasText: /^共 / }).waitFor();
    await apiRun(head, 10903, { period: "2024-01" });
    const [sizes, declared] = await head.evaluate(async () => {
      const keys = await fetch("/api/v1/reports/10901/keys");
      await keys.json();
      const entries = performance.getEntriesByType("resource").filter((e) => /keys$|run$|ndjson$/.test(e.name)).slice(-3);
      return [entries.map((e) => e.encodedBodySize / e.decodedBodySize), [Number(keys.headers.get("content-length")), entries[2].encodedBodySize]];
    });
    assert.ok(sizes.length === 3 && sizes.every((r) => r < 0.5), String(sizes));
    // A length that counts the plain body kept the browser waiting for bytes that never came.
    assert.equal(declared[0], declared[1]);
  });

  test("a repeat visit carries under 10 kB before the sign-in form", async () => {
    const context = await env.browser.newContext();
    const page = await context.newPage();
    for (const visit of [1, 2]) {
      await page.goto(env.base);
      await page.getByLabel("用户名").waitFor();
      if (visit === 1) await page.waitForLoadState("networkidle");
    }
    const bytes = await page.evaluate(() => performance.getEntries()
      .filter((e) => "transferSize" in e).reduce((sum, e) => sum + e.transferSize, 0));
    assert.ok(bytes <= 10240, `${bytes} bytes`);
    await context.close();
  });
});

describe("one browser, two tabs", () => {
  // What happens in the second tab, then 运行 in the first: what the first shows.
  const cases = [
    ["signs in again", async (second) => {
      await second.getByRole("button", { name: "退出" }).click();
      await second.getByLabel("用户名").fill(USERS.head[0]);
      await second.getByLabel("密码").fill(USERS.head[1]);
      await second.getByRole("button", { name: "登录" }).click();
      await second.getByRole("navigation", { name: "报表" }).waitFor();
    }, (first) => first.getByRole("status").filter({ hasText: /^共 / })],
    ["signs out", (second) => second.getByRole("button", { name: "退出" }).click(),
      (first) => first.getByRole("alert").filter({ hasText: "登录已过期或已在别处退出，请重新登录。" })],
    ["the service cannot be reached", (second, first) => first.route("**/run*", (r) => r.abort("connectionrefused")),
      (first) => first.getByText("无法连接报表服务：请检查网络，或稍后再试。")],
  ];
  for (const [what, act, shown] of cases)
    test(`the second tab ${what}`, async () => {
      const first = await signedIn(env, "head", "#/reports/10903?period=上月");
      await first.getByRole("status").filter({ hasText: /^共 / }).waitFor();
      const second = await first.context().newPage();
      await second.goto(env.base);
      await second.getByRole("navigation", { name: "报表" }).waitFor();   // no second sign-in
      await act(second, first);
      await first.getByRole("button", { name: "运行" }).click();
      await shown(first).waitFor();
      assert.match(first.url(), /#\/reports\/10903\?period=/);
      await first.context().close();
    });
});

describe("period presets", () => {
  // Offered (some of them) and never offered; each one offered runs without a complaint.
  const cases = [
    [10901, ["本月", "上月"], ["本年", "上年", "今天", "昨天"]],
    [10902, ["今天", "昨天", "本周", "上周", "本月", "上月", "本月至今"], []],
    [10904, ["昨天", "本月至今", "本年", "上年"], []],
  ];
  for (const [id, offered, never] of cases)
    test(`${id} offers the periods it takes`, async () => {
      await head.evaluate((id) => { location.hash = `#/reports/${id}?period=本月`; }, id);
      await head.getByRole("status").filter({ hasText: /^共 / }).waitFor();
      const values = await head.getByLabel("期间").locator("option").evaluateAll((os) => os.map((o) => o.value));
      for (const p of offered) assert.ok(values.includes(p), `${p} not offered`);
      for (const p of never) assert.ok(!values.includes(p), `${p} offered`);
      const filter = Object.fromEntries(new URLSearchParams(head.url().split("?")[1]));
      for (const period of values.filter((v) => v !== "range"))
        assert.equal((await apiRun(head, id, { ...filter, period })).error, undefined, period);
    });
});

describe("a refused filter", () => {
  // The address runs the filter at once; the refusal is worded by the form beside the field.
  const cases = [
    ["a range backwards", "10902?period=2024-01&GroupBy=0&BVipNum=80000100&EVipNum=80000001", "BVipNum",
      "“会员卡号起”不能大于“会员卡号止”。"],
    ["a year for a month report", "10901?period=2024", "period", /^期间无法使用/],
    ["an unreadable period", "10903?period=明年", "period", /^期间无法使用/],
  ];
  for (const [what, hash, field, words] of cases)
    test(what, async () => {
      await head.evaluate((hash) => { location.hash = `#/reports/${hash}`; }, hash);
      const note = head.locator(`[data-key="${field}"] .note`);
      await note.filter({ hasText: /./ }).waitFor();
      assert.match(await note.textContent(), words instanceof RegExp ? words : new RegExp(`^${words}$`));
      const alerts = (await head.getByRole("alert").allTextContents()).join("");
      assert.doesNotMatch(alerts, /period|BVipNum|EVipNum|GroupBy/);
    });
});

describe("the form a branch manager reads", () => {
  let page;
  before(async () => { page = await signedIn(env, "branch", "#/reports/10902"); });
  after(() => page.context().close());
  // What each control shows: meanings without codes, one "all", hints that are not values.
  const cases = [
    ["汇总依据", (t) => t.length > 1 && t.every((o) => !/^\d/.test(o))],
    ["只显示小计与合计行", (t) => t.filter((o) => /全部/.test(o)).length === 1],
    ["会员卡号起", (t) => /^例如 \d+$/.test(t[0])],
  ];
  for (const [label, ok] of cases)
    test(`${label} reads as words`, async () => {
      const texts = await page.getByLabel(label, { exact: true }).evaluate((el) =>
        (el.options ? [...el.options].map((o) => o.textContent) : [el.placeholder]));
      assert.ok(ok(texts), texts.join(" | "));
    });

  test("the header names the branch as 分店, and a report's last filter comes back unrun", async () => {
    assert.match(await page.locator("header").textContent(), /分店 002/);
    await page.getByLabel("汇总依据").selectOption({ label: "卡类别" });
    await page.getByRole("button", { name: "运行" }).click();
    await page.getByRole("status").filter({ hasText: /^共 / }).waitFor();
    await page.getByRole("link", { name: /^10901 / }).click();
    await page.getByRole("link", { name: /^10902 / }).click();
    assert.equal(await page.getByLabel("汇总依据").inputValue(), "2");
    assert.equal(await page.getByRole("grid").count(), 0);
  });
});

describe("access and phone", () => {
  const PHONE = { width: 390, height: 844 };
  const axe = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
  const violations = async (page) => {
    if (!(await page.evaluate(() => "axe" in window))) await page.evaluate(axe);
    return page.evaluate(async () => (await window.axe.run(document, { resultTypes: ["violations"] })).violations
      .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(" ")).join(", ")}`));
  };
  const luminance = (rgb) => rgb.map((c) => (c /= 255) <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4)
    .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);
  const contrast = (a, b) => { const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p); return (x + 0.05) / (y + 0.05); };
  const rgb = (css) => css.match(/\d+/g).slice(0, 3).map(Number);

  // Each state of the page, at desktop and phone size: no axe violation, focus in the new
  // content, and on the phone every control a finger can hit.
  const states = [
    ["the sign-in form", "", (p) => p.getByLabel("用户名")],
    ["a report's form", "#/reports/10902", (p) => p.getByRole("form", { name: "筛选条件" })],
    ["a grid with 查找", "#/reports/10903?period=2024-01", (p) => p.getByRole("status").filter({ hasText: /^共 / })],
    ["the open column chooser", "#/reports/10902?period=2024-01&GroupBy=0", async (p) => {
      await p.getByRole("status").filter({ hasText: /^共 / }).waitFor();
      if (await p.getByRole("button", { name: "列", exact: true }).isVisible()) await p.getByRole("button", { name: "列", exact: true }).click();
      return p.getByRole("grid");
    }],
    ["an open lookup", "#/reports/10902", async (p) => {
      await p.getByRole("button", { name: "从列表选择" }).first().click();
      return p.getByRole("listbox").getByRole("option").first();
    }],
    ["a refused filter", "#/reports/10902?period=2024-01&GroupBy=0&BVipNum=9&EVipNum=1",
      (p) => p.locator('[data-key="BVipNum"] .note').filter({ hasText: /./ })],
    ["the schedules", "#/schedules", (p) => p.getByRole("heading", { name: "定时发送" })],
    ["the home page", "#/home", (p) => p.locator(".home:not(:has([aria-busy]))")],
  ];
  for (const viewport of [{ width: 1366, height: 860 }, PHONE])
    for (const [what, hash, shown] of states)
      test(`${what} at ${viewport.width} px`, async () => {
        const page = hash ? await signedIn(env, "head", hash, viewport) : await (await env.browser.newContext({ viewport })).newPage();
        if (!hash) await page.goto(env.base);
        await (await shown(page)).waitFor();
        await page.waitForTimeout(300);   // the heading takes focus after the view is built
        assert.deepEqual(await violations(page), []);
        if (hash) assert.ok(await page.evaluate(() => document.activeElement.closest("main") !== null), "focus left in the page");
        const small = await page.evaluate(() => [...document.querySelectorAll("button, input, select, nav a, summary")]
          .filter((e) => e.offsetParent && e.getBoundingClientRect().height < 44).map((e) => e.outerHTML.slice(0, 60)));
        if (viewport === PHONE) assert.deepEqual(small, []);
        await page.screenshot({ path: join(SHOTS, `portal-${what.replace(/\W+/g, "-")}-${viewport.width}.png`) });
        await page.context().close();
      });

  // The lookup as a combobox: arrows through the options, Esc and a click elsewhere close it, and
  // the open list neither covers the next field nor widens the page.
  for (const viewport of [{ width: 1366, height: 860 }, PHONE])
    test(`the lookup at ${viewport.width} px`, async () => {
      const page = await signedIn(env, "head", "#/reports/10902", viewport);
      const open = async () => {
        await page.getByRole("button", { name: "从列表选择" }).first().click();
        await page.getByRole("listbox").getByRole("option").nth(1).waitFor();
      };
      await open();
      const focused = () => page.evaluate(() => document.activeElement.getAttribute("aria-label") ?? document.activeElement.textContent);
      const options = await page.getByRole("listbox").getByRole("option").allTextContents();
      for (const [key, want] of [["ArrowDown", options[0]], ["ArrowDown", options[1]], ["ArrowUp", options[0]], ["Escape", "从列表选择"]]) {
        await page.keyboard.press(key);
        assert.equal(await focused(), want, key);
      }
      assert.equal(await page.getByRole("listbox").count(), 0);
      await open();
      const [list, next, wide] = await page.evaluate(() => [document.querySelector(".lookup").getBoundingClientRect().bottom,
        document.querySelector('[data-key="EVipNum"]').getBoundingClientRect().top, document.documentElement.scrollWidth - innerWidth]);
      assert.ok(list <= next + 1 && wide <= 0, `list ends at ${list}, next field at ${next}, page ${wide} px too wide`);
      await page.getByRole("heading", { level: 1 }).click();
      assert.equal(await page.getByRole("listbox").count(), 0);
      await page.context().close();
    });

  test("the skip link, the focus ring, the current row, 查找 both ways and 打印", async () => {
    const page = await signedIn(env, "head", "#/reports/10903?period=2024-01");
    await page.getByRole("status").filter({ hasText: /^共 / }).waitFor();
    await page.evaluate(() => { document.body.tabIndex = -1; document.body.focus(); });
    await page.keyboard.press("Tab");
    assert.equal(await page.evaluate(() => document.activeElement.textContent), "跳到内容");
    await page.keyboard.press("Enter");
    assert.equal(await page.evaluate(() => document.activeElement.tagName), "H1");
    // The ring on white and the current row's edge on a subtotal row.
    await page.getByRole("button", { name: "复制" }).focus();
    const ring = await page.getByRole("button", { name: "复制" }).evaluate((b) => getComputedStyle(b).outlineColor);
    assert.ok(contrast(rgb(ring), [255, 255, 255]) >= 3, ring);
    await page.getByLabel("查找").fill("合计");
    await page.getByLabel("查找").press("Enter");
    const [edge, back] = await page.locator(".current .td").first().evaluate((c) =>
      [getComputedStyle(c).boxShadow, getComputedStyle(c).backgroundColor]);
    assert.ok(contrast(rgb(edge), rgb(back)) >= 3, `${edge} on ${back}`);
    await page.getByLabel("查找").fill("0");
    await page.getByLabel("查找").press("Enter");
    const count = page.locator(".find-count");
    const [, n] = /^第 1 \/ (\d+) 行$/.exec(await count.textContent());
    await page.getByLabel("查找").press("Shift+Enter");
    assert.equal(await count.textContent(), `第 ${n} / ${n} 行`);
    const [tab] = await Promise.all([page.context().waitForEvent("page"), page.getByRole("button", { name: "打印" }).click()]);
    await page.getByRole("status").filter({ hasText: "已打开 PDF" }).waitFor();
    assert.ok(tab);
    await page.context().close();
  });
});

test("a schedule is set from the report's own fields and a zone from the list", async () => {
  const page = await signedIn(env, "head", "#/schedules");
  await page.getByText("新建计划").click();
  const form = page.getByRole("form", { name: "新建定时发送" });
  for (const [id, field, periods] of [["10901", "会员卡号起", ["上月"]], ["10902", "汇总依据", ["昨天", "上周", "上月"]]]) {
    await form.getByLabel("报表").selectOption(id);
    await form.getByLabel(field, { exact: true }).waitFor();
    const offered = await form.getByLabel("期间").locator("option").evaluateAll((os) => os.map((o) => o.value));
    assert.ok(periods.every((p) => offered.includes(p)) && !offered.includes("range"), offered.join());
  }
  assert.equal(await form.getByLabel("其他条件").count(), 0);
  const zones = await form.getByLabel("时区").locator("option").allTextContents();
  assert.ok(zones.includes("Asia/Shanghai") && !zones.includes("Beijing"));
  await page.context().close();
});
