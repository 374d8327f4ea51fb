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
// Chromium ask as the player's browser control does). With "trace", each
// load also reports where its time went, from the browser's own network
// events (see summariseNetwork). One browser process serves the whole plan.
const { chromium } = require("playwright-core");

const FLAGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync"];
const LOAD_TIMEOUT_MS = 300000;

async function loadOnce(page, url) {
    await page.goto(url, { timeout: LOAD_TIMEOUT_MS });
    await page.waitForFunction(() => window.sceneLoaded, null, { timeout: LOAD_TIMEOUT_MS, polling: 20 });
    return page.evaluate(() => window.sceneLoaded);
}

function percentile(values, share) {
    if (!values.length) return null;
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
}

function spread(values) {
    return { median: percentile(values, 0.5), p90: percentile(values, 0.9) };
}

// One load's requests as the network layer saw them, in milliseconds: the
// connections used and how many answers came on a reused one; per answer,
// the wait for a connection (request made until its bytes were sent), the
// time to the first byte (sent until the header had arrived) and the body
// (header until the last byte); per connection, the gap between one
// answer's last byte and the next request sent on it.
function summariseNetwork(requests) {
    const answered = requests.filter((r) => r.timing && r.end !== undefined);
    const byConnection = new Map();
    const wait = [], firstByte = [], body = [], gap = [];
    for (const r of answered) {
        const sent = r.timing.requestTime * 1000 + r.timing.sendStart;
        const header = r.timing.requestTime * 1000 + r.timing.receiveHeadersEnd;
        wait.push(sent - r.made * 1000);
        firstByte.push(header - sent);
        body.push(r.end * 1000 - header);
        if (!byConnection.has(r.connection)) byConnection.set(r.connection, []);
        byConnection.get(r.connection).push({ sent, end: r.end * 1000 });
    }
    for (const list of byConnection.values()) {
        list.sort((a, b) => a.sent - b.sent);
        for (let i = 1; i < list.length; i++) gap.push(list[i].sent - list[i - 1].end);
    }
    return { answers: answered.length, connections: byConnection.size,
             reused: answered.filter((r) => r.reused).length,
             wait: spread(wait), firstByte: spread(firstByte), body: spread(body), gap: spread(gap) };
}

async function tracedLoad(context, page, url) {
    const session = await context.newCDPSession(page);
    const requests = new Map();
    session.on("Network.requestWillBeSent", (e) => requests.set(e.requestId, { made: e.timestamp }));
    session.on("Network.responseReceived", (e) => Object.assign(requests.get(e.requestId) || {}, {
        connection: e.response.connectionId, reused: e.response.connectionReused, timing: e.response.timing }));
    session.on("Network.loadingFinished", (e) => {
        const request = requests.get(e.requestId);
        if (request) request.end = e.timestamp;
    });
    await session.send("Network.enable");
    const loaded = await loadOnce(page, url);
    // The last bodies' events may follow the page's own account of them.
    await new Promise((resolve) => setTimeout(resolve, 300));
    await session.detach();
    return Object.assign(loaded, { network: summariseNetwork([...requests.values()]) });
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
                const load = row.trace ? () => tracedLoad(context, page, url) : () => loadOnce(page, url);
                let loaded = await load();
                if (row.warm) loaded = await load();
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
