// Bundles src/ into OUT (default dist/): index.html, app.js, app.css.
import { build } from "esbuild";
import { copyFileSync, mkdirSync } from "node:fs";
import { join } from "node:path";

const out = process.argv[2] || "dist";
mkdirSync(out, { recursive: true });
await build({
  entryPoints: { app: "src/main.ts" },
  bundle: true,
  minify: true,
  sourcemap: false,
  format: "iife",
  target: "es2020",
  outdir: out,
  logLevel: "warning",
});
copyFileSync("src/index.html", join(out, "index.html"));
copyFileSync("src/app.css", join(out, "app.css"));
