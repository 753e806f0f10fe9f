// Bundles src/ into OUT (default dist/): index.html naming content-hashed scripts and style (the
// service serves those as immutable), a favicon, and a brotli and a gzip copy of each script and
// the style, so the service sends them compressed without compressing per request. The sign-in
// code is the small entry; the reports, grid and charts come in chunks loaded behind it.
import { build } from "esbuild";
import { createHash } from "node:crypto";
import { copyFileSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { brotliCompressSync, constants, gzipSync } from "node:zlib";

const out = process.argv[2] || "dist";
mkdirSync(out, { recursive: true });
for (const old of readdirSync(out)) if (/^(app|chunk)(-.*)?\.(js|css)(\.br|\.gz)?$/.test(old)) rmSync(join(out, old));
const result = await build({
  entryPoints: { app: "src/main.ts" },
  bundle: true,
  splitting: true,
  minify: true,
  sourcemap: false,
  format: "esm",
  target: "es2020",
  outdir: out,
  entryNames: "[name]-[hash]",
  chunkNames: "chunk-[hash]",
  metafile: true,
  logLevel: "warning",
});
const css = readFileSync("src/app.css");
const cssName = `app-${createHash("sha256").update(css).digest("hex").slice(0, 8).toUpperCase()}.css`;
writeFileSync(join(out, cssName), css);
const outputs = Object.keys(result.metafile.outputs).map((p) => p.split("/").at(-1));
const entry = outputs.find((n) => n.startsWith("app-") && n.endsWith(".js"));
for (const name of [...outputs, cssName]) {
  const data = readFileSync(join(out, name));
  writeFileSync(join(out, name + ".br"), brotliCompressSync(data, { params: { [constants.BROTLI_PARAM_QUALITY]: 11 } }));
  writeFileSync(join(out, name + ".gz"), gzipSync(data, { level: 9 }));
}
writeFileSync(join(out, "index.html"), readFileSync("src/index.html", "utf8")
  .replace("app.css", cssName).replace('<script defer src="app.js">', `<script type="module" src="${entry}">`));
copyFileSync("src/favicon.svg", join(out, "favicon.svg"));
