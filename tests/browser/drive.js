// Starts Debian's Chromium once with the test extension in a prepared profile,
// opens the extension's page and runs the requests through it.
//
//   node drive.js JOB.json
//
// JOB.json: {"chromium", "extension", "extension_id", "profile", "host",
// "rows", "timeout_ms", "settle_ms", "output", "screenshot"?}. The page's result
// is written to "output" as JSON. Exit status 0 when the page ran.
"use strict";
const fs = require("fs");
const { chromium } = require("playwright-core");

async function main() {
  const job = JSON.parse(fs.readFileSync(process.argv[2], "utf8"));
  const context = await chromium.launchPersistentContext(job.profile, {
    executablePath: job.chromium,
    headless: true,
    // Extensions are loaded only by the full browser's headless mode.
    args: [
      "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-extensions-except=" + job.extension, "--load-extension=" + job.extension,
    ],
    ignoreDefaultArgs: ["--disable-extensions", "--headless"],
    timeout: 120000,
  });
  try {
    const page = await context.newPage();
    page.on("console", (m) => process.stderr.write("page: " + m.text() + "\n"));
    await page.goto("chrome-extension://" + job.extension_id + "/page.html");
    const result = await page.evaluate(
      (a) => runRequests(a.host, a.rows, a.timeout_ms, a.settle_ms),
      { host: job.host, rows: job.rows, timeout_ms: job.timeout_ms, settle_ms: job.settle_ms });
    if (job.screenshot) await page.screenshot({ path: job.screenshot, fullPage: true });
    fs.writeFileSync(job.output, JSON.stringify(result));
  } finally {
    await context.close();
  }
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + "\n");
  process.exit(1);
});
