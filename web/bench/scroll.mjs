// The portal with a large 10903: time to the answer's first byte, to the first screen and to the
// last row, frame times while scrolling through it, and how many rows the page holds. Figures,
// never pass or fail.
//   node bench/scroll.mjs SERVER REPORT [LINES_PER_DAY]   (default 2800: ~600k rows in 2024)
import { signedIn, startAll } from "../tests/harness.mjs";

process.env.VELVIP_SERVER = process.argv[2];
process.env.VELVIP_REPORT = process.argv[3];
const env = await startAll({ days: 366, linesPerDay: Number(process.argv[4] || 2800) });
try {
  const page = await signedIn(env, "head", "#/reports/10903");
  await page.getByLabel("期间").selectOption("range");
  await page.getByLabel("开始日期").fill("2024-01-01");
  await page.getByLabel("结束日期").fill("2024-12-31");
  // Times taken in the page: the click on 运行, the answer's first byte (resource timing) and
  // the first animation frame with a row of the grid in it.
  const marks = page.evaluate(() => new Promise((resolve) => {
    const button = [...document.querySelectorAll("button")].find((b) => b.textContent === "运行");
    button.addEventListener("click", () => {
      const start = performance.now();
      const check = () => {
        if (!document.querySelector('[role="grid"] [role="gridcell"]')) return requestAnimationFrame(check);
        const painted = performance.now();
        const done = () => {
          if (!/^共 /.test(document.querySelector('[role="status"]').textContent)) return setTimeout(done, 20);
          const run = performance.getEntriesByType("resource").filter((e) => e.name.includes("/run")).at(-1);
          resolve({ start, answered: run.responseStart, painted, loaded: performance.now() });
        };
        done();
      };
      requestAnimationFrame(check);
    }, { capture: true, once: true });
  }));
  await page.getByRole("button", { name: "运行" }).click();
  const { start, answered, painted, loaded } = await marks;
  const rows = await page.getByRole("status").textContent();
  const frames = await page.getByRole("grid").evaluate((grid) => new Promise((resolve) => {
    const times = [];
    let last = performance.now(), most = 0;
    const step = () => {
      const now = performance.now();
      times.push(now - last);
      last = now;
      most = Math.max(most, grid.querySelectorAll('[role="row"]').length);
      grid.scrollTop += 120;   // about a wheel notch per frame
      if (times.length < 300 && grid.scrollTop + grid.clientHeight < grid.scrollHeight) requestAnimationFrame(step);
      else resolve({ times: times.slice(1).sort((a, b) => a - b), most });
    };
    requestAnimationFrame(step);
  }));
  const pct = (p) => frames.times[Math.floor((frames.times.length - 1) * p)].toFixed(1);
  const s = (a, b) => ((b - a) / 1000).toFixed(2);
  console.log(`${rows}; run to the answer's first byte ${s(start, answered)} s; ` +
    `first byte to first screen ${s(answered, painted)} s; run to first screen ${s(start, painted)} s; ` +
    `run to the last row ${s(start, loaded)} s; ` +
    `scroll frames p50 ${pct(0.5)} ms, p95 ${pct(0.95)} ms over ${frames.times.length}; ` +
    `at most ${frames.most} rows in the page`);
} finally {
  await env.stop();
}
