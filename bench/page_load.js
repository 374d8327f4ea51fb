// Loads the benchmark's game scene in headless Chromium (Debian's, driven by
// playwright-core) and prints how long each load took, as the page measured
// it: milliseconds from navigation start until every resource had arrived.
//
//   node page_load.js < plan.json > results.json
//
// plan.json: [{"label": ..., "urls": [url, ...], "warm": false,
// "headers": {...}}, ...]. Every url is loaded in a browser context of its
// own (a fresh profile: nothing in the browser's cache), except with "warm":
// then each url is loaded twice in one context and the second load, served
// from the browser's own cache where the answers allow it, is the one
// measured. "headers" are sent with every request of the context, in place
// of the browser's own of the same name ({"Connection": "Keep-Alive"} makes
// Chromium ask as the player's browser control does). One browser process
// serves the whole plan.
const { chromium } = require("playwright-core");

const FLAGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync"];
const LOAD_TIMEOUT_MS = 300000;

async function loadOnce(page, url) {
    await page.goto(url, { timeout: LOAD_TIMEOUT_MS });
    await page.waitForFunction(() => window.sceneLoaded, null, { timeout: LOAD_TIMEOUT_MS, polling: 20 });
    return page.evaluate(() => window.sceneLoaded);
}

async function main() {
    let input = "";
    for await (const chunk of process.stdin) input += chunk;
    const plan = JSON.parse(input);
    const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", headless: true, args: FLAGS });
    const results = [];
    try {
        for (const row of plan) {
            const loads = [];
            for (const url of row.urls) {
                const context = await browser.newContext({ extraHTTPHeaders: row.headers || {} });
                const page = await context.newPage();
                let loaded = await loadOnce(page, url);
                if (row.warm) loaded = await loadOnce(page, url);
                loads.push(loaded);
                await context.close();
            }
            results.push({ label: row.label, loads });
        }
    } finally {
        await browser.close();
    }
    process.stdout.write(JSON.stringify(results) + "\n");
}

main().catch((error) => {
    process.stderr.write(String(error && error.stack || error) + "\n");
    process.exit(1);
});
