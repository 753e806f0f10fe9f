// The portal with a large 10903: time to the first screen after the answer arrives, frame times
// while scrolling through it, and how many rows the page holds. Figures, never pass or fail.
//   node bench/scroll.mjs SERVER REPORT [LINES_PER_DAY]   (default 1700: ~600k rows in 2024)
import { performance } from "node:perf_hooks";
import { signedIn, startAll } from "../tests/harness.mjs";

process.env.VELVIP_SERVER = process.argv[2];
process.env.VELVIP_REPORT = process.argv[3];
const env = await startAll({ days: 366, linesPerDay: Number(process.argv[4] || 1700) });
try {
  const page = await signedIn(env, "head", "#/reports/10903");
  await page.getByLabel("期间").selectOption("range");
  await page.getByLabel("开始日期").fill("2024-01-01");
  await page.getByLabel("结束日期").fill("2024-12-31");
  let answered = 0;
  page.on("requestfinished", (r) => { if (r.url().includes("/run")) answered = performance.now(); });
  const start = performance.now();
  await page.getByRole("button", { name: "运行" }).click();
  await page.getByRole("grid").getByRole("gridcell").first().waitFor({ timeout: 600000 });
  const painted = performance.now();
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
  console.log(`${rows}; run and download ${((answered - start) / 1000).toFixed(2)} s; ` +
    `answer to first screen ${((painted - answered) / 1000).toFixed(2)} s; ` +
    `scroll frames p50 ${pct(0.5)} ms, p95 ${pct(0.95)} ms over ${frames.times.length}; ` +
    `at most ${frames.most} rows in the page`);
} finally {
  await env.stop();
}
